#include "thumbs/ThumbnailCache.h"

// Placeholder implementation: the cache reads and writes nothing yet.

TThumbnailCache::TThumbnailCache(QString root) : root_(root.isEmpty() ? DefaultRoot() : root) {}

QString TThumbnailCache::DefaultRoot() {
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    if (!xdg.isEmpty() && xdg.startsWith('/')) return QString::fromLocal8Bit(xdg) + "/thumbnails";
    return QString::fromLocal8Bit(qgetenv("HOME")) + "/.cache/thumbnails";
}

QImage TThumbnailCache::Read(const QByteArray&, int) const {
    return {};
}

bool TThumbnailCache::Write(const QByteArray&, int, const QImage&, QSize) const {
    return false;
}

bool TThumbnailCache::RecordFailure(const QByteArray&) const {
    return false;
}

bool TThumbnailCache::Failed(const QByteArray&) const {
    return false;
}

bool TThumbnailCache::Inside(const QByteArray&) const {
    return false;
}
