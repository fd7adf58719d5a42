// HEIF loader. The file is held in memory and read by libheif, limited to our largest picture
// and given a decoding thread per core. The primary picture is decoded to RGB(A) with its
// transformations applied: 8-bit pictures as planes, deeper ones interleaved as 16-bit words
// that are rounded to 8 bits here. The rows are then built in the bitmap one by one, which is
// when progress is reported (libheif decodes the whole picture in one call).
#include "imaging/formats/HEIFGraphic.h"

#include <libheif/heif.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Stream.h"
#include "imaging/formats/FileTypeBox.h"

namespace {

constexpr const char* kFormatName = "HEIF";

struct THeifCloser {
    void operator()(heif_context* context) const { heif_context_free(context); }
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
    void operator()(heif_image* image) const { heif_image_release(image); }
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
template <typename T>
using THeifPtr = std::unique_ptr<T, THeifCloser>;

bool IsHEIF(const std::string& brands) {
    if (brands.empty() || HasBrand(brands, "avif") || HasBrand(brands, "avis")) return false;
    for (const char* brand :
         {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1"})
        if (HasBrand(brands, brand)) return true;
    return false;
}

// Parses the file with libheif's limits set from ours; null when libheif refuses it.
THeifPtr<heif_context> OpenContext(const std::vector<uint8_t>& data) {
    THeifPtr<heif_context> context(heif_context_alloc());
    if (!context) return nullptr;
    // libheif bounds each side, and allocates a grid's canvas at the size the grid gives, which
    // the pixel count of the picture does not bound. Twice the side of a square of our pixel
    // limit keeps such a canvas within four times the limit (at the default limit this is
    // libheif's own 32768), while long panoramas up to that side still load.
    const double side = 2 * std::sqrt(double(TBitmap::MaxPixels()));
    heif_context_set_maximum_image_size_limit(context.get(),
                                              int(std::clamp(side, 1.0, double(INT_MAX))));
    heif_context_set_max_decoding_threads(context.get(),
                                          int(std::max(1u, std::thread::hardware_concurrency())));
    const heif_error error = heif_context_read_from_memory_without_copy(context.get(), data.data(),
                                                                        data.size(), nullptr);
    if (error.code != heif_error_Ok) return nullptr;
    return context;
}

// The picture's ICC profile, or one made from its nclx colour description; empty for sRGB and
// for descriptions that are not known.
std::vector<uint8_t> ColorProfileOf(const heif_image_handle* handle) {
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size > 0 && size <= kMaxIccProfileBytes) {
        std::vector<uint8_t> icc(size);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
            return icc;
    }
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok ||
        nclx == nullptr)
        return {};
    std::vector<uint8_t> made =
        IccProfileForCicp(int(nclx->color_primaries), int(nclx->transfer_characteristics));
    heif_nclx_color_profile_free(nclx);
    return made;
}

THeifPtr<heif_image_handle> PrimaryHandle(heif_context* context) {
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(context, &handle).code != heif_error_Ok)
        return nullptr;
    return THeifPtr<heif_image_handle>(handle);
}

// The primary picture's thumbnail of that item id (0: the primary picture itself).
THeifPtr<heif_image_handle> ShownHandle(heif_context* context, uint32_t thumbnailId) {
    THeifPtr<heif_image_handle> primary = PrimaryHandle(context);
    if (!primary || thumbnailId == 0) return primary;
    heif_image_handle* thumbnail = nullptr;
    if (heif_image_handle_get_thumbnail(primary.get(), thumbnailId, &thumbnail).code !=
        heif_error_Ok)
        return nullptr;
    return THeifPtr<heif_image_handle>(thumbnail);
}

}  // namespace

