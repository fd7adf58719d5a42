// AVIF loader. The file is held in memory; libavif parses it with its limits set from ours and a
// thread per core, decodes the first frame and converts it to BGR(A): 8-bit pictures straight
// into the bitmap, deeper ones to 16-bit samples that are rounded to 8 bits row by row. libavif
// does not apply the stored rotation and mirroring: the bitmap is turned afterwards.
#include "imaging/formats/AVIFGraphic.h"

#include <avif/avif.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/FileTypeBox.h"

namespace {

constexpr const char* kFormatName = "AVIF";

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

}  // namespace

const TGraphicClass& TAVIFGraphic::ClassInfo() {
    static const TGraphicClass info{"TAVIFGraphic", [] { return std::make_unique<TAVIFGraphic>(); },
                                    &TAVIFGraphic::ProbeStream, &TFormatGraphic::ClassInfo()};
    return info;
}

bool TAVIFGraphic::ProbeStream(TStream& stream) {
    return IsAVIF(ReadFileTypeBrands(stream));
}

bool TAVIFGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    data_.clear();
    if (!IsAVIF(ReadFileTypeBrands(stream))) return false;
    std::vector<uint8_t> data = stream.ReadBytes(stream.Remaining());
    const TDecoderPtr decoder = Parse(data);
    if (!decoder) return false;
    const avifImage& image = *decoder->image;
    if (image.width == 0 || image.height == 0 || image.depth < 8 || image.depth > 16) return false;
    TImageProperties& p = imageProperties_;
    const bool turned = Orientation(image) >= 5;
    p.Width = turned ? image.height : image.width;
    p.Height = turned ? image.width : image.height;
    p.HasAlpha = decoder->alphaPresent != 0;
    p.ColorScheme = p.HasAlpha ? schemeRGBA : schemeRGB;
    p.BitsPerSample = uint8_t(image.depth);
    p.SamplesPerPixel = p.HasAlpha ? 4 : 3;
    p.BitsPerPixel = uint8_t(image.depth * p.SamplesPerPixel);
    p.Version = uint32_t(std::max(decoder->imageCount, 1));
    // A load decodes the bytes next; a look at the header alone does not keep them.
    if (stream_ == &stream) data_ = std::move(data);
    return true;
}

void TAVIFGraphic::LoadFromStream(TStream& stream) {
    Clear();
    TLoadScope scope(*this, stream);
    TReleaseBytes release(data_);
    if (!ReadProperties(stream, 0)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    const TImageProperties& p = imageProperties_;
    StartRowProgress(p.Width, imsg::Preparing);
    TProgressGuard guard(*this);

    const TDecoderPtr decoder = Parse(data_);
    if (!decoder) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    CheckSize(p.Width, p.Height);
    const avifResult result = avifDecoderNextImage(decoder.get());
    if (result != AVIF_RESULT_OK) {
        if (result == AVIF_RESULT_NO_CODEC_AVAILABLE || result == AVIF_RESULT_NOT_IMPLEMENTED)
            RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);
        RaiseInvalidGraphicFmt(imsg::CompressionError, kFormatName);
    }
    const avifImage& image = *decoder->image;
    // The frame must be what the header promised; the alpha plane comes with it when present.
    const bool deep = image.depth > 8;
    if (image.width == 0 || image.height == 0 || image.depth != p.BitsPerSample ||
        image.width > uint32_t(INT32_MAX) || image.height > uint32_t(INT32_MAX) ||
        (p.HasAlpha && image.alphaPlane == nullptr))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    const int width = int(image.width), height = int(image.height);
    // An ICC profile takes precedence over the colour description the AV1 data carries.
    if (image.icc.size > 0 && image.icc.size <= kMaxIccProfileBytes)
        SetIccProfile({image.icc.data, image.icc.data + image.icc.size});
    else
        SetIccProfile(IccProfileForCicp(image.colorPrimaries, image.transferCharacteristics));

    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(TConversionOptions());
    cm.SetTargetFlags(TConversionOptions());
    cm.SetSourceScheme(p.HasAlpha ? schemeBGRA : schemeBGR);
    cm.SetTargetScheme(p.HasAlpha ? schemeBGRA : schemeBGR);
    cm.SetSourceSampleBits(8);
    cm.SetTargetSampleBits(8);
    cm.SetSourceSampleCount(p.SamplesPerPixel);
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    SetPixelFormat(p.HasAlpha ? pf32bit : pf24bit);
    CheckSize(width, height);
    SetSize(width, height);
    if (cm.TargetRowBytes(uint32_t(width)) > uint64_t(RowStride()))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);

    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    rgb.format = p.HasAlpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
    rgb.ignoreAlpha = p.HasAlpha ? AVIF_FALSE : AVIF_TRUE;
    const size_t rowSamples = size_t(width) * p.SamplesPerPixel;
    std::vector<uint16_t> words;
    if (deep) {
        // Sixteen-bit samples, held here, rounded to 8 bits below.
        words.resize(rowSamples * size_t(height));
        rgb.depth = 16;
        rgb.pixels = reinterpret_cast<uint8_t*>(words.data());
        rgb.rowBytes = uint32_t(rowSamples * 2);
    } else {
        // The bitmap's rows are consecutive from the top: libavif writes them in place.
        rgb.depth = 8;
        rgb.pixels = ScanLine(0);
        rgb.rowBytes = uint32_t(RowStride());
    }
    StartRowProgress(uint32_t(width), imsg::Transfering);
    if (avifImageYUVToRGB(&image, &rgb) != AVIF_RESULT_OK)
        RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);
    std::vector<uint8_t> row(deep ? rowSamples : 0);
    for (int y = 0; y < height; ++y) {
        if (deep) {
            ReduceSamplesTo8(words.data() + rowSamples * size_t(y), row.data(), rowSamples, 16);
            cm.ConvertScanline(row.data(), ScanLine(y), uint32_t(width));
        }
        RowProgress(uint32_t(y), uint32_t(height));
    }
    if (AutoOrient()) Orient(Orientation(image));
    Changed();
}
