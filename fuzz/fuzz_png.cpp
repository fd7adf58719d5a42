// Loads arbitrary bytes as a PNG file. A picture that loads must have a consistent bitmap
// (every row readable); the probe must agree with the signature and keep the position.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "fuzz/fuzz_frames.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/PNGGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    fuzz::TouchFrames(data, size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TPNGGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (probe != (size >= 9 && std::memcmp(data, signature, 8) == 0)) std::abort();

    TPNGGraphic png;
    try {
        png.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (png.Width() <= 0 || png.Height() <= 0) std::abort();
    fuzz::TouchRows(png);
    return 0;
}
