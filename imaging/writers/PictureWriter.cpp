#include "imaging/writers/PictureWriter.h"

#include <avif/avif.h>
#include <jxl/encode.h>
#include <libheif/heif.h>
#include <turbojpeg.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Picture.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"

namespace {

using TBytes = std::vector<uint8_t>;

// The picture as composed: blue, green, red, alpha rows without padding.
struct TPixels {
    int width = 0, height = 0;
    bool alpha = false;
    TBytes bgra;
    const uint8_t* Row(int y) const { return bgra.data() + size_t(y) * size_t(width) * 4; }
};

TPixels Compose(const TBitmap& bitmap, bool transparent) {
    if (bitmap.Empty()) throw EInvalidGraphic("There is no picture to save.");
    TPixels p;
    p.width = bitmap.Width();
    p.height = bitmap.Height();
    const TComposition composition = BitmapComposition(bitmap, transparent);
    p.alpha = composition.SeeThrough();
    p.bgra.resize(size_t(p.width) * size_t(p.height) * 4);
    for (int y = 0; y < p.height; ++y)
        ComposeScanLine(bitmap, y, composition, p.bgra.data() + size_t(y) * size_t(p.width) * 4);
    return p;
}

void PutBE32(TBytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

TBytes Deflate(const TBytes& data) {
    uLongf size = compressBound(uLong(data.size()));
    TBytes out(size);
    if (compress2(out.data(), &size, data.data(), uLong(data.size()), 6) != Z_OK)
        throw EImagingError("The picture cannot be compressed.");
    out.resize(size);
    return out;
}

// ---- PNG: 8-bit RGB or RGBA, every row Paeth-filtered ----

void PutChunk(TBytes& out, const char* type, const TBytes& data) {
    PutBE32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBE32(out, uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

TBytes EncodePng(const TPixels& p, const TBytes& profile) {
    const size_t channels = p.alpha ? 4 : 3, rowBytes = size_t(p.width) * channels;
    TBytes raw((rowBytes + 1) * size_t(p.height));
    TBytes previous(rowBytes), row(rowBytes);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* s = p.Row(y);
        for (int x = 0; x < p.width; ++x) {
            uint8_t* d = row.data() + size_t(x) * channels;
            d[0] = s[4 * x + 2];
            d[1] = s[4 * x + 1];
            d[2] = s[4 * x];
            if (p.alpha) d[3] = s[4 * x + 3];
        }
        uint8_t* out = raw.data() + size_t(y) * (rowBytes + 1);
        out[0] = 4;
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= channels ? row[i - channels] : 0;
            const int c = i >= channels ? previous[i - channels] : 0;
            out[1 + i] = uint8_t(row[i] - Paeth(a, previous[i], c));
        }
        std::swap(previous, row);
    }
    TBytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    TBytes header;
    PutBE32(header, uint32_t(p.width));
    PutBE32(header, uint32_t(p.height));
    header.insert(header.end(), {8, uint8_t(p.alpha ? 6 : 2), 0, 0, 0});
    PutChunk(file, "IHDR", header);
    if (!profile.empty()) {
        TBytes iccp = {'I', 'C', 'C', ' ', 'P', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
        const TBytes packed = Deflate(profile);
        iccp.insert(iccp.end(), packed.begin(), packed.end());
        PutChunk(file, "iCCP", iccp);
    }
    PutChunk(file, "IDAT", Deflate(raw));
    PutChunk(file, "IEND", {});
    return file;
}

// ---- JPEG through libturbojpeg; the profile in APP2 segments after the JFIF header ----

TBytes EncodeJpeg(const TPixels& p, int quality, const TBytes& profile) {
    tjhandle handle = tjInitCompress();
    if (handle == nullptr) throw EJPEG("The JPEG compressor cannot be started.");
    unsigned char* out = nullptr;
    unsigned long size = 0;
    // High qualities keep the colour at full resolution.
    const int subsampling = quality >= 90 ? TJSAMP_444 : TJSAMP_420;
    const int rc = tjCompress2(handle, p.bgra.data(), p.width, 0, p.height, TJPF_BGRX, &out, &size,
                               subsampling, std::clamp(quality, 1, 100), TJFLAG_ACCURATEDCT);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(out, tjFree);
    const std::string error = rc != 0 ? tjGetErrorStr2(handle) : "";
    tjDestroy(handle);
    if (rc != 0 || out == nullptr) throw EJPEG("The picture cannot be compressed: " + error);
    TBytes file(out, out + size);
    if (profile.empty()) return file;
    constexpr size_t kChunk = 65519;  // a segment's 65533 bytes less the 14-byte header
    const size_t count = (profile.size() + kChunk - 1) / kChunk;
    if (count > 255) throw EJPEG("The colour profile is too large for a JPEG file.");
    TBytes segments;
    for (size_t i = 0; i < count; ++i) {
        const size_t n = std::min(kChunk, profile.size() - i * kChunk);
        segments.insert(segments.end(), {0xFF, 0xE2, uint8_t((n + 16) >> 8), uint8_t(n + 16)});
        const char* tag = "ICC_PROFILE";
        segments.insert(segments.end(), tag, tag + 12);
        segments.insert(segments.end(), {uint8_t(i + 1), uint8_t(count)});
        segments.insert(segments.end(), profile.begin() + std::ptrdiff_t(i * kChunk),
                        profile.begin() + std::ptrdiff_t(i * kChunk + n));
    }
    // After SOI and the JFIF segment libturbojpeg writes first.
    size_t at = 2;
    if (file.size() > 6 && file[2] == 0xFF && file[3] == 0xE0) at = 4 + GetU16BE(&file[4]);
    file.insert(file.begin() + std::ptrdiff_t(at), segments.begin(), segments.end());
    return file;
}

TBytes EncodeWebP(const TPixels& p, const TSaveOptions& options) {
    uint8_t* out = nullptr;
    const int stride = p.width * 4;
    const size_t size = options.lossless
                            ? WebPEncodeLosslessBGRA(p.bgra.data(), p.width, p.height, stride, &out)
                            : WebPEncodeBGRA(p.bgra.data(), p.width, p.height, stride,
                                             float(std::clamp(options.quality, 1, 100)), &out);
    if (size == 0 || out == nullptr) {
        throw EImagingError(p.width > 16383 || p.height > 16383
                                ? "WebP pictures are at most 16383 pixels wide and high."
                                : "The WebP encoder cannot write the picture.");
    }
    TBytes file(out, out + size);
    WebPFree(out);
    return file;
}

// ---- JPEG XL: 8-bit RGB or RGBA, sRGB unless a profile is given ----

TBytes EncodeJpegXl(const TPixels& p, const TSaveOptions& options) {
    std::unique_ptr<JxlEncoder, void (*)(JxlEncoder*)> encoder(JxlEncoderCreate(nullptr),
                                                               JxlEncoderDestroy);
    if (!encoder) throw EImagingError("The JPEG XL library cannot be opened.");
    JxlEncoder* enc = encoder.get();
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(p.width);
    info.ysize = uint32_t(p.height);
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.alpha_bits = p.alpha ? 8 : 0;
    info.num_extra_channels = p.alpha ? 1 : 0;
    // Lossless keeps the samples as they are, and so does a picture with its own profile (the
    // profile is then stored as given); otherwise lossy works in the format's own colour space.
    info.uses_original_profile =
        options.lossless || !options.iccProfile.empty() ? JXL_TRUE : JXL_FALSE;
    bool ok = JxlEncoderSetBasicInfo(enc, &info) == JXL_ENC_SUCCESS;
    if (options.iccProfile.empty()) {
        JxlColorEncoding srgb;
        JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
        ok = ok && JxlEncoderSetColorEncoding(enc, &srgb) == JXL_ENC_SUCCESS;
    } else {
        ok = ok && JxlEncoderSetICCProfile(enc, options.iccProfile.data(),
                                           options.iccProfile.size()) == JXL_ENC_SUCCESS;
    }
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
    if (options.lossless) {
        ok = ok && JxlEncoderSetFrameLossless(settings, JXL_TRUE) == JXL_ENC_SUCCESS;
    } else {
        // The distance cjxl gives a quality (1.0 is visually lossless, about quality 90).
        const int q = std::clamp(options.quality, 1, 100);
        const float distance = q >= 30 ? 0.1f + float(100 - q) * 0.09f
                                       : 6.4f + std::pow(2.5f, float(30 - q) / 5.0f) / 6.25f;
        ok = ok && JxlEncoderSetFrameDistance(settings, distance) == JXL_ENC_SUCCESS;
    }
    const size_t channels = p.alpha ? 4 : 3;
    TBytes samples;
    samples.reserve(size_t(p.width) * size_t(p.height) * channels);
    for (size_t i = 0; i < p.bgra.size(); i += 4) {
        samples.insert(samples.end(), {p.bgra[i + 2], p.bgra[i + 1], p.bgra[i]});
        if (p.alpha) samples.push_back(p.bgra[i + 3]);
    }
    const JxlPixelFormat format{uint32_t(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    ok = ok && JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size()) ==
                   JXL_ENC_SUCCESS;
    if (!ok) throw EImagingError("The JPEG XL encoder refuses the picture.");
    JxlEncoderCloseInput(enc);
    TBytes file(size_t(1) << 16);
    size_t used = 0;
    for (;;) {
        uint8_t* next = file.data() + used;
        size_t available = file.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc, &next, &available);
        used = size_t(next - file.data());
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            throw EImagingError("The JPEG XL encoder cannot write the picture.");
        file.resize(file.size() * 2);
    }
    file.resize(used);
    return file;
}

// ---- AVIF: 8-bit 4:2:0 by quality, or lossless (4:4:4, the identity matrix, no quantizing) ----

TBytes EncodeAvif(const TPixels& p, const TSaveOptions& options) {
    const bool lossless = options.lossless;
    std::unique_ptr<avifImage, void (*)(avifImage*)> image(
        avifImageCreate(uint32_t(p.width), uint32_t(p.height), 8,
                        lossless ? AVIF_PIXEL_FORMAT_YUV444 : AVIF_PIXEL_FORMAT_YUV420),
        avifImageDestroy);
    std::unique_ptr<avifEncoder, void (*)(avifEncoder*)> encoder(avifEncoderCreate(),
                                                                 avifEncoderDestroy);
    if (!image || !encoder) throw EImagingError("The AVIF library cannot be opened.");
    // sRGB, said in full: readers guess differently when it is left unspecified.
    image->yuvRange = AVIF_RANGE_FULL;
    image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
    image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
    image->matrixCoefficients =
        lossless ? AVIF_MATRIX_COEFFICIENTS_IDENTITY : AVIF_MATRIX_COEFFICIENTS_BT601;
    if (!options.iccProfile.empty())
        avifImageSetProfileICC(image.get(), options.iccProfile.data(), options.iccProfile.size());
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.format = AVIF_RGB_FORMAT_BGRA;
    rgb.depth = 8;
    rgb.ignoreAlpha = p.alpha ? AVIF_FALSE : AVIF_TRUE;
    rgb.pixels = const_cast<uint8_t*>(p.bgra.data());
    rgb.rowBytes = uint32_t(p.width) * 4;
    if (avifImageRGBToYUV(image.get(), &rgb) != AVIF_RESULT_OK)
        throw EImagingError("The picture cannot be converted for the AVIF encoder.");
    // Quality 100 is quantizer 0, quality 1 the coarsest (63).
    const int quantizer = lossless ? 0 : (100 - std::clamp(options.quality, 1, 100)) * 63 / 99;
    encoder->minQuantizer = encoder->maxQuantizer = quantizer;
    encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = lossless ? 0 : quantizer / 2;
    encoder->speed = 8;
    encoder->maxThreads = 2;
    avifRWData output = AVIF_DATA_EMPTY;
    const avifResult result = avifEncoderWrite(encoder.get(), image.get(), &output);
    TBytes file(output.data, output.data + output.size);
    avifRWDataFree(&output);
    if (result != AVIF_RESULT_OK || file.empty())
        throw EImagingError("The AVIF encoder cannot write the picture.");
    return file;
}

// ---- HEIC: HEVC by quality (libheif's encoder, x265) ----

TBytes EncodeHeic(const TPixels& p, const TSaveOptions& options) {
    std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                   heif_context_free);
    if (!context) throw EImagingError("The HEIF library cannot be opened.");
    const auto check = [](const heif_error& error) {
        if (error.code != heif_error_Ok)
            throw EImagingError(std::string("The HEIC encoder cannot write the picture: ") +
                                (error.message ? error.message : ""));
    };
    heif_encoder* encoderRaw = nullptr;
    check(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &encoderRaw));
    std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(encoderRaw,
                                                                   heif_encoder_release);
    check(heif_encoder_set_lossy_quality(encoder.get(), std::clamp(options.quality, 1, 100)));
    heif_image* imageRaw = nullptr;
    check(heif_image_create(p.width, p.height, heif_colorspace_RGB,
                            p.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                            &imageRaw));
    std::unique_ptr<heif_image, void (*)(const heif_image*)> image(imageRaw, heif_image_release);
    check(heif_image_add_plane(image.get(), heif_channel_interleaved, p.width, p.height, 8));
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr) throw EImagingError("The HEIC encoder has no room for the picture.");
    const int channels = p.alpha ? 4 : 3;
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* s = p.Row(y);
        uint8_t* d = plane + size_t(y) * size_t(stride);
        for (int x = 0; x < p.width; ++x, d += channels, s += 4) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            if (p.alpha) d[3] = s[3];
        }
    }
    if (!options.iccProfile.empty())
        check(heif_image_set_raw_color_profile(image.get(), "prof", options.iccProfile.data(),
                                               options.iccProfile.size()));
    heif_image_handle* handle = nullptr;
    check(heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &handle));
    if (handle != nullptr) heif_image_handle_release(handle);
    TBytes file;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* out) {
        auto* bytes = static_cast<TBytes*>(out);
        bytes->insert(bytes->end(), static_cast<const uint8_t*>(data),
                      static_cast<const uint8_t*>(data) + size);
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
    };
    check(heif_context_write(context.get(), &writer, &file));
    return file;
}

