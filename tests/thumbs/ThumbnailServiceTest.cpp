#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <thread>

#include "common/DecodeTestHelpers.h"
#include "imaging/Registration.h"
#include "thumbs/ThumbnailService.h"

namespace {

// A service over a cache of its own, with a maker that records what it is asked for, paints a
// 10 x 10 thumbnail (400 bytes), and holds the first job until released.
struct TServiceFixture : ::testing::Test {
    QTemporaryDir dir;
    TThumbnailService service{nullptr, 1, TThumbnailCache(dir.filePath("thumbnails"))};
    std::mutex mutex;
    QList<QByteArray> made;
    std::atomic<bool> started{false}, release{true}, ignoreCancel{false};
    QList<QByteArray> ready;

    void SetUp() override {
        service.SetMaker([this](const std::string& path, int, const std::atomic<bool>* cancel) {
            started = true;
            while (!release && !(cancel->load() && !ignoreCancel))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            {
                std::lock_guard lock(mutex);
                made.append(QByteArray::fromStdString(path));
            }
            TThumbnail thumbnail;
            thumbnail.image = QImage(10, 10, QImage::Format_ARGB32);
            thumbnail.image.fill(Qt::red);
            return thumbnail;
        });
        QObject::connect(&service, &TThumbnailService::Ready,
                         [this](QByteArray path, QImage) { ready.append(path); });
    }
    QList<QByteArray> Made() {
        std::lock_guard lock(mutex);
        return made;
    }
    void Wait(const std::function<bool()>& done) { testhelp::WaitUntil(done); }
};

}  // namespace

// Visible files come first, then the ones around them; a new request re-orders what is queued
// and drops what is no longer asked for.
TEST_F(TServiceFixture, MakesVisibleFirstAndFollowsNewRequests) {
    release = false;
    service.Request({"/x/held"}, {});
    Wait([&] { return started.load(); });
    service.Request({"/x/a", "/x/b"}, {"/x/c", "/x/d"});
    service.Request({"/x/d", "/x/c"}, {"/x/b"});
    release = true;
    Wait([&] { return ready.size() == 4; });
    const QList<QByteArray> order{"/x/held", "/x/d", "/x/c", "/x/b"};
    EXPECT_EQ(Made(), order);
    EXPECT_EQ(ready, order);
    EXPECT_FALSE(service.Cached("/x/d").isNull());
}

// After Clear nothing more arrives, not even what a maker finished regardless.
TEST_F(TServiceFixture, DeliversNothingAfterClear) {
    for (bool ignore : {false, true}) {
        ready.clear();
        started = false;
        release = false;
        ignoreCancel = ignore;
        service.Request({"/y/a", "/y/b"}, {});
        Wait([&] { return started.load(); });
        service.Clear();
        release = true;
        testhelp::WaitUntil([] { return false; }, 200);
        EXPECT_TRUE(ready.isEmpty()) << ignore;
        EXPECT_FALSE(Made().contains("/y/b"));
    }
}

// Thumbnails in memory stay within the bound; the least recently shown goes first.
TEST_F(TServiceFixture, KeepsTheMostRecentlyShownWithinTheBound) {
    service.SetMemoryBound(1000);
    service.Request({"/z/a", "/z/b"}, {});
    Wait([&] { return ready.size() == 2; });
    EXPECT_EQ(service.MemoryBytes(), 800u);
    service.Cached("/z/a");
    service.Request({"/z/c"}, {});
    Wait([&] { return ready.size() == 3; });
    EXPECT_FALSE(service.Cached("/z/a").isNull());
    EXPECT_TRUE(service.Cached("/z/b").isNull());
    EXPECT_FALSE(service.Cached("/z/c").isNull());
    EXPECT_EQ(service.MemoryBytes(), 800u);
    service.SetSize(128);
    EXPECT_EQ(service.MemoryBytes(), 0u);
}

// A real file is made once and stored; a second service reads it from the cache, and files
// inside the cache are never made.
TEST_F(TServiceFixture, StoresWhatItMakesAndSkipsTheCache) {
    RegisterImageFormats();
    QImage picture(600, 300, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    const QString file = dir.filePath("p.bmp");
    ASSERT_TRUE(picture.save(file, "BMP"));
    TThumbnailService first(nullptr, 1, TThumbnailCache(dir.filePath("thumbnails")));
    QImage made;
    QObject::connect(&first, &TThumbnailService::Ready, [&](QByteArray, QImage i) { made = i; });
    first.Request({QFile::encodeName(file)}, {});
    Wait([&] { return !made.isNull(); });
    EXPECT_EQ(made.size(), QSize(256, 128));

    const QByteArray stored = QFile::encodeName(
        TThumbnailCache(dir.filePath("thumbnails")).ThumbnailPath(QFile::encodeName(file), 256));
    service.SetSize(200);
    service.Request({QFile::encodeName(file), stored}, {});
    Wait([&] { return ready.size() == 2; });
    EXPECT_TRUE(Made().isEmpty());
    EXPECT_EQ(service.Cached(QFile::encodeName(file)).size(), QSize(200, 100));
    EXPECT_TRUE(service.Cached(stored).isNull());
}
