// Loads arbitrary bytes as a JPEG XL file (codestream or container). A picture that loads must have
// a consistent bitmap (every row readable); the probe must agree with the signature and keep the
// position.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/JPEGXLGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TJPEGXLGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    static const uint8_t box[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (probe != ((size >= 2 && data[0] == 0xFF && data[1] == 0x0A) ||
                  (size >= 12 && std::memcmp(data, box, 12) == 0)))
        std::abort();

    TJPEGXLGraphic picture;
    try {
        picture.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (picture.Width() <= 0 || picture.Height() <= 0) std::abort();
    fuzz::TouchRows(picture);
    return 0;
}
