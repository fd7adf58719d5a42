#pragma once
// Shared parts of the libFuzzer harnesses: a small pixel limit so hostile sizes fail fast
// instead of exhausting memory, and a pass over every decoded row so that inconsistent
// bitmaps (short rows, wrong strides, stray palette indices) show up under the sanitizers.
#include <cstdint>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ScanLineConversion.h"

namespace fuzz {

inline void LimitPixels() {
    TBitmap::SetMaxPixels(uint64_t(1) << 18);
}

inline uint32_t TouchRows(const TBitmap& bmp) {
    std::vector<uint8_t> row(static_cast<size_t>(bmp.Width()) * 4);
    uint32_t sum = 0;
    for (int y = 0; y < bmp.Height(); ++y) {
        ConvertScanLineToBGRA(bmp, y, row.data());
        for (uint8_t b : row)
            sum += b;
    }
    return sum;
}

}  // namespace fuzz