// ---- TIFF: one Deflate-compressed strip of 8-bit RGB or RGBA (unassociated alpha) ----

void PutLE16(TBytes& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void PutLE32(TBytes& out, uint32_t v) {
    PutLE16(out, v & 0xFFFF);
    PutLE16(out, v >> 16);
}

TBytes EncodeTiff(const TPixels& p, const TBytes& profile) {
    const uint32_t channels = p.alpha ? 4 : 3;
    TBytes raw;
    raw.reserve(size_t(p.width) * size_t(p.height) * channels);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* s = p.Row(y);
        for (int x = 0; x < p.width; ++x) {
            raw.insert(raw.end(), {s[4 * x + 2], s[4 * x + 1], s[4 * x]});
            if (p.alpha) raw.push_back(s[4 * x + 3]);
        }
    }
    const TBytes strip = Deflate(raw);
    struct TEntry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const uint16_t kShort = 3, kLong = 4, kUndefined = 7;
    std::vector<TEntry> entries = {
        {256, kLong, 1, uint32_t(p.width)},
        {257, kLong, 1, uint32_t(p.height)},
        {258, kShort, channels, 0},  // bits per sample: 8 each, stored after the directory
        {259, kShort, 1, 8},         // Deflate
        {262, kShort, 1, 2},         // RGB
        {273, kLong, 1, 0},          // strip offset, filled in below
        {277, kShort, 1, channels},
        {278, kLong, 1, uint32_t(p.height)},
        {279, kLong, 1, uint32_t(strip.size())},
        {284, kShort, 1, 1},
    };
    if (p.alpha) entries.push_back({338, kShort, 1, 2});
    if (!profile.empty()) entries.push_back({34675, kUndefined, uint32_t(profile.size()), 0});
    const uint32_t directoryEnd = 8 + 2 + uint32_t(entries.size()) * 12 + 4;
    uint32_t extra = directoryEnd;
    entries[2].value = extra;  // channels x SHORT 8 (over 4 bytes: stored outside)
    extra += channels * 2;
    if (!profile.empty()) {
        entries.back().value = extra;
        extra += uint32_t(profile.size()) + (profile.size() & 1);
    }
    entries[5].value = extra;
    TBytes file = {'I', 'I', 42, 0};
    PutLE32(file, 8);
    PutLE16(file, uint32_t(entries.size()));
    for (const TEntry& e : entries) {
        PutLE16(file, e.tag);
        PutLE16(file, e.type);
        PutLE32(file, e.count);
        if (e.type == kShort && e.count == 1) {
            PutLE16(file, e.value);
            PutLE16(file, 0);
        } else {
            PutLE32(file, e.value);
        }
    }
    PutLE32(file, 0);
    for (uint32_t c = 0; c < channels; ++c)
        PutLE16(file, 8);
    file.insert(file.end(), profile.begin(), profile.end());
    if (profile.size() & 1) file.push_back(0);
    file.insert(file.end(), strip.begin(), strip.end());
    return file;
}

