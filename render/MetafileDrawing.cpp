// Drawing with the device context: pens, brushes, shapes and paths, bitmaps and blits, gradient
// fills, regions, and the raster operations that combine them with the picture.
#include <QPainter>
#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/WindowsBitmap.h"
#include "render/ImageToBitmap.h"
#include "render/MetafileRecordPlayer.h"

namespace metafile {

namespace {

// Raster operations. A ternary operation's code (bits 16-23 of the blit's operation) is the
// truth table over pattern, source and destination bits; a binary one (R2_*, 1-16) less one is
// the table over pattern and destination.
uint32_t Ternary(uint8_t rop3, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t result = 0;
    for (int index = 0; index < 8; ++index) {
        if (!((rop3 >> index) & 1)) continue;
        result |= ((index & 4) ? p : ~p) & ((index & 2) ? s : ~s) & ((index & 1) ? d : ~d);
    }
    return result;
}

uint8_t Rop2ToRop3(int rop2) {
    const int table = std::clamp(rop2, 1, 16) - 1;
    uint8_t rop3 = 0;
    for (int index = 0; index < 8; ++index) {
        const int p = (index >> 2) & 1, d = index & 1;
        if ((table >> ((p << 1) | d)) & 1) rop3 |= uint8_t(1 << index);
    }
    return rop3;
}

}  // namespace

// ---- Painting -------------------------------------------------------------------------------

QPen TRecordPlayer::MakePen() const {
    const TPenObject& p = s_.Pen;
    const uint32_t style = p.Style & 0x0F;
    if (style == 5) return QPen(Qt::NoPen);
    QPen pen(p.Color);
    const double width = p.Width * DeviceScale();
    // Pens narrower than a device pixel draw one pixel wide, as on the screen.
    if (width <= 1.0) {
        pen.setWidthF(1.0);
        pen.setCosmetic(true);
    } else {
        pen.setWidthF(p.Width);
    }
    // Line style 0..4 (5, no pen, is handled above; others draw solid), end caps and joins.
    static constexpr Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                               Qt::DashDotLine, Qt::DashDotDotLine};
    pen.setStyle(style < std::size(kStyles) ? kStyles[style] : Qt::SolidLine);
    const uint32_t cap = p.Style & 0x0F00, join = p.Style & 0xF000;
    pen.setCapStyle(cap == 0x100 ? Qt::SquareCap : cap == 0x200 ? Qt::FlatCap : Qt::RoundCap);
    pen.setJoinStyle(join == 0x1000   ? Qt::BevelJoin
                     : join == 0x2000 ? Qt::MiterJoin
                                      : Qt::RoundJoin);
    return pen;
}

QBrush TRecordPlayer::MakeBrush() const {
    const TBrushObject& b = s_.Brush;
    switch (b.Style) {
        case 0:
            return QBrush(b.Color);
        case 2: {
            static const Qt::BrushStyle kHatch[] = {Qt::HorPattern,   Qt::VerPattern,
                                                    Qt::FDiagPattern, Qt::BDiagPattern,
                                                    Qt::CrossPattern, Qt::DiagCrossPattern};
            return QBrush(b.Color, b.Hatch < 6 ? kHatch[b.Hatch] : Qt::SolidPattern);
        }
        case 3:
        case 5:
        case 6:
            if (!b.Pattern.isNull()) return QBrush(b.Pattern);
            return QBrush(b.Color);
        default:
            return QBrush(Qt::NoBrush);
    }
}

void TRecordPlayer::Prepare(bool fill, bool stroke) {
    painter_.setTransform(QTransform());
    if (s_.HasClip)
        painter_.setClipPath(s_.Clip);
    else
        painter_.setClipping(false);
    painter_.setTransform(Transform());
    painter_.setPen(stroke ? MakePen() : QPen(Qt::NoPen));
    painter_.setBrush(fill ? MakeBrush() : QBrush(Qt::NoBrush));
    painter_.setBackgroundMode(s_.BkMode == 2 ? Qt::OpaqueMode : Qt::TransparentMode);
    painter_.setBackground(QBrush(s_.BkColor));
}

