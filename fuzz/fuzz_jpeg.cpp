// Loads arbitrary bytes as a JPEG picture and decodes it with the default options, then again
// with the options that take the other paths of the decoder (reduced scale, gray and 8-bit
// output, fast decoding, scan-by-scan display or the first scan handed out alone, the stored
// orientation kept), and as a viewer asks for it reduced (the EXIF thumbnail and the first scan
// as previews, then the picture at a reduced scale). Every decoded row is read back, and a
// picture that decodes has the size it reported before decoding, as has a first scan handed out.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/JPEGImage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    return 0;
}

namespace {

void Decode(const uint8_t* data, size_t size, const TJPEGOptions& options, bool autoOrient,
            bool firstScan = false) {
    TBitmap::SetAutoOrient(autoOrient);
    TJPEGImage jpeg;
    jpeg.SetOptions(options);
    int firstWidth = -1, firstHeight = -1;
    if (firstScan)
        jpeg.OnFirstScan = [&](std::unique_ptr<TBitmap> first) {
            if (first == nullptr || firstWidth >= 0) std::abort();  // once, with a picture
            fuzz::TouchRows(*first);
            firstWidth = first->Width();
            firstHeight = first->Height();
        };
    try {
        TMemoryStream in(data, static_cast<int64_t>(size));
        jpeg.LoadFromStream(in);
    } catch (const EImagingError&) {
        return;
    }
    const int width = jpeg.Width(), height = jpeg.Height();
    try {
        jpeg.DIBNeeded();
        if (jpeg.Bitmap().Width() != width || jpeg.Bitmap().Height() != height) std::abort();
        if (firstWidth >= 0 && (firstWidth != width || firstHeight != height)) std::abort();
    } catch (const EImagingError&) {
        // The bitmap made before the error stays and must be consistent.
    }
    if (jpeg.HasBitmap()) fuzz::TouchRows(jpeg.Bitmap());
}

// The reduced decode a viewer asks for at scale, with previews.
void DecodeReduced(const uint8_t* data, size_t size, double scale) {
    TBitmap::SetAutoOrient(true);
    TJPEGImage jpeg;
    try {
        TMemoryStream in(data, static_cast<int64_t>(size));
        jpeg.LoadFromStream(in);
    } catch (const EImagingError&) {
        return;
    }
    TReducedDecode wish;
    wish.Scale = [scale](int, int) { return scale; };
    wish.OnPreview = [](std::unique_ptr<TGraphic> preview) {
        const auto* bitmap = dynamic_cast<const TBitmap*>(preview.get());
        if (bitmap == nullptr) std::abort();  // previews are bitmaps
        fuzz::TouchRows(*bitmap);
    };
    try {
        jpeg.DecodeReduced(wish);
    } catch (const EImagingError&) {
        // As above: what was decoded stays.
    }
    if (jpeg.HasBitmap()) fuzz::TouchRows(jpeg.Bitmap());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    if (size < 2) return 0;
    TJPEGOptions options;
    Decode(data, size, options, true);
    // The last byte picks the other options, so the corpus explores them too.
    const uint8_t pick = data[size - 1];
    options.ScalePower = pick & 3;
    options.GrayOutput = (pick & 4) != 0;
    options.EightBitOutput = (pick & 8) != 0;
    options.FastDecode = (pick & 16) != 0;
    options.ShowScans = (pick & 32) != 0;
    options.BlockSmoothing = (pick & 64) == 0;
    // Without scan-by-scan display, the first scan alone (only 24-bit colour output hands it out).
    Decode(data, size, options, (pick & 128) == 0, !options.ShowScans);
    DecodeReduced(data, size, 1.0 / (2 << (pick & 3)));
    return 0;
}
