// PNG loader. Rows are inflated, unfiltered and converted one at a time straight into the
// bitmap; only two row buffers and one chunk buffer exist during a load.
#include "imaging/formats/PNGGraphic.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"

namespace {

constexpr const char* kShortName = "PNG";
constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

constexpr uint32_t ChunkType(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}
constexpr uint32_t kIHDR = ChunkType("IHDR");
constexpr uint32_t kPLTE = ChunkType("PLTE");
constexpr uint32_t kIDAT = ChunkType("IDAT");
constexpr uint32_t kIEND = ChunkType("IEND");
constexpr uint32_t kgAMA = ChunkType("GAMA");  // compared with bit 5 cleared
constexpr uint32_t kbKGD = ChunkType("BKGD");
constexpr uint32_t ktRNS = ChunkType("TRNS");
constexpr uint32_t kiCCP = ChunkType("ICCP");
// Chunk types are compared without regard to letter case.
constexpr uint32_t kCaseMask = 0xDFDFDFDF;

// Whole inflation: the largest inflated size, and how far it may exceed the bitmap's size (so
// that a 16-bit image, whose data is twice its bitmap, keeps to rows unless it is small).
// libdeflate inflates in one piece about twice as fast as zlib does row by row; the inflated
// rows live in pixel memory and the compressed bytes in the bitmap (or pixel memory when they do
// not fit there), whose large pages keep the cost of fresh memory small (with 4 KiB pages, faulting
// in a 36 MB buffer costs more than the faster inflation saves on a virtual machine). The limit
// also bounds the time one uncancellable call takes: 256 MiB inflate in about a quarter of a
// second.
std::atomic<uint64_t> gWholeInflateLimit{uint64_t(256) << 20};
constexpr uint64_t kWholeInflateSlack = uint64_t(16) << 20;

// The CRC-32 of PNG chunks (the one zlib computes), through libdeflate, which uses the
// processor's carry-less multiply where it has one: several times zlib's speed.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
    return libdeflate_crc32(crc, data, size);
}

uint32_t MulDiv16(uint32_t value, uint32_t factor, uint32_t divisor) {
    return (value * factor) / divisor;
}

// Adam7 passes: first row, row step, first column, column step, column mask.
struct TPass {
    uint32_t FirstRow, RowStep, FirstColumn, ColumnStep;
    uint8_t Mask;
};
constexpr TPass kPasses[7] = {{0, 8, 0, 8, 0x80}, {0, 8, 4, 8, 0x08}, {4, 8, 0, 4, 0x88},
                              {0, 4, 2, 4, 0x22}, {2, 4, 0, 2, 0xAA}, {0, 2, 1, 2, 0x55},
                              {1, 2, 0, 1, 0xFF}};

// ---------------------------------------------------------------------------------------------
// Row filters (PNG standard, section 9). Bpp is a template parameter so that the
// compiler unrolls and vectorises the loops where the data allows.

template <unsigned Bpp>
void UnfilterSub(uint8_t* row, size_t n) {
    for (size_t i = Bpp; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + row[i - Bpp]);
}

void UnfilterUp(uint8_t* row, const uint8_t* prev, size_t n) {
    for (size_t i = 0; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + prev[i]);
}

template <unsigned Bpp>
void UnfilterAverage(uint8_t* row, const uint8_t* prev, size_t n) {
    const size_t first = std::min<size_t>(Bpp, n);
    for (size_t i = 0; i < first; ++i)
        row[i] = static_cast<uint8_t>(row[i] + (prev[i] >> 1));
    for (size_t i = Bpp; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + ((unsigned(row[i - Bpp]) + prev[i]) >> 1));
}

// Paeth predictor with the ties resolved as the PNG standard orders them (a, then b,
// then c); written as selects so that the compiler emits conditional moves.
inline uint8_t Paeth(int a, int b, int c) {
    int pa = std::abs(b - c);
    int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    int result = a;
    result = pb < pa ? b : result;
    pa = pb < pa ? pb : pa;
    result = pc < pa ? c : result;
    return static_cast<uint8_t>(result);
}

template <unsigned Bpp>
void UnfilterPaeth(uint8_t* row, const uint8_t* prev, size_t n) {
    const size_t first = std::min<size_t>(Bpp, n);
    for (size_t i = 0; i < first; ++i)
        row[i] = static_cast<uint8_t>(row[i] + prev[i]);  // a = c = 0: Paeth gives b
    for (size_t i = Bpp; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + Paeth(row[i - Bpp], prev[i], prev[i - Bpp]));
}

#if defined(__SSE2__)
// Filters of 3 to 8 bytes per pixel, one pixel at a time in 16-bit lanes: the left neighbour
// of each byte is the same byte of the pixel before, so a pixel's bytes are independent of
// each other and are done together.
// Pixels go in and out of the registers as whole integers: assembling them in memory byte by
// byte would stall every load on the stores before it.
template <unsigned Bpp>
inline __m128i LoadPixel(const uint8_t* p) {
    static_assert(Bpp == 3 || Bpp == 4 || Bpp == 6 || Bpp == 8);
    __m128i v;
    if constexpr (Bpp == 3) {
        uint16_t low;
        std::memcpy(&low, p, 2);
        v = _mm_cvtsi32_si128(int(uint32_t(low) | uint32_t(p[2]) << 16));
    } else if constexpr (Bpp == 4) {
        uint32_t x;
        std::memcpy(&x, p, 4);
        v = _mm_cvtsi32_si128(int(x));
    } else if constexpr (Bpp == 6) {
        uint32_t low;
        uint16_t high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 2);
        v = _mm_cvtsi64_si128(static_cast<long long>(uint64_t(low) | uint64_t(high) << 32));
    } else {
        uint64_t x;
        std::memcpy(&x, p, 8);
        v = _mm_cvtsi64_si128(static_cast<long long>(x));
    }
    return _mm_unpacklo_epi8(v, _mm_setzero_si128());
}

