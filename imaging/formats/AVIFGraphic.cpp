// AVIF loader. The file is held in memory; libavif parses it with its limits set from ours and a
// thread per core, decodes the first frame and converts it to BGR(A): 8-bit pictures straight
// into the bitmap, deeper ones to 16-bit samples that are rounded to 8 bits row by row. libavif
// does not apply the stored clean aperture, rotation and mirroring: the aperture's part of the
// converted frame is kept, and the bitmap is turned afterwards.
#include "imaging/formats/AVIFGraphic.h"

#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/FileTypeBox.h"

namespace {

struct TAvifCloser {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
using TDecoderPtr = std::unique_ptr<avifDecoder, TAvifCloser>;

bool IsAVIF(const std::string& brands) {
    return HasBrand(brands, "avif") || HasBrand(brands, "avis");
}

// A decoder that has parsed the file, with libavif's limits set from ours; null when libavif
// refuses the file.
TDecoderPtr Parse(const std::vector<uint8_t>& data) {
    TDecoderPtr decoder(avifDecoderCreate());
    if (!decoder) return nullptr;
    decoder->maxThreads = int(std::max(1u, std::thread::hardware_concurrency()));
    decoder->imageSizeLimit = uint32_t(std::min<uint64_t>(TBitmap::MaxPixels(), UINT32_MAX));
    // Files from cameras and converters that leave out a box the format asks for still show.
    decoder->strictFlags = AVIF_STRICT_DISABLED;
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    if (avifDecoderSetIOMemory(decoder.get(), data.data(), data.size()) != AVIF_RESULT_OK ||
        avifDecoderParse(decoder.get()) != AVIF_RESULT_OK)
        return nullptr;
    return decoder;
}

// The orientation value (as TBitmap::Orient takes it) of a quarter-turn count anticlockwise
// followed by a mirror (0 none, 1 top and bottom exchanged, 2 left and right exchanged).
int Orientation(const avifImage& image) {
    static constexpr int kOrientation[4][3] = {{1, 4, 2}, {8, 5, 7}, {3, 2, 4}, {6, 7, 5}};
    const int angle = image.transformFlags & AVIF_TRANSFORM_IROT ? image.irot.angle & 3 : 0;
    const int mirror =
        image.transformFlags & AVIF_TRANSFORM_IMIR ? (image.imir.mode == 0 ? 1 : 2) : 0;
    return kOrientation[angle][mirror];
}

// The clean aperture (clap) as a rectangle of the stored picture: the whole picture when there
// is none or when it is not valid (outside the picture, or at odd positions of subsampled
// chroma), as libavif's conversion decides.
avifCropRect Aperture(const avifImage& image) {
    avifCropRect rect{0, 0, image.width, image.height};
    if (!(image.transformFlags & AVIF_TRANSFORM_CLAP)) return rect;
    avifCropRect crop;
    avifDiagnostics diagnostics{};
    if (!avifCropRectConvertCleanApertureBox(&crop, &image.clap, image.width, image.height,
                                             image.yuvFormat, &diagnostics) ||
        crop.width == 0 || crop.height == 0 || crop.x > image.width - crop.width ||
        crop.y > image.height - crop.height)
        return rect;
    return crop;
}

}  // namespace

bool TAVIFGraphic::ProbeStream(TStream& stream) {
    return IsAVIF(ReadFileTypeBrands(stream));
}

bool TAVIFGraphic::ReadFileProperties(const std::vector<uint8_t>& data) {
    const TDecoderPtr decoder = Parse(data);
    if (!decoder) return false;
    const avifImage& image = *decoder->image;
    if (image.width == 0 || image.height == 0 || image.depth < 8 || image.depth > 16) return false;
    TImageProperties& p = imageProperties_;
    const bool turned = Orientation(image) >= 5;
    const avifCropRect shown = Aperture(image);
    p.Width = turned ? shown.height : shown.width;
    p.Height = turned ? shown.width : shown.height;
    p.HasAlpha = decoder->alphaPresent != 0;
    p.ColorScheme = p.HasAlpha ? schemeRGBA : schemeRGB;
    p.BitsPerSample = uint8_t(image.depth);
    p.SamplesPerPixel = p.HasAlpha ? 4 : 3;
    p.BitsPerPixel = uint8_t(image.depth * p.SamplesPerPixel);
    p.Version = uint32_t(std::max(decoder->imageCount, 1));
    return true;
}

void TAVIFGraphic::Decode() {
    const TImageProperties& p = imageProperties_;

    const TDecoderPtr decoder = Parse(data_);
    if (!decoder) Fail(imsg::InvalidImage);
    CheckSize(p.Width, p.Height);
    // libavif reports nothing while it parses, decodes the frame and converts it: the cancel
    // flag is looked at between these steps.
    CheckCancelled();
    const avifResult result = avifDecoderNextImage(decoder.get());
    if (result != AVIF_RESULT_OK) {
        if (result == AVIF_RESULT_NO_CODEC_AVAILABLE || result == AVIF_RESULT_NOT_IMPLEMENTED)
            Fail(imsg::InvalidColorFormat);
        Fail(imsg::CompressionError);
    }
    CheckCancelled();
    const avifImage& frame = *decoder->image;
    // The frame must be what the header promised; the alpha plane comes with it when present.
    const bool deep = frame.depth > 8;
    if (frame.width == 0 || frame.height == 0 || frame.depth != p.BitsPerSample ||
        frame.width > uint32_t(INT32_MAX) || frame.height > uint32_t(INT32_MAX) ||
        (p.HasAlpha && frame.alphaPlane == nullptr))
        Fail(imsg::InvalidImage);
    // With the transformations honoured, the clean aperture is what is shown, cropped before it
    // is turned as the format orders them. The whole frame is converted all the same (chroma
    // is upsampled from its neighbours, also those outside the aperture), then cut.
    const avifCropRect aperture =
        AutoOrient() ? Aperture(frame) : avifCropRect{0, 0, frame.width, frame.height};
    const bool crop = aperture.width != frame.width || aperture.height != frame.height;
    const int width = int(aperture.width), height = int(aperture.height);
    // An ICC profile takes precedence over the colour description the AV1 data carries.
    if (frame.icc.size > 0 && frame.icc.size <= kMaxIccProfileBytes)
        SetIccProfile({frame.icc.data, frame.icc.data + frame.icc.size});
    else
        SetIccProfile(IccProfileForCicp(frame.colorPrimaries, frame.transferCharacteristics));

    PrepareEightBitColorRows(p.HasAlpha, true, uint32_t(width), uint32_t(height), formatName_);

    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &frame);
    rgb.format = p.HasAlpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
    rgb.ignoreAlpha = p.HasAlpha ? AVIF_FALSE : AVIF_TRUE;
    rgb.depth = deep ? 16 : 8;
    const size_t frameSamples = size_t(frame.width) * p.SamplesPerPixel;
    const size_t sampleBytes = deep ? 2 : 1;
    std::vector<uint8_t> converted;
    if (deep || crop) {
        // Held here: 16-bit samples rounded to 8 bits below, or the whole frame to cut.
        converted.resize(frameSamples * sampleBytes * frame.height);
        rgb.pixels = converted.data();
        rgb.rowBytes = uint32_t(frameSamples * sampleBytes);
    } else {
        // The bitmap's rows are consecutive from the top: libavif writes them in place.
        rgb.pixels = ScanLine(0);
        rgb.rowBytes = uint32_t(RowStride());
    }
    StartRowProgress(uint32_t(width), imsg::Transfering);
    if (avifImageYUVToRGB(&frame, &rgb) != AVIF_RESULT_OK) Fail(imsg::InvalidColorFormat);
    CheckCancelled();
    const size_t rowSamples = size_t(width) * p.SamplesPerPixel;
    std::vector<uint16_t> words(deep ? rowSamples : 0);
    std::vector<uint8_t> row(deep ? rowSamples : 0);
    for (int y = 0; y < height; ++y) {
        if (!converted.empty()) {
            const uint8_t* source = converted.data() + rgb.rowBytes * (size_t(aperture.y) + y) +
                                    size_t(aperture.x) * p.SamplesPerPixel * sampleBytes;
            if (deep) {
                std::memcpy(words.data(), source, rowSamples * 2);
                ReduceSamplesTo8(words.data(), row.data(), rowSamples, 16);
                source = row.data();
            }
            ColorManager().ConvertScanline(source, ScanLine(y), uint32_t(width));
        }
        RowProgress(uint32_t(y), uint32_t(height));
    }
    if (AutoOrient()) Orient(Orientation(frame));
}
