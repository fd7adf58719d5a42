// Loads arbitrary bytes as an Autodesk Animator cel or picture. A picture that loads must have
// a consistent bitmap; the probe must agree with the header fields and keep the position.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/AutodeskGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    // Tall pictures only repeat the per-row work (and the row pass of the check below is slow
    // under the instrumentation); every path stays reachable with at most 2048 rows, while
    // oversized pictures are still refused through their width.
    if (size >= 6 && (data[4] | data[5] << 8) > 2048) return 0;
    TMemoryStream in(data, static_cast<int64_t>(size));
    const bool probe = TAutodeskGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    const bool expected =
        size > 32 && data[0] == 0x19 && data[1] == 0x91 && data[10] == 8 && data[11] == 0;
    if (probe != expected) std::abort();

    TAutodeskGraphic cel;
    try {
        cel.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (cel.Width() <= 0 || cel.Height() <= 0 || cel.Palette().size() != 256) std::abort();
    fuzz::TouchRows(cel);
    return 0;
}
