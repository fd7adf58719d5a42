#include "render/EmfPlusObjects.h"

#include <QGradient>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>

#include "imaging/ImagingRoutines.h"
#include "imaging/Stream.h"
#include "imaging/formats/GIFGraphic.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/Metafile.h"
#include "imaging/formats/PNGGraphic.h"
#include "render/ImageToBitmap.h"
#include "render/MetafileDeviceContext.h"

namespace metafile {

namespace {

// A coordinate of a relative point: 7 bits in one byte or 15 bits in two (big-endian).
double RelativeValue(TPlusReader& in) {
    const uint8_t first = in.U8();
    if (!(first & 0x80)) return (first & 0x40) ? int(first) - 128 : int(first);
    const int value = ((first & 0x7F) << 8) | in.U8();
    return (value & 0x4000) ? value - 0x8000 : value;
}

}  // namespace

QTransform ReadMatrix(TPlusReader& in) {
    const double m11 = in.F32(), m12 = in.F32(), m21 = in.F32(), m22 = in.F32();
    const double dx = in.F32(), dy = in.F32();
    return QTransform(m11, m12, m21, m22, dx, dy);
}

// Points of a record or path: floats, 16-bit integers (flag C) or offsets from the previous
// point (flag P).
std::vector<QPointF> ReadPlusPoints(TPlusReader& in, uint32_t count, uint32_t flags) {
    std::vector<QPointF> points;
    const bool relative = (flags & 0x0800) != 0, compressed = (flags & 0x4000) != 0;
    const size_t each = relative ? 2 : compressed ? 4 : 8;
    if (count > in.Remaining() / each) return points;
    points.reserve(count);
    QPointF at;
    for (uint32_t i = 0; i < count && in.Ok(); ++i) {
        if (relative) {
            const double x = RelativeValue(in);
            at += QPointF(x, RelativeValue(in));
            points.push_back(at);
        } else if (compressed) {
            const double x = in.S16();
            points.emplace_back(x, in.S16());
        } else {
            const double x = in.F32();
            points.emplace_back(x, in.F32());
        }
    }
    if (!in.Ok()) points.clear();
    return points;
}

QRectF ReadPlusRect(TPlusReader& in, bool compressed) {
    double v[4];
    for (double& x : v)
        x = compressed ? double(in.S16()) : in.F32();
    return QRectF(v[0], v[1], v[2], v[3]);
}

namespace {

QPainterPath ReadPlusPath(TPlusReader& in) {
    QPainterPath path;
    in.U32();  // version
    const uint32_t count = in.U32();
    const uint32_t flags = in.U32();
    const std::vector<QPointF> points = ReadPlusPoints(in, count, flags);
    if (points.size() != count) return path;
    std::vector<uint8_t> types;
    types.reserve(count);
    while (types.size() < count && in.Ok()) {
        if (flags & 0x1000) {  // run-length coded types
            const uint8_t run = in.U8() & 0x3F;
            const uint8_t type = in.U8();
            for (uint8_t k = 0; k < run && types.size() < count; ++k)
                types.push_back(type);
        } else {
            types.push_back(in.U8());
        }
    }
    if (types.size() != count) return path;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t kind = types[i] & 0x07;
        if (kind == 0 || path.elementCount() == 0) {
            path.moveTo(points[i]);
        } else if (kind == 3 && i + 2 < count) {
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
            i += 2;
        } else {
            path.lineTo(points[i]);
        }
        if (types[i] & 0x80) path.closeSubpath();
    }
    return path;
}

// A compressed picture embedded in the file, read by the imaging library's own loaders.
QImage DecodeEmbeddedPicture(const uint8_t* p, size_t n) {
    std::unique_ptr<TGraphic> graphic;
    if (n >= 8 && std::memcmp(p, "\x89PNG", 4) == 0)
        graphic = std::make_unique<TPNGGraphic>();
    else if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8)
        graphic = std::make_unique<TJPEGImage>();
    else if (n >= 6 && std::memcmp(p, "GIF8", 4) == 0)
        graphic = std::make_unique<TGIFGraphic>();
    if (graphic == nullptr) return QImage();
    try {
        TMemoryStream stream(p, int64_t(n));
        graphic->LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.Assign(*graphic);
        TBitmap::CheckSize(bitmap.Width(), bitmap.Height());
        return BitmapToQImage(bitmap);
    } catch (const std::exception&) {
        return QImage();  // a damaged picture is left out
    }
}