template <unsigned Bpp>
inline void StorePixel(uint8_t* p, __m128i lanes) {
    const __m128i bytes = _mm_packus_epi16(lanes, lanes);
    if constexpr (Bpp == 3 || Bpp == 4) {
        const uint32_t x = uint32_t(_mm_cvtsi128_si32(bytes));
        std::memcpy(p, &x, Bpp == 3 ? 2 : 4);
        if constexpr (Bpp == 3) p[2] = uint8_t(x >> 16);
    } else {
        const uint64_t x = uint64_t(_mm_cvtsi128_si64(bytes));
        const uint32_t low = uint32_t(x);
        std::memcpy(p, &low, 4);
        if constexpr (Bpp == 6) {
            const uint16_t high = uint16_t(x >> 32);
            std::memcpy(p + 4, &high, 2);
        } else {
            const uint32_t high = uint32_t(x >> 32);
            std::memcpy(p + 4, &high, 4);
        }
    }
}

inline __m128i LowBytes(__m128i lanes) {
    return _mm_and_si128(lanes, _mm_set1_epi16(0xFF));
}

inline __m128i Abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

template <unsigned Bpp>
void UnfilterSubWide(uint8_t* row, size_t n) {
    __m128i a = _mm_setzero_si128();
    for (size_t i = 0; i + Bpp <= n; i += Bpp) {
        a = LowBytes(_mm_add_epi16(LoadPixel<Bpp>(row + i), a));
        StorePixel<Bpp>(row + i, a);
    }
}

template <unsigned Bpp>
void UnfilterAverageWide(uint8_t* row, const uint8_t* prev, size_t n) {
    __m128i a = _mm_setzero_si128();
    for (size_t i = 0; i + Bpp <= n; i += Bpp) {
        const __m128i b = LoadPixel<Bpp>(prev + i);
        const __m128i average = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
        a = LowBytes(_mm_add_epi16(LoadPixel<Bpp>(row + i), average));
        StorePixel<Bpp>(row + i, a);
    }
}

// The predictor picks a when pa is smallest, else b when pb is not larger than pc, else c:
// the order of ties the PNG standard gives.
template <unsigned Bpp>
void UnfilterPaethWide(uint8_t* row, const uint8_t* prev, size_t n) {
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (size_t i = 0; i + Bpp <= n; i += Bpp) {
        const __m128i b = LoadPixel<Bpp>(prev + i);
        const __m128i pa0 = _mm_sub_epi16(b, c);  // p - a with p = a + b - c
        const __m128i pb0 = _mm_sub_epi16(a, c);  // p - b
        const __m128i pa = Abs16(pa0);
        const __m128i pb = Abs16(pb0);
        const __m128i pc = Abs16(_mm_add_epi16(pa0, pb0));  // p - c
        const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        const __m128i predictor =
            Select(_mm_cmpeq_epi16(pa, smallest), a, Select(_mm_cmpeq_epi16(pb, smallest), b, c));
        a = LowBytes(_mm_add_epi16(LoadPixel<Bpp>(row + i), predictor));
        StorePixel<Bpp>(row + i, a);
        c = b;
    }
}
#endif

template <unsigned Bpp>
void UnfilterBpp(uint8_t type, uint8_t* row, const uint8_t* prev, size_t n) {
#if defined(__SSE2__)
    if constexpr (Bpp >= 3) {
        switch (type) {
            case 1:
                return UnfilterSubWide<Bpp>(row, n);
            case 2:
                return UnfilterUp(row, prev, n);
            case 3:
                return UnfilterAverageWide<Bpp>(row, prev, n);
            case 4:
                return UnfilterPaethWide<Bpp>(row, prev, n);
            default:
                return;
        }
    }
#endif
    switch (type) {
        case 1:
            UnfilterSub<Bpp>(row, n);
            break;
        case 2:
            UnfilterUp(row, prev, n);
            break;
        case 3:
            UnfilterAverage<Bpp>(row, prev, n);
            break;
        case 4:
            UnfilterPaeth<Bpp>(row, prev, n);
            break;
        default:  // 0 and unknown types leave the row as it is
            break;
    }
}

void Unfilter(uint8_t type, uint8_t* row, const uint8_t* prev, size_t n, unsigned bpp) {
    switch (bpp) {
        case 1:
            return UnfilterBpp<1>(type, row, prev, n);
        case 2:
            return UnfilterBpp<2>(type, row, prev, n);
        case 3:
            return UnfilterBpp<3>(type, row, prev, n);
        case 4:
            return UnfilterBpp<4>(type, row, prev, n);
        case 6:
            return UnfilterBpp<6>(type, row, prev, n);
        default:
            return UnfilterBpp<8>(type, row, prev, n);
    }
}

uint8_t RoundedPercent(uint64_t part, uint64_t whole) {
    if (whole == 0) return 100;
    return static_cast<uint8_t>(std::min<uint64_t>((part * 100 + whole / 2) / whole, 100));
}

