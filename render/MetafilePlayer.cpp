#include "render/MetafilePlayer.h"

#include <QPainter>
#include <algorithm>

#include "render/ImageToBitmap.h"
#include "render/MetafileRecordPlayer.h"

namespace metafile {

TRecordPlayer::TRecordPlayer(const TMetafile& metafile, QImage& image, const QTransform& toImage)
    : metafile_(metafile), header_(metafile.Header()), painter_(&image) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    // Bitmaps are stretched by repeating pixels, as the screen does by default.
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double w = metafile.Width(), h = metafile.Height();
    if (header_.Enhanced) {
        perMillimeter_ = double(header_.DevicePixelsX) / header_.DeviceMillimetersX;
        perMillimeterY_ = double(header_.DevicePixelsY) / header_.DeviceMillimetersY;
        // The frame (0.01 mm, inclusive) in reference device pixels is mapped onto the picture;
        // without a frame the bounds are.
        double left, top, right, bottom;
        if (header_.FrameRight > header_.FrameLeft && header_.FrameBottom > header_.FrameTop) {
            left = header_.FrameLeft * perMillimeter_ / 100;
            top = header_.FrameTop * perMillimeterY_ / 100;
            right = header_.FrameRight * perMillimeter_ / 100;
            bottom = header_.FrameBottom * perMillimeterY_ / 100;
        } else {
            left = header_.Left;
            top = header_.Top;
            right = header_.Right + 1.0;
            bottom = header_.Bottom + 1.0;
        }
        outer_ = QTransform::fromTranslate(-left, -top) *
                 QTransform::fromScale(w / std::max(right - left, 1e-9),
                                       h / std::max(bottom - top, 1e-9));
    } else {
        // A WMF draws its window (the placeable bounds unless its records set another) onto
        // the picture in device pixels at 96 dots per inch.
        perMillimeter_ = perMillimeterY_ = 96.0 / 25.4;
        s_.MapMode = mmAnisotropic;
        s_.WindowOrg = QPointF(header_.Left, header_.Top);
        s_.WindowExt =
            QPointF(double(header_.Right) - header_.Left, double(header_.Bottom) - header_.Top);
        s_.ViewportExt = QPointF(w, h);
    }
    outer_ *= toImage;
}

void TRecordPlayer::Play() {
    if (header_.Enhanced)
        PlayEmf();
    else
        PlayWmf();
}

}  // namespace metafile

using metafile::TRecordPlayer;

QImage PlayMetafile(const TMetafile& metafile) {
    if (metafile.Empty()) return QImage();
    // The bitmap's pixel limit holds before the picture is allocated.
    TBitmap::CheckSize(metafile.Width(), metafile.Height());
    QImage image(metafile.Width(), metafile.Height(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(Qt::transparent);
    PlayMetafile(metafile, image, QTransform());
    return image;
}

namespace {

// A Windows metafile names the window its picture shows, but what it draws may leave that
// window. Then the picture shows the whole drawing, its bounding box stretched over the picture,
// as libwmf and the system's own conversion to an enhanced metafile show it; a drawing inside
// its window keeps it. The result maps the picture's own frame onto the one to show.
QTransform DrawingFrame(const TMetafile& metafile) {
    if (metafile.Header().Enhanced) return {};
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    if (scratch.isNull()) return {};
    QRectF reach;
    TRecordPlayer measure(metafile, scratch, QTransform());
    measure.MeasureInto(&reach);
    measure.Play();
    const double w = metafile.Width(), h = metafile.Height();
    // A pixel's slack for strokes along the edges and rounding.
    if (reach.isNull() || QRectF(-1, -1, w + 2, h + 2).contains(reach)) return {};
    if (!(reach.width() > 1e-6) || !(reach.height() > 1e-6)) return {};
    return QTransform::fromTranslate(-reach.left(), -reach.top()) *
           QTransform::fromScale(w / reach.width(), h / reach.height());
}

}  // namespace

void PlayMetafile(const TMetafile& metafile, QImage& image, const QTransform& toImage) {
    if (metafile.Empty() || image.isNull()) return;
    TRecordPlayer player(metafile, image, DrawingFrame(metafile) * toImage);
    player.Play();
}

void InstallMetafilePlayer() {
    TMetafile::SetRenderer([](const TMetafile& metafile, TBitmap& target) {
        ImageToBitmap(PlayMetafile(metafile), target);
    });
}
