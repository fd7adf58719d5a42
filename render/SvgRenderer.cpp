#include "render/SvgRenderer.h"

#include <QPainter>
#include <algorithm>

#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"
#include "render/ImageToBitmap.h"

TSvgDocument::TSvgDocument(const TSVGGraphic& svg) : root_(svg.Root()) {
    const std::string& text = svg.Document();
    if (!renderer_.load(QByteArray::fromRawData(text.data(), qsizetype(text.size()))) ||
        !renderer_.isValid())
        RaiseInvalidGraphicFmt(imsg::InvalidImage, "SVG");
    // Without a viewBox, user units are the picture's pixels from the origin.
    renderer_.setViewBox(root_.HasViewBox ? QRectF(root_.ViewBoxX, root_.ViewBoxY,
                                                   root_.ViewBoxWidth, root_.ViewBoxHeight)
                                          : QRectF(0, 0, root_.Width, root_.Height));
}

void TSvgDocument::Draw(QPainter& painter, const QRectF& target) {
    const QRectF box = renderer_.viewBoxF();
    if (target.isEmpty() || box.isEmpty()) return;
    QRectF bounds = target;
    if (!root_.AlignNone) {
        // The viewBox keeps its aspect: it fits in the picture (meet) or covers it (slice),
        // aligned at the minimum, middle or maximum of each side.
        const double sx = target.width() / box.width(), sy = target.height() / box.height();
        const double s = root_.Slice ? std::max(sx, sy) : std::min(sx, sy);
        const QSizeF size = box.size() * s;
        bounds = QRectF(target.left() + (target.width() - size.width()) * root_.AlignX / 2.0,
                        target.top() + (target.height() - size.height()) * root_.AlignY / 2.0,
                        size.width(), size.height());
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    // The picture's own rectangle clips what lies outside it, as the outermost viewport does.
    painter.setClipRect(target, Qt::IntersectClip);
    renderer_.render(&painter, bounds);
    painter.restore();
}

QImage TSvgDocument::Render(QSizeF scaled, const QRect& area) {
    if (area.isEmpty()) return QImage();
    TBitmap::CheckSize(area.width(), area.height());
    QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) RaiseInvalidGraphicFmt(imsg::InvalidImage, "SVG");
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(-area.topLeft());
    Draw(painter, QRectF(QPointF(0, 0), scaled));
    return image;
}

void InstallSvgRenderer() {
    TSVGGraphic::SetRenderer([](const TSVGGraphic& svg, TBitmap& target) {
        TSvgDocument document(svg);
        PaintIntoBitmap(target, QSize(svg.Width(), svg.Height()), [&](QImage& image) {
            QPainter painter(&image);
            document.Draw(painter, QRectF(0, 0, svg.Width(), svg.Height()));
        });
    });
}
