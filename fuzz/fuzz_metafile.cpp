// Plays arbitrary bytes as a Windows metafile (WMF or EMF) through the Qt painter. A metafile
// that loads must have drawn a consistent bitmap of its own size; the probe keeps the position.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_painter.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/Metafile.h"
#include "render/MetafilePlayer.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::StartPainting(argc, argv);
    InstallMetafilePlayer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    TMetafile::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    TMetafile metafile;
    try {
        metafile.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    const TBitmap& bitmap = metafile.Bitmap();
    if (bitmap.Width() != metafile.Width() || bitmap.Height() != metafile.Height()) std::abort();
    fuzz::TouchRows(bitmap);
    return 0;
}