// ---- BMP through the bitmap's own writer: 24 bits, or 32 with alpha ----

TBytes EncodeBmp(const TPixels& p) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(p.alpha ? pf32bit : pf24bit);
    bitmap.SetSize(p.width, p.height);
    for (int y = 0; y < p.height; ++y) {
        if (p.alpha)
            std::memcpy(bitmap.ScanLine(y), p.Row(y), size_t(p.width) * 4);
        else
            for (int x = 0; x < p.width; ++x)
                std::memcpy(bitmap.ScanLine(y) + 3 * size_t(x), p.Row(y) + 4 * size_t(x), 3);
    }
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    return TBytes(stream.Memory(), stream.Memory() + stream.Size());
}

// ---- QOI ----

TBytes EncodeQoi(const TPixels& p) {
    TBytes out = {'q', 'o', 'i', 'f'};
    PutBE32(out, uint32_t(p.width));
    PutBE32(out, uint32_t(p.height));
    out.push_back(p.alpha ? 4 : 3);
    out.push_back(0);  // sRGB with linear alpha
    struct TRgba {
        uint8_t r = 0, g = 0, b = 0, a = 255;
        bool operator==(const TRgba&) const = default;
    };
    TRgba index[64] = {};
    for (TRgba& i : index)
        i.a = 0;
    TRgba previous;
    int run = 0;
    const size_t count = size_t(p.width) * size_t(p.height);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* s = p.bgra.data() + 4 * i;
        const TRgba px{s[2], s[1], s[0], p.alpha ? s[3] : uint8_t(255)};
        if (px == previous) {
            if (++run == 62 || i + 1 == count) {
                out.push_back(uint8_t(0xC0 | (run - 1)));
                run = 0;
            }
            continue;
        }
        if (run > 0) {
            out.push_back(uint8_t(0xC0 | (run - 1)));
            run = 0;
        }
        const int hash = (px.r * 3 + px.g * 5 + px.b * 7 + px.a * 11) % 64;
        if (index[hash] == px) {
            out.push_back(uint8_t(hash));
        } else {
            index[hash] = px;
            if (px.a == previous.a) {
                const int dr = int8_t(px.r - previous.r), dg = int8_t(px.g - previous.g),
                          db = int8_t(px.b - previous.b);
                const int drg = dr - dg, dbg = db - dg;
                if (dr >= -2 && dr <= 1 && dg >= -2 && dg <= 1 && db >= -2 && db <= 1) {
                    out.push_back(uint8_t(0x40 | (dr + 2) << 4 | (dg + 2) << 2 | (db + 2)));
                } else if (dg >= -32 && dg <= 31 && drg >= -8 && drg <= 7 && dbg >= -8 &&
                           dbg <= 7) {
                    out.push_back(uint8_t(0x80 | (dg + 32)));
                    out.push_back(uint8_t((drg + 8) << 4 | (dbg + 8)));
                } else {
                    out.insert(out.end(), {0xFE, px.r, px.g, px.b});
                }
            } else {
                out.insert(out.end(), {0xFF, px.r, px.g, px.b, px.a});
            }
        }
        previous = px;
    }
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 0, 1});
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(uint8_t(c)));
    return s;
}

