// Loads arbitrary bytes as a portable map (PBM, PGM, PPM). A picture that loads must have a
// consistent bitmap (every row readable); the probe must agree with the magic and keep the
// position.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/PPMGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TPPMGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    if (probe != (size > 10 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6')) std::abort();

    TPPMGraphic ppm;
    try {
        ppm.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (ppm.Width() <= 0 || ppm.Height() <= 0) std::abort();
    fuzz::TouchRows(ppm);
    return 0;
}
