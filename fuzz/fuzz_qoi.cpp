// Loads arbitrary bytes as a QOI file. A picture that loads must have a consistent bitmap
// (every row readable); the probe must agree with the signature and keep the position.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/QOIGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TQOIGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    if (probe != (size > 14 && std::memcmp(data, "qoif", 4) == 0)) std::abort();

    TQOIGraphic picture;
    try {
        picture.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (picture.Width() <= 0 || picture.Height() <= 0) std::abort();
    fuzz::TouchRows(picture);
    return 0;
}