// The loaded graphic's pixels (a JPEG holds a bitmap of its own; others are copied).
TPixels LoadedPixels(const TGraphic& graphic) {
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&graphic))
        return Compose(jpeg->Bitmap(), false);
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic))
        return Compose(*bitmap, graphic.Transparent());
    TBitmap copy;
    copy.Assign(graphic);
    return Compose(copy, graphic.Transparent());
}

// Whether two pictures show the same: equal pixels, where those that show nothing (alpha 0)
// may differ in colour (encoders are free to change what cannot be seen).
bool SamePixels(const TPixels& a, const TPixels& b) {
    if (a.bgra.size() != b.bgra.size()) return false;
    for (size_t i = 0; i < a.bgra.size(); i += 4)
        if (std::memcmp(&a.bgra[i], &b.bgra[i], 4) != 0 && (a.bgra[i + 3] | b.bgra[i + 3]) != 0)
            return false;
    return true;
}

}  // namespace

const std::vector<TSaveFormatInfo>& SaveFormats() {
    static const std::vector<TSaveFormatInfo> formats = {
        {TSaveFormat::Png, "PNG", "png", false, true, true},
        {TSaveFormat::Jpeg, "JPEG", "jpg jpeg jpe", true, true, false},
        {TSaveFormat::WebP, "WebP", "webp", true, false, true},
        {TSaveFormat::Tiff, "TIFF", "tif tiff", false, true, true},
        {TSaveFormat::Bmp, "Windows bitmap", "bmp", false, false, true},
        {TSaveFormat::Qoi, "QOI", "qoi", false, false, true},
        {TSaveFormat::JpegXl, "JPEG XL", "jxl", true, true, true},
        {TSaveFormat::Avif, "AVIF", "avif", true, true, true},
        {TSaveFormat::Heic, "HEIC", "heic heif", true, true, false},
    };
    return formats;
}

