// Loads arbitrary bytes as an AVIF file. A picture that loads must have a consistent bitmap
// (every row readable); the probe must keep the position and agree with a load that succeeds.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "fuzz/fuzz_frames.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/AVIFGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::TouchFrames(data, size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TAVIFGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();

    TAVIFGraphic picture;
    try {
        picture.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (!probe || picture.Width() <= 0 || picture.Height() <= 0) std::abort();
    fuzz::TouchRows(picture);
    return 0;
}
