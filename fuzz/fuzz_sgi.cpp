// Loads arbitrary bytes as a SGI file. The probe must keep the position; a picture that
// loads must have a consistent bitmap (every row readable); only imaging errors may escape.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/SGIGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream in(data, static_cast<int64_t>(size));
    TSGIGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();

    TSGIGraphic graphic;
    try {
        graphic.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (graphic.Width() <= 0 || graphic.Height() <= 0) std::abort();
    fuzz::TouchRows(graphic);
    return 0;
}
