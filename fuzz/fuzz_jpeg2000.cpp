// Loads arbitrary bytes as a JPEG 2000 file (codestream or JP2 boxes). A picture that loads must
// have a consistent bitmap (every row readable); the probe must agree with the signature and keep
// the position.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/JPEG2000Graphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TJPEG2000Graphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    static const uint8_t jp2[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    static const uint8_t soc[4] = {0xFF, 0x4F, 0xFF, 0x51};
    if (probe != ((size >= 12 && std::memcmp(data, jp2, 12) == 0) ||
                  (size >= 4 && std::memcmp(data, soc, 4) == 0)))
        std::abort();

    TJPEG2000Graphic picture;
    // The last byte picks a reduced resolution level, so that path is fuzzed too.
    if (size > 4) picture.SetReducePower(data[size - 1] & 3);
    try {
        picture.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (picture.Width() <= 0 || picture.Height() <= 0) std::abort();
    fuzz::TouchRows(picture);
    return 0;
}
