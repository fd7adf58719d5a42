// JPEG 2000 loader. OpenJPEG reads straight from our stream through its callback interface and
// decodes the whole picture into one plane of 32-bit samples per component; each plane is then
// narrowed in place to 8 or 16 bits (its spare pages released) and the rows are built from the
// planes: every component reduced to 8 bits, sYCC turned into RGB, subsampled components
// repeated over the pixels they cover. Progress runs over that row pass, as the
// library reports none of its own.
#include "imaging/formats/JPEG2000Graphic.h"

#include <openjpeg.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Stream.h"

namespace {

constexpr const char* kFormatName = "JPEG 2000";
constexpr uint8_t kJP2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
constexpr uint8_t kCodestreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};  // SOC then SIZ

// Which of the two layouts the bytes at the position start; none for neither.
OPJ_CODEC_FORMAT Layout(TStream& stream) {
    const int64_t position = stream.Position();
    uint8_t head[12];
    const int64_t n = stream.Read(head, std::min<int64_t>(12, stream.Remaining()));
    stream.SetPosition(position);
    if (n == 12 && std::memcmp(head, kJP2Signature, 12) == 0) return OPJ_CODEC_JP2;
    if (n >= 4 && std::memcmp(head, kCodestreamStart, 4) == 0) return OPJ_CODEC_J2K;
    return OPJ_CODEC_UNKNOWN;
}

// The picture grid of the codestream's SIZ segment, read before OpenJPEG sees the file: its
// header reading allocates per tile, so a grid over our limits is refused first.
struct TGrid {
    uint32_t x1, y1, x0, y0, tileWidth, tileHeight, tileX0, tileY0;
};

// The SIZ segment follows SOC at the start of a bare codestream, and of the top-level "jp2c"
// box of a JP2 file. False when it is not found there or is malformed; keeps the position.
bool ReadGrid(TStream& stream, OPJ_CODEC_FORMAT layout, TGrid& grid) {
    const int64_t start = stream.Position(), end = stream.Size();
    int64_t pos = start;
    bool found = layout == OPJ_CODEC_J2K;
    for (int box = 0; !found && box < 256 && end - pos >= 16; ++box) {
        uint8_t head[16];
        stream.SetPosition(pos);
        stream.ReadBuffer(head, 16);
        uint64_t length = GetU32BE(head);
        int64_t header = 8;
        if (length == 1) {
            length = uint64_t(GetU32BE(head + 8)) << 32 | GetU32BE(head + 12);
            header = 16;
        } else if (length == 0) {
            length = uint64_t(end - pos);
        }
        found = std::memcmp(head + 4, "jp2c", 4) == 0;
        if (found) {
            pos += header;
        } else {
            if (length < uint64_t(header) || length > uint64_t(end - pos)) break;
            pos += int64_t(length);
        }
    }
    uint8_t siz[42];
    bool ok = found && end - pos >= 42;
    if (ok) {
        stream.SetPosition(pos);
        stream.ReadBuffer(siz, 42);
        ok = std::memcmp(siz, kCodestreamStart, 4) == 0;
    }
    stream.SetPosition(start);
    if (!ok) return false;
    grid = {GetU32BE(siz + 8),  GetU32BE(siz + 12), GetU32BE(siz + 16), GetU32BE(siz + 20),
            GetU32BE(siz + 24), GetU32BE(siz + 28), GetU32BE(siz + 32), GetU32BE(siz + 36)};
    return grid.x1 > grid.x0 && grid.y1 > grid.y0 && grid.tileWidth > 0 && grid.tileHeight > 0 &&
           grid.tileX0 <= grid.x0 && grid.tileY0 <= grid.y0;
}

// Tiles average at least 1024 pixels, or there are at most 4096 of them: finer grids are
// hostile (each tile costs OpenJPEG memory before any pixel is decoded).
bool SaneTiling(const TGrid& grid) {
    const uint64_t across = (uint64_t(grid.x1) - grid.tileX0 + grid.tileWidth - 1) / grid.tileWidth;
    const uint64_t down = (uint64_t(grid.y1) - grid.tileY0 + grid.tileHeight - 1) / grid.tileHeight;
    const uint64_t pixels = uint64_t(grid.x1 - grid.x0) * (grid.y1 - grid.y0);
    return across * down <= std::max<uint64_t>(4096, pixels / 1024);
}

