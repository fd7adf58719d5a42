// Loads arbitrary bytes as an AVIF file. A picture that loads must have a consistent bitmap
// (every row readable); the probe must keep the position and agree with a load that succeeds.
#include "fuzz/fuzz_common.h"
#include "fuzz/fuzz_frames.h"
#include "imaging/formats/AVIFGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    fuzz::TouchFrames(data, size);
    return fuzz::LoadAndCheck<TAVIFGraphic>(data, size, true);
}
