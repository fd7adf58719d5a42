#pragma once
// Shared parts of the libFuzzer harnesses: a small pixel limit so hostile sizes fail fast
// instead of exhausting memory, and a pass over every decoded row so that inconsistent
// bitmaps (short rows, wrong strides, stray palette indices) show up under the sanitizers.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"

namespace fuzz {

// The pixel limit bounds the time of one execution, not only its memory: the loader fills
// every row and TouchRows converts every pixel, all of it instrumented, so an execution costs
// about a microsecond per pixel. A header of a few bytes may claim a large picture that the
// loader fills with its default (a 18-byte Targa header gives 512 x 512 pixels and took a
// millisecond an execution), so the limit follows the input: a few thousand pixels and 16 per
// input byte, at most kMaxPixels. Pictures of every layout are still reached, only small.
inline constexpr uint64_t kMaxPixels = uint64_t(1) << 22;  // 4 megapixels
inline constexpr uint64_t kBasePixels = 4096;
inline constexpr uint64_t kPixelsPerByte = 16;

// The limit for the whole run; harnesses set it once in LLVMFuzzerInitialize.
inline void LimitPixels() {
    TBitmap::SetMaxPixels(kMaxPixels);
}

// The limit for one input of inputSize bytes; harnesses set it first in LLVMFuzzerTestOneInput.
inline void LimitPixels(size_t inputSize) {
    const uint64_t limit = kBasePixels + kPixelsPerByte * uint64_t(inputSize);
    TBitmap::SetMaxPixels(limit < kMaxPixels ? limit : kMaxPixels);
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

// A loaded bitmap goes through the colour conversion first, as every load in the reader does,
// so an embedded profile the loader found reaches Little CMS.
inline uint32_t TouchRows(TBitmap& bmp) {
    ApplyEmbeddedProfile(bmp);
    return TouchRows(static_cast<const TBitmap&>(bmp));
}

// The common check of a loader harness: the probe keeps the position, only imaging errors
// escape the load, and a picture that loads has a size and readable rows. With probeAgrees,
// a picture that loads must also have been recognised by the probe.
template <class G>
int LoadAndCheck(const uint8_t* data, size_t size, bool probeAgrees = false) {
    LimitPixels(size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = G::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    G graphic;
    try {
        graphic.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (graphic.Width() <= 0 || graphic.Height() <= 0 || (probeAgrees && !probe)) std::abort();
    TouchRows(graphic);
    return 0;
}

}  // namespace fuzz
