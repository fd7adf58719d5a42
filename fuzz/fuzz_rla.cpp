// Loads arbitrary bytes as a RLA file. A picture that loads must have a consistent bitmap
// (every row readable); the probe must keep the position.
#include <cstdint>

#include "fuzz/fuzz_common.h"
#include "imaging/formats/RLAGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndCheck<TRLAGraphic>(data, size);
}
