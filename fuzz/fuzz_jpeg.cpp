// Loads arbitrary bytes as a JPEG picture and decodes it with the default options, then again
// with the options that take the other paths of the decoder (reduced scale, gray and 8-bit
// output, fast decoding, scan-by-scan display). Every decoded row is read back.
#include <cstdint>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/JPEGImage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

namespace {

void Decode(const uint8_t* data, size_t size, const TJPEGOptions& options) {
    TJPEGImage jpeg;
    jpeg.SetOptions(options);
    try {
        TMemoryStream in(data, static_cast<int64_t>(size));
        jpeg.LoadFromStream(in);
    } catch (const EImagingError&) {
        return;
    }
    try {
        jpeg.DIBNeeded();
    } catch (const EImagingError&) {
        // The bitmap made before the error stays and must be consistent.
    }
    if (jpeg.HasBitmap()) fuzz::TouchRows(jpeg.Bitmap());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    TJPEGOptions options;
    Decode(data, size, options);
    // The last byte picks the other options, so the corpus explores them too.
    const uint8_t pick = data[size - 1];
    options.ScalePower = pick & 3;
    options.GrayOutput = (pick & 4) != 0;
    options.EightBitOutput = (pick & 8) != 0;
    options.FastDecode = (pick & 16) != 0;
    options.ShowScans = (pick & 32) != 0;
    options.BlockSmoothing = (pick & 64) == 0;
    Decode(data, size, options);
    return 0;
}