// Our stream seen by OpenJPEG: from where the picture starts to the stream's end. A read error
// of the stream is kept and raised again once the library has returned; so is the cancelling of
// the load, seen when the library reads (before each tile).
struct TSource {
    TStream* stream;
    int64_t start, end;
    std::exception_ptr error;
    const TGraphic* graphic = nullptr;  // whose cancel flag ends the reading
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T count, void* user) {
    auto& source = *static_cast<TSource*>(user);
    try {
        if (source.graphic != nullptr && source.graphic->Cancelled()) throw EAbort();
        const int64_t left = source.end - source.stream->Position();
        const int64_t n = std::min<int64_t>(left, int64_t(std::min<OPJ_SIZE_T>(count, INT32_MAX)));
        const int64_t got = n > 0 ? source.stream->Read(buffer, n) : 0;
        return got > 0 ? OPJ_SIZE_T(got) : OPJ_SIZE_T(-1);
    } catch (...) {
        source.error = std::current_exception();
        return OPJ_SIZE_T(-1);
    }
}

OPJ_BOOL SeekSource(OPJ_OFF_T offset, void* user) {
    auto& source = *static_cast<TSource*>(user);
    if (offset < 0 || offset > source.end - source.start) return OPJ_FALSE;
    try {
        source.stream->SetPosition(source.start + offset);
    } catch (...) {
        source.error = std::current_exception();
        return OPJ_FALSE;
    }
    return OPJ_TRUE;
}

OPJ_OFF_T SkipSource(OPJ_OFF_T count, void* user) {
    auto& source = *static_cast<TSource*>(user);
    const int64_t position = source.stream->Position();
    if (count < -(position - source.start) || count > source.end - position) return -1;
    return SeekSource(position + count - source.start, user) ? count : -1;
}

void Quiet(const char*, void*) {}

// One decoder over one source: the codec, its stream and the picture, freed together.
struct TDecoder {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    ~TDecoder() {
        if (image != nullptr) opj_image_destroy(image);
        if (stream != nullptr) opj_stream_destroy(stream);
        if (codec != nullptr) opj_destroy_codec(codec);
    }

    // Sets up the codec for layout and reads the main header; false when that fails.
    bool Open(TSource& source, OPJ_CODEC_FORMAT layout, int threads) {
        codec = opj_create_decompress(layout);
        stream = opj_stream_create(64 * 1024, OPJ_TRUE);
        if (codec == nullptr || stream == nullptr) return false;
        opj_set_info_handler(codec, Quiet, nullptr);
        opj_set_warning_handler(codec, Quiet, nullptr);
        opj_set_error_handler(codec, Quiet, nullptr);
        opj_stream_set_user_data(stream, &source, nullptr);
        opj_stream_set_user_data_length(stream, OPJ_UINT64(source.end - source.start));
        opj_stream_set_read_function(stream, ReadSource);
        opj_stream_set_skip_function(stream, SkipSource);
        opj_stream_set_seek_function(stream, SeekSource);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        if (!opj_setup_decoder(codec, &parameters)) return false;
        if (threads > 1 && opj_has_thread_support()) opj_codec_set_threads(codec, threads);
        return opj_read_header(stream, codec, &image) && image != nullptr &&
               image->x1 > image->x0 && image->y1 > image->y0 && image->numcomps > 0;
    }
};

uint32_t CeilDivPow2(uint32_t value, uint32_t power) {
    return uint32_t((uint64_t(value) + (uint64_t(1) << power) - 1) >> power);
}