QImage ReadPlusImage(TPlusReader& in) {
    in.U32();                            // version
    if (in.U32() != 1) return QImage();  // only bitmaps; embedded metafiles are left out
    const int32_t width = in.S32(), height = in.S32(), stride = in.S32();
    const uint32_t format = in.U32(), kind = in.U32();
    if (!in.Ok()) return QImage();
    if (kind == 1) {
        const size_t n = in.Remaining();
        return DecodeEmbeddedPicture(in.Bytes(n), n);
    }
    if (width <= 0 || height <= 0 || width > TMetafile::kMaxSide || height > TMetafile::kMaxSide)
        return QImage();
    std::vector<QRgb> palette;
    if (format & 0x10000) {  // indexed: a palette comes first
        in.U32();
        const uint32_t colours = in.Count(4);
        for (uint32_t i = 0; i < colours && i < 256; ++i)
            palette.push_back(in.U32());
        in.Skip(size_t(colours > 256 ? colours - 256 : 0) * 4);
    }
    const int bits = int((format >> 8) & 0xFF);
    if (stride <= 0 || int64_t(stride) * 8 < int64_t(width) * bits) return QImage();
    const uint8_t* pixels = in.Bytes(size_t(stride) * size_t(height));
    if (pixels == nullptr) return QImage();
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + size_t(y) * size_t(stride);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            switch (format) {
                case 0x0026200A:  // 32 bits ARGB
                    out[x] = GetU32LE(row + 4 * x);
                    break;
                case 0x000E200B: {  // 32 bits premultiplied ARGB
                    const QRgb p = GetU32LE(row + 4 * x);
                    out[x] = qUnpremultiply(p);
                    break;
                }
                case 0x00022009:  // 32 bits RGB
                    out[x] = GetU32LE(row + 4 * x) | 0xFF000000u;
                    break;
                case 0x00021808:  // 24 bits RGB
                    out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                    break;
                case 0x00030803:
                case 0x00030402:
                case 0x00030101: {  // indexed
                    const int shift = 8 - bits - (x * bits) % 8;
                    const size_t index =
                        (row[size_t(x) * size_t(bits) / 8] >> shift) & ((1u << bits) - 1);
                    out[x] = index < palette.size() ? palette[index] : 0xFF000000u;
                    break;
                }
                default:
                    return QImage();
            }
        }
    }
    return image;
}

void SetGradientStops(QGradient& g, const std::vector<double>& positions,
                      const std::vector<QColor>& colors) {
    QGradientStops stops;
    for (size_t i = 0; i < positions.size() && i < colors.size(); ++i)
        stops.append({std::clamp(positions[i], 0.0, 1.0), colors[i]});
    std::stable_sort(
        stops.begin(), stops.end(),
        [](const QGradientStop& a, const QGradientStop& b) { return a.first < b.first; });
    if (stops.size() >= 2) g.setStops(stops);
}

QColor Mix(const QColor& a, const QColor& b, double f) {
    f = std::clamp(f, 0.0, 1.0);
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * f),
                            float(a.greenF() + (b.greenF() - a.greenF()) * f),
                            float(a.blueF() + (b.blueF() - a.blueF()) * f),
                            float(a.alphaF() + (b.alphaF() - a.alphaF()) * f));
}