const TSaveFormatInfo* SaveFormatForFile(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
    const std::string extension = Lower(fileName.substr(dot + 1));
    for (const TSaveFormatInfo& info : SaveFormats()) {
        const std::string list = std::string(" ") + info.extensions + " ";
        if (!extension.empty() && list.find(" " + extension + " ") != std::string::npos)
            return &info;
    }
    return nullptr;
}

std::vector<uint8_t> EncodePicture(const TBitmap& picture, TSaveFormat format,
                                   const TSaveOptions& options) {
    const TPixels pixels = Compose(picture, options.transparent);
    switch (format) {
        case TSaveFormat::Png:
            return EncodePng(pixels, options.iccProfile);
        case TSaveFormat::Jpeg:
            return EncodeJpeg(pixels, options.quality, options.iccProfile);
        case TSaveFormat::WebP:
            return EncodeWebP(pixels, options);
        case TSaveFormat::Tiff:
            return EncodeTiff(pixels, options.iccProfile);
        case TSaveFormat::Bmp:
            return EncodeBmp(pixels);
        case TSaveFormat::Qoi:
            return EncodeQoi(pixels);
        case TSaveFormat::JpegXl:
            return EncodeJpegXl(pixels, options);
        case TSaveFormat::Avif:
            return EncodeAvif(pixels, options);
        case TSaveFormat::Heic:
            return EncodeHeic(pixels, options);
    }
    throw EImagingError("Unknown picture format.");
}

void SavePicture(const TBitmap& picture, const std::string& fileName, const TSaveOptions& options,
                 const TSafeWriteOptions& write) {
    const TSaveFormatInfo* info = SaveFormatForFile(fileName);
    if (info == nullptr)
        throw EImagingError("Cannot save \"" + fileName +
                            "\": the extension names no format that can be written.");
    if (!options.iccProfile.empty() && !info->profile)
        throw EImagingError("Cannot save \"" + fileName + "\": " + info->name +
                            " files cannot carry the picture's colour profile.");
    const TBytes data = EncodePicture(picture, info->format, options);
    const bool exact =
        (!info->lossy || (options.lossless && info->lossless)) && options.iccProfile.empty();
    TSafeWriteOptions safe = write;
    safe.check = [&](const std::string& temp) {
        const std::unique_ptr<TGraphic> loaded = TPicture::LoadGraphic(temp);
        if (!loaded || loaded->Width() != picture.Width() || loaded->Height() != picture.Height())
            throw EInvalidGraphic("it has another size");
        if (exact && !SamePixels(LoadedPixels(*loaded), Compose(picture, options.transparent)))
            throw EInvalidGraphic("its pixels differ");
    };
    SafeWriteFile(fileName, data, safe);
}
