// Reads arbitrary bytes as the data of an APP1 EXIF segment: the orientation found must be 0
// or 1-8, and nothing outside the bytes may be read (the bytes are copied into a buffer of
// exactly their size, so the sanitizer sees any overrun). The same bytes go through the
// picture properties' reader: as a whole file (JPEG, TIFF, PNG, WebP, HEIF, AVIF or JPEG XL,
// found by the signature), as a TIFF file whose metadata is rebuilt into a block, and as an
// EXIF block for libexif, whose JPEG thumbnail must lie inside the block.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "imaging/PictureInfo.h"
#include "imaging/Stream.h"
#include "imaging/formats/ExifOrientation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> copy(data, data + size);
    const int value = ExifOrientation(copy.data(), copy.size());
    if (value < 0 || value > 8) std::abort();
    // The same block behind the header every seed would otherwise have to guess.
    std::vector<uint8_t> prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), data, data + size);
    const int prefixedValue = ExifOrientation(prefixed.data(), prefixed.size());
    if (prefixedValue < 0 || prefixedValue > 8) std::abort();

    TMemoryStream stream(copy.data(), int64_t(copy.size()));
    const std::vector<uint8_t> block = FindExifBlock(stream);
    if (block.size() > kMaxExifBytes) std::abort();
    const TExifFields found = ParseExif(block.data(), block.size());
    const TExifFields direct = ParseExif(copy.data(), copy.size());
    // The rebuilt block of a TIFF file, which FindExifBlock makes only for files over 64 KiB.
    TMemoryStream tiffStream(copy.data(), int64_t(copy.size()));
    const std::vector<uint8_t> rebuilt = RebuildTiffExif(tiffStream);
    if (rebuilt.size() > kMaxExifBytes) std::abort();
    const TExifFields fromTiff = ParseExif(rebuilt.data(), rebuilt.size());
    for (const TExifFields* f : {&found, &direct, &fromTiff})
        if (f->Make.size() > 256 || f->Model.size() > 256 || f->Software.size() > 256) std::abort();
    for (const std::vector<uint8_t>* b : {&block, &copy}) {
        const std::vector<uint8_t> thumb = ExifThumbnail(b->data(), b->size());
        if (thumb.size() > b->size() || (!thumb.empty() && (thumb.size() < 4 || thumb[0] != 0xFF)))
            std::abort();
    }
    return 0;
}