TPlusBrush ReadPlusBrush(TPlusReader& in) {
    TPlusBrush b;
    in.U32();  // version
    const uint32_t type = in.U32();
    switch (type) {
        case 0:  // solid
            b.Brush = QBrush(Argb(in.U32()));
            break;
        case 1: {  // hatch: style, fore and back colours
            static const Qt::BrushStyle kHatch[] = {Qt::HorPattern,   Qt::VerPattern,
                                                    Qt::BDiagPattern, Qt::FDiagPattern,
                                                    Qt::CrossPattern, Qt::DiagCrossPattern};
            const uint32_t style = in.U32();
            const QColor fore = Argb(in.U32());
            b.Back = Argb(in.U32());
            b.HasBack = true;
            // The percentage and other patterns: the dense pattern of a similar coverage.
            b.Brush = QBrush(fore, style < 6 ? kHatch[style] : Qt::Dense5Pattern);
            break;
        }
        case 2: {  // texture: flags, wrap, [transform], image
            const uint32_t flags = in.U32();
            in.S32();
            const QTransform t = (flags & 0x02) ? ReadMatrix(in) : QTransform();
            const QImage image = ReadPlusImage(in);
            if (image.isNull()) return b;
            b.Brush = QBrush(image);
            b.Brush.setTransform(t);
            break;
        }
        case 3: {  // path gradient: flags, wrap, centre colour and point, surround, boundary
            const uint32_t flags = in.U32();
            in.S32();
            const QColor centre = Argb(in.U32());
            const double cx = in.F32();
            const QPointF c(cx, in.F32());
            const uint32_t surrounding = in.Count(4);
            QColor outer = centre;
            for (uint32_t i = 0; i < surrounding; ++i) {
                const QColor s = Argb(in.U32());
                if (i == 0) outer = s;
            }
            std::vector<QPointF> boundary;
            if (flags & 0x01) {
                const uint32_t size = in.Count(1);
                const uint8_t* bytes = in.Bytes(size);
                if (bytes != nullptr) {
                    const TRecordData pathData(bytes, size);
                    TPlusReader pathIn(pathData);
                    const QPainterPath p = ReadPlusPath(pathIn);
                    for (int i = 0; i < p.elementCount(); ++i)
                        boundary.push_back(p.elementAt(i));
                }
            } else {
                boundary = ReadPlusPoints(in, in.Count(8), 0);
            }
            double radius = 0;
            for (const QPointF& p : boundary)
                radius = std::max(radius, std::hypot(p.x() - c.x(), p.y() - c.y()));
            // Approximated by a radial gradient from the centre to the farthest boundary point.
            QRadialGradient g(c, std::max(radius, 1e-3));
            g.setColorAt(0, centre);
            g.setColorAt(1, outer);
            b.Brush = QBrush(g);
            if (flags & 0x02) b.Brush.setTransform(ReadMatrix(in));
            break;
        }
        case 4: {  // linear gradient: flags, wrap, rectangle, colours, [transform], [blend]
            const uint32_t flags = in.U32();
            const int32_t wrap = in.S32();
            const QRectF rect = ReadPlusRect(in, false);
            const QColor start = Argb(in.U32()), end = Argb(in.U32());
            in.U32();
            in.U32();
            const QTransform t = (flags & 0x02) ? ReadMatrix(in) : QTransform();
            QLinearGradient g(rect.topLeft(), rect.topRight());
            g.setColorAt(0, start);
            g.setColorAt(1, end);
            g.setSpread(wrap == 0   ? QGradient::RepeatSpread
                        : wrap <= 3 ? QGradient::ReflectSpread
                                    : QGradient::PadSpread);
            if (flags & 0x0C) {  // preset colours (0x04) or horizontal blend factors (0x08)
                const uint32_t n = in.Count(8);
                std::vector<double> positions;
                for (uint32_t i = 0; i < n; ++i)
                    positions.push_back(in.F32());
                std::vector<QColor> colors;
                for (uint32_t i = 0; i < n; ++i)
                    colors.push_back((flags & 0x04) ? Argb(in.U32()) : Mix(start, end, in.F32()));
                if (in.Ok()) SetGradientStops(g, positions, colors);
            }
            b.Brush = QBrush(g);
            b.Brush.setTransform(t);
            break;
        }
        default:
            b.Brush = QBrush(Qt::NoBrush);
            break;
    }
    if (!in.Ok()) b.Brush = QBrush(Qt::NoBrush);
    return b;
}

QPen ReadPlusPen(TPlusReader& in) {
    in.U32();  // version
    in.U32();  // type
    const uint32_t flags = in.U32();
    in.U32();  // unit: widths are taken in world units
    const double width = in.F32();
    if (flags & 0x01) ReadMatrix(in);
    const int32_t startCap = (flags & 0x02) ? in.S32() : 0;
    if (flags & 0x04) in.S32();  // end cap: Qt has one cap for both ends
    const uint32_t join = (flags & 0x08) ? in.U32() : 0;
    const double miter = (flags & 0x10) ? in.F32() : 10.0;
    const int32_t lineStyle = (flags & 0x20) ? in.S32() : 0;
    if (flags & 0x40) in.S32();  // dash cap
    const double dashOffset = (flags & 0x80) ? in.F32() : 0.0;
    QList<qreal> dashes;
    if (flags & 0x100) {
        const uint32_t n = in.Count(4);
        for (uint32_t i = 0; i < n && i < 64; ++i)
            dashes.push_back(std::max(in.F32(), 1e-3));
        in.Skip(size_t(n > 64 ? n - 64 : 0) * 4);
    }
    if (flags & 0x200) in.S32();  // alignment
    if (flags & 0x400) in.Skip(size_t(in.Count(4)) * 4);
    if (flags & 0x800) in.Skip(in.Count(1));  // custom caps
    if (flags & 0x1000) in.Skip(in.Count(1));
    const TPlusBrush brush = ReadPlusBrush(in);
    if (!in.Ok()) return QPen(Qt::NoPen);
    QPen pen(brush.Brush, width);  // width 0: one device pixel
    pen.setCapStyle(startCap == 1 ? Qt::SquareCap : startCap == 2 ? Qt::RoundCap : Qt::FlatCap);
    pen.setJoinStyle(join == 1   ? Qt::BevelJoin
                     : join == 2 ? Qt::RoundJoin
                     : join == 3 ? Qt::SvgMiterJoin
                                 : Qt::MiterJoin);
    pen.setMiterLimit(std::clamp(miter, 1.0, 100.0));
    switch (lineStyle) {
        case 1:
            pen.setDashPattern({3, 1});
            break;
        case 2:
            pen.setDashPattern({1, 1});
            break;
        case 3:
            pen.setDashPattern({3, 1, 1, 1});
            break;
        case 4:
            pen.setDashPattern({3, 1, 1, 1, 1, 1});
            break;
        case 5:
            if (dashes.size() % 2) dashes.append(dashes);
            if (!dashes.isEmpty()) pen.setDashPattern(dashes);
            break;
        default:
            break;
    }
    if (lineStyle != 0) pen.setDashOffset(dashOffset);
    return pen;
}

