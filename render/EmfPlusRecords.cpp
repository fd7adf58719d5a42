// GDI+ writes its drawing as EMF+ records inside comment records. Once a file's EMF+ header is
// read, the EMF+ records draw and the plain records (GDI+'s fallback for older readers) are
// skipped, but for those that follow a GetDC record, which GDI+ drew through the device context.
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPolygonF>
#include <QRawFont>
#include <algorithm>
#include <cmath>
#include <vector>

#include "render/MetafileRecordPlayer.h"

namespace metafile {

// EMF+ text is drawn from a 100-pixel font scaled by the painter. A glyph far larger than the
// picture shows nothing more, and rasterising it can fail inside the font engine (FreeType's
// bitmap is refused and Qt copies from nothing), so such text is left out. So is a glyph that a
// nearly singular transform squeezes to a sliver (under 4 pixels across, or 64 times longer than
// it is wide): it shows nothing legible, and FreeType's rasteriser overflows on it the same way.
bool TRecordPlayer::GlyphsFit() const {
    const QTransform& m = painter_.worldTransform();
    // The largest and smallest stretch of the transform's linear part.
    const double squares =
        m.m11() * m.m11() + m.m12() * m.m12() + m.m21() * m.m21() + m.m22() * m.m22();
    const double determinant = std::abs(m.m11() * m.m22() - m.m12() * m.m21());
    const double spread =
        std::sqrt(std::max(0.0, squares * squares - 4 * determinant * determinant));
    const double largest = std::sqrt((squares + spread) / 2);
    const double smallest = largest > 0 ? determinant / largest : 0;
    const QPaintDevice* device = painter_.device();
    const double side = device != nullptr ? std::max(device->width(), device->height()) : 4000;
    return std::isfinite(largest) && 100 * largest <= std::max(4000.0, 2 * side) &&
           100 * smallest >= 4 && largest <= 64 * smallest;
}

// Device units of one page unit: world and display count as pixels of the reference device.
QTransform TRecordPlayer::PlusPage() const {
    auto unit = [&](double dpi) {
        switch (plus_.PageUnit) {
            case 3:
                return dpi / 72;
            case 4:
                return dpi;
            case 5:
                return dpi / 300;
            case 6:
                return dpi / 25.4;
            default:
                return 1.0;
        }
    };
    return QTransform::fromScale(plus_.PageScale * unit(plusDpiX_),
                                 plus_.PageScale * unit(plusDpiY_));
}

bool TRecordPlayer::PlusPrepare() {
    const QTransform t = PlusTransform();
    if (!t.isInvertible()) return false;
    // A transform that throws the drawing millions of pixels away shows nothing.
    for (double v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!(std::abs(v) < 1e7)) return false;
    painter_.setTransform(QTransform());
    if (plus_.HasClip)
        painter_.setClipPath(plus_.Clip);
    else
        painter_.setClipping(false);
    painter_.setTransform(t);
    painter_.setBackgroundMode(Qt::TransparentMode);
    return true;
}

const TPlusObject* TRecordPlayer::PlusObject(uint32_t id) const {
    return id < plusObjects_.size() ? &plusObjects_[id] : nullptr;
}

// The brush of a fill record: an ARGB colour when flag S is set, else an object.
std::optional<TPlusBrush> TRecordPlayer::PlusBrush(uint16_t flags, uint32_t value) const {
    if (flags & 0x8000) return TPlusBrush{QBrush(Argb(value)), {}, false};
    if (const auto* b = std::get_if<TPlusBrush>(PlusObject(value))) return *b;
    return std::nullopt;
}

void TRecordPlayer::PlusFill(const QPainterPath& path, const std::optional<TPlusBrush>& brush) {
    if (!brush || !OnDevice(path, PlusTransform()) || !PlusPrepare()) return;
    if (brush->HasBack) painter_.fillPath(path, brush->Back);
    painter_.fillPath(path, brush->Brush);
}

void TRecordPlayer::PlusStroke(const QPainterPath& path, uint32_t penId) {
    const auto* pen = std::get_if<QPen>(PlusObject(penId));
    if (pen == nullptr || !OnDevice(path, PlusTransform()) || !PlusPrepare()) return;
    painter_.strokePath(path, *pen);
}

void TRecordPlayer::PlusClip(const QPainterPath& world, uint32_t mode) {
    const QPainterPath device = PlusTransform().map(world);
    QPainterPath all;
    all.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
    const QPainterPath current = plus_.HasClip ? plus_.Clip : all;
    const std::optional<QPainterPath> combined = CombinePaths(current, device, int(mode));
    if (!combined) return;
    plus_.Clip = *combined;
    plus_.HasClip = true;
}

// A font of the object table at 100 pixels, and the world units of its em.
std::optional<std::pair<QFont, double>> TRecordPlayer::PlusFont(uint32_t id) const {
    const auto* f = std::get_if<TPlusFont>(PlusObject(id));
    if (f == nullptr || !(f->EmSize > 0)) return std::nullopt;
    QFont font(f->Family.isEmpty() ? QStringLiteral("Sans Serif") : f->Family);
    font.setPixelSize(100);
    font.setBold(f->Style & 1);
    font.setItalic(f->Style & 2);
    font.setUnderline(f->Style & 4);
    font.setStrikeOut(f->Style & 8);
    double em = f->EmSize;
    if (f->Unit != 0) {  // not world units: through the page's units
        const double page = PlusPage().m11();
        const double device = f->Unit == 3   ? plusDpiX_ / 72
                              : f->Unit == 4 ? plusDpiX_
                              : f->Unit == 5 ? plusDpiX_ / 300
                              : f->Unit == 6 ? plusDpiX_ / 25.4
                                             : 1.0;
        if (page > 0) em = em * device / page;
    }
    return std::make_pair(font, em);
}

void TRecordPlayer::PlusComment(const TRecordData& r) {
    // Data size, "EMF+", then the records: type, flags, size (with this 12-byte head), data size.
    if (r.U32(4) != 0x2B464D45) return;
    size_t pos = 8;
    while (r.Has(pos, 12)) {
        const uint16_t type = r.U16(pos), flags = r.U16(pos + 2);
        const uint32_t size = r.U32(pos + 4), dataSize = r.U32(pos + 8);
        if (size < 12 || !r.Has(pos, size) || dataSize > size - 12) break;
        EmfPlus(type, flags, TRecordData(r.Data() + pos + 12, dataSize));
        pos += size;
    }
}

void TRecordPlayer::EmfPlus(uint16_t type, uint16_t flags, const TRecordData& r) {
    TPlusReader in(r);
    const bool compressed = (flags & 0x4000) != 0;
    const uint32_t objectId = flags & 0xFF;
    if (type != 0x4004) getDC_ = false;
    switch (type) {
        case 0x4001: {  // header: version, flags, dpi
            in.U32();
            in.U32();
            const double dx = in.U32(), dy = in.U32();
            if (dx >= 1 && dx <= 10000) plusDpiX_ = dx;
            if (dy >= 1 && dy <= 10000) plusDpiY_ = dy;
            plusActive_ = true;
            break;
        }
        case 0x4004:  // GetDC: the next plain records draw
            getDC_ = true;
            break;
        case 0x4008: {  // object: id and type in the flags; big objects come in parts
            if (objectId >= 64) break;
            const uint32_t kind = (flags >> 8) & 0x7F;
            constexpr size_t kMaxObject = size_t(64) << 20;
            if (flags & 0x8000) {  // a part, after the whole object's size
                if (pendingId_ != objectId) {
                    pending_.clear();
                    pendingId_ = objectId;
                }
                if (r.Size() < 4 || pending_.size() + r.Size() > kMaxObject) break;
                pending_.insert(pending_.end(), r.Data() + 4, r.Data() + r.Size());
                break;
            }
            if (pendingId_ == objectId && !pending_.empty()) {
                if (pending_.size() + r.Size() <= kMaxObject)
                    pending_.insert(pending_.end(), r.Data(), r.Data() + r.Size());
                plusObjects_[objectId] =
                    ReadPlusObject(kind, TRecordData(pending_.data(), pending_.size()));
                pending_.clear();
                pendingId_ = 0xFFFFFFFF;
                break;
            }
            plusObjects_[objectId] = ReadPlusObject(kind, r);
            break;
        }
        case 0x4009: {  // Clear
            const QColor c = Argb(in.U32());
            if (!PlusPrepare()) break;
            painter_.setTransform(QTransform());
            painter_.setCompositionMode(QPainter::CompositionMode_Source);
            painter_.fillRect(QRectF(0, 0, painter_.device()->width(), painter_.device()->height()),
                              c);
            painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
            break;
        }
        case 0x400A:    // FillRects: brush, count, rectangles
        case 0x400B: {  // DrawRects: count, rectangles (pen in the flags)
            const uint32_t brush = type == 0x400A ? in.U32() : 0;
            const uint32_t n = in.Count(compressed ? 8 : 16);
            QPainterPath p;
            for (uint32_t i = 0; i < n; ++i)
                p.addRect(ReadPlusRect(in, compressed));
            if (!in.Ok()) break;
            if (type == 0x400A)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x400C:    // FillPolygon: brush, count, points
        case 0x400D: {  // DrawLines: count, points; flag L closes the figure
            const uint32_t brush = type == 0x400C ? in.U32() : 0;
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            if (pts.size() < 2) break;
            QPainterPath p;
            p.addPolygon(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
            if (type == 0x400C || (flags & 0x2000)) p.closeSubpath();
            if (type == 0x400C)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x400E:    // FillEllipse: brush, rectangle
        case 0x400F: {  // DrawEllipse
            const uint32_t brush = type == 0x400E ? in.U32() : 0;
            const QRectF rect = ReadPlusRect(in, compressed);
            if (!in.Ok()) break;
            QPainterPath p;
            p.addEllipse(rect);
            if (type == 0x400E)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x4010:    // FillPie: brush, start, sweep, rectangle
        case 0x4011:    // DrawPie
        case 0x4012: {  // DrawArc
            const uint32_t brush = type == 0x4010 ? in.U32() : 0;
            const double start = in.F32(), sweep = in.F32();
            const QRectF rect = ReadPlusRect(in, compressed);
            if (!in.Ok()) break;
            // Clockwise degrees here, counter-clockwise in Qt.
            QPainterPath p;
            if (type == 0x4012) {
                p.arcMoveTo(rect, -start);
                p.arcTo(rect, -start, -sweep);
                PlusStroke(p, objectId);
                break;
            }
            p.moveTo(rect.center());
            p.arcTo(rect, -start, -sweep);
            p.closeSubpath();
            if (type == 0x4010)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x4013: {  // FillRegion: brush; region in the flags
            const uint32_t brush = in.U32();
            if (const auto* region = std::get_if<TPlusRegion>(PlusObject(objectId)))
                PlusFill(region->Path, PlusBrush(flags, brush));
            break;
        }
        case 0x4014:    // FillPath: brush; path in the flags
        case 0x4015: {  // DrawPath: pen; path in the flags
            const uint32_t value = in.U32();
            const auto* path = std::get_if<QPainterPath>(PlusObject(objectId));
            if (path == nullptr || !in.Ok()) break;
            if (type == 0x4014)
                PlusFill(*path, PlusBrush(flags, value));
            else
                PlusStroke(*path, value);
            break;
        }
        case 0x4016:    // FillClosedCurve: brush, tension, count, points (flag W: winding)
        case 0x4017: {  // DrawClosedCurve: tension, count, points
            const uint32_t brush = type == 0x4016 ? in.U32() : 0;
            const double tension = in.F32();
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            QPainterPath p = CurvePath(pts, tension, true, 0, 0);
            if (type == 0x4016) {
                p.setFillRule((flags & 0x2000) ? Qt::WindingFill : Qt::OddEvenFill);
                PlusFill(p, PlusBrush(flags, brush));
            } else {
                PlusStroke(p, objectId);
            }
            break;
        }
        case 0x4018: {  // DrawCurve: tension, first segment, segments, count, points
            const double tension = in.F32();
            const uint32_t first = in.U32(), segments = in.U32();
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            PlusStroke(CurvePath(pts, tension, false, first, segments), objectId);
            break;
        }
        case 0x4019: {  // DrawBeziers: count, points
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            if (pts.size() < 4) break;
            QPainterPath p(pts[0]);
            for (size_t i = 1; i + 2 < pts.size(); i += 3)
                p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            PlusStroke(p, objectId);
            break;
        }
        case 0x401A:    // DrawImage: attributes, unit, source, destination rectangle
        case 0x401B: {  // DrawImagePoints: attributes, unit, source, 3 points
            const auto* image = std::get_if<QImage>(PlusObject(objectId));
            in.U32();
            in.S32();
            const QRectF src = ReadPlusRect(in, false);
            QTransform place;
            if (type == 0x401A) {
                const QRectF dest = ReadPlusRect(in, compressed);
                if (src.width() == 0 || src.height() == 0) break;
                place = QTransform(dest.width() / src.width(), 0, 0, dest.height() / src.height(),
                                   dest.x(), dest.y());
            } else {
                const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
                if (pts.size() != 3 || src.width() == 0 || src.height() == 0) break;
                // Upper-left, upper-right and lower-left corners of the destination.
                const QPointF ux = (pts[1] - pts[0]) / src.width();
                const QPointF uy = (pts[2] - pts[0]) / src.height();
                place = QTransform(ux.x(), ux.y(), uy.x(), uy.y(), pts[0].x(), pts[0].y());
            }
            if (image == nullptr || image->isNull() || !in.Ok()) break;
            const QTransform t = place * PlusTransform();
            if (!t.isInvertible()) break;
            PlusPrepare();
            painter_.setTransform(t);
            painter_.drawImage(QRectF(0, 0, src.width(), src.height()), *image, src);
            break;
        }
        case 0x401C: {  // DrawString: brush, format, length, layout rectangle, characters
            const uint32_t brush = in.U32(), formatId = in.U32();
            const uint32_t n = in.Count(2);
            const QRectF layout = ReadPlusRect(in, false);
            QString text;
            for (uint32_t i = 0; i < n; ++i)
                text += QChar(char16_t(in.U16()));
            const auto font = PlusFont(objectId);
            const auto b = PlusBrush(flags, brush);
            if (!font || !b || !in.Ok() || !PlusPrepare()) break;
            TPlusFormat format;
            if (const auto* f = std::get_if<TPlusFormat>(PlusObject(formatId))) format = *f;
            const double k = font->second / 100;
            if (!(k >= 1e-4 && k <= 1e4)) break;
            painter_.scale(k, k);
            if (!GlyphsFit()) break;
            painter_.setFont(font->first);
            painter_.setPen(QPen(b->Brush, 0));
            const Qt::Alignment h = format.Align == 1   ? Qt::AlignHCenter
                                    : format.Align == 2 ? Qt::AlignRight
                                                        : Qt::AlignLeft;
            const Qt::Alignment v = format.LineAlign == 1   ? Qt::AlignVCenter
                                    : format.LineAlign == 2 ? Qt::AlignBottom
                                                            : Qt::AlignTop;
            const QRectF box(layout.x() / k, layout.y() / k, layout.width() / k,
                             layout.height() / k);
            painter_.drawText(
                box, int(h | v) | Qt::TextDontClip | (box.width() > 0 ? Qt::TextWordWrap : 0),
                text);
            break;
        }
        case 0x4036: {  // DrawDriverString: brush, options, matrix?, count, glyphs, positions
            const uint32_t brush = in.U32(), options = in.U32(), hasMatrix = in.U32();
            const uint32_t n = in.Count(10);
            std::vector<char16_t> glyphs;
            for (uint32_t i = 0; i < n; ++i)
                glyphs.push_back(char16_t(in.U16()));
            const std::vector<QPointF> positions = ReadPlusPoints(in, n, 0);
            const QTransform matrix = hasMatrix ? ReadMatrix(in) : QTransform();
            const auto font = PlusFont(objectId);
            const auto b = PlusBrush(flags, brush);
            if (!font || !b || !in.Ok() || positions.size() != n || n == 0) break;
            const QTransform t = matrix * PlusTransform();
            if (!t.isInvertible() || !PlusPrepare()) break;
            const double k = font->second / 100;
            if (!(k >= 1e-4 && k <= 1e4)) break;
            painter_.setTransform(t);
            painter_.setPen(QPen(b->Brush, 0));
            painter_.setFont(font->first);
            const QRawFont raw = QRawFont::fromFont(font->first);
            QList<quint32> indexes;
            if (options & 1) {  // characters, looked up in the font
                QString s;
                for (char16_t c : glyphs)
                    s += QChar(c);
                indexes = raw.glyphIndexesForString(s);
            } else {
                for (char16_t g : glyphs)
                    indexes.push_back(g);
            }
            if (!raw.isValid() || indexes.size() != qsizetype(n)) break;
            // Realized advance: only the first position is given, the font advances the rest.
            QList<QPointF> at;
            const QList<QPointF> advances = raw.advancesForGlyphIndexes(indexes);
            QPointF pen = positions[0] / k;
            for (uint32_t i = 0; i < n; ++i) {
                at.push_back((options & 4) ? pen : positions[i] / k);
                pen += advances[qsizetype(i)];
            }
            QGlyphRun run;
            run.setRawFont(raw);
            run.setGlyphIndexes(indexes);
            run.setPositions(at);
            painter_.scale(k, k);
            if (!GlyphsFit()) break;
            painter_.drawGlyphRun(QPointF(0, 0), run);
            break;
        }
        case 0x4025:    // Save
        case 0x4028:    // BeginContainerNoParams
        case 0x4027: {  // BeginContainer: destination, source, index
            QTransform container;
            uint32_t index;
            if (type == 0x4027) {
                const QRectF dest = ReadPlusRect(in, false), src = ReadPlusRect(in, false);
                index = in.U32();
                if (src.width() != 0 && src.height() != 0)
                    container =
                        QTransform(dest.width() / src.width(), 0, 0, dest.height() / src.height(),
                                   dest.x() - src.x() * dest.width() / src.width(),
                                   dest.y() - src.y() * dest.height() / src.height());
            } else {
                index = in.U32();
            }
            if (plusSaved_.size() >= 4096) break;
            plusSaved_.emplace_back(index, plus_);
            plus_.World = container * plus_.World;
            break;
        }
        case 0x4026:    // Restore
        case 0x4029: {  // EndContainer
            const uint32_t index = in.U32();
            for (size_t i = plusSaved_.size(); i-- > 0;)
                if (plusSaved_[i].first == index) {
                    plus_ = plusSaved_[i].second;
                    plusSaved_.resize(i);
                    break;
                }
            break;
        }
        case 0x402A:  // SetWorldTransform
            plus_.World = ReadMatrix(in);
            break;
        case 0x402B:  // ResetWorldTransform
            plus_.World = QTransform();
            break;
        case 0x402C:    // MultiplyWorldTransform (flag A: after the current one)
        case 0x402D:    // TranslateWorldTransform
        case 0x402E:    // ScaleWorldTransform
        case 0x402F: {  // RotateWorldTransform
            QTransform m;
            if (type == 0x402C) {
                m = ReadMatrix(in);
            } else if (type == 0x402D) {
                const double dx = in.F32();
                m.translate(dx, in.F32());
            } else if (type == 0x402E) {
                const double sx = in.F32();
                m.scale(sx, in.F32());
            } else {
                m.rotate(in.F32());
            }
            if (!in.Ok()) break;
            plus_.World = (flags & 0x2000) ? plus_.World * m : m * plus_.World;
            break;
        }
        case 0x4030: {  // SetPageTransform: scale; unit in the flags
            const double scale = in.F32();
            if (!(scale > 0)) break;
            plus_.PageUnit = flags & 0xFF;
            plus_.PageScale = scale;
            break;
        }
        case 0x4031:  // ResetClip
            plus_.HasClip = false;
            break;
        case 0x4032: {  // SetClipRect: mode in the flags, rectangle
            QPainterPath p;
            p.addRect(ReadPlusRect(in, false).normalized());
            if (in.Ok()) PlusClip(p, (flags >> 8) & 0xF);
            break;
        }
        case 0x4033:  // SetClipPath
            if (const auto* path = std::get_if<QPainterPath>(PlusObject(objectId)))
                PlusClip(*path, (flags >> 8) & 0xF);
            break;
        case 0x4034:  // SetClipRegion
            if (const auto* region = std::get_if<TPlusRegion>(PlusObject(objectId)))
                PlusClip(region->Path, (flags >> 8) & 0xF);
            break;
        case 0x4035: {  // OffsetClip (world units)
            const double dx = in.F32(), dy = in.F32();
            if (!plus_.HasClip || !in.Ok()) break;
            const QTransform t = PlusTransform();
            plus_.Clip.translate(t.map(QPointF(dx, dy)) - t.map(QPointF(0, 0)));
            break;
        }
        default:
            break;  // rendering hints and the like change nothing here
    }
}

}  // namespace metafile
