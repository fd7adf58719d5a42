// Arbitrary bytes as an embedded colour profile: the profile parsers of the loaders (JPEG APP2
// segments, PNG iCCP) and the conversion of 24-bit, 32-bit and indexed bitmaps through it. A
// conversion never changes a bitmap's size or format; only the pixels may move.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "imaging/ColorProfile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte splits the rest into up to four JPEG segments.
    if (size > 1) {
        std::vector<std::vector<uint8_t>> segments;
        const size_t parts = 1 + data[0] % 4, step = (size - 1) / parts + 1;
        for (size_t at = 1; at < size; at += step)
            segments.emplace_back(data + at, data + std::min(size, at + step));
        const std::vector<uint8_t> joined = AssembleJpegIccProfile(segments);
        if (joined.size() > size) std::abort();
    }
    const std::vector<uint8_t> inflated = IccProfileFromPngChunk(data, size);
    if (inflated.size() > kMaxIccProfileBytes) std::abort();
    IccProfileDescription(data, size);

    for (TPixelFormat format : {pf24bit, pf32bit, pf8bit}) {
        TBitmap bmp;
        bmp.SetPixelFormat(format);
        bmp.SetSize(7, 3);
        if (format == pf8bit) bmp.SetPalette(std::vector<TRGBQuad>(16, TRGBQuad{1, 128, 250, 7}));
        for (int y = 0; y < bmp.Height(); ++y)
            for (int x = 0; x < bmp.RowStride(); ++x)
                bmp.ScanLine(y)[x] = uint8_t(x * 37 + y);
        ConvertBitmapFromProfile(bmp, data, size);
        if (!inflated.empty()) ConvertBitmapFromProfile(bmp, inflated.data(), inflated.size());
        if (bmp.Width() != 7 || bmp.Height() != 3 || bmp.PixelFormat() != format) std::abort();
        fuzz::TouchRows(static_cast<const TBitmap&>(bmp));
    }
    return 0;
}
