#include "thumbs/ThumbnailCache.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace {

constexpr int kStandardSizes[] = {128, 256, 512, 1024};
const char* const kUriKey = "Thumb::URI";
const char* const kMTimeKey = "Thumb::MTime";
const QByteArray kFailFolder = QByteArrayLiteral("fail/velkaro-" VELKARO_VERSION);

// Bytes a file URI's path keeps as they are: the unreserved characters and the sub-delimiters
// that GLib leaves in paths (g_filename_to_uri), so that our names match the desktop's.
bool KeptInUri(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("-._~!$&'()*+,=:@/", c) != nullptr && c != 0;
}

// What identifies the file as it is now: its modification time in whole seconds and its size.
struct TFileStamp {
    bool exists = false;
    QByteArray mtime;
    qint64 size = 0;
};

TFileStamp Stamp(const QByteArray& path) {
    struct stat info {};
    TFileStamp stamp;
    if (::stat(path.constData(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.mtime = QByteArray::number(qlonglong(info.st_mtim.tv_sec));
    stamp.size = qint64(info.st_size);
    return stamp;
}

// Makes the folder and the ones above it that are missing, each readable by the user alone.
bool MakeFolder(const QByteArray& folder) {
    struct stat info {};
    if (::stat(folder.constData(), &info) == 0) return S_ISDIR(info.st_mode);
    const int slash = folder.lastIndexOf('/');
    if (slash > 0 && !MakeFolder(folder.left(slash))) return false;
    return ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST;
}

// Reads a stored thumbnail whose keys say it was made of uri as it is at mtime; with pixels
// only when wanted (a failure record needs none).
QImage ReadValid(const QString& file, const QByteArray& uri, const QByteArray& mtime, bool pixels) {
    QImageReader reader(file, "png");
    // Keys written before the pixels are known at once; others only once the image is read.
    QString storedUri = reader.text(kUriKey);
    QString storedMTime = reader.text(kMTimeKey);
    if (!storedUri.isEmpty() && (storedUri.toUtf8() != uri || storedMTime.toUtf8() != mtime))
        return {};
    if (!storedUri.isEmpty() && !pixels) return QImage(1, 1, QImage::Format_ARGB32);
    QImage image = reader.read();
    if (image.isNull()) return {};
    if (image.text(kUriKey).toUtf8() != uri || image.text(kMTimeKey).toUtf8() != mtime) return {};
    return image;
}

// Writes the PNG of image to file through a temporary name in the same folder, so that a reader
// never sees half a thumbnail; the file is readable by the user alone.
bool WriteAtomically(const QByteArray& file, const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setCompression(1);  // little compression: thumbnails are small, speed matters more
    if (!writer.write(image)) return false;
    QByteArray temporary = file + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());  // mode 0600
    if (fd < 0) return false;
    bool ok = true;
    for (qsizetype done = 0; ok && done < png.size();) {
        const ssize_t n = ::write(fd, png.constData() + done, size_t(png.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            ok = false;
    }
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), file.constData()) == 0;
    if (!ok) ::unlink(temporary.constData());
    return ok;
}

}  // namespace

TThumbnailCache::TThumbnailCache(QString root) : root_(root.isEmpty() ? DefaultRoot() : root) {}

QString TThumbnailCache::DefaultRoot() {
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    if (!xdg.isEmpty() && xdg.startsWith('/')) return QString::fromLocal8Bit(xdg) + "/thumbnails";
    return QString::fromLocal8Bit(qgetenv("HOME")) + "/.cache/thumbnails";
}

int TThumbnailCache::StandardSize(int size) {
    for (int standard : kStandardSizes)
        if (size <= standard) return standard;
    return kStandardSizes[std::size(kStandardSizes) - 1];
}

QString TThumbnailCache::FolderName(int standardSize) {
    switch (StandardSize(standardSize)) {
        case 128:
            return QStringLiteral("normal");
        case 256:
            return QStringLiteral("large");
        case 512:
            return QStringLiteral("x-large");
        default:
            return QStringLiteral("xx-large");
    }
}

QByteArray TThumbnailCache::Uri(const QByteArray& path) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray uri("file://");
    uri.reserve(path.size() * 3 / 2 + 7);
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (KeptInUri(c)) {
            uri.append(ch);
        } else {
            uri.append('%');
            uri.append(hex[c >> 4]);
            uri.append(hex[c & 15]);
        }
    }
    return uri;
}

