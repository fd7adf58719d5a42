// Loads arbitrary bytes as a Targa file. The probe must keep the position; a picture that
// loads must have a consistent bitmap (every row readable) and come back unchanged when saved
// and loaded again; only imaging errors may escape.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/TargaGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    TTargaGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();

    TTargaGraphic graphic;
    try {
        graphic.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (graphic.Width() <= 0 || graphic.Height() <= 0) std::abort();
    fuzz::TouchRows(graphic);

    // What was loaded must come back unchanged through the writer, packed or not (small
    // pictures only, to keep the runs fast).
    if (int64_t(graphic.Width()) * graphic.Height() > 65536) return 0;
    for (bool compressed : {true, false}) {
        TMemoryStream saved;
        graphic.SaveToStream(saved, compressed);
        saved.SetPosition(0);
        TTargaGraphic back;
        back.LoadFromStream(saved);
        if (back.Width() != graphic.Width() || back.Height() != graphic.Height()) std::abort();
        std::vector<uint8_t> a(size_t(graphic.Width()) * 4), b(a.size());
        for (int y = 0; y < graphic.Height(); ++y) {
            ConvertScanLineToBGRA(graphic, y, a.data());
            ConvertScanLineToBGRA(back, y, b.data());
            if (a != b) std::abort();
        }
    }
    return 0;
}
