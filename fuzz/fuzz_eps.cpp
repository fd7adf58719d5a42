// Loads arbitrary bytes as a binary EPS file with a TIFF preview. The probe must keep the
// position; a picture that loads must have a consistent bitmap.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/EPSGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TEPSGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    if (probe && (size <= 30 || data[0] != 0xC5 || data[1] != 0xD0)) std::abort();

    TEPSGraphic eps;
    try {
        eps.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    fuzz::TouchRows(eps);
    return 0;
}
