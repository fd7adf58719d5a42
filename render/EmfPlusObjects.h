#pragma once
// The objects of EMF+ records (brushes, pens, paths, regions, images, fonts, string formats)
// and the bounded reader they are read with.
#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "render/MetafileRecord.h"

namespace metafile {

// Sequential bounded reading of one EMF+ record or object; a read past the end fails the
// reader and gives 0.
class TPlusReader {
  public:
    explicit TPlusReader(const TRecordData& r, size_t at = 0) : r_(r), at_(at) {}
    bool Ok() const { return ok_; }
    size_t Remaining() const { return ok_ && at_ <= r_.Size() ? r_.Size() - at_ : 0; }
    bool Need(size_t n) {
        if (ok_ && !r_.Has(at_, n)) ok_ = false;
        return ok_;
    }
    uint32_t U32() { return Need(4) ? (at_ += 4, r_.U32(at_ - 4)) : 0; }
    int32_t S32() { return int32_t(U32()); }
    int16_t S16() { return Need(2) ? (at_ += 2, r_.S16(at_ - 2)) : 0; }
    uint16_t U16() { return uint16_t(S16()); }
    uint8_t U8() { return Need(1) ? r_.Data()[at_++] : 0; }
    // Coordinates beyond a million units show nothing more and are kept from Qt's integers.
    double F32() {
        return Need(4) ? (at_ += 4, std::clamp(double(r_.F32(at_ - 4)), -1e6, 1e6)) : 0;
    }
    const uint8_t* Bytes(size_t n) { return Need(n) ? (at_ += n, r_.Data() + at_ - n) : nullptr; }
    void Skip(size_t n) { Bytes(n); }
    // A count of items of at least `each` bytes that the data can still hold, else 0 and failed.
    uint32_t Count(size_t each) {
        const uint32_t n = U32();
        if (each != 0 && n > Remaining() / each) {
            ok_ = false;
            return 0;
        }
        return n;
    }

  private:
    const TRecordData& r_;
    size_t at_;
    bool ok_ = true;
};

// An ARGB colour as GDI+ writes it.
inline QColor Argb(uint32_t v) {
    return QColor::fromRgba(QRgb(v));
}

// A matrix of six floats.
QTransform ReadMatrix(TPlusReader& in);

// Points of a record or path: floats, 16-bit integers (flag C) or offsets from the previous
// point (flag P).
std::vector<QPointF> ReadPlusPoints(TPlusReader& in, uint32_t count, uint32_t flags);

// A rectangle: x, y, width and height as floats or, compressed, 16-bit integers.
QRectF ReadPlusRect(TPlusReader& in, bool compressed);

struct TPlusBrush {
    QBrush Brush;
    QColor Back;  // a hatch's background
    bool HasBack = false;
};

struct TPlusFont {
    QString Family;
    double EmSize = 12;
    uint32_t Unit = 3;
    int32_t Style = 0;  // bold 1, italic 2, underline 4, strike-out 8
};

struct TPlusFormat {
    uint32_t Align = 0, LineAlign = 0;  // near 0, centre 1, far 2
};

struct TPlusRegion {
    QPainterPath Path;
};

using TPlusObject = std::variant<std::monostate, TPlusBrush, QPen, QPainterPath, QImage, TPlusFont,
                                 TPlusFormat, TPlusRegion>;

// An object of the given type (1 brush, 2 pen, 3 path, 4 region, 5 image, 6 font, 7 string
// format); nothing for other types.
TPlusObject ReadPlusObject(uint32_t type, const TRecordData& data);

// Cardinal spline through the points as Bézier segments (GDI+'s tension scale of 0.3).
QPainterPath CurvePath(const std::vector<QPointF>& p, double tension, bool closed, size_t first,
                       size_t segments);

}  // namespace metafile
