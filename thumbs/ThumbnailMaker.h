#pragma once
// Makes one thumbnail: the picture decoded only as far as the size needs (a camera's embedded
// thumbnail when it is large enough, JPEG's DCT scaling, a JPEG 2000 resolution level, the first
// frame or page, a vector picture drawn at the size), reduced with the Lanczos filter and turned
// upright by its stored orientation. Runs on any thread; the service, the thumbnailer and the
// benchmarks share it.
#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>
#include <string>

struct TThumbnail {
    QImage image;    // at most size pixels on its longer side, never enlarged; null on failure
    QSize fullSize;  // the picture's own size, upright
    QString error;   // why no thumbnail could be made
};

// The thumbnail of the file at most size pixels on its longer side. A raised cancel flag ends
// the decode early with a null image and no error.
TThumbnail MakeThumbnail(const std::string& path, int size,
                         const std::atomic<bool>* cancel = nullptr);