// The 8-bit gray level a gray sample value of a chunk (bKGD, tRNS) stands for at the picture's
// bit depth: for 1, 2 and 4 bits the level of the ramp entry it is shown with.
uint32_t GrayLevel(uint32_t v, int bitDepth) {
    if (bitDepth == 16) return MulDiv16(v, 255, 65535);
    if (bitDepth >= 1 && bitDepth < 8)
        return (v & ((1u << bitDepth) - 1)) * 255 / ((1u << bitDepth) - 1);
    return v & 0xFF;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(8, 9);
    return !head.empty() && std::memcmp(head.data(), kSignature, 8) == 0;
}

void TPNGGraphic::DecodeIconEntry(TStream& stream, int64_t, TBitmap& target) {
    TPNGGraphic image;
    image.LoadFromStream(stream);
    target.Assign(image);
}

bool TPNGGraphic::ChunkIs(uint32_t type) const {
    return (chunkType_ & kCaseMask) == type;
}

void TPNGGraphic::ReadChunkHeader(TStream& stream) {
    uint8_t header[8];
    stream.ReadBuffer(header, 8);
    chunkLength_ = GetU32BE(header);
    chunkType_ = GetU32BE(header + 4);
    crc_ = Crc32(0, header + 4, 4);
}

void TPNGGraphic::ReadChunkData(TStream& stream) {
    // A length beyond the end of the file cannot be read: fail before allocating for it.
    if (int64_t(chunkLength_) + 4 > stream.Remaining()) throw EReadError();
    if (chunkBuffer_.size() < chunkLength_) chunkBuffer_.resize(chunkLength_);
    stream.ReadBuffer(chunkBuffer_.data(), chunkLength_);
    uint8_t stored[4];
    stream.ReadBuffer(stored, 4);
    if (chunkLength_ > 0) crc_ = Crc32(crc_, chunkBuffer_.data(), chunkLength_);
    if (crc_ != GetU32BE(stored)) RaiseInvalidGraphicFmt(imsg::InvalidCRC, kShortName);
}

void TPNGGraphic::SkipChunk(TStream& stream) {
    stream.Seek(int64_t(chunkLength_) + 4, TSeekOrigin::soCurrent);
}

bool TPNGGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t head[8];
    if (stream.Read(head, 8) != 8 || std::memcmp(head, kSignature, 8) != 0) return false;
    if (stream.Remaining() < 8) return false;
    ReadChunkHeader(stream);
    if (!ChunkIs(kIHDR) || chunkLength_ < 13) return false;
    TImageProperties& p = imageProperties_;
    p.Options |= optBigEndian;
    ReadChunkData(stream);
    const uint8_t* d = chunkBuffer_.data();
    const uint32_t width = GetU32BE(d);
    const uint32_t height = GetU32BE(d + 4);
    // The PNG standard limits both to 2^31 - 1; larger values are not an image.
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return false;
    p.Width = width;
    p.Height = height;
    p.Compression = d[10] == 0 ? compLZ77 : compUnknown;
    p.BitsPerSample = d[8];
    // Colour types 0 (gray), 2 (RGB), 3 (palette), 4 (gray with alpha, counted as one sample
    // here) and 6 (RGBA); any other is unknown.
    struct TLayout {
        TColorSchemeKind scheme;
        uint8_t samples;
    };
    static constexpr TLayout kLayouts[7] = {
        {schemeGray, 1},      {schemeUnknown, 1}, {schemeRGB, 3}, {schemeIndexed, 1},
        {schemeGrayAlpha, 1}, {schemeUnknown, 1}, {schemeRGBA, 4}};
    const TLayout layout = d[9] < 7 ? kLayouts[d[9]] : TLayout{schemeUnknown, 1};
    p.ColorScheme = layout.scheme;
    p.SamplesPerPixel = layout.samples;
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.PNGFilterMode = d[11];
    p.Interlaced = d[12] != 0;
    p.HasAlpha = p.ColorScheme == schemeGrayAlpha || p.ColorScheme == schemeRGBA ||
                 p.ColorScheme == schemeBGRA;

    // Look for a gamma up to IEND. A file that ends early still has its header read; loading
    // reports the short file.
    while (stream.Remaining() >= 8) {
        ReadChunkHeader(stream);
        if (ChunkIs(kgAMA) && chunkLength_ >= 4) {
            ReadChunkData(stream);
            p.Gamma = float(GetU32BE(chunkBuffer_.data())) / 100000.0f;
            return true;
        }
        SkipChunk(stream);
        if (ChunkIs(kIEND)) return true;
    }
    return true;
}

