#include "render/MetafileDeviceContext.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "render/MetafileRecordPlayer.h"

namespace metafile {

// Stock objects of enhanced metafiles (index 0x80000000 + n).
std::optional<TObject> StockObject(uint32_t index) {
    switch (index & 0x7FFFFFFF) {
        case 0:
            return TBrushObject{0, Qt::white, 0, {}};
        case 1:
            return TBrushObject{0, QColor(192, 192, 192), 0, {}};
        case 2:
            return TBrushObject{0, QColor(128, 128, 128), 0, {}};
        case 3:
            return TBrushObject{0, QColor(64, 64, 64), 0, {}};
        case 4:
            return TBrushObject{0, Qt::black, 0, {}};
        case 5:
            return TBrushObject{1, Qt::black, 0, {}};
        case 6:
            return TPenObject{0, 0, Qt::white};
        case 7:
            return TPenObject{0, 0, Qt::black};
        case 8:
            return TPenObject{5, 0, Qt::black};
        case 10:
        case 11:
        case 12:
        case 13:
        case 14:
        case 16:
        case 17:
            return TFontObject{};
        default:
            return std::nullopt;
    }
}

// ---- Transforms -----------------------------------------------------------------------------

QTransform TRecordPlayer::PageTransform() const {
    double sx = 1, sy = 1;
    switch (s_.MapMode) {
        case mmLoMetric:
            sx = perMillimeter_ / 10;
            sy = -perMillimeterY_ / 10;
            break;
        case mmHiMetric:
            sx = perMillimeter_ / 100;
            sy = -perMillimeterY_ / 100;
            break;
        case mmLoEnglish:
            sx = perMillimeter_ * 0.254;
            sy = -perMillimeterY_ * 0.254;
            break;
        case mmHiEnglish:
            sx = perMillimeter_ * 0.0254;
            sy = -perMillimeterY_ * 0.0254;
            break;
        case mmTwips:
            sx = perMillimeter_ * 25.4 / 1440;
            sy = -perMillimeterY_ * 25.4 / 1440;
            break;
        case mmIsotropic:
        case mmAnisotropic:
            if (s_.WindowExt.x() == 0 || s_.WindowExt.y() == 0) break;
            sx = s_.ViewportExt.x() / s_.WindowExt.x();
            sy = s_.ViewportExt.y() / s_.WindowExt.y();
            if (s_.MapMode == mmIsotropic) {
                const double m = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default:
            break;
    }
    if (!std::isfinite(sx) || !std::isfinite(sy)) sx = sy = 1;
    return QTransform::fromTranslate(-s_.WindowOrg.x(), -s_.WindowOrg.y()) *
           QTransform::fromScale(sx, sy) *
           QTransform::fromTranslate(s_.ViewportOrg.x(), s_.ViewportOrg.y());
}

// Device pixels of one logical unit (the mean of both axes), for pen widths and font sizes.
double TRecordPlayer::DeviceScale() const {
    const QTransform t = Transform();
    return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

// ---- Objects and states ---------------------------------------------------------------------

// Puts the object at index (EMF) or in the lowest free slot (WMF, index -1).
int TRecordPlayer::AddObject(TObject object, int index) {
    constexpr size_t kMaxObjects = 65536;
    if (index < 0) {
        for (size_t i = 0; i < objects_.size(); ++i)
            if (std::holds_alternative<std::monostate>(objects_[i])) {
                objects_[i] = std::move(object);
                return int(i);
            }
        if (objects_.size() >= kMaxObjects) return -1;
        objects_.push_back(std::move(object));
        return int(objects_.size() - 1);
    }
    if (size_t(index) >= kMaxObjects) return -1;
    if (size_t(index) >= objects_.size()) objects_.resize(size_t(index) + 1);
    objects_[size_t(index)] = std::move(object);
    return index;
}

void TRecordPlayer::SelectObject(uint32_t index) {
    std::optional<TObject> stock;
    const TObject* object = nullptr;
    if (header_.Enhanced && (index & 0x80000000u)) {
        stock = StockObject(index);
        if (stock) object = &*stock;
    } else if (index < objects_.size()) {
        object = &objects_[index];
    }
    if (object == nullptr) return;
    if (const auto* pen = std::get_if<TPenObject>(object)) s_.Pen = *pen;
    if (const auto* brush = std::get_if<TBrushObject>(object)) s_.Brush = *brush;
    if (const auto* font = std::get_if<TFontObject>(object)) s_.Font = *font;
    if (const auto* region = std::get_if<TRegionObject>(object)) {
        // Selecting a region makes it the clipping region.
        IntersectClip(Transform().map(region->Path), 5);
    }
}

void TRecordPlayer::DeleteObject(uint32_t index) {
    if (index < objects_.size()) objects_[index] = std::monostate{};
}

void TRecordPlayer::RestoreDC(int which) {
    // Negative: that many states back; positive: the state saved as number which (1-based).
    size_t keep;
    if (which < 0) {
        if (size_t(-int64_t(which)) > saved_.size()) return;
        keep = saved_.size() - size_t(-int64_t(which));
    } else {
        if (which == 0 || size_t(which) > saved_.size()) return;
        keep = size_t(which) - 1;
    }
    s_ = saved_[keep];
    saved_.resize(keep);
}

std::optional<QPainterPath> CombinePaths(const QPainterPath& first, const QPainterPath& second,
                                         int mode) {
    switch (mode) {
        case 0:
            return second;
        case 1:
            return first.intersected(second);
        case 2:
            return first.united(second);
        case 3:
            return first.united(second).subtracted(first.intersected(second));
        case 4:
            return first.subtracted(second);
        case 5:
            return second.subtracted(first);
        default:
            return std::nullopt;
    }
}

// Combines a clip with the current one: 1 and, 2 or, 3 xor, 4 difference, 5 copy.
void TRecordPlayer::IntersectClip(const QPainterPath& devicePath, int mode) {
    QPainterPath all;
    all.addRect(QRectF(-1e6, -1e6, 2e6, 2e6));
    const QPainterPath current = s_.HasClip ? s_.Clip : all;
    if (mode < 1 || mode > 5) return;
    // 5 (copy) is the EMF+ replace; the others number alike.
    s_.Clip = *CombinePaths(current, devicePath, mode == 5 ? 0 : mode);
    if (s_.HasMeta) s_.Clip = s_.Clip.intersected(s_.Meta);
    s_.HasClip = true;
}

// No clip but the meta region.
void TRecordPlayer::ResetClip() {
    s_.HasClip = s_.HasMeta;
    s_.Clip = s_.Meta;
}

// RGNDATA at offset within size bytes: a 32-byte header (size, type, count, bytes, bounds),
// then count rectangles.
QPainterPath TRecordPlayer::RegionData(const TRecordData& r, size_t offset, uint32_t size) const {
    QPainterPath path;
    const uint32_t count = r.U32(offset + 8);
    if (size < 32 || !r.Has(offset, size) || count > (size - 32) / 16) return path;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t o = offset + 32 + size_t(i) * 16;
        path.addRect(QRectF(QPointF(r.S32(o), r.S32(o + 4)), QPointF(r.S32(o + 8), r.S32(o + 12)))
                         .normalized());
    }
    return path;
}

void TRecordPlayer::SetExtent(QPointF& ext, double x, double y) {
    // Extents only count in the scalable mapping modes; a zero extent is refused as GDI does.
    if (s_.MapMode != mmIsotropic && s_.MapMode != mmAnisotropic) return;
    if (x == 0 || y == 0) return;
    ext = QPointF(x, y);
}

std::vector<QPointF> TRecordPlayer::Points(const TRecordData& r, size_t offset, uint32_t count,
                                           bool small) const {
    std::vector<QPointF> points;
    const size_t each = small ? 4 : 8;
    if (!r.Has(offset, size_t(count) * each)) return points;
    points.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t o = offset + i * each;
        if (small)
            points.emplace_back(r.S16(o), r.S16(o + 2));
        else
            points.emplace_back(r.S32(o), r.S32(o + 4));
    }
    return points;
}

}  // namespace metafile
