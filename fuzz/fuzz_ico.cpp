// Loads arbitrary bytes as a Windows icon.
#include <cstdint>

#include "fuzz/fuzz_common.h"
#include "fuzz/fuzz_frames.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/Icon.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    fuzz::TouchFrames(data, size);
    TIcon icon;
    try {
        TMemoryStream in(data, static_cast<int64_t>(size));
        icon.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    fuzz::TouchRows(icon);
    return 0;
}