void TPNGGraphic::SetupColorManager() {
    TColorManager& cm = ColorManager();
    const uint8_t d = bitDepth_;
    auto fail = [] { RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kShortName); };
    TColorSchemeKind source = schemeUnknown, target = schemeUnknown;
    uint8_t samples = 1, targetBits = 8;
    TPixelFormat format = pf8bit;
    bool grayRamp = false;
    switch (colorType_) {
        case 0:
            if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) fail();
            source = target = schemeGray;
            targetBits = d == 2 ? 4 : d == 16 ? 8 : d;
            grayRamp = true;
            bytesPerPixel_ = (d + 7) / 8;
            break;
        case 2:
            if (d != 8 && d != 16) fail();
            source = schemeRGB;
            target = schemeBGR;
            samples = 3;
            format = pf24bit;
            bytesPerPixel_ = 3 * d / 8;
            break;
        case 3:
            if (d != 1 && d != 2 && d != 4 && d != 8) fail();
            source = target = schemeIndexed;
            targetBits = d == 2 ? 4 : d;
            bytesPerPixel_ = 1;
            break;
        case 4:
            if (d != 8 && d != 16) fail();
            source = schemeGrayAlpha;
            target = schemeIndexed;
            grayRamp = true;
            bytesPerPixel_ = 2 * d / 8;
            break;
        case 6:
            if (d != 8 && d != 16) fail();
            source = schemeRGBA;
            target = schemeBGRA;
            samples = 4;
            format = pf32bit;
            bytesPerPixel_ = 4 * d / 8;
            break;
        default:
            fail();
    }
    cm.SetSourceScheme(source);
    cm.SetTargetScheme(target);
    cm.SetSourceSampleCount(samples);
    cm.SetTargetSampleCount(samples);
    cm.SetSourceSampleBits(d);
    cm.SetTargetSampleBits(targetBits);
    if (colorType_ == 0 || colorType_ == 3) format = cm.BitmapPixelFormat(1);
    SetPixelFormat(format);
    if (grayRamp) {
        palette_ = cm.GrayRampPalette(false);
        hasPalette_ = true;
    } else if (colorType_ != 3) {
        palette_.clear();
        hasPalette_ = false;
    }
    colorManagerReady_ = true;
}

void TPNGGraphic::ReadBackground() {
    const uint8_t* d = chunkBuffer_.data();
    const uint32_t n = chunkLength_;
    switch (colorType_) {
        case 2:
        case 6:
            if (n >= 6) {
                uint32_t c[3];
                for (int i = 0; i < 3; ++i) {
                    const uint32_t v = GetU16BE(d + 2 * i);
                    c[i] = bitDepth_ == 16 ? MulDiv16(v, 255, 65535) : (v & 0xFF);
                }
                backgroundColor_ = TColor(c[0] + 256 * c[1] + 65536 * c[2]);
            }
            break;
        case 0:
        case 4:
            if (n >= 2) {
                // The gray level the value is shown as, in all three components.
                backgroundColor_ = TColor(GrayLevel(GetU16BE(d), bitDepth_) * 0x010101);
            }
            break;
        case 3:
            // The colour of the palette entry (when the palette has it).
            if (n >= 1 && d[0] < plte_.size()) {
                const TRGBQuad& e = plte_[d[0]];
                backgroundColor_ = TColor(e.rgbRed + 256 * e.rgbGreen + 65536 * e.rgbBlue);
            }
            break;
        default:
            break;
    }
}

void TPNGGraphic::ReadTransparency() {
    const uint8_t* d = chunkBuffer_.data();
    const uint32_t n = chunkLength_;
    if (colorType_ == 0 && n >= 2) {
        keyGiven_ = true;
        key_[0] = GetU16BE(d);
    } else if (colorType_ == 2 && n >= 6) {
        keyGiven_ = true;
        for (int i = 0; i < 3; ++i)
            key_[i] = GetU16BE(d + 2 * i);
    } else if (colorType_ == 3) {
        paletteAlpha_.assign(d, d + std::min<uint32_t>(n, 256));
    }
    // The bitmap shows gamma-corrected colours; the transparent colour must match them.
    const bool gamma = ColorManager().TargetFlags().Contains(convApplyGamma);
    const auto& table = ColorManager().GammaTable();
    auto shown = [&](uint32_t v) { return gamma ? uint32_t(table[v & 0xFF]) : (v & 0xFF); };
    switch (colorType_) {
        case 0:
            if (n >= 2) {
                transparentColor_ = TColor(shown(GrayLevel(GetU16BE(d), bitDepth_)) * 0x010101);
            }
            break;
        case 2:
            if (n >= 6) {
                uint32_t c[3];
                for (int i = 0; i < 3; ++i) {
                    const uint32_t v = GetU16BE(d + 2 * i);
                    c[i] = shown(bitDepth_ == 16 ? MulDiv16(v, 255, 65535) : v);
                }
                transparentColor_ = TColor(c[0] + 256 * c[1] + 65536 * c[2]);
            }
            break;
        case 3: {
            // Alpha of the first n palette entries (the rest are opaque). The bitmap has one
            // transparent colour: it is used when exactly one entry is fully transparent and
            // all others are opaque; partial alpha is not shown.
            int clear = -1;
            for (uint32_t i = 0; i < n; ++i) {
                if (d[i] == 255) continue;
                if (d[i] != 0 || clear >= 0) return;
                clear = int(i);
            }
            if (clear >= 0 && hasPalette_ && size_t(clear) < plte_.size()) {
                // The palette of 2-bit images is spread over 16 entries (index i at 5 i).
                const uint32_t index = bitDepth_ == 2 ? uint32_t(clear) * 5 : uint32_t(clear);
                if (index < palette_.size()) {
                    const TRGBQuad& e = palette_[index];
                    transparentColor_ = TColor(e.rgbRed + 256 * e.rgbGreen + 65536 * e.rgbBlue);
                }
            }
            break;
        }
        default:  // with alpha: no effect
            break;
    }
}

