// Loads arbitrary bytes as an HEIF file. A picture that loads must have a consistent bitmap
// (every row readable); the probe must keep the position and agree with a load that succeeds.
#include "fuzz/fuzz_common.h"
#include "imaging/formats/HEIFGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndCheck<THEIFGraphic>(data, size, true);
}
