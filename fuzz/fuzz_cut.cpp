// Loads arbitrary bytes as a Dr. Halo CUT picture (from a stream, so with the gray ramp: the
// palette file needs a file name). A picture that loads must have a consistent bitmap.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/CUTGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    // Tall pictures only repeat the per-row work (and the row pass of the check below is slow
    // under the instrumentation); every path stays reachable with at most 2048 rows, while
    // oversized pictures are still refused through their width.
    if (size >= 4 && (data[2] | data[3] << 8) > 2048) return 0;
    TMemoryStream in(data, static_cast<int64_t>(size));
    if (TCUTGraphic::ProbeStream(in) || in.Position() != 0) std::abort();

    TCUTGraphic cut;
    try {
        cut.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (cut.Width() <= 0 || cut.Height() <= 0 || cut.Palette().size() != 256) std::abort();
    fuzz::TouchRows(cut);
    return 0;
}
