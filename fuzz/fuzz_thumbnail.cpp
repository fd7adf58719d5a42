// Makes a thumbnail of arbitrary bytes through MakeThumbnail, as the thumbnail service and
// velkaro-thumbnailer do: the file's class is found by its content (the name has no known
// extension) and decodes only as far as the size needs (a JPEG's camera thumbnail or DCT
// scaling, a JPEG 2000 resolution level, a HEIF thumbnail, a metafile or SVG drawn at the size).
// The last byte picks the size. A thumbnail is never larger than asked nor than the picture, has
// the picture's shape within a pixel and exists exactly when no error is given.
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_painter.h"
#include "imaging/Registration.h"
#include "thumbs/ThumbnailMaker.h"

namespace {
std::string gPath;  // the input written as a file
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::StartPainting(argc, argv);
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
    // The picture's shape at the size, never enlarged.
    const QSize full = thumbnail.fullSize;
    const int longer = std::max(full.width(), full.height());
    if (full.isEmpty()) std::abort();
    const double scale = longer > wanted ? double(wanted) / longer : 1.0;
    const QSize got = thumbnail.image.size();
    if (std::abs(got.width() - full.width() * scale) > 1.0 ||
        std::abs(got.height() - full.height() * scale) > 1.0 ||
        std::max(got.width(), got.height()) > wanted)
        std::abort();
    return 0;
}
