#pragma once
// Shared parts of the libFuzzer harnesses: a small pixel limit so hostile sizes fail fast
// instead of exhausting memory, and a pass over every decoded row so that inconsistent
// bitmaps (short rows, wrong strides, stray palette indices) show up under the sanitizers.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"

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

// The common check of a loader harness: the probe keeps the position, only imaging errors
// escape the load, and a picture that loads has a size and readable rows.
template <class G>
int LoadAndCheck(const uint8_t* data, size_t size) {
    TMemoryStream in(data, static_cast<int64_t>(size));
    G::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    G graphic;
    try {
        graphic.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (graphic.Width() <= 0 || graphic.Height() <= 0) std::abort();
    TouchRows(graphic);
    return 0;
}

}  // namespace fuzz
