// Loads arbitrary bytes as a Windows bitmap. A bitmap that loads must survive a round trip
// through the writer with the same pixel format and pixels.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    TBitmap bmp;
    try {
        TMemoryStream in(data, static_cast<int64_t>(size));
        bmp.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    fuzz::TouchRows(bmp);

    TMemoryStream out;
    bmp.SaveToStream(out);
    out.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(out);
    if (back.PixelFormat() != bmp.PixelFormat() || back.Width() != bmp.Width() ||
        back.Height() != bmp.Height())
        std::abort();
    std::vector<uint8_t> a(static_cast<size_t>(bmp.Width()) * 4), b(a.size());
    for (int y = 0; y < bmp.Height(); ++y) {
        ConvertScanLineToBGRA(bmp, y, a.data());
        ConvertScanLineToBGRA(back, y, b.data());
        if (a != b) std::abort();
    }
    return 0;
}