void TPNGGraphic::FillBackground(int firstRow, int endRow) {
    if (firstRow >= endRow) return;
    const uint32_t colour = uint32_t(backgroundColor_);
    const uint8_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    uint8_t* first = ScanLine(firstRow);
    const int stride = RowStride();
    switch (PixelFormat()) {
        case pf24bit:
            for (int x = 0; x < Width(); ++x) {
                first[3 * x] = b;
                first[3 * x + 1] = g;
                first[3 * x + 2] = r;
            }
            break;
        case pf32bit:
            for (int x = 0; x < Width(); ++x) {
                first[4 * x] = b;
                first[4 * x + 1] = g;
                first[4 * x + 2] = r;
                first[4 * x + 3] = 255;
            }
            break;
        default: {
            // Indexed formats: the palette entry nearest to the colour.
            const auto& pal = Palette();
            uint32_t best = 0, bestDistance = UINT32_MAX;
            for (uint32_t i = 0; i < pal.size(); ++i) {
                const int dr = pal[i].rgbRed - r, dg = pal[i].rgbGreen - g, db = pal[i].rgbBlue - b;
                const uint32_t distance = uint32_t(dr * dr + dg * dg + db * db);
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = i;
                }
            }
            uint8_t value = static_cast<uint8_t>(best);
            if (PixelFormat() == pf1bit)
                value = best ? 0xFF : 0;
            else if (PixelFormat() == pf4bit)
                value = static_cast<uint8_t>((best & 15) * 0x11);
            std::memset(first, value, size_t(stride));
            break;
        }
    }
    for (int y = firstRow + 1; y < endRow; ++y)
        std::memcpy(ScanLine(y), first, size_t(stride));
}

void TPNGGraphic::TInflated::Allocate(size_t bytes) {
    Release();
    data = static_cast<uint8_t*>(AllocatePixelMemory(bytes));
    size = bytes;
}

void TPNGGraphic::TInflated::Release() {
    FreePixelMemory(data, size);
    data = nullptr;
    size = 0;
}

uint64_t TPNGGraphic::WholeInflateLimit() {
    return gWholeInflateLimit.load();
}

void TPNGGraphic::SetWholeInflateLimit(uint64_t bytes) {
    gWholeInflateLimit.store(bytes);
}

// Reads the image data chunks from the current one on and inflates them in one piece into
// size bytes of out. Only data that is one complete zlib stream over all the chunks, inflating
// to exactly size bytes, with every chunk whole and its CRC right, is taken; otherwise the
// stream and chunk state are put back and false returned, and the row-by-row path decodes the
// data and meets whatever is wrong with it just as always.
bool TPNGGraphic::InflateWhole(uint64_t size, TInflated& out) {
    TStream& stream = *stream_;
    const int64_t start = stream.Position();
    const uint32_t firstLength = chunkLength_, firstType = chunkType_, firstCrc = crc_;
    auto restore = [&] {
        out.Release();
        stream.SetPosition(start);
        chunkLength_ = firstLength;
        chunkType_ = firstType;
        crc_ = firstCrc;
        return false;
    };
    // Chunks that are all there, each followed by a chunk header: their total size first.
    uint64_t packedSize = 0;
    uint8_t header[8];
    while (ChunkIs(kIDAT)) {
        if (int64_t(chunkLength_) + 4 + 8 > stream.Remaining()) return restore();
        packedSize += chunkLength_;
        stream.Seek(int64_t(chunkLength_) + 4, TSeekOrigin::soCurrent);
        if (stream.Read(header, 8) != 8) return restore();
        chunkLength_ = GetU32BE(header);
        chunkType_ = GetU32BE(header + 4);
    }
    // Deflate never grows data by more than a few bytes per block: far more compressed bytes
    // than the rows need is not memory to spend here (the rows read them piece by piece).
    if (packedSize > size + size / 8 + (uint64_t(1) << 20)) return restore();
    // A zlib header naming deflate with the full 32 KiB window, no preset dictionary: with a
    // smaller window the row-by-row inflater refuses distances that one piece would allow.
    if (packedSize < 2) return restore();
    stream.SetPosition(start);
    chunkLength_ = firstLength;
    chunkType_ = firstType;
    crc_ = firstCrc;
    // The compressed bytes wait in the bitmap's own memory when they fit there: its rows are
    // written only after inflation. Another block of fresh memory costs the system's zeroing,
    // and on a virtual machine often the host's first touch of every page, which is more than
    // putting the bytes back to zero does. They are cleared on every way out, so that no row
    // shows them.
    TInflated packed;
    uint8_t* packedData = nullptr;
    struct TClearOnExit {
        uint8_t* data = nullptr;
        size_t bytes = 0;
        ~TClearOnExit() {
            if (data != nullptr) std::memset(data, 0, bytes);
        }
    } clear;
    uint64_t used = 0;
    if (height_ > 0 && packedSize <= uint64_t(RowStride()) * height_) {
        packedData = ScanLine(0);
        clear.data = packedData;
        clear.bytes = size_t(packedSize);
    } else {
        try {
            packed.Allocate(packedSize);
        } catch (const std::bad_alloc&) {
            return restore();
        }
        packedData = packed.data;
    }
    while (ChunkIs(kIDAT)) {
        uint8_t* data = packedData + used;
        uint8_t stored[4];
        if (stream.Read(data, chunkLength_) != int64_t(chunkLength_) || stream.Read(stored, 4) != 4)
            return restore();
        if (chunkLength_ > 0) crc_ = Crc32(crc_, data, chunkLength_);
        if (crc_ != GetU32BE(stored)) return restore();
        used += chunkLength_;
        if (stream.Read(header, 8) != 8) return restore();
        chunkLength_ = GetU32BE(header);
        chunkType_ = GetU32BE(header + 4);
        crc_ = Crc32(0, header + 4, 4);
    }
    const uint8_t* p = packedData;
    if (used != packedSize || (p[0] & 0x0F) != 8 || (p[0] >> 4) != 7 || (p[1] & 0x20) != 0)
        return restore();

    try {
        out.Allocate(size);
    } catch (const std::bad_alloc&) {
        return restore();
    }
    libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
    if (inflater == nullptr) return restore();
    size_t inUsed = 0, outUsed = 0;
    const libdeflate_result result =
        libdeflate_zlib_decompress_ex(inflater, p, packedSize, out.data, size, &inUsed, &outUsed);
    libdeflate_free_decompressor(inflater);
    if (result != LIBDEFLATE_SUCCESS || inUsed != packedSize || outUsed != size) return restore();
    chunkDataRemaining_ = 0;
    return true;
}

