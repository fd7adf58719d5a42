// The records of enhanced metafiles (EMF); their comment records carry EMF+ (EmfPlusRecords.cpp).
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/ImagingRoutines.h"
#include "render/MetafileRecordPlayer.h"

namespace metafile {

void TRecordPlayer::PlayEmf() {
    const std::vector<uint8_t>& data = metafile_.Data();
    size_t pos = header_.RecordsOffset;
    while (pos + 8 <= data.size()) {
        const uint32_t type = GetU32LE(data.data() + pos);
        const uint32_t size = GetU32LE(data.data() + pos + 4);
        if (size < 8 || size % 4 != 0 || size > data.size() - pos) break;
        if (type == 14) break;  // EMR_EOF
        CountRecord();
        Emf(type, TRecordData(data.data() + pos + 8, size - 8));
        pos += size;
    }
}

void TRecordPlayer::Emf(uint32_t type, const TRecordData& r) {
    if (type == 70) {  // Comment: EMF+ records live in them
        PlusComment(r);
        return;
    }
    if (plusActive_ && !getDC_) return;  // GDI+'s fallback for readers without EMF+
    auto point = [&](size_t o) { return QPointF(r.S32(o), r.S32(o + 4)); };
    auto rect = [&](size_t o) { return QRectF(point(o), point(o + 8)); };
    // Shapes drawn with a bounding rectangle in records that come first: inclusive corners.
    auto box = [&](size_t o) { return rect(o).normalized(); };
    switch (type) {
        case 9:
            SetExtent(s_.WindowExt, r.S32(0), r.S32(4));
            break;  // SetWindowExtEx
        case 10:
            s_.WindowOrg = point(0);
            break;  // SetWindowOrgEx
        case 11:
            SetExtent(s_.ViewportExt, r.S32(0), r.S32(4));
            break;  // SetViewportExtEx
        case 12:
            s_.ViewportOrg = point(0);
            break;  // SetViewportOrgEx
        case 17:
            s_.MapMode = std::clamp(int(r.U32(0)), 1, 8);
            break;  // SetMapMode
        case 18:
            s_.BkMode = int(r.U32(0));
            break;  // SetBkMode
        case 19:
            s_.PolyFillMode = int(r.U32(0));
            break;  // SetPolyFillMode
        case 22:
            s_.TextAlign = r.U32(0);
            break;  // SetTextAlign
        case 24:
            s_.TextColor = ColorRef(r.U32(0));
            break;  // SetTextColor
        case 25:
            s_.BkColor = ColorRef(r.U32(0));
            break;  // SetBkColor
        case 20:    // SetROP2
            s_.Rop2 = int(std::clamp<uint32_t>(r.U32(0), 1, 16));
            break;
        case 57:
            s_.Clockwise = r.U32(0) == 2;
            break;  // SetArcDirection
        case 31:    // ScaleViewportExtEx: xNum, xDenom, yNum, yDenom
        case 32: {  // ScaleWindowExtEx
            QPointF& ext = type == 32 ? s_.WindowExt : s_.ViewportExt;
            if (r.S32(4) == 0 || r.S32(12) == 0) break;
            SetExtent(ext, ext.x() * r.S32(0) / r.S32(4), ext.y() * r.S32(8) / r.S32(12));
            break;
        }
        case 26: {  // OffsetClipRgn (logical units)
            if (!s_.HasClip) break;
            const QTransform t = Transform();
            s_.Clip.translate(t.map(point(0)) - t.map(QPointF(0, 0)));
            break;
        }
        case 27:
            s_.Position = point(0);
            break;  // MoveToEx
        case 54: {  // LineTo
            Line(s_.Position, point(0));
            s_.Position = point(0);
            break;
        }
        case 29:    // ExcludeClipRect
        case 30: {  // IntersectClipRect
            QPainterPath p;
            p.addRect(box(0));
            IntersectClip(Transform().map(p), type == 29 ? 4 : 1);
            break;
        }
        case 33:
            SaveDC();
            break;
        case 34:
            RestoreDC(r.S32(0));
            break;
        case 35: {  // SetWorldTransform
            s_.World = QTransform(r.F32(0), r.F32(4), r.F32(8), r.F32(12), r.F32(16), r.F32(20));
            break;
        }
        case 36: {  // ModifyWorldTransform: xform, mode
            const QTransform x(r.F32(0), r.F32(4), r.F32(8), r.F32(12), r.F32(16), r.F32(20));
            switch (r.U32(24)) {
                case 1:
                    s_.World = QTransform();
                    break;  // MWT_IDENTITY
                case 2:
                    s_.World = x * s_.World;
                    break;  // MWT_LEFTMULTIPLY
                case 3:
                    s_.World = s_.World * x;
                    break;  // MWT_RIGHTMULTIPLY
                case 4:
                    s_.World = x;
                    break;  // MWT_SET
                default:
                    break;
            }
            break;
        }
        case 37:
            SelectObject(r.U32(0));
            break;
        case 40:
            DeleteObject(r.U32(0));
            break;
        case 38: {  // CreatePen: index, style, width (x, y), colour
            AddObject(TPenObject{r.U32(4), double(r.S32(8)), ColorRef(r.U32(16))},
                      int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 95: {  // ExtCreatePen: index, offBmi, cbBmi, offBits, cbBits, style, width, ...
            AddObject(TPenObject{r.U32(20), double(r.U32(24)), ColorRef(r.U32(32))},
                      int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 39: {  // CreateBrushIndirect: index, style, colour, hatch
            AddObject(TBrushObject{r.U32(4), ColorRef(r.U32(8)), r.U32(12), {}},
                      int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 93:    // CreateMonoBrush
        case 94: {  // CreateDibPatternBrushPt: index, usage, offBmi, cbBmi, offBits, cbBits
            TBrushObject brush{5, Qt::black, 0, {}};
            const uint32_t offBmi = r.U32(8), cbBmi = r.U32(12);
            const uint32_t offBits = r.U32(16), cbBits = r.U32(20);
            // Offsets count from the record's start, 8 bytes before the data here.
            if (offBmi >= 8 && offBits >= 8 && r.Has(offBmi - 8, cbBmi) &&
                r.Has(offBits - 8, cbBits)) {
                std::vector<uint8_t> dib(r.Data() + offBmi - 8, r.Data() + offBmi - 8 + cbBmi);
                dib.insert(dib.end(), r.Data() + offBits - 8, r.Data() + offBits - 8 + cbBits);
                brush.Pattern = DibImage(dib.data(), dib.size(), cbBmi);
            }
            AddObject(brush, int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 82: {  // ExtCreateFontIndirectW: index, LOGFONTW
            TFontObject font;
            font.Height = r.S32(4);
            font.Escapement = r.S32(12);
            font.Weight = r.S32(20);
            font.Italic = r.Has(24, 1) && r.Data()[24] != 0;
            font.Underline = r.Has(25, 1) && r.Data()[25] != 0;
            font.StrikeOut = r.Has(26, 1) && r.Data()[26] != 0;
            if (r.Has(27, 1)) font.CharSet = r.Data()[27];
            QString face;
            for (size_t i = 0; i < 32 && r.Has(32 + i * 2, 2); ++i) {
                const char16_t c = r.U16(32 + i * 2);
                if (c == 0) break;
                face += QChar(c);
            }
            font.FaceName = face;
            AddObject(font, int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 42:  // Ellipse
            BoxShape(1, box(0));
            break;
        case 43:  // Rectangle
            BoxShape(0, box(0));
            break;
        case 44:  // RoundRect: box, corner size
            BoxShape(2, box(0), QSizeF(r.S32(16), r.S32(20)));
            break;
        case 45:    // Arc
        case 46:    // Chord
        case 47:    // Pie
        case 55: {  // ArcTo: a line from the current position to the arc, which it moves to
            const int kind = type == 46 ? 1 : type == 47 ? 2 : type == 55 ? 3 : 0;
            ArcShape(kind, box(0), point(16), point(24));
            break;
        }
        case 41:  // AngleArc: centre, radius, start and sweep angles
            AngleArc(point(0), r.U32(8), r.F32(12), r.F32(16));
            break;
        case 56:    // PolyDraw: bounds, count, points, types
        case 92: {  // PolyDraw16
            const uint32_t n = r.U32(16);
            const bool small = type == 92;
            const std::vector<QPointF> pts = Points(r, 20, n, small);
            if (pts.size() != n || !r.Has(20 + size_t(n) * (small ? 4 : 8), n)) break;
            PolyDraw(pts, r, 20 + size_t(n) * (small ? 4 : 8));
            break;
        }
        case 65:  // FlattenPath: curves become lines
            if (!path_.isEmpty()) {
                QPainterPath flat;
                for (const QPolygonF& polygon : path_.toSubpathPolygons())
                    flat.addPolygon(polygon);
                path_ = flat;
            }
            break;
        case 66:  // WidenPath: the outline the pen would draw
            if (!path_.isEmpty() && s_.Pen.Style % 16 != 5) {
                QPainterPathStroker stroker(MakePen());
                stroker.setWidth(std::max(s_.Pen.Width, 1.0));
                path_ = stroker.createStroke(path_).simplified();
            }
            break;
        case 15: {  // SetPixelV
            FillRect(QRectF(point(0), QSizeF(1, 1)), ColorRef(r.U32(8)));
            break;
        }
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 85:
        case 86:
        case 87:
        case 88:
        case 89: {
            // PolyBezier, Polygon, Polyline, PolyBezierTo, PolylineTo and their 16-bit forms:
            // bounds, count, points.
            const bool small = type >= 85;
            const uint32_t kind = small ? type - 83 : type;
            const uint32_t n = r.U32(16);
            const std::vector<QPointF> pts = Points(r, 20, n, small);
            if (pts.size() != n || n == 0) break;
            QPainterPath p;
            const bool to = kind == 5 || kind == 6;
            size_t i = 0;
            if (to) {
                p.moveTo(s_.Position);
            } else {
                p.moveTo(pts[0]);
                i = 1;
            }
            if (kind == 2 || kind == 5) {
                for (; i + 2 < pts.size(); i += 3)
                    p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            } else {
                for (; i < pts.size(); ++i)
                    p.lineTo(pts[i]);
            }
            if (to) s_.Position = pts.back();
            if (kind == 3) {
                p.closeSubpath();
                Shape(p, true, true);
            } else if (inPath_) {
                if (to && !path_.isEmpty()) {
                    path_.connectPath(p);
                } else {
                    path_.addPath(p);
                }
            } else {
                DrawPath(p, false, true);
            }
            break;
        }
        case 7:
        case 8:
        case 90:
        case 91: {
            // PolyPolyline, PolyPolygon and their 16-bit forms: bounds, polygons, total points,
            // counts, points.
            const bool small = type >= 90;
            const bool polygon = type == 8 || type == 91;
            const uint32_t polys = r.U32(16), total = r.U32(20);
            if (!r.Has(24, size_t(polys) * 4)) break;
            size_t offset = 24 + size_t(polys) * 4;
            const std::vector<QPointF> pts = Points(r, offset, total, small);
            if (pts.size() != total) break;
            QPainterPath p;
            size_t at = 0;
            for (uint32_t k = 0; k < polys; ++k) {
                const uint32_t n = r.U32(24 + size_t(k) * 4);
                if (n > pts.size() - at) break;
                if (n >= 2) {
                    p.moveTo(pts[at]);
                    for (uint32_t j = 1; j < n; ++j)
                        p.lineTo(pts[at + j]);
                    if (polygon) p.closeSubpath();
                }
                at += n;
            }
            Shape(p, polygon, true);
            break;
        }
        case 59:
            inPath_ = true;
            path_ = QPainterPath();
            break;  // BeginPath
        case 60:
            inPath_ = false;
            break;  // EndPath
        case 61:
            if (inPath_) path_.closeSubpath();
            break;  // CloseFigure
        case 68:
            inPath_ = false;
            path_ = QPainterPath();
            break;  // AbortPath
        case 62:    // FillPath
        case 63:    // StrokeAndFillPath
        case 64: {  // StrokePath
            inPath_ = false;
            QPainterPath p = path_;
            p.setFillRule(s_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
            DrawPath(p, type != 64, type != 62);
            path_ = QPainterPath();
            break;
        }
        case 67: {  // SelectClipPath: mode
            inPath_ = false;
            IntersectClip(Transform().map(path_), int(r.U32(0)));
            path_ = QPainterPath();
            break;
        }
        case 75: {  // ExtSelectClipRgn: size, mode, RGNDATA in device units
            const uint32_t size = r.U32(0), mode = r.U32(4);
            if (mode == 5 && size == 0) {
                ResetClip();
                break;
            }
            if (size < 32 || !r.Has(8, size)) break;
            IntersectClip(outer_.map(RegionData(r, 8, size)), int(mode));
            break;
        }
        case 28:  // SetMetaRgn: the clip becomes the meta region
            if (s_.HasClip) {
                s_.Meta = s_.Clip;
                s_.HasMeta = true;
            }
            break;
        case 71:    // FillRgn: bounds, size, brush, RGNDATA
        case 72:    // FrameRgn: bounds, size, brush, width, height, RGNDATA
        case 73:    // InvertRgn: bounds, size, RGNDATA
        case 74: {  // PaintRgn
            const uint32_t size = r.U32(16);
            const size_t at = type == 71 ? 24 : type == 72 ? 32 : 20;
            const QPainterPath region = RegionData(r, at, size);
            if (type == 71)
                RegionDraw(region, 0, r.U32(20));
            else if (type == 72)
                RegionDraw(region, 1, r.U32(20), r.S32(24), r.S32(28));
            else
                RegionDraw(region, type == 73 ? 2 : 0, std::nullopt);
            break;
        }
        case 83:  // ExtTextOutA: bounds, mode, scales, EMRTEXT
        case 84:  // ExtTextOutW
            EmfText(r, 28, type == 84);
            break;
        case 96:    // PolyTextOutA: bounds, mode, scales, count, EMRTEXT each
        case 97: {  // PolyTextOutW
            const uint32_t strings = r.U32(28);
            if (!r.Has(32, size_t(strings) * 40)) break;
            for (uint32_t i = 0; i < strings; ++i)
                EmfText(r, 32 + size_t(i) * 40, type == 97);
            break;
        }
        case 108: {  // SmallTextOut: x, y, count, options, mode, scales, [bounds], characters
            const QPointF at = point(0);
            const uint32_t n = r.U32(8), options = r.U32(12);
            const size_t offset = (options & 0x100) ? 28 : 44;  // ETO_NO_RECT
            const bool small = (options & 0x200) != 0;          // ETO_SMALL_CHARS
            if (!r.Has(offset, size_t(n) * (small ? 1 : 2))) break;
            QString text;
            if (small) {
                text = TextOf(r.Data() + offset, n);
            } else {
                for (uint32_t i = 0; i < n; ++i)
                    text += QChar(char16_t(r.U16(offset + size_t(i) * 2)));
                if (!(options & 0x10)) text = MapSymbolText(text, SymbolFontOf(s_.Font));
            }
            Text(at, text, {}, {}, options, (options & 0x100) ? QRectF() : rect(28));
            break;
        }
        case 76:    // BitBlt
        case 77: {  // StretchBlt: bounds, dest, rop, src, xform, bk, usage, bmi/bits, [src size]
            const QRectF dest(r.S32(16), r.S32(20), r.S32(24), r.S32(28));
            const uint32_t rop = r.U32(32);
            const uint32_t offBmi = r.U32(76), cbBmi = r.U32(80);
            const uint32_t offBits = r.U32(84), cbBits = r.U32(88);
            if (cbBmi == 0) {
                PatternBlit(dest, rop);
                break;
            }
            QRectF src(r.S32(36), r.S32(40), dest.width(), dest.height());
            if (type == 77) src.setSize(QSizeF(r.S32(92), r.S32(96)));
            if (r.U32(72) != 0 || offBmi < 8 || offBits < 8 || !r.Has(offBmi - 8, cbBmi) ||
                !r.Has(offBits - 8, cbBits))
                break;
            DrawDib(dest, src, r.Data() + offBmi - 8, cbBmi, r.Data() + offBits - 8, cbBits, rop,
                    false);
            break;
        }
        case 114:   // AlphaBlend: bounds, dest, blend function, source, ..., source size
        case 116:   // TransparentBlt: the same with the transparent colour
        case 78: {  // MaskBlt: the same with the operation, then the mask
            const QRectF dest(r.S32(16), r.S32(20), r.S32(24), r.S32(28));
            QImage image = RecordDib(r, 76);
            QRectF src(r.S32(36), r.S32(40), dest.width(), dest.height());
            if (type != 78) src.setSize(QSizeF(r.S32(92), r.S32(96)));
            if (image.isNull()) {
                if (type == 78) PatternBlit(dest, r.U32(32));
                break;
            }
            image = image.convertToFormat(QImage::Format_ARGB32);
            if (type == 116) {  // the transparent colour's pixels are left out
                const QRgb key = ColorRef(r.U32(32)).rgb() & 0xFFFFFF;
                for (int y = 0; y < image.height(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                    for (int x = 0; x < image.width(); ++x)
                        if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
                }
                BlitImage(image, dest, src, 0xCC, false);
                break;
            }
            if (type == 114) {  // constant alpha, and per-pixel premultiplied alpha (AC_SRC_ALPHA)
                const uint32_t blend = r.U32(32);
                const double constant = ((blend >> 16) & 0xFF) / 255.0;
                if (((blend >> 24) & 0xFF) == 1 && image.hasAlphaChannel()) {
                    image = image.convertToFormat(QImage::Format_ARGB32);
                    image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
                    image = image.convertToFormat(QImage::Format_ARGB32);
                }
                painter_.setOpacity(constant);
                BlitImage(image, dest, src, 0xCC, false);
                painter_.setOpacity(1.0);
                break;
            }
            // MaskBlt: the foreground operation where the mask is 1, the background one where
            // it is 0; without a mask the foreground operation everywhere.
            const uint32_t rop = r.U32(32);
            const QImage mask = RecordDib(r, 104);
            if (mask.isNull()) {
                BlitImage(image, dest, src, uint8_t(rop >> 16), false);
                break;
            }
            const QPoint maskAt(r.S32(92), r.S32(96));
            for (const bool fore : {true, false}) {
                QImage part = image;
                for (int y = 0; y < part.height(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
                    for (int x = 0; x < part.width(); ++x) {
                        const QPoint m = QPoint(x, y) - src.topLeft().toPoint() + maskAt;
                        const bool set = mask.valid(m) && (mask.pixel(m) & 0xFFFFFF) != 0;
                        if (set != fore) line[x] = 0;
                    }
                }
                BlitImage(part, dest, src, uint8_t(rop >> (fore ? 16 : 24)), false);
            }
            break;
        }
        case 79: {  // PlgBlt: bounds, 3 destination corners, source rectangle, ..., mask
            QImage image = RecordDib(r, 88);
            const QRectF src(r.S32(40), r.S32(44), r.S32(48), r.S32(52));
            if (image.isNull() || src.width() == 0 || src.height() == 0) break;
            image = image.convertToFormat(QImage::Format_ARGB32);
            const QImage mask = RecordDib(r, 116);
            if (!mask.isNull()) {  // the mask's 0 bits leave the picture as it is
                const QPoint maskAt(r.S32(104), r.S32(108));
                for (int y = 0; y < image.height(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                    for (int x = 0; x < image.width(); ++x) {
                        const QPoint m = QPoint(x, y) - src.topLeft().toPoint() + maskAt;
                        if (!mask.valid(m) || (mask.pixel(m) & 0xFFFFFF) == 0) line[x] = 0;
                    }
                }
            }
            // Upper-left, upper-right and lower-left corners of the destination.
            const QPointF p0 = point(16), p1 = point(24), p2 = point(32);
            const QPointF ux = (p1 - p0) / src.width(), uy = (p2 - p0) / src.height();
            const QTransform place(ux.x(), ux.y(), uy.x(), uy.y(), p0.x(), p0.y());
            const QTransform t =
                QTransform::fromTranslate(-src.x(), -src.y()) * place * Transform();
            if (!t.isInvertible()) break;
            Prepare(false, false);
            painter_.setTransform(t);
            painter_.drawImage(src.topLeft(), image, src);
            break;
        }
        case 118:  // GradientFill
            GradientFill(r);
            break;
        case 80:    // SetDIBitsToDevice
        case 81: {  // StretchDIBits
            const uint32_t offBmi = r.U32(40), cbBmi = r.U32(44);
            const uint32_t offBits = r.U32(48), cbBits = r.U32(52), usage = r.U32(56);
            const QRectF src(r.S32(24), r.S32(28), r.S32(32), r.S32(36));
            QRectF dest(r.S32(16), r.S32(20), src.width(), src.height());
            uint32_t rop = 0x00CC0020;
            if (type == 81) {
                rop = r.U32(60);
                dest.setSize(QSizeF(r.S32(64), r.S32(68)));
            }
            if (usage != 0 || offBmi < 8 || offBits < 8 || !r.Has(offBmi - 8, cbBmi) ||
                !r.Has(offBits - 8, cbBits))
                break;
            DrawDib(dest, src, r.Data() + offBmi - 8, cbBmi, r.Data() + offBits - 8, cbBits, rop,
                    true);
            break;
        }
        default:
            break;  // records that draw nothing here are skipped by their size
    }
}

}  // namespace metafile