bool THEIFGraphic::PrepareReducedLoad(const std::string& fileName, const TReducedDecode& wish,
                                      int& fullWidth, int& fullHeight) {
    thumbnailId_ = 0;
    if (!wish.Scale) return false;
    std::vector<uint8_t> data;
    try {
        TFileStream stream(fileName);
        if (!ProbeStream(stream)) return false;
        data = stream.ReadBytes(stream.Remaining());
    } catch (const std::exception&) {
        return false;  // the load that follows reports it
    }
    const THeifPtr<heif_context> context = OpenContext(data);
    if (!context) return false;
    const THeifPtr<heif_image_handle> primary = PrimaryHandle(context.get());
    if (!primary) return false;
    const int width = heif_image_handle_get_width(primary.get());
    const int height = heif_image_handle_get_height(primary.get());
    const double scale = width > 0 && height > 0 ? wish.Scale(width, height) : 0.0;
    if (!(scale > 0.0) || scale > 0.5) return false;
    const double wanted = std::max(width, height) * scale - 0.5;
    const int count = heif_image_handle_get_number_of_thumbnails(primary.get());
    if (count < 1 || count > 64) return false;
    std::vector<heif_item_id> ids(size_t(count), 0);
    const int listed =
        heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), ids.data(), count);
    // The smallest thumbnail that is not smaller than the picture as shown.
    int best = INT_MAX;
    for (int i = 0; i < std::min(listed, count); ++i) {
        const THeifPtr<heif_image_handle> thumbnail = ShownHandle(context.get(), ids[size_t(i)]);
        if (!thumbnail) continue;
        const int side = std::max(heif_image_handle_get_width(thumbnail.get()),
                                  heif_image_handle_get_height(thumbnail.get()));
        if (side >= wanted && side < best && side < std::max(width, height)) {
            best = side;
            thumbnailId_ = ids[size_t(i)];
        }
    }
    if (thumbnailId_ == 0) return false;
    fullWidth = width;
    fullHeight = height;
    return true;
}

bool THEIFGraphic::ProbeStream(TStream& stream) {
    return IsHEIF(ReadFileTypeBrands(stream));
}

bool THEIFGraphic::ReadFileProperties(const std::vector<uint8_t>& data) {
    const THeifPtr<heif_context> context = OpenContext(data);
    if (!context) return false;
    const THeifPtr<heif_image_handle> handle = ShownHandle(context.get(), thumbnailId_);
    if (!handle) return false;
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
    if (width <= 0 || height <= 0 || bits < 1 || bits > 16) return false;
    TImageProperties& p = imageProperties_;
    p.Width = uint32_t(width);
    p.Height = uint32_t(height);
    p.HasAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    p.ColorScheme = p.HasAlpha ? schemeRGBA : schemeRGB;
    p.BitsPerSample = uint8_t(bits);
    p.SamplesPerPixel = p.HasAlpha ? 4 : 3;
    p.BitsPerPixel = uint8_t(std::min(255, bits * p.SamplesPerPixel));
    return true;
}

