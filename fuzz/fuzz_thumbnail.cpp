// Makes a thumbnail of arbitrary bytes through MakeThumbnail, as the thumbnail service and
// velkaro-thumbnailer do: the file's class is found by its content (the name has no known
// extension) and decodes only as far as the size needs (a JPEG's camera thumbnail or DCT
// scaling, a JPEG 2000 resolution level, a HEIF thumbnail, a metafile or SVG drawn at the size).
// The last byte picks the size. A thumbnail is never larger than asked, has the picture's shape
// within a pixel and exists exactly when no error is given.
#include <unistd.h>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_common.h"
#include "imaging/Registration.h"
#include "thumbs/ThumbnailMaker.h"

namespace {
QGuiApplication* gApp = nullptr;  // lives until the process ends (see fuzz_svg.cpp)
std::string gPath;
}  // namespace

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libfreetype.so\nleak:libQt6Gui.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::LimitPixels();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    gApp = new QGuiApplication(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.svg*=false"));
    // As in velkaro-thumbnailer: vector pictures are drawn at the size only.
    RegisterImageFormats();
    const char* dir = std::getenv("TMPDIR");
    gPath = std::string(dir != nullptr ? dir : "/tmp") + "/fuzz_thumbnail_" +
            std::to_string(getpid()) + ".input";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr int kSizes[] = {16, 100, 128, 256, 512};
    if (size == 0) return 0;
    fuzz::LimitPixels(size);
    std::FILE* file = std::fopen(gPath.c_str(), "wb");
    if (file == nullptr) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written) return 0;
    const int wanted = kSizes[data[size - 1] % 5];
    const TThumbnail thumbnail = MakeThumbnail(gPath, wanted);
    std::remove(gPath.c_str());
    if (thumbnail.image.isNull() != !thumbnail.error.isEmpty()) std::abort();
    if (thumbnail.image.isNull()) return 0;
    const QSize got = thumbnail.image.size();
    const QSize full = thumbnail.fullSize;
    if (std::max(got.width(), got.height()) > wanted || full.isEmpty()) std::abort();
    if (got.width() > full.width() || got.height() > full.height()) std::abort();
    return 0;
}
