// Reads the brands of an ISO base media file's "ftyp" box: a 32-bit big-endian box size, the
// type "ftyp", the major brand, a minor version and the compatible brands up to the box's end.
#include "imaging/formats/FileTypeBox.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/ImagingRoutines.h"

namespace {
constexpr int64_t kMaxBrands = 64;
}

std::string ReadFileTypeBrands(TStream& stream) {
    const int64_t position = stream.Position();
    std::string brands;
    uint8_t head[16];
    if (stream.Remaining() >= 16 && stream.Read(head, 16) == 16 &&
        std::memcmp(head + 4, "ftyp", 4) == 0) {
        const int64_t size = GetU32BE(head);
        if (size >= 16) {
            brands.assign(reinterpret_cast<const char*>(head + 8), 4);
            const int64_t count = std::min({(size - 16) / 4, stream.Remaining() / 4, kMaxBrands});
            const std::vector<uint8_t> rest = stream.ReadBytes(count * 4);
            brands.append(rest.begin(), rest.end());
        }
    }
    stream.SetPosition(position);
    return brands;
}

bool HasBrand(const std::string& brands, const char* brand) {
    for (size_t i = 0; i + 4 <= brands.size(); i += 4)
        if (brands.compare(i, 4, brand, 4) == 0) return true;
    return false;
}