void TRecordPlayer::Reach(const QRectF& device) {
    if (reach_ == nullptr) return;
    QRectF r = device.normalized();
    if (s_.HasClip) r = r.intersected(s_.Clip.boundingRect());
    if (!(r.width() > 0) && !(r.height() > 0)) return;
    if (!std::isfinite(r.left()) || !std::isfinite(r.top()) || !std::isfinite(r.right()) ||
        !std::isfinite(r.bottom()))
        return;
    *reach_ = reach_->isNull() ? r : reach_->united(r);
}

// Whether a path lies within reach of the device: points millions of pixels away (as in damaged
// files) would have the painter flatten their curves into gigabytes of polygon, and show nothing.
bool TRecordPlayer::OnDevice(const QPainterPath& path, const QTransform& transform) {
    constexpr double kFar = 1e7;
    const QRectF r = transform.mapRect(path.controlPointRect());
    for (double v : {r.left(), r.top(), r.right(), r.bottom()})
        if (!(std::abs(v) < kFar)) return false;
    return true;
}

void TRecordPlayer::DrawPath(const QPainterPath& path, bool fill, bool stroke) {
    if (!Transform().isInvertible() || !OnDevice(path, Transform())) return;
    Prepare(fill, stroke);
    if (reach_ != nullptr) {
        const double pen = painter_.pen().style() == Qt::NoPen
                               ? 0
                               : std::max(0.5, painter_.pen().widthF() * DeviceScale() / 2);
        Reach(Transform().mapRect(path.controlPointRect()).adjusted(-pen, -pen, pen, pen));
    }
    if (s_.Rop2 == 13) {
        painter_.drawPath(path);
        return;
    }
    // Another binary raster operation: the pen or brush is the pattern, the source is unused.
    const uint8_t rop3 = Rop2ToRop3(s_.Rop2);
    const double grow = painter_.pen().style() == Qt::NoPen ? 1 : painter_.pen().widthF() + 2;
    const QRectF bounds = Transform()
                              .mapRect(path.controlPointRect())
                              .adjusted(-grow * DeviceScale() - 2, -grow * DeviceScale() - 2,
                                        grow * DeviceScale() + 2, grow * DeviceScale() + 2);
    RopLayer(rop3, bounds, [&](QPainter& p) { p.drawPath(path); });
}

// Draws through a layer of the device rectangle, then combines each covered pixel with the
// picture by the ternary raster operation: the layer's colour is the source and, for shapes,
// the pattern (the pen or brush); the picture counts as white paper where nothing is drawn yet.
void TRecordPlayer::RopLayer(uint8_t rop3, const QRectF& deviceBounds,
                             const std::function<void(QPainter&)>& draw) {
    QPaintDevice* device = painter_.device();
    if (device == nullptr || device->devType() != QInternal::Image) return;
    const QRectF fit = deviceBounds.intersected(QRectF(0, 0, device->width(), device->height()));
    if (!(fit.width() > 0) || !(fit.height() > 0)) return;
    const QRect area =
        fit.toAlignedRect().intersected(QRect(0, 0, device->width(), device->height()));
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHints(painter_.renderHints());
        lp.translate(-area.topLeft());
        if (painter_.hasClipping()) {
            lp.setClipPath(painter_.clipPath() * painter_.transform());
        }
        lp.setTransform(painter_.transform() *
                        QTransform::fromTranslate(-area.left(), -area.top()));
        lp.setPen(painter_.pen());
        lp.setBrush(painter_.brush());
        lp.setBackground(painter_.background());
        lp.setBackgroundMode(painter_.backgroundMode());
        draw(lp);
    }
    auto* image = static_cast<QImage*>(device);
    const QRgb pattern = PatternColor().rgb();
    for (int y = 0; y < area.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(image->scanLine(area.top() + y)) + area.left();
        for (int x = 0; x < area.width(); ++x) {
            if (qAlpha(in[x]) == 0) continue;
            // The picture over white paper, premultiplied colours made whole.
            const QRgb d = out[x];
            const uint32_t paper = 255 - qAlpha(d);
            const uint32_t dest =
                ((qRed(d) + paper) << 16) | ((qGreen(d) + paper) << 8) | (qBlue(d) + paper);
            const uint32_t source = qUnpremultiply(in[x]) & 0xFFFFFF;
            out[x] = 0xFF000000u | (Ternary(rop3, pattern & 0xFFFFFF, source, dest) & 0xFFFFFF);
        }
    }
}