QByteArray TThumbnailCache::FileName(const QByteArray& uri) {
    return QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
}

QString TThumbnailCache::ThumbnailPath(const QByteArray& path, int standardSize) const {
    return root_ + '/' + FolderName(standardSize) + '/' + QString::fromLatin1(FileName(Uri(path)));
}

QImage TThumbnailCache::Read(const QByteArray& path, int size) const {
    const TFileStamp stamp = Stamp(path);
    if (!stamp.exists) return {};
    const QByteArray uri = Uri(path);
    const QString name = QString::fromLatin1(FileName(uri));
    // The exact folder first, then the larger ones (the caller scales down).
    for (int standard : kStandardSizes) {
        if (standard < StandardSize(size)) continue;
        QImage image =
            ReadValid(root_ + '/' + FolderName(standard) + '/' + name, uri, stamp.mtime, true);
        if (!image.isNull()) return image;
    }
    return {};
}

bool TThumbnailCache::Write(const QByteArray& path, int size, const QImage& image,
                            QSize fullSize) const {
    const int standard = StandardSize(size);
    if (image.isNull() || std::max(image.width(), image.height()) > standard) return false;
    const TFileStamp stamp = Stamp(path);
    if (!stamp.exists || Inside(path)) return false;
    const QByteArray folder = QFile::encodeName(root_ + '/' + FolderName(standard));
    if (!MakeFolder(folder)) return false;
    const QByteArray uri = Uri(path);
    QImage stored = image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32)
                                            : image.convertToFormat(QImage::Format_RGB32);
    stored.setText(kUriKey, QString::fromLatin1(uri));
    stored.setText(kMTimeKey, QString::fromLatin1(stamp.mtime));
    stored.setText("Thumb::Size", QString::number(stamp.size));
    if (fullSize.isValid()) {
        stored.setText("Thumb::Image::Width", QString::number(fullSize.width()));
        stored.setText("Thumb::Image::Height", QString::number(fullSize.height()));
    }
    stored.setText("Software", QStringLiteral("Velkaro " VELKARO_VERSION));
    return WriteAtomically(folder + '/' + FileName(uri), stored);
}

bool TThumbnailCache::RecordFailure(const QByteArray& path) const {
    const TFileStamp stamp = Stamp(path);
    if (!stamp.exists || Inside(path)) return false;
    const QByteArray folder = QFile::encodeName(root_) + '/' + kFailFolder;
    if (!MakeFolder(folder)) return false;
    const QByteArray uri = Uri(path);
    QImage record(1, 1, QImage::Format_ARGB32);
    record.fill(Qt::transparent);
    record.setText(kUriKey, QString::fromLatin1(uri));
    record.setText(kMTimeKey, QString::fromLatin1(stamp.mtime));
    record.setText("Software", QStringLiteral("Velkaro " VELKARO_VERSION));
    return WriteAtomically(folder + '/' + FileName(uri), record);
}

bool TThumbnailCache::Failed(const QByteArray& path) const {
    const TFileStamp stamp = Stamp(path);
    if (!stamp.exists) return false;
    const QByteArray uri = Uri(path);
    const QString file =
        root_ + '/' + QString::fromLatin1(kFailFolder) + '/' + QString::fromLatin1(FileName(uri));
    return !ReadValid(file, uri, stamp.mtime, false).isNull();
}

bool TThumbnailCache::Inside(const QByteArray& path) const {
    const QByteArray root = QFile::encodeName(root_);
    if (path.startsWith(root + '/')) return true;
    // The cache reached through another name (a link on the way to it).
    char* real = ::realpath(root.constData(), nullptr);
    if (real == nullptr) return false;
    const QByteArray resolved = QByteArray(real) + '/';
    ::free(real);
    char* file = ::realpath(path.constData(), nullptr);
    const bool inside =
        path.startsWith(resolved) || (file != nullptr && QByteArray(file).startsWith(resolved));
    ::free(file);
    return inside;
}