// Fills count bytes of buffer with inflated image data, taking the IDAT chunks in turn.
// Returns false (with produced < count) when the image data ends first.
bool TPNGGraphic::FillBuffer(TLZ77Decoder& decoder, uint8_t* buffer, uint32_t count,
                             uint32_t& produced) {
    produced = 0;
    for (;;) {
        while (chunkDataRemaining_ == 0) {
            if (!ChunkIs(kIDAT)) return false;
            ReadChunkData(*stream_);
            readPosition_ = chunkBuffer_.data();
            chunkDataRemaining_ = chunkLength_;
            ReadChunkHeader(*stream_);
        }
        uint8_t* source = const_cast<uint8_t*>(readPosition_);
        uint8_t* dest = buffer + produced;
        decoder.DecodeBlock(source, dest, int32_t(chunkDataRemaining_), int32_t(count - produced));
        chunkDataRemaining_ -= uint32_t(source - readPosition_);
        readPosition_ = source;
        produced = uint32_t(dest - buffer);
        const int result = decoder.ZLibResult();
        if (result == Z_STREAM_END) {
            if (produced < count) RaiseInvalidGraphicFmt(imsg::ExtraCompressedData, kShortName);
            // Bytes after the end of the stream hold nothing of the image: libpng only warns
            // about them and every common reader shows the picture, so they are passed over.
            chunkDataRemaining_ = 0;
            return true;
        }
        // Z_BUF_ERROR only says that this call could not go on; with the chunk used up, the
        // next IDAT chunk supplies more input.
        if (result != Z_OK && !(result == Z_BUF_ERROR && chunkDataRemaining_ == 0))
            RaiseInvalidGraphicFmt(imsg::CompressionError, kShortName);
        if (produced == count) return true;
    }
}

