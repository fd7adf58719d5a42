// Loads arbitrary bytes as a TIFF file. A picture that loads must have a consistent bitmap
// (every row readable) of the stored size, turned by the Orientation tag; the probe must keep
// the position and agree with the header it checks.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "fuzz/fuzz_frames.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/TIFFGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    fuzz::TouchFrames(data, size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TTIFFGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    const bool order =
        size > 8 && ((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'));
    if (probe && !order) std::abort();

    TTIFFGraphic tiff;
    try {
        tiff.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (!tiff.Empty() && (tiff.Width() <= 0 || tiff.Height() <= 0)) std::abort();
    const TImageProperties& p = tiff.ImageProperties();
    const bool turned = tiff.Orientation() >= 5 && tiff.Orientation() <= 8;
    if (uint32_t(tiff.Width()) != (turned ? p.Height : p.Width) ||
        uint32_t(tiff.Height()) != (turned ? p.Width : p.Height))
        std::abort();
    fuzz::TouchRows(tiff);
    return 0;
}