// Hands whole pages inside [begin, begin + bytes) back to the system; reading them later gives
// zeros. The range must lie inside one allocation whose contents there are no longer needed.
void ReleasePages(void* begin, size_t bytes) {
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0) return;
    const uintptr_t page = uintptr_t(pageSize);
    const uintptr_t first = (uintptr_t(begin) + page - 1) & ~(page - 1);
    const uintptr_t last = (uintptr_t(begin) + bytes) & ~(page - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

// A component's decoded plane holds a 32-bit sample per pixel, four times our 8-bit rows. Once
// decoded, each plane is narrowed in place to its samples' unsigned values (offset and clamped
// to the precision) of 8 or 16 bits at the start of the buffer, and the rest of the buffer's
// pages are released, so that the planes are not held at full size beside the bitmap. Returns
// the bytes a sample now takes: 4 for precisions over 16 bits, left as they are.
unsigned NarrowPlane(opj_image_comp_t& comp) {
    const unsigned size = comp.prec <= 8 ? 1 : comp.prec <= 16 ? 2 : 4;
    if (size == 4) return size;
    const size_t n = size_t(comp.w) * comp.h;
    const int64_t offset = comp.sgnd ? int64_t(1) << (comp.prec - 1) : 0;
    const int64_t maximum = (int64_t(1) << comp.prec) - 1;
    const int32_t* in = comp.data;
    auto* out = reinterpret_cast<uint8_t*>(comp.data);
    // Sample i is written below byte 4 i, where sample i was read, so nothing is overwritten
    // before it is read.
    for (size_t i = 0; i < n; ++i) {
        const uint16_t v = uint16_t(std::clamp(in[i] + offset, int64_t(0), maximum));
        if (size == 1)
            out[i] = uint8_t(v);
        else
            std::memcpy(out + 2 * i, &v, 2);
    }
    ReleasePages(out + n * size, n * (4 - size));
    return size;
}

// A component's sample as an unsigned value of its precision (clamped to its range), from its
// plane as NarrowPlane left it.
struct TPlane {
    const uint8_t* data;
    unsigned size;  // bytes a sample
    uint32_t width, height, prec, offset;
    int32_t maximum;
    std::vector<uint32_t> column;  // sample column of each bitmap column

    int32_t At(uint32_t row, uint32_t x) const {
        const size_t i = size_t(row) * width + column[x];
        if (size == 1) return data[i];
        if (size == 2) {
            uint16_t v;
            std::memcpy(&v, data + 2 * i, 2);
            return v;
        }
        int32_t v;
        std::memcpy(&v, data + 4 * i, 4);
        return int32_t(std::clamp<int64_t>(int64_t(v) + offset, 0, maximum));
    }
    uint8_t To8(int32_t v) const {
        return prec == 8 ? uint8_t(v) : uint8_t((int64_t(v) * 255 + maximum / 2) / maximum);
    }
};

}  // namespace

bool TJPEG2000Graphic::ProbeStream(TStream& stream) {
    return Layout(stream) != OPJ_CODEC_UNKNOWN;
}

bool TJPEG2000Graphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    const OPJ_CODEC_FORMAT layout = Layout(stream);
    TGrid grid;
    if (layout == OPJ_CODEC_UNKNOWN || !ReadGrid(stream, layout, grid) || !SaneTiling(grid))
        return false;
    TSource source{&stream, stream.Position(), stream.Size(), nullptr};
    TDecoder decoder;
    const bool ok = decoder.Open(source, layout, 1);
    if (source.error) std::rethrow_exception(source.error);
    if (!ok) return false;
    const opj_image_t& image = *decoder.image;
    TImageProperties& p = imageProperties_;
    p.Width = image.x1 - image.x0;
    p.Height = image.y1 - image.y0;
    p.SamplesPerPixel = uint8_t(std::min<uint32_t>(image.numcomps, 255));
    p.BitsPerSample = uint8_t(std::min<uint32_t>(image.comps[0].prec, 255));
    p.BitsPerPixel =
        uint8_t(std::min<uint32_t>(uint32_t(p.BitsPerSample) * p.SamplesPerPixel, 255));
    p.HasAlpha = image.numcomps == 2 || image.numcomps == 4;
    p.ColorScheme = image.numcomps <= 2 ? (p.HasAlpha ? schemeGrayAlpha : schemeGray)
                                        : (p.HasAlpha ? schemeRGBA : schemeRGB);
    p.Version = layout == OPJ_CODEC_JP2 ? 2 : 1;
    // The resolution levels of the main header's coding style that every component has.
    levels_ = 0;
    if (opj_codestream_info_v2_t* info = opj_get_cstr_info(decoder.codec)) {
        if (info->m_default_tile_info.tccp_info != nullptr && info->nbcomps > 0) {
            uint32_t levels = 255;
            for (uint32_t c = 0; c < std::min(image.numcomps, info->nbcomps); ++c)
                levels = std::min(levels, info->m_default_tile_info.tccp_info[c].numresolutions);
            levels_ = uint8_t(levels);
        }
        opj_destroy_cstr_info(&info);
    }
    stream.SetPosition(source.start);
    return true;
}

