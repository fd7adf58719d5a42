// Loads bytes as a Photo-CD file. A base image needs far more bytes than a fuzzing input
// holds, so the first byte chooses: even, the rest is the file as it is (headers, short
// files); odd, the rest is repeated to the size of an image file (or, with bit 1 set, cut
// short by a length taken from the next two bytes), so that the pixel path, the doubling and
// every rotation are reached.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/PCDGraphic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    // The base image is always 768 x 512; allow it, and no more.
    TBitmap::SetMaxPixels(768 * 512);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> file(data + 1, data + size);
    if ((data[0] & 1) != 0 && !file.empty()) {
        size_t length = 96 * 2048 + 256 * 2304;
        if ((data[0] & 2) != 0 && size >= 3) length -= size_t(data[1]) << 8 | data[2];
        // Doubling copies repeat the input with its own period.
        const size_t period = file.size();
        file.resize(length);
        for (size_t filled = period; filled < length; filled *= 2)
            std::memcpy(file.data() + filled, file.data(), std::min(filled, length - filled));
    }
    TMemoryStream in(file.data(), static_cast<int64_t>(file.size()));
    const bool probe = TPCDGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();

    TPCDGraphic pcd;
    try {
        pcd.LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    // Only a file the probe accepts can load, and it is always the base image.
    if (!probe) std::abort();
    if (pcd.Width() * pcd.Height() != 768 * 512) std::abort();
    // Every eighth row and the last: the picture is always the same size, and a full pass
    // would take a fifth of the time of an input.
    std::vector<uint8_t> row(size_t(pcd.Width()) * 4);
    for (int y = 0; y < pcd.Height(); y += 8)
        ConvertScanLineToBGRA(pcd, y, row.data());
    ConvertScanLineToBGRA(pcd, pcd.Height() - 1, row.data());
    return 0;
}
