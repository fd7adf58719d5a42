// Loads arbitrary bytes as a SGI file. The probe must keep the position; a picture that
// loads must have a consistent bitmap (every row readable); only imaging errors may escape.
#include <cstdint>

#include "fuzz/fuzz_common.h"
#include "imaging/formats/SGIGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndCheck<TSGIGraphic>(data, size);
}