void TPNGGraphic::DecodeImage(TLZ77Decoder& decoder) {
    ProgressInArea(psStarting, 0, false, imsg::Transfering);
    if (!colorManagerReady_) SetupColorManager();
    if (colorType_ == 3 && !hasPalette_) RaiseInvalidGraphicFmt(imsg::InvalidPalette, kShortName);
    const uint32_t depth = bitDepth_;
    const uint32_t samples = depth >= 8 ? bytesPerPixel_ / (depth / 8) : 1;

    CheckSize(width_, height_);
    const uint64_t rowBytes = ((uint64_t(width_) * depth + 7) / 8) * samples;
    if (rowBytes + 1 > uint64_t(INT32_MAX)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    if (hasPalette_) SetPalette(palette_);
    SetSize(int(width_), int(height_));
    if (transparentColor_ != clNone) {
        SetTransparentColor(transparentColor_);
        SetTransparent(true);
    }
    const int height = int(height_);
    TColorManager& cm = ColorManager();

    // The inflated size of all rows (with their filter bytes), pass by pass when interlaced.
    uint64_t inflatedSize = 0;
    if (!ImageProperties().Interlaced) {
        inflatedSize = (rowBytes + 1) * height_;
    } else {
        for (const TPass& pass : kPasses) {
            if (pass.FirstColumn >= width_ || pass.FirstRow >= height_) continue;
            const uint64_t passWidth =
                (uint64_t(width_) + pass.ColumnStep - pass.FirstColumn - 1) / pass.ColumnStep;
            const uint64_t rows = (height_ - pass.FirstRow + pass.RowStep - 1) / pass.RowStep;
            inflatedSize += (((passWidth * depth + 7) / 8) * samples + 1) * rows;
        }
    }
    const uint64_t bitmapBytes = uint64_t(RowStride()) * height_;
    TInflated whole;
    if (inflatedSize <= WholeInflateLimit() && inflatedSize <= bitmapBytes + kWholeInflateSlack)
        InflateWhole(inflatedSize, whole);
    uint64_t wholeOffset = 0;

    // Inflated in one piece, the rows are unfiltered where they are, against the row before
    // them; the zero row stands above the first row of each pass.
    std::vector<uint8_t> current(whole ? 0 : rowBytes + 1), previous(rowBytes + 1);
    const uint8_t* above = previous.data();
    // Inflates, unfilters and converts one row of n bytes (plus its filter byte) into bitmap
    // row y. Returns false when the data ended; a row with part of its data is still shown
    // (rowWritten tells).
    bool rowWritten = false;
    const bool keepAlpha = keyGiven_ || !paletteAlpha_.empty();
    if (keepAlpha) alphaPlane_.assign(size_t(width_) * height_, 255);
    auto row = [&](uint32_t n, int y, uint8_t mask, uint32_t firstColumn, uint32_t columnStep,
                   uint32_t count) {
        if (whole) {
            uint8_t* data = whole.data + wholeOffset;
            wholeOffset += uint64_t(n) + 1;
            Unfilter(data[0], data + 1, above + 1, n, bytesPerPixel_);
            if (keepAlpha) StoreRowAlpha(data + 1, count, y, firstColumn, columnStep);
            cm.ConvertScanline(data + 1, ScanLine(y), width_, mask);
            above = data;
            rowWritten = true;
            return true;
        }
        uint32_t produced = 0;
        const bool complete = FillBuffer(decoder, current.data(), n + 1, produced);
        rowWritten = complete || produced > 1;
        if (!complete) {
            dataEnded_ = true;
            if (!rowWritten) return false;
            std::memset(current.data() + produced, 0, n + 1 - produced);
        }
        Unfilter(current[0], current.data() + 1, previous.data() + 1, n, bytesPerPixel_);
        if (keepAlpha) StoreRowAlpha(current.data() + 1, count, y, firstColumn, columnStep);
        cm.ConvertScanline(current.data() + 1, ScanLine(y), width_, mask);
        std::swap(current, previous);
        return complete;
    };

    if (!ImageProperties().Interlaced) {
        for (int y = 0; y < height; ++y) {
            if (!row(uint32_t(rowBytes), y, 0xFF, 0, 1, width_)) {
                // Rows that the data did not reach show the background.
                FillBackground(rowWritten ? y + 1 : y, height);
                break;
            }
            ProgressInArea(psRunning, RoundedPercent(uint64_t(y), height_), true, {});
            progressArea_.Top += 1;
            progressArea_.Bottom += 1;
        }
    } else {
        FillBackground(0, height);
        for (const TPass& pass : kPasses) {
            if (pass.FirstColumn >= width_ || dataEnded_) continue;
            const uint64_t passWidth =
                (uint64_t(width_) + pass.ColumnStep - pass.FirstColumn - 1) / pass.ColumnStep;
            const uint32_t passBytes = uint32_t(((passWidth * depth + 7) / 8) * samples);
            if (whole)
                above = previous.data();
            else
                std::fill(previous.begin(), previous.begin() + passBytes + 1, uint8_t(0));
            for (uint32_t y = pass.FirstRow; y < height_; y += pass.RowStep) {
                if (!row(passBytes, int(y), pass.Mask, pass.FirstColumn, pass.ColumnStep,
                         uint32_t(passWidth)))
                    break;
                if (pass.Mask == 0xFF) {
                    progressArea_ = TRect{0, int32_t(y), int32_t(width_), int32_t(y) + 1};
                    ProgressInArea(psRunning, RoundedPercent(uint64_t(y) + 2, height_), true, {});
                }
            }
        }
    }

    // Image data left over after the last row is read (and checked) and not used.
    while (ChunkIs(kIDAT)) {
        ReadChunkData(*stream_);
        ReadChunkHeader(*stream_);
    }
    imageDone_ = true;
}

void TPNGGraphic::StoreRowAlpha(const uint8_t* samples, uint32_t count, int y, uint32_t firstColumn,
                                uint32_t columnStep) {
    const uint32_t depth = bitDepth_;
    // Sample i of the row as stored (1, 2, 4, 8 or 16 bits, big-endian).
    auto sample = [&](size_t i) -> uint32_t {
        if (depth == 16) return GetU16BE(samples + 2 * i);
        if (depth == 8) return samples[i];
        const size_t bit = i * depth;
        return (samples[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
    };
    uint8_t* alpha = alphaPlane_.data() + size_t(y) * width_;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t x = firstColumn + i * columnStep;
        if (x >= width_) break;
        uint8_t a = 255;
        if (colorType_ == 3) {
            const uint32_t index = sample(i);
            if (index < paletteAlpha_.size()) a = paletteAlpha_[index];
        } else if (colorType_ == 0) {
            if (sample(i) == key_[0]) a = 0;
        } else if (sample(3 * size_t(i)) == key_[0] && sample(3 * size_t(i) + 1) == key_[1] &&
                   sample(3 * size_t(i) + 2) == key_[2]) {
            a = 0;
        }
        alpha[x] = a;
    }
}

void TPNGGraphic::ApplyAlphaPlane() {
    TBitmap stored;
    stored.Assign(*this);
    SetTransparentColor(clNone);  // the alpha says what shows through
    SetPixelFormat(pf32bit);
    for (int y = 0; y < Height(); ++y) {
        uint8_t* target = ScanLine(y);
        ConvertScanLineToBGRA(stored, y, target);
        const uint8_t* alpha = alphaPlane_.data() + size_t(y) * width_;
        for (uint32_t x = 0; x < width_; ++x)
            target[4 * x + 3] = alpha[x];
    }
    SetTransparent(true);
}

void TPNGGraphic::EndLoad() {
    chunkBuffer_ = std::vector<uint8_t>();
    chunkDataRemaining_ = 0;
    readPosition_ = nullptr;
}

void TPNGGraphic::LoadFromStream(TStream& stream) {
    Clear();
    SetTransparent(false);
    SetTransparentColor(clDefault);
    TLoadScope scope(*this, stream);
    if (!ReadProperties(stream, 0)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    const TImageProperties& p = imageProperties_;

    stream.SetPosition(startPosition_ + 8);
    StartRowProgress(p.Width, imsg::Preparing);
    TProgressGuard progress(*this);

    hasPalette_ = false;
    palette_.clear();
    plte_.clear();
    backgroundColor_ = 0xFFFFFF;
    transparentColor_ = clNone;
    keyGiven_ = false;
    paletteAlpha_.clear();
    colorManagerReady_ = false;
    imageDone_ = false;
    dataEnded_ = false;
    chunkDataRemaining_ = 0;
    bytesPerPixel_ = 1;
    TColorManager& cm = ColorManager();
    ReadChunkHeader(stream);
    cm.SetSourceFlags(TConversionOptions(convSwapBytes));
    // Gamma applies only to images that give one: a gamma of an earlier load is dropped.
    cm.SetTargetFlags(cm.TargetFlags() - TConversionOptions(convApplyGamma));
    ReadChunkData(stream);
    const uint8_t* h = chunkBuffer_.data();
    width_ = GetU32BE(h);
    height_ = GetU32BE(h + 4);
    bitDepth_ = h[8];
    colorType_ = h[9];

    if (p.Compression != compLZ77)
        RaiseInvalidGraphicFmt(imsg::UnsupportedFeature, imsg::CompressionScheme, kShortName);

    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    try {
        decoder.BeginDecoding();
        ReadChunkHeader(stream);
        for (;;) {
            if (ChunkIs(kIDAT) && !imageDone_) {
                EndProgress();
                DecodeImage(decoder);
                // The chunk after the image data is announced: it goes to the common tail.
            } else if (ChunkIs(kPLTE) && !imageDone_) {
                if (chunkLength_ % 3 != 0) RaiseInvalidGraphicFmt(imsg::InvalidPalette, kShortName);
                ReadChunkData(stream);
                const std::span<const uint8_t> data(chunkBuffer_.data(), chunkLength_);
                const int count = int(std::min<uint32_t>(chunkLength_ / 3, 256));
                if (colorType_ == 3) {
                    SetupColorManager();
                    palette_ = cm.PaletteFromColorMap(data, cmf8BitTriplets, false, count);
                    hasPalette_ = true;
                }
                plte_.assign(size_t(count), TRGBQuad{});
                for (int i = 0; i < count; ++i)
                    plte_[size_t(i)] = TRGBQuad{data[3 * i + 2], data[3 * i + 1], data[3 * i], 0};
                ReadChunkHeader(stream);
                continue;
            } else if (ChunkIs(kgAMA) && chunkLength_ >= 4 && !imageDone_) {
                ReadChunkData(stream);
                gamma_ = float(GetU32BE(chunkBuffer_.data())) / 100000.0f;
                // The table maps 8-bit component values whatever the image's sample depth.
                const uint8_t sourceBits = cm.SourceSampleBits();
                const uint8_t targetBits = cm.TargetSampleBits();
                cm.SetSourceSampleBits(8);
                cm.SetTargetSampleBits(8);
                cm.BuildGammaTable(gamma_, 2.2f);
                cm.SetSourceSampleBits(sourceBits);
                cm.SetTargetSampleBits(targetBits);
                if (IccProfile().empty() || !ColorManagementEnabled())
                    cm.SetTargetFlags(cm.TargetFlags() | TConversionOptions(convApplyGamma));
                imageProperties_.Options |= optGammaGiven;
                ReadChunkHeader(stream);
                continue;
            } else if (ChunkIs(kbKGD) && !imageDone_) {
                ReadChunkData(stream);
                ReadBackground();
                ReadChunkHeader(stream);
                continue;
            } else if (ChunkIs(ktRNS) && !imageDone_) {
                ReadChunkData(stream);
                ReadTransparency();
                ReadChunkHeader(stream);
                continue;
            } else if (ChunkIs(kiCCP) && !imageDone_ && IccProfile().empty()) {
                ReadChunkData(stream);
                SetIccProfile(IccProfileFromPngChunk(chunkBuffer_.data(), chunkLength_));
                // A profile describes the samples fully; a gAMA beside it is only for readers
                // without colour management.
                if (!IccProfile().empty() && ColorManagementEnabled())
                    cm.SetTargetFlags(cm.TargetFlags() - TConversionOptions(convApplyGamma));
                ReadChunkHeader(stream);
                continue;
            }
            // Common tail: every other chunk, and every chunk after the image data (a palette
            // there must not reset the finished bitmap).
            SkipChunk(stream);
            if (ChunkIs(kIEND)) break;
            if ((chunkType_ & 0x20000000) == 0) RaiseInvalidGraphic(imsg::UnknownCriticalChunk);
            ReadChunkHeader(stream);
        }
        // A file without image data holds no picture.
        if (!imageDone_) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
        decoder.EndDecoding();
    } catch (...) {
        // The decoder frees zlib's state itself; the guard reports the end.
        EndLoad();
        alphaPlane_ = std::vector<uint8_t>();
        throw;
    }
    EndLoad();
    // tRNS reaches the screen as alpha, as a GIF's transparent index does.
    if (!alphaPlane_.empty()) ApplyAlphaPlane();
    alphaPlane_ = std::vector<uint8_t>();
    progress.End();
    Changed();
}