// A region: a tree of rectangles, paths and combinations, node after node.
QPainterPath ReadRegionNode(TPlusReader& in, int depth, int& budget) {
    QPainterPath all;
    all.addRect(QRectF(-1e6, -1e6, 2e6, 2e6));
    if (depth > 32 || --budget < 0) return QPainterPath();
    const uint32_t type = in.U32();
    switch (type) {
        case 0x10000000: {
            QPainterPath p;
            p.addRect(ReadPlusRect(in, false).normalized());
            return p;
        }
        case 0x10000001: {
            const uint32_t size = in.Count(1);
            const uint8_t* bytes = in.Bytes(size);
            if (bytes == nullptr) return QPainterPath();
            const TRecordData data(bytes, size);
            TPlusReader pathIn(data);
            return ReadPlusPath(pathIn);
        }
        case 0x10000002:
            return QPainterPath();
        case 0x10000003:
            return all;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: {
            const QPainterPath left = ReadRegionNode(in, depth + 1, budget);
            const QPainterPath right = ReadRegionNode(in, depth + 1, budget);
            // Combining shapes costs the square of their points: very large ones keep the first.
            if (left.elementCount() + right.elementCount() > 20000) return left;
            return *CombinePaths(left, right, int(type));
        }
        default:
            return QPainterPath();
    }
}

}  // namespace

TPlusObject ReadPlusObject(uint32_t type, const TRecordData& data) {
    TPlusReader in(data);
    switch (type) {
        case 1:
            return ReadPlusBrush(in);
        case 2:
            return ReadPlusPen(in);
        case 3:
            return ReadPlusPath(in);
        case 4: {
            in.U32();
            in.U32();  // node count
            int budget = 4096;
            return TPlusRegion{ReadRegionNode(in, 0, budget)};
        }
        case 5:
            return ReadPlusImage(in);
        case 6: {
            TPlusFont f;
            in.U32();
            f.EmSize = in.F32();
            f.Unit = in.U32();
            f.Style = in.S32();
            in.U32();
            const uint32_t n = in.Count(2);
            for (uint32_t i = 0; i < n && i < 64; ++i)
                f.Family += QChar(char16_t(in.U16()));
            return f;
        }
        case 7: {
            TPlusFormat f;
            in.U32();
            in.U32();  // flags
            in.U32();  // language
            f.Align = in.U32();
            f.LineAlign = in.U32();
            return f;
        }
        default:
            return std::monostate{};
    }
}

// Cardinal spline through the points as Bézier segments (GDI+'s tension scale of 0.3).
QPainterPath CurvePath(const std::vector<QPointF>& p, double tension, bool closed, size_t first,
                       size_t segments) {
    QPainterPath path;
    const size_t n = p.size();
    if (n < 2) return path;
    const double t = tension * 0.3;
    auto at = [&](int64_t i) {
        if (closed) return p[size_t(((i % int64_t(n)) + int64_t(n)) % int64_t(n))];
        return p[size_t(std::clamp<int64_t>(i, 0, int64_t(n) - 1))];
    };
    const size_t count = closed ? n : std::min(segments, n - 1 - std::min(first, n - 1));
    const size_t start = closed ? 0 : std::min(first, n - 1);
    path.moveTo(at(int64_t(start)));
    for (size_t k = 0; k < count; ++k) {
        const int64_t i = int64_t(start + k);
        const QPointF c1 = at(i) + (at(i + 1) - at(i - 1)) * t;
        const QPointF c2 = at(i + 1) - (at(i + 2) - at(i)) * t;
        path.cubicTo(c1, c2, at(i + 1));
    }
    if (closed) path.closeSubpath();
    return path;
}

}  // namespace metafile
