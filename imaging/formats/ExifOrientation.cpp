#include "imaging/formats/ExifOrientation.h"

#include <cstring>

#include "imaging/ImagingRoutines.h"

namespace {
constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientationTag = 274;
constexpr uint16_t kTypeShort = 3;
constexpr uint64_t kEntryBytes = 12;
}  // namespace

int ExifOrientation(const uint8_t* data, size_t size) {
    if (data == nullptr || size < sizeof kExifHeader + 8) return 0;
    if (std::memcmp(data, kExifHeader, sizeof kExifHeader) != 0) return 0;
    // Offsets inside the block count from the TIFF header.
    const uint8_t* tiff = data + sizeof kExifHeader;
    const uint64_t tiffSize = size - sizeof kExifHeader;
    bool bigEndian;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        bigEndian = false;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        bigEndian = true;
    else
        return 0;
    if (GetU16(tiff + 2, bigEndian) != 42) return 0;
    const uint64_t ifd = GetU32(tiff + 4, bigEndian);
    if (ifd < 8 || ifd + 2 > tiffSize) return 0;
    const uint64_t count = GetU16(tiff + ifd, bigEndian);
    // A directory whose entries run past the block is broken as a whole.
    if (count == 0 || ifd + 2 + count * kEntryBytes > tiffSize) return 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = tiff + ifd + 2 + i * kEntryBytes;
        if (GetU16(entry, bigEndian) != kOrientationTag) continue;
        // One SHORT sits left-justified in the entry's value field.
        if (GetU16(entry + 2, bigEndian) != kTypeShort || GetU32(entry + 4, bigEndian) != 1)
            return 0;
        const int value = GetU16(entry + 8, bigEndian);
        return value >= 1 && value <= 8 ? value : 0;
    }
    return 0;
}