void THEIFGraphic::Decode() {
    const TImageProperties& p = imageProperties_;

    THeifPtr<heif_context> context = OpenContext(data_);
    if (!context) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    THeifPtr<heif_image_handle> handle = ShownHandle(context.get(), thumbnailId_);
    if (!handle) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    SetIccProfile(ColorProfileOf(handle.get()));
    // The decoder allocates the stored size before it turns or crops the picture.
    CheckSize(p.Width, p.Height);
    CheckSize(heif_image_handle_get_ispe_width(handle.get()),
              heif_image_handle_get_ispe_height(handle.get()));

    // Eight-bit pictures come as planes of red, green, blue (and alpha): libheif makes them
    // with one conversion and no interleaved copy, half the memory of its interleaved output
    // at the peak; the planes are interleaved into the bitmap here. Deeper samples come
    // interleaved as 16-bit words.
    const bool deep = p.BitsPerSample > 8;
    const heif_chroma chroma = !deep ? heif_chroma_444
                                     : (p.HasAlpha ? heif_chroma_interleaved_RRGGBBAA_LE
                                                   : heif_chroma_interleaved_RRGGBB_LE);
    const THeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
    if (!options) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    // Turning, mirroring and cropping are libheif's; without automatic orientation the stored
    // picture is shown.
    options->ignore_transformations = AutoOrient() ? 0 : 1;
    // libheif 1.15 has no way to stop a decode: the cancel flag is looked at before it.
    CheckCancelled();
    heif_image* decoded = nullptr;
    const heif_error error =
        heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, chroma, options.get());
    const THeifPtr<heif_image> image(decoded);
    // The decoded picture holds its own pixels: the file and libheif's parse go before the
    // bitmap is allocated.
    handle.reset();
    context.reset();
    std::vector<uint8_t>().swap(data_);
    ReleaseFreedMemory();
    if (error.code != heif_error_Ok || !image) {
        if (error.code == heif_error_Unsupported_feature ||
            error.code == heif_error_Unsupported_filetype)
            RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);
        RaiseInvalidGraphicFmt(imsg::CompressionError, kFormatName);
    }

    // The decoded picture is the one to show, turned and cropped. Each plane must cover it.
    const uint32_t samples = p.SamplesPerPixel;
    const heif_channel planar[4] = {heif_channel_R, heif_channel_G, heif_channel_B,
                                    heif_channel_Alpha};
    const heif_channel first = deep ? heif_channel_interleaved : heif_channel_R;
    const int width = heif_image_get_width(image.get(), first);
    const int height = heif_image_get_height(image.get(), first);
    const uint32_t planes = deep ? 1 : samples;
    const uint8_t* plane[4] = {};
    int stride[4] = {};
    int bits = 0;
    for (uint32_t c = 0; c < planes; ++c) {
        const heif_channel channel = deep ? heif_channel_interleaved : planar[c];
        plane[c] = heif_image_get_plane_readonly(image.get(), channel, &stride[c]);
        const int planeBits = heif_image_get_bits_per_pixel_range(image.get(), channel);
        if (c == 0) bits = planeBits;
        const int64_t rowBytes = deep ? int64_t(width) * samples * 2 : width;
        if (plane[c] == nullptr || planeBits != bits ||
            heif_image_get_width(image.get(), channel) < width ||
            heif_image_get_height(image.get(), channel) < height || stride[c] < rowBytes)
            RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    }
    if (width <= 0 || height <= 0 || bits < 1 || bits > 16 || (bits > 8) != deep)
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);

    PrepareEightBitColorRows(p.HasAlpha, false, uint32_t(width), uint32_t(height), kFormatName);

    const size_t rowSamples = size_t(width) * samples;
    std::vector<uint16_t> words(deep ? rowSamples : 0);
    std::vector<uint8_t> row(deep ? rowSamples : 0);
    StartRowProgress(uint32_t(width), imsg::Transfering);
    for (int y = 0; y < height; ++y) {
        if (deep) {
            const uint8_t* source = plane[0] + int64_t(y) * stride[0];
            for (size_t i = 0; i < rowSamples; ++i)
                words[i] = GetU16LE(source + 2 * i);
            ReduceSamplesTo8(words.data(), row.data(), rowSamples, bits);
            ColorManager().ConvertScanline(row.data(), ScanLine(y), uint32_t(width));
        } else {
            // Blue, green, red (and alpha) from their planes.
            uint8_t* out = ScanLine(y);
            const uint8_t* r = plane[0] + int64_t(y) * stride[0];
            const uint8_t* g = plane[1] + int64_t(y) * stride[1];
            const uint8_t* b = plane[2] + int64_t(y) * stride[2];
            if (p.HasAlpha) {
                const uint8_t* a = plane[3] + int64_t(y) * stride[3];
                for (int x = 0; x < width; ++x, out += 4)
                    out[0] = b[x], out[1] = g[x], out[2] = r[x], out[3] = a[x];
            } else {
                for (int x = 0; x < width; ++x, out += 3)
                    out[0] = b[x], out[1] = g[x], out[2] = r[x];
            }
        }
        RowProgress(uint32_t(y), uint32_t(height));
    }
}
