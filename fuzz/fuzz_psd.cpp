// Loads arbitrary bytes as a Photoshop file. A picture that loads must have a consistent
// bitmap (every row readable); the probe must agree with the signature and version and keep
// the position.
#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/PSDGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TPSDGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    bool expected = size > 26 && data[4] == 0 && data[5] == 1;
    for (size_t i = 0; expected && i < 4; ++i)
        expected = std::toupper(data[i]) == "8BPS"[i];
    if (probe != expected) std::abort();

    TPSDGraphic psd;
    try {
        psd.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (psd.Width() <= 0 || psd.Height() <= 0) std::abort();
    fuzz::TouchRows(psd);
    return 0;
}
