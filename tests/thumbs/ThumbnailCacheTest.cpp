#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include "thumbs/ThumbnailCache.h"

namespace {

int Mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// Moves the file's modification time by seconds, as a later change would.
void Touch(const QByteArray& path, int seconds) {
    struct stat info {};
    ASSERT_EQ(::stat(path.constData(), &info), 0);
    utimbuf times{info.st_atime, info.st_mtime + seconds};
    ASSERT_EQ(::utime(path.constData(), &times), 0);
}

struct TCacheFixture : ::testing::Test {
    QTemporaryDir dir;
    QString root = dir.filePath("cache/thumbnails");
    TThumbnailCache cache{root};
    QByteArray file = QFile::encodeName(dir.filePath("photo.jpg"));

    void SetUp() override {
        QFile f(QString::fromLocal8Bit(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("twelve bytes");
    }
};

}  // namespace

// URIs are escaped from the name's bytes as the desktop's programs escape them (non-UTF-8 names
// included), so that the MD5 names find the thumbnails they made.
TEST(ThumbnailCacheTest, NamesFilesAsTheDesktopDoes) {
    struct {
        QByteArray path, uri, md5;
    } const cases[] = {
        {"/home/jens/photos/me.png", "file:///home/jens/photos/me.png",
         "c6ee772d9e49320e97ec29a7eb5b1697"},
        {"/tmp/a b#c%d?e;f[g]h{i}j^k`l|m\"n<o>p",
         "file:///tmp/a%20b%23c%25d%3Fe%3Bf%5Bg%5Dh%7Bi%7Dj%5Ek%60l%7Cm%22n%3Co%3Ep",
         "1656ab4eb8fcc26540e36d85c1efeff1"},
        {"/tmp/!$&'()*+,-.:=@_~", "file:///tmp/!$&'()*+,-.:=@_~",
         "7412731fece5e0010d611c13c42ddecb"},
        {"/tmp/caf\xc3\xa9.jpg", "file:///tmp/caf%C3%A9.jpg", "a90eb2ad68eb076f8591acdfbe90d1c6"},
        {"/tmp/bad\xe9\xff.jpg", "file:///tmp/bad%E9%FF.jpg", "78ef0822281616340cb61c4ba2d9aa26"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TThumbnailCache::Uri(c.path), c.uri);
        EXPECT_EQ(TThumbnailCache::FileName(c.uri), c.md5 + ".png");
    }
    const std::pair<int, const char*> folders[] = {
        {64, "normal"},   {128, "normal"},    {129, "large"},    {256, "large"},
        {512, "x-large"}, {1024, "xx-large"}, {2048, "xx-large"}};
    for (const auto& [size, folder] : folders)
        EXPECT_EQ(TThumbnailCache::FolderName(TThumbnailCache::StandardSize(size)), folder) << size;
}

// A written thumbnail carries the keys, lies alone in its 0700 folder as a 0600 file, serves the
// sizes up to its own, and no longer counts once the file changes.
TEST_F(TCacheFixture, WritesAtomicallyAndReadsWhileValid) {
    QImage image(256, 192, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    ASSERT_TRUE(cache.Write(file, 256, image, QSize(4000, 3000)));
    const QString stored = cache.ThumbnailPath(file, 256);
    EXPECT_EQ(QDir(root + "/large").entryList(QDir::Files | QDir::Hidden),
              QStringList{QFileInfo(stored).fileName()});
    EXPECT_EQ(Mode(root), 0700);
    EXPECT_EQ(Mode(root + "/large"), 0700);
    EXPECT_EQ(Mode(stored), 0600);
    QImageReader reader(stored);
    const QImage read = reader.read();
    struct stat info {};
    ASSERT_EQ(::stat(file.constData(), &info), 0);
    const std::pair<const char*, QString> keys[] = {
        {"Thumb::URI", QString::fromLatin1(TThumbnailCache::Uri(file))},
        {"Thumb::MTime", QString::number(info.st_mtime)},
        {"Thumb::Size", "12"},
        {"Thumb::Image::Width", "4000"},
        {"Thumb::Image::Height", "3000"},
        {"Software", "Velkaro " VELKARO_VERSION}};
    for (const auto& [key, value] : keys)
        EXPECT_EQ(read.text(key), value) << key;

    EXPECT_EQ(cache.Read(file, 256).size(), QSize(256, 192));
    EXPECT_EQ(cache.Read(file, 100).size(), QSize(256, 192));  // a larger one, for the caller
    EXPECT_TRUE(cache.Read(file, 512).isNull());
    EXPECT_FALSE(cache.Write(file, 128, image, QSize()));  // too large for its folder
    Touch(file, 10);
    EXPECT_TRUE(cache.Read(file, 256).isNull());
}

// A failure is recorded for the file as it is: it holds until the file changes.
TEST_F(TCacheFixture, RecordsFailuresUntilTheFileChanges) {
    EXPECT_FALSE(cache.Failed(file));
    ASSERT_TRUE(cache.RecordFailure(file));
    EXPECT_TRUE(cache.Failed(file));
    EXPECT_TRUE(QFile::exists(root + "/fail/velkaro-" VELKARO_VERSION "/" +
                              TThumbnailCache::FileName(TThumbnailCache::Uri(file))));
    Touch(file, -10);
    EXPECT_FALSE(cache.Failed(file));
}

TEST_F(TCacheFixture, KnowsWhatLiesInside) {
    QDir().mkpath(root + "/large");
    QFile(root + "/large/x.png").open(QIODevice::WriteOnly);
    QFile::link(root, dir.filePath("link"));
    const std::pair<QString, bool> cases[] = {{root + "/large/x.png", true},
                                              {dir.filePath("link/large/x.png"), true},
                                              {root + "-other/x.png", false},
                                              {dir.filePath("photo.jpg"), false}};
    for (const auto& [path, inside] : cases)
        EXPECT_EQ(cache.Inside(QFile::encodeName(path)), inside) << path.toStdString();
}