// The brush's colour as a raster operation's pattern.
QColor TRecordPlayer::PatternColor() const {
    return s_.Brush.Style == 1 ? QColor(Qt::white) : s_.Brush.Color;
}

// A shape either joins the open path bracket or is drawn at once.
void TRecordPlayer::Shape(const QPainterPath& path, bool fill, bool stroke) {
    if (inPath_) {
        path_.addPath(path);
        return;
    }
    QPainterPath p = path;
    p.setFillRule(s_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    DrawPath(p, fill, stroke);
}

void TRecordPlayer::Line(const QPointF& from, const QPointF& to) {
    if (inPath_) {
        if (path_.isEmpty() || path_.currentPosition() != from) path_.moveTo(from);
        path_.lineTo(to);
        return;
    }
    QPainterPath p(from);
    p.lineTo(to);
    DrawPath(p, false, true);
}

void TRecordPlayer::FillRect(const QRectF& logical, const QBrush& brush) {
    if (!Transform().isInvertible()) return;
    Prepare(false, false);
    Reach(Transform().mapRect(logical));
    painter_.fillRect(logical, brush);
}

// Arc (kind 0), chord (1) or pie (2) of the ellipse in box, from the direction of start to the
// direction of end, counter-clockwise unless the arc direction says otherwise.
void TRecordPlayer::ArcShape(int kind, const QRectF& box, const QPointF& start,
                             const QPointF& end) {
    const QRectF r = box.normalized();
    if (r.width() <= 0 || r.height() <= 0) return;
    const QPointF c = r.center();
    auto angle = [&](const QPointF& p) {
        return std::atan2(-(p.y() - c.y()) / r.height(), (p.x() - c.x()) / r.width()) * 180 / M_PI;
    };
    const double a0 = angle(start), a1 = angle(end);
    double sweep = a1 - a0;
    if (s_.Clockwise) {
        while (sweep >= 0)
            sweep -= 360;
    } else {
        while (sweep <= 0)
            sweep += 360;
    }
    QPainterPath path;
    if (kind == 2) {
        path.moveTo(c);
        path.arcTo(r, a0, sweep);
        path.closeSubpath();
    } else if (kind == 3) {
        path.moveTo(s_.Position);
        path.arcTo(r, a0, sweep);
        s_.Position = path.currentPosition();
        if (inPath_) {
            path_.connectPath(path);
            return;
        }
        DrawPath(path, false, true);
        return;
    } else {
        path.arcMoveTo(r, a0);
        path.arcTo(r, a0, sweep);
        if (kind == 1) path.closeSubpath();
    }
    Shape(path, kind != 0, true);
}

// Rectangles, ellipses and rounded rectangles as GDI draws them: the right and bottom edges are
// not part of the shape, and the pen runs along the centres of its outermost pixels.
void TRecordPlayer::BoxShape(int kind, const QRectF& box, const QSizeF& corner) {
    const QRectF logical = box.normalized();
    const auto shape = [&](const QRectF& rect, double rx, double ry) {
        QPainterPath p;
        if (kind == 0)
            p.addRect(rect);
        else if (kind == 1)
            p.addEllipse(rect);
        else
            p.addRoundedRect(rect, rx, ry);
        return p;
    };
    const double rx = std::abs(corner.width()) / 2, ry = std::abs(corner.height()) / 2;
    const QTransform t = Transform();
    if (inPath_ || t.type() > QTransform::TxScale || !t.isInvertible()) {
        Shape(shape(logical, rx, ry), true, true);
        return;
    }
    // The outline half a pixel inside on every side, in device pixels.
    const QRectF device = t.mapRect(logical);
    const QRectF inner =
        device.width() > 1 && device.height() > 1 ? device.adjusted(0.5, 0.5, -0.5, -0.5) : device;
    const QRectF outline = t.inverted().mapRect(inner);
    Shape(shape(logical, rx, ry), true, false);
    Shape(shape(outline, rx * outline.width() / std::max(logical.width(), 1e-9),
                ry * outline.height() / std::max(logical.height(), 1e-9)),
          false, true);
}

// A line from the current position to the start of an arc of the circle, then the arc
// (counter-clockwise degrees); the current position moves to its end.
void TRecordPlayer::AngleArc(const QPointF& centre, double radius, double start, double sweep) {
    if (radius > 1e6) return;
    const QRectF r(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path(s_.Position);
    path.arcTo(r, std::fmod(start, 360.0), std::clamp(sweep, -3600.0, 3600.0));
    s_.Position = path.currentPosition();
    if (inPath_) {
        path_.connectPath(path);
        return;
    }
    DrawPath(path, false, true);
}

// Lines and Béziers from the current position: PT_MOVETO 6, PT_LINETO 2, PT_BEZIERTO 4, each
// with PT_CLOSEFIGURE 1.
void TRecordPlayer::PolyDraw(const std::vector<QPointF>& points, const TRecordData& r,
                             size_t typesAt) {
    QPainterPath path(s_.Position);
    for (size_t i = 0; i < points.size(); ++i) {
        const uint8_t type = r.Data()[typesAt + i];
        switch (type & 6) {
            case 6:
                path.moveTo(points[i]);
                break;
            case 4:
                if (i + 2 >= points.size()) return;
                path.cubicTo(points[i], points[i + 1], points[i + 2]);
                i += 2;
                break;
            default:
                path.lineTo(points[i]);
                break;
        }
        if ((r.Data()[typesAt + i] & 1)) path.closeSubpath();
    }
    s_.Position = path.currentPosition();
    if (inPath_) {
        path_.connectPath(path);
        return;
    }
    DrawPath(path, false, true);
}

QImage TRecordPlayer::DibImage(const uint8_t* data, size_t size, size_t bitsOffset) {
    try {
        TMemoryStream stream(data, int64_t(size));
        const TDibHeader header = dib::ReadHeader(stream, bitsOffset ? int64_t(bitsOffset) : -1);
        if (bitsOffset) stream.SetPosition(int64_t(bitsOffset));
        TBitmap bitmap;
        TBitmap::CheckSize(header.Width, header.Height);
        dib::ReadPixels(stream, stream.Remaining(), header, bitmap);
        return BitmapToQImage(bitmap);
    } catch (const EImagingError&) {
        return QImage();  // a damaged bitmap is left out of the picture
    }
}

void TRecordPlayer::DrawDib(const QRectF& dest, const QRectF& source, const uint8_t* info,
                            size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t rop,
                            bool sourceFromBottom) {
    if (rop == 0x00AA0029) return;  // leaves the destination as it is
    // SRCCOPY copies; SRCAND, SRCPAINT, SRCINVERT and the others combine through a layer.
    const uint8_t rop3 = uint8_t(rop >> 16);
    if (rop3 == 0xAA) return;
    // The info header and the bits may stand apart in the record: join them.
    std::vector<uint8_t> dibData(info, info + infoSize);
    dibData.insert(dibData.end(), bits, bits + bitsSize);
    BlitImage(DibImage(dibData.data(), dibData.size(), bits != nullptr ? infoSize : 0), dest,
              source, rop3, sourceFromBottom);
}

// Draws the source rectangle of an image onto the logical destination by the raster operation.
void TRecordPlayer::BlitImage(QImage image, const QRectF& dest, const QRectF& source, uint8_t rop3,
                              bool sourceFromBottom) {
    if (image.isNull() || !Transform().isInvertible()) return;
    Prepare(false, false);
    Reach(Transform().mapRect(dest.normalized()));
    QRectF src = source.normalized();
    if (src.isEmpty()) src = QRectF(0, 0, image.width(), image.height());
    // The device-independent bitmap calls count the source rectangle from the bottom row.
    if (sourceFromBottom) src.moveTop(image.height() - src.top() - src.height());
    // A negative width or height mirrors the picture.
    if (dest.width() < 0 || dest.height() < 0)
        image = image.mirrored(dest.width() < 0, dest.height() < 0);
    const QTransform t = Transform();
    if (t.type() <= QTransform::TxScale) {
        // Stretched by repeating pixels, as the screen does by default. Only the part of the
        // target that lies on the picture is sampled, so huge targets cost nothing. The target
        // stays in doubles: a file's extreme coordinates would overflow Qt's integer rectangles.
        const QRectF mapped = t.mapRect(dest.normalized());
        const double left = std::floor(mapped.left()), top = std::floor(mapped.top());
        const double width = std::ceil(mapped.right()) - left;
        const double height = std::ceil(mapped.bottom()) - top;
        const QRectF from = src.intersected(QRectF(image.rect()));
        if (painter_.device() == nullptr || !(width > 0) || !(height > 0) || from.isEmpty()) return;
        const double deviceWidth = painter_.device()->width();
        const double deviceHeight = painter_.device()->height();
        const double x0 = std::max(left, 0.0), y0 = std::max(top, 0.0);
        const double x1 = std::min(left + width, deviceWidth);
        const double y1 = std::min(top + height, deviceHeight);
        if (!(x1 > x0) || !(y1 > y0)) return;
        const QRect visible(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
        const QImage source = image.convertToFormat(QImage::Format_ARGB32);
        QImage part(visible.size(), QImage::Format_ARGB32);
        if (part.isNull()) return;
        const double sx = src.width() / width, sy = src.height() / height;
        // The source pixel of a target position, or -1 when it lies outside the picture.
        const auto sample = [](double origin, double offset, double scale, int limit) {
            const double at = std::floor(origin + (offset + 0.5) * scale);
            return at >= 0 && at < limit ? int(at) : -1;
        };
        for (int y = 0; y < visible.height(); ++y) {
            const int row = sample(src.top(), visible.top() + y - top, sy, image.height());
            auto* out = reinterpret_cast<QRgb*>(part.scanLine(y));
            for (int x = 0; x < visible.width(); ++x) {
                const int col = sample(src.left(), visible.left() + x - left, sx, image.width());
                out[x] = row >= 0 && col >= 0
                             ? reinterpret_cast<const QRgb*>(source.constScanLine(row))[col]
                             : 0;
            }
        }
        painter_.setTransform(QTransform());
        if (rop3 == 0xCC)
            painter_.drawImage(visible.topLeft(), part);
        else
            RopLayer(rop3, QRectF(visible), [&](QPainter& p) {
                p.setTransform(QTransform());
                p.drawImage(0, 0, part);
            });
        return;
    }
    if (rop3 == 0xCC)
        painter_.drawImage(dest.normalized(), image, src);
    else
        RopLayer(rop3, t.mapRect(dest.normalized()),
                 [&](QPainter& p) { p.drawImage(dest.normalized(), image, src); });
}

// The bitmap of a blit record whose usage, header offset and size, bits offset and size stand
// at offsets - 4 .. offsets + 12 (offsets count from the record's start).
QImage TRecordPlayer::RecordDib(const TRecordData& r, size_t offsets) const {
    const uint32_t usage = r.U32(offsets - 4);
    const uint32_t offBmi = r.U32(offsets), cbBmi = r.U32(offsets + 4);
    const uint32_t offBits = r.U32(offsets + 8), cbBits = r.U32(offsets + 12);
    if (usage != 0 || cbBmi == 0 || offBmi < 8 || offBits < 8 || !r.Has(offBmi - 8, cbBmi) ||
        !r.Has(offBits - 8, cbBits))
        return QImage();
    std::vector<uint8_t> dib(r.Data() + offBmi - 8, r.Data() + offBmi - 8 + cbBmi);
    dib.insert(dib.end(), r.Data() + offBits - 8, r.Data() + offBits - 8 + cbBits);
    return const_cast<TRecordPlayer*>(this)->DibImage(dib.data(), dib.size(), cbBmi);
}

// Gradient fills: bounds, vertex count, shape count, mode (0 horizontal and 1 vertical
// rectangles, 2 triangles), vertices (x, y, 16-bit red, green, blue, alpha), then the shapes.
void TRecordPlayer::GradientFill(const TRecordData& r) {
    const uint32_t vertices = r.U32(16), shapes = r.U32(20), mode = r.U32(24);
    if (mode > 2 || !r.Has(28, size_t(vertices) * 16)) return;
    const size_t shapeSize = mode == 2 ? 12 : 8;
    const size_t shapesAt = 28 + size_t(vertices) * 16;
    if (!r.Has(shapesAt, size_t(shapes) * shapeSize)) return;
    auto vertex = [&](uint32_t i) {
        return QPointF(r.S32(28 + size_t(i) * 16), r.S32(32 + size_t(i) * 16));
    };
    auto colour = [&](uint32_t i) {
        const size_t o = 36 + size_t(i) * 16;
        return QColor(r.U16(o) >> 8, r.U16(o + 2) >> 8, r.U16(o + 4) >> 8);
    };
    const QTransform t = Transform();
    if (!t.isInvertible()) return;
    Prepare(false, false);
    if (painter_.device() == nullptr || painter_.device()->devType() != QInternal::Image) return;
    auto* image = static_cast<QImage*>(painter_.device());
    // Triangles are shaded pixel by pixel; a budget keeps huge or many triangles affordable.
    int64_t budget = int64_t(image->width()) * image->height() * 4;
    for (uint32_t k = 0; k < shapes; ++k) {
        const size_t o = shapesAt + size_t(k) * shapeSize;
        const uint32_t a = r.U32(o), b = r.U32(o + 4), c = mode == 2 ? r.U32(o + 8) : 0;
        if (a >= vertices || b >= vertices || c >= vertices) continue;
        if (mode != 2) {
            // In device pixels, cut to the picture before Qt sees it.
            const QRectF box = t.mapRect(QRectF(vertex(a), vertex(b)).normalized());
            const QRectF shown = box.intersected(QRectF(0, 0, image->width(), image->height()));
            if (!(shown.width() > 0) || !(shown.height() > 0)) continue;
            QLinearGradient g(box.topLeft(), mode == 0 ? box.topRight() : box.bottomLeft());
            g.setColorAt(0, colour(a));
            g.setColorAt(1, colour(b));
            painter_.setTransform(QTransform());
            painter_.fillRect(shown, QBrush(g));
            painter_.setTransform(t);
            continue;
        }
        const QPointF p[3] = {t.map(vertex(a)), t.map(vertex(b)), t.map(vertex(c))};
        const QColor q[3] = {colour(a), colour(b), colour(c)};
        const double area = (p[1].x() - p[0].x()) * (p[2].y() - p[0].y()) -
                            (p[2].x() - p[0].x()) * (p[1].y() - p[0].y());
        if (area == 0) continue;
        // Pixel bounds of the triangle on the picture, clamped in doubles before they become
        // integers (NaN fails every comparison and leaves the triangle out).
        const auto span = [](double lo, double hi, int limit, int& from, int& to) {
            if (!(lo <= hi) || !(hi >= 0) || !(lo < limit)) return false;
            from = int(std::max(0.0, std::floor(lo)));
            to = int(std::min(double(limit - 1), std::ceil(hi)));
            return true;
        };
        int x0, x1, y0, y1;
        if (!span(std::min({p[0].x(), p[1].x(), p[2].x()}),
                  std::max({p[0].x(), p[1].x(), p[2].x()}), image->width(), x0, x1) ||
            !span(std::min({p[0].y(), p[1].y(), p[2].y()}),
                  std::max({p[0].y(), p[1].y(), p[2].y()}), image->height(), y0, y1))
            continue;
        if (x1 < x0 || y1 < y0) continue;
        budget -= int64_t(x1 - x0 + 1) * (y1 - y0 + 1);
        if (budget < 0) return;
        for (int y = y0; y <= y1; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image->scanLine(y));
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double w0 =
                    ((p[1].x() - px) * (p[2].y() - py) - (p[2].x() - px) * (p[1].y() - py)) / area;
                const double w1 =
                    ((p[2].x() - px) * (p[0].y() - py) - (p[0].x() - px) * (p[2].y() - py)) / area;
                const double w2 = 1 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                if (s_.HasClip && !s_.Clip.contains(QPointF(px, py))) continue;
                line[x] = qRgb(int(w0 * q[0].red() + w1 * q[1].red() + w2 * q[2].red() + 0.5),
                               int(w0 * q[0].green() + w1 * q[1].green() + w2 * q[2].green() + 0.5),
                               int(w0 * q[0].blue() + w1 * q[1].blue() + w2 * q[2].blue() + 0.5));
            }
        }
    }
}

void TRecordPlayer::PatternBlit(const QRectF& dest, uint32_t rop) {
    switch (rop) {
        case 0x00000042:
            FillRect(dest, Qt::black);
            break;  // BLACKNESS
        case 0x00FF0062:
            FillRect(dest, Qt::white);
            break;        // WHITENESS
        case 0x00F00021:  // PATCOPY
            if (s_.Brush.Style != 1) FillRect(dest, MakeBrush());
            break;
        default: {  // PATINVERT, DSTINVERT and the rest, through their truth table
            const uint8_t rop3 = uint8_t(rop >> 16);
            if (rop3 == 0xAA || !Transform().isInvertible()) break;
            Prepare(false, false);
            Reach(Transform().mapRect(dest.normalized()));
            RopLayer(rop3, Transform().mapRect(dest.normalized()),
                     [&](QPainter& p) { p.fillRect(dest.normalized(), Qt::white); });
            break;
        }
    }
}

// A region record's shape: the brush of an object index (EMF stock objects too) fills it, or
// the current brush; a frame is the region's inner border; an inversion inverts the pixels.
void TRecordPlayer::RegionDraw(const QPainterPath& logical, int kind, std::optional<uint32_t> brush,
                               double frameWidth, double frameHeight) {
    const QTransform t = Transform();
    if (!t.isInvertible() || logical.isEmpty()) return;
    const TBrushObject saved = s_.Brush;
    if (brush) {
        std::optional<TObject> stock;
        const TObject* object = nullptr;
        if (header_.Enhanced && (*brush & 0x80000000u)) {
            stock = StockObject(*brush);
            if (stock) object = &*stock;
        } else if (*brush < objects_.size()) {
            object = &objects_[*brush];
        }
        const auto* b = object != nullptr ? std::get_if<TBrushObject>(object) : nullptr;
        if (b == nullptr) return;
        s_.Brush = *b;
    }
    QPainterPath area = logical;
    area.setFillRule(Qt::WindingFill);
    if (kind == 1) {  // frame
        QPainterPathStroker stroker;
        stroker.setWidth(
            2 * std::clamp(std::max(std::abs(frameWidth), std::abs(frameHeight)), 1.0, 1e4));
        stroker.setJoinStyle(Qt::MiterJoin);
        area = stroker.createStroke(area).intersected(area);
    }
    Prepare(kind != 2, false);
    Reach(t.mapRect(area.boundingRect()));
    if (kind == 2) {  // invert
        RopLayer(0x55, t.mapRect(area.boundingRect()).adjusted(-1, -1, 1, 1),
                 [&](QPainter& p) { p.fillPath(area, Qt::white); });
    } else {
        painter_.drawPath(area);
    }
    s_.Brush = saved;
}

}  // namespace metafile
