#pragma once
// Bounded access to one metafile record's bytes, shared by the players of WMF, EMF and EMF+
// records: reads outside the record give 0.
#include <QColor>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/ImagingRoutines.h"

namespace metafile {

class TRecordData {
  public:
    TRecordData(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Size() const { return size_; }
    const uint8_t* Data() const { return data_; }
    bool Has(size_t offset, size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint16_t U16(size_t o) const { return Has(o, 2) ? GetU16LE(data_ + o) : 0; }
    int16_t S16(size_t o) const { return static_cast<int16_t>(U16(o)); }
    uint32_t U32(size_t o) const { return Has(o, 4) ? GetU32LE(data_ + o) : 0; }
    int32_t S32(size_t o) const { return static_cast<int32_t>(U32(o)); }
    float F32(size_t o) const {
        const uint32_t bits = U32(o);
        float f;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? f : 0.0f;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

// A COLORREF: red, green and blue in the low three bytes.
inline QColor ColorRef(uint32_t c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

}  // namespace metafile
