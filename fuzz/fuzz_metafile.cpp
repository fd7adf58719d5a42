// Plays arbitrary bytes as a Windows metafile (WMF or EMF) through the Qt painter. A metafile
// that loads must have drawn a consistent bitmap of its own size; the probe keeps the position.
#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/Metafile.h"
#include "render/MetafilePlayer.h"

namespace {
// Lives until the process ends: destroying it from an exit handler, after Qt's own clean-up,
// would crash.
QGuiApplication* gApp = nullptr;
}  // namespace

// Font look-ups keep caches inside fontconfig for the life of the process: not our leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libfreetype.so\nleak:libQt6Gui.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::LimitPixels();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    gApp = new QGuiApplication(*argc, *argv);
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
