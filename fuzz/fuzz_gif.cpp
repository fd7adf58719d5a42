// Loads arbitrary bytes as a GIF file. A picture that loads must have a consistent bitmap
// (every row readable); the probe must agree with the signature and keep the position.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "fuzz/fuzz_frames.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/GIFGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    fuzz::TouchFrames(data, size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TGIFGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    if (probe != (size >= 13 &&
                  (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0)))
        std::abort();

    TGIFGraphic picture;
    try {
        picture.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (picture.Width() <= 0 || picture.Height() <= 0) std::abort();
    fuzz::TouchRows(picture);
    return 0;
}