void TJPEG2000Graphic::LoadFromStream(TStream& stream) {
    Clear();
    TLoadScope scope(*this, stream);
    // The size at the requested reduction is refused before OpenJPEG reads the header.
    TGrid grid;
    if (ReadGrid(stream, Layout(stream), grid))
        CheckSize(CeilDivPow2(grid.x1, reducePower_) - CeilDivPow2(grid.x0, reducePower_),
                  CeilDivPow2(grid.y1, reducePower_) - CeilDivPow2(grid.y0, reducePower_));
    if (!ReadProperties(stream, 0)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    StartRowProgress(imageProperties_.Width, imsg::Preparing);
    TProgressGuard guard(*this);

    const int threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
    TSource source{&stream, StartPosition(), stream.Size(), nullptr, this};
    TDecoder decoder;
    bool ok = decoder.Open(source, Layout(stream), threads);
    if (source.error) std::rethrow_exception(source.error);
    if (!ok) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    opj_image_t& image = *decoder.image;
    const uint32_t count = image.numcomps;
    if (count > 4) RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);
    for (uint32_t c = 0; c < count; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        if (comp.prec < 1 || comp.prec > 30 || comp.dx == 0 || comp.dy == 0)
            RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);
    }

    // The reduction goes no further than the coarsest resolution every component has.
    const uint32_t reduce = std::min<uint32_t>(reducePower_, levels_ == 0 ? 0 : levels_ - 1u);
    if (reduce > 0 && !opj_set_decoded_resolution_factor(decoder.codec, reduce))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    const uint32_t left = CeilDivPow2(image.x0, reduce), top = CeilDivPow2(image.y0, reduce);
    const uint32_t width = CeilDivPow2(image.x1, reduce) - left;
    const uint32_t height = CeilDivPow2(image.y1, reduce) - top;
    // Refused here, before the library allocates its planes.
    CheckSize(width, height);
    if (width == 0 || height == 0 || width > uint32_t(INT32_MAX) || height > uint32_t(INT32_MAX))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);

    ok = opj_decode(decoder.codec, decoder.stream, &image) &&
         opj_end_decompress(decoder.codec, decoder.stream);
    if (source.error) std::rethrow_exception(source.error);
    if (!ok) RaiseInvalidGraphicFmt(imsg::CompressionError, kFormatName);
    // A colour box with a restricted or any ICC profile (the Lab parameters that the library
    // keeps in the same place come with a length of 0).
    if (image.icc_profile_buf != nullptr && image.icc_profile_len > 0 &&
        image.icc_profile_len <= kMaxIccProfileBytes)
        SetIccProfile({image.icc_profile_buf, image.icc_profile_buf + image.icc_profile_len});

    // Each bitmap pixel takes the sample of every component that covers it.
    std::vector<TPlane> planes(count);
    for (uint32_t c = 0; c < count; ++c) {
        opj_image_comp_t& comp = image.comps[c];
        if (comp.data == nullptr || comp.w == 0 || comp.h == 0 || comp.prec < 1 || comp.prec > 30)
            RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
        TPlane& plane = planes[c];
        plane.size = NarrowPlane(comp);
        plane.data = reinterpret_cast<const uint8_t*>(comp.data);
        plane.width = comp.w;
        plane.height = comp.h;
        plane.prec = comp.prec;
        plane.maximum = int32_t((1u << comp.prec) - 1);
        plane.offset = comp.sgnd ? 1u << (comp.prec - 1) : 0;
        const uint32_t origin = uint32_t((uint64_t(image.x0) + (uint64_t(comp.dx) << reduce) - 1) /
                                         (uint64_t(comp.dx) << reduce));
        plane.column.resize(width);
        for (uint32_t x = 0; x < width; ++x) {
            const int64_t column = int64_t((left + x) / comp.dx) - origin;
            plane.column[x] = uint32_t(std::clamp<int64_t>(column, 0, comp.w - 1));
        }
    }
    // Chroma subsampled against a full luma plane means YCC even without a colour box, as
    // RGB is never subsampled.
    // Four inks (cyan, magenta, yellow, black) turn into colours by the plain ink formula.
    const bool cmyk = count == 4 && image.color_space == OPJ_CLRSPC_CMYK;
    // Extended-gamut YCC: chroma that may reach beyond the sRGB primaries, one matrix for all.
    const bool eycc = count >= 3 && image.color_space == OPJ_CLRSPC_EYCC;
    const bool ycc = count >= 3 && !cmyk && !eycc &&
                     (image.color_space == OPJ_CLRSPC_SYCC ||
                      (image.comps[0].dx == image.comps[0].dy && image.comps[1].dx != 1));
    const bool colour = count >= 3, alpha = (count == 2 || count == 4) && !cmyk;

    SetPixelFormat(alpha ? pf32bit : colour ? pf24bit : pf8bit);
    if (!colour && !alpha) {
        TPaletteEntries grey(256);
        for (unsigned k = 0; k < 256; ++k)
            grey[k].rgbRed = grey[k].rgbGreen = grey[k].rgbBlue = uint8_t(k);
        SetPalette(std::move(grey));
    }
    SetSize(int(width), int(height));
    const unsigned bytes = alpha ? 4 : colour ? 3 : 1;
    if (uint64_t(width) * bytes > uint64_t(RowStride()))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);

    StartRowProgress(width, imsg::Transfering);
    std::vector<uint32_t> rows(count);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t c = 0; c < count; ++c) {
            const opj_image_comp_t& comp = image.comps[c];
            const uint32_t origin =
                uint32_t((uint64_t(image.y0) + (uint64_t(comp.dy) << reduce) - 1) /
                         (uint64_t(comp.dy) << reduce));
            rows[c] =
                uint32_t(std::clamp<int64_t>(int64_t((top + y) / comp.dy) - origin, 0, comp.h - 1));
        }
        uint8_t* out = ScanLine(int(y));
        if (!colour) {
            const TPlane& g = planes[0];
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t v = g.To8(g.At(rows[0], x));
                if (!alpha) {
                    out[x] = v;
                } else {
                    out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = v;
                    out[4 * x + 3] = planes[1].To8(planes[1].At(rows[1], x));
                }
            }
        } else {
            const TPlane &p0 = planes[0], &p1 = planes[1], &p2 = planes[2];
            for (uint32_t x = 0; x < width; ++x, out += bytes) {
                int32_t r = p0.At(rows[0], x), g = p1.At(rows[1], x), b = p2.At(rows[2], x);
                if (cmyk) {
                    // In single precision, as OpenJPEG's own reader turns inks into colours.
                    auto left = [](const TPlane& p, int32_t v) {
                        return 1.0F - float(v) * (1.0F / float(p.maximum));
                    };
                    const float white = left(planes[3], planes[3].At(rows[3], x));
                    auto ink = [&](const TPlane& p, int32_t v) {
                        return uint8_t(std::clamp(int(255.0F * left(p, v) * white), 0, 255));
                    };
                    out[0] = ink(p2, b);
                    out[1] = ink(p1, g);
                    out[2] = ink(p0, r);
                } else if (eycc) {
                    // The inverse of the sYCC matrix in full: luma, then chroma about its middle.
                    const double half = double(1u << (p0.prec - 1));
                    const double luma = r, cb = g - half, cr = b - half;
                    auto level = [&](double v) {
                        return int32_t(std::clamp(v + 0.5, 0.0, double(p0.maximum)));
                    };
                    out[0] = p0.To8(level(0.9998228 * luma + 1.7720391 * cb - 0.0000080 * cr));
                    out[1] = p0.To8(level(1.0000344 * luma - 0.3441251 * cb - 0.7141284 * cr));
                    out[2] = p0.To8(level(luma - 0.0000368 * cb + 1.4019876 * cr));
                } else if (ycc) {
                    // sYCC to RGB at the luma's precision (ITU-R BT.601 full range).
                    const int32_t half = int32_t(1u << (p0.prec - 1));
                    const double cb = double(g - half), cr = double(b - half);
                    const int32_t luma = r;
                    r = std::clamp(luma + int32_t(1.402 * cr), 0, p0.maximum);
                    g = std::clamp(luma - int32_t(0.344 * cb + 0.714 * cr), 0, p0.maximum);
                    b = std::clamp(luma + int32_t(1.772 * cb), 0, p0.maximum);
                    out[0] = p0.To8(b);
                    out[1] = p0.To8(g);
                    out[2] = p0.To8(r);
                } else {
                    out[0] = p2.To8(b);
                    out[1] = p1.To8(g);
                    out[2] = p0.To8(r);
                }
                if (alpha) out[3] = planes[3].To8(planes[3].At(rows[3], x));
            }
        }
        RowProgress(y, height);
    }
    Changed();
}

bool TJPEG2000Graphic::PrepareReducedLoad(const std::string& fileName, const TReducedDecode& wish,
                                          int& fullWidth, int& fullHeight) {
    SetReducePower(0);
    try {
        TFileStream stream(fileName);
        if (!ReadProperties(stream, 0)) return false;
    } catch (const std::exception&) {
        return false;  // the load that follows reports it
    }
    const TImageProperties& p = ImageProperties();
    fullWidth = int(std::min<uint32_t>(p.Width, INT32_MAX));
    fullHeight = int(std::min<uint32_t>(p.Height, INT32_MAX));
    const double scale = wish.Scale ? wish.Scale(fullWidth, fullHeight) : 1.0;
    if (!(scale > 0.0) || scale > 0.5 || ResolutionLevels() < 2) return false;
    SetReducePower(uint8_t(ReducedDecodePower(scale, std::min(7, ResolutionLevels() - 1))));
    return true;
}
