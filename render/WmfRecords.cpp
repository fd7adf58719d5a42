// The records of 16-bit Windows metafiles (WMF), placeable or plain.
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/ImagingRoutines.h"
#include "render/MetafileRecordPlayer.h"

namespace metafile {

void TRecordPlayer::PlayWmf() {
    const std::vector<uint8_t>& data = metafile_.Data();
    size_t pos = header_.RecordsOffset;
    while (pos + 6 <= data.size()) {
        const uint32_t words = GetU32LE(data.data() + pos);
        const uint16_t function = GetU16LE(data.data() + pos + 4);
        if (function == 0) break;                                 // end of file
        if (words < 3 || words > (data.size() - pos) / 2) break;  // cut short: show the rest
        const size_t bytes = size_t(words) * 2;
        CountRecord();
        Wmf(function, TRecordData(data.data() + pos + 6, bytes - 6));
        pos += bytes;
    }
}

void TRecordPlayer::Wmf(uint16_t function, const TRecordData& r) {
    // Parameters are 16-bit words, often in reverse order (y before x).
    auto w = [&](int i) { return double(r.S16(size_t(i) * 2)); };
    auto rectLTRB = [&](int first) {  // bottom, right, top, left from word `first`
        return QRectF(QPointF(w(first + 3), w(first + 2)), QPointF(w(first + 1), w(first)));
    };
    // A placeable file is shown through its window onto the whole picture: the player owns the
    // viewport and keeps the scalable mapping, so the file's viewport and fixed mapping modes
    // (written for the device it was recorded on) do not move or cut the picture.
    const bool ownViewport = header_.Placeable;
    switch (function) {
        case 0x0201:
            s_.BkColor = ColorRef(r.U32(0));
            break;  // SetBkColor
        case 0x0102:
            s_.BkMode = r.U16(0);
            break;      // SetBkMode
        case 0x0103: {  // SetMapMode
            const int mode = std::clamp(int(r.U16(0)), 1, 8);
            if (!ownViewport || mode == mmIsotropic || mode == mmAnisotropic) s_.MapMode = mode;
            break;
        }
        case 0x0106:
            s_.PolyFillMode = r.U16(0);
            break;  // SetPolyFillMode
        case 0x0209:
            s_.TextColor = ColorRef(r.U32(0));
            break;  // SetTextColor
        case 0x012E:
            s_.TextAlign = r.U16(0);
            break;  // SetTextAlign
        case 0x020B:
            s_.WindowOrg = QPointF(w(1), w(0));
            break;  // SetWindowOrg
        case 0x020C:
            SetExtent(s_.WindowExt, w(1), w(0));
            break;    // SetWindowExt
        case 0x020D:  // SetViewportOrg
            if (!ownViewport) s_.ViewportOrg = QPointF(w(1), w(0));
            break;
        case 0x020E:  // SetViewportExt
            if (!ownViewport) SetExtent(s_.ViewportExt, w(1), w(0));
            break;
        case 0x020F:
            s_.WindowOrg += QPointF(w(1), w(0));
            break;    // OffsetWindowOrg
        case 0x0211:  // OffsetViewportOrg
            if (!ownViewport) s_.ViewportOrg += QPointF(w(1), w(0));
            break;
        case 0x0410:    // ScaleWindowExt
        case 0x0412: {  // ScaleViewportExt
            QPointF& ext = function == 0x0410 ? s_.WindowExt : s_.ViewportExt;
            if (w(0) == 0 || w(2) == 0 || (function == 0x0412 && ownViewport)) break;
            SetExtent(ext, ext.x() * w(3) / w(2), ext.y() * w(1) / w(0));
            break;
        }
        case 0x0214:
            s_.Position = QPointF(w(1), w(0));
            break;      // MoveTo
        case 0x0213: {  // LineTo
            const QPointF to(w(1), w(0));
            Line(s_.Position, to);
            s_.Position = to;
            break;
        }
        case 0x0415:    // ExcludeClipRect
        case 0x0416: {  // IntersectClipRect
            QPainterPath p;
            p.addRect(rectLTRB(0).normalized());
            IntersectClip(Transform().map(p), function == 0x0415 ? 4 : 1);
            break;
        }
        case 0x0220: {  // OffsetClipRgn
            if (!s_.HasClip) break;
            const QTransform t = Transform();
            const QPointF d = t.map(QPointF(w(1), w(0))) - t.map(QPointF(0, 0));
            s_.Clip.translate(d);
            break;
        }
        case 0x0418:  // Ellipse
            BoxShape(1, rectLTRB(0));
            break;
        case 0x041B:  // Rectangle
            BoxShape(0, rectLTRB(0));
            break;
        case 0x061C:  // RoundRect: height, width of the corner ellipse, then the rectangle
            BoxShape(2, rectLTRB(2), QSizeF(w(1), w(0)));
            break;
        case 0x0817:    // Arc
        case 0x0830:    // Chord
        case 0x081A: {  // Pie
            const int kind = function == 0x0817 ? 0 : function == 0x0830 ? 1 : 2;
            ArcShape(kind, rectLTRB(4), QPointF(w(3), w(2)), QPointF(w(1), w(0)));
            break;
        }
        case 0x041F: {  // SetPixel: colour, y, x
            const QPointF p(w(3), w(2));
            FillRect(QRectF(p, QSizeF(1, 1)), ColorRef(r.U32(0)));
            break;
        }
        case 0x061D: {  // PatBlt: rop, height, width, y, x
            PatternBlit(QRectF(w(5), w(4), w(3), w(2)), r.U32(0));
            break;
        }
        case 0x0324:    // Polygon
        case 0x0325: {  // Polyline
            const uint32_t n = r.U16(0);
            const std::vector<QPointF> pts = Points(r, 2, n, true);
            if (pts.size() < 2) break;
            QPainterPath p;
            p.addPolygon(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
            if (function == 0x0324) {
                p.closeSubpath();
                Shape(p, true, true);
            } else if (inPath_) {
                path_.addPath(p);
            } else {
                DrawPath(p, false, true);
            }
            break;
        }
        case 0x0538: {  // PolyPolygon: count, counts, points
            const uint32_t polys = r.U16(0);
            if (!r.Has(2, size_t(polys) * 2)) break;
            size_t offset = 2 + size_t(polys) * 2;
            QPainterPath p;
            for (uint32_t i = 0; i < polys; ++i) {
                const uint32_t n = r.U16(2 + size_t(i) * 2);
                const std::vector<QPointF> pts = Points(r, offset, n, true);
                if (pts.size() != n) break;
                offset += size_t(n) * 4;
                if (n < 2) continue;
                p.addPolygon(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
                p.closeSubpath();
            }
            Shape(p, true, true);
            break;
        }
        case 0x0521: {  // TextOut: length, string (padded to words), y, x
            const uint32_t n = r.U16(0);
            const size_t padded = (size_t(n) + 1) & ~size_t(1);
            if (!r.Has(2, padded + 4)) break;
            Text(QPointF(r.S16(2 + padded + 2), r.S16(2 + padded)), TextOf(r.Data() + 2, n), {}, {},
                 0, QRectF());
            break;
        }
        case 0x0A32: {  // ExtTextOut: y, x, length, options, [rectangle], string, [dx]
            const QPointF at(w(1), w(0));
            const uint32_t n = r.U16(4);
            const uint32_t options = r.U16(6);
            size_t offset = 8;
            QRectF rect;
            if (options & 0x6) {
                rect = QRectF(QPointF(w(4), w(5)), QPointF(w(6), w(7)));
                offset += 8;
            }
            if (!r.Has(offset, n)) break;
            const QString text = TextOf(r.Data() + offset, n);
            offset += (size_t(n) + 1) & ~size_t(1);
            // Spacing per byte: it fits the characters of single-byte code pages only.
            std::vector<double> dx;
            if (r.Has(offset, size_t(n) * 2) && size_t(text.size()) == n)
                for (uint32_t i = 0; i < n; ++i)
                    dx.push_back(r.S16(offset + size_t(i) * 2));
            Text(at, text, dx, {}, options, rect);
            break;
        }
        case 0x012C:  // SelectClipRegion
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                IntersectClip(Transform().map(*region), 5);
            else
                ResetClip();
            break;
        case 0x0228:  // FillRegion: region, brush
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                RegionDraw(*region, 0, r.U16(2));
            break;
        case 0x0429:  // FrameRegion: region, brush, height, width
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                RegionDraw(*region, 1, r.U16(2), r.S16(6), r.S16(4));
            break;
        case 0x012B:  // PaintRegion
        case 0x012A:  // InvertRegion
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                RegionDraw(*region, function == 0x012A ? 2 : 0, std::nullopt);
            break;
        case 0x0104:  // SetROP2
            s_.Rop2 = std::clamp(int(r.U16(0)), 1, 16);
            break;
        case 0x0108:  // SetTextCharExtra
            s_.CharExtra = r.S16(0);
            break;
        case 0x020A:  // SetTextJustification: break count, extra space
            s_.BreakCount = std::max(0, int(r.S16(0)));
            s_.BreakExtra = r.S16(2);
            break;
        case 0x001E:
            SaveDC();
            break;
        case 0x0127:
            RestoreDC(r.S16(0));
            break;
        case 0x012D:
            SelectObject(r.U16(0));
            break;
        case 0x01F0:
            DeleteObject(r.U16(0));
            break;
        case 0x02FA: {  // CreatePenIndirect: style, width (x, y), colour
            AddObject(TPenObject{r.U16(0), double(r.S16(2)), ColorRef(r.U32(6))});
            break;
        }
        case 0x02FC: {  // CreateBrushIndirect: style, colour, hatch
            AddObject(TBrushObject{r.U16(0), ColorRef(r.U32(2)), r.U16(6), {}});
            break;
        }
        case 0x0142: {  // DibCreatePatternBrush: style, usage, DIB
            TBrushObject brush{5, Qt::black, 0, {}};
            if (r.Size() > 4) brush.Pattern = DibImage(r.Data() + 4, r.Size() - 4, 0);
            AddObject(brush);
            break;
        }
        case 0x02FB: {  // CreateFontIndirect: LOGFONT with a 16-bit layout
            TFontObject font;
            font.Height = r.S16(0);
            font.Escapement = r.S16(4);
            font.Weight = r.S16(8);
            font.Italic = r.Has(10, 1) && r.Data()[10] != 0;
            font.Underline = r.Has(11, 1) && r.Data()[11] != 0;
            font.StrikeOut = r.Has(12, 1) && r.Data()[12] != 0;
            if (r.Has(13, 1)) font.CharSet = r.Data()[13];
            if (r.Size() > 18) {
                const char* face = reinterpret_cast<const char*>(r.Data() + 18);
                const size_t max = std::min<size_t>(32, r.Size() - 18);
                font.FaceName = QString::fromLatin1(face, qsizetype(strnlen(face, max)));
            }
            AddObject(font);
            break;
        }
        case 0x06FF: {  // CreateRegion: a header, then scans of x pairs between top and bottom
            TRegionObject region;
            const uint32_t scans = r.U16(10);
            size_t offset = 22;
            for (uint32_t i = 0; i < scans; ++i) {
                const uint32_t count = r.U16(offset);
                if (!r.Has(offset, 6 + size_t(count) * 2 + 2)) break;
                const double top = r.S16(offset + 2), bottom = r.S16(offset + 4);
                for (uint32_t k = 0; k + 1 < count; k += 2)
                    region.Path.addRect(QRectF(QPointF(r.S16(offset + 6 + size_t(k) * 2), top),
                                               QPointF(r.S16(offset + 8 + size_t(k) * 2), bottom)));
                offset += 6 + size_t(count) * 2 + 2;
            }
            AddObject(region);
            break;
        }
        case 0x00F7:  // CreatePalette
        case 0x01F9:  // CreatePatternBrush (device-dependent)
            AddObject(TBrushObject{1, Qt::black, 0, {}});
            break;
        case 0x0940: {  // DibBitBlt: rop, ySrc, xSrc, [reserved,] height, width, yDest, xDest
            const bool hasBitmap = r.Size() > 18;
            if (!hasBitmap) {
                PatternBlit(QRectF(w(8), w(7), w(6), w(5)), r.U32(0));
                break;
            }
            const QRectF dest(w(7), w(6), w(5), w(4));
            const QRectF src(w(3), w(2), w(5), w(4));
            DrawDib(dest, src, r.Data() + 16, r.Size() - 16, nullptr, 0, r.U32(0), false);
            break;
        }
        case 0x0B41: {  // DibStretchBlt: rop, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest
            const bool hasBitmap = r.Size() > 20;
            if (!hasBitmap) {
                PatternBlit(QRectF(w(10), w(9), w(8), w(7)), r.U32(0));
                break;
            }
            const QRectF dest(w(9), w(8), w(7), w(6));
            const QRectF src(w(5), w(4), w(3), w(2));
            DrawDib(dest, src, r.Data() + 20, r.Size() - 20, nullptr, 0, r.U32(0), false);
            break;
        }
        case 0x0F43: {  // StretchDib: rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, y, x
            const QRectF dest(w(10), w(9), w(8), w(7));
            const QRectF src(w(6), w(5), w(4), w(3));
            if (r.U16(4) == 0 && r.Size() > 22)
                DrawDib(dest, src, r.Data() + 22, r.Size() - 22, nullptr, 0, r.U32(0), true);
            break;
        }
        case 0x0D33: {  // SetDibToDev: usage, scans, start, yDib, xDib, h, w, yDest, xDest
            const QRectF dest(w(8), w(7), w(6), w(5));
            const QRectF src(w(4), w(3), w(6), w(5));
            if (r.U16(0) == 0 && r.Size() > 18)
                DrawDib(dest, src, r.Data() + 18, r.Size() - 18, nullptr, 0, 0x00CC0020, true);
            break;
        }
        default:
            break;  // records that draw nothing here are skipped by their size
    }
}

}  // namespace metafile
