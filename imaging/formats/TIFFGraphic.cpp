// TIFF loader: the header, the tags of a directory, and the pixels of its strips or tiles
// (the directory itself is read in TIFFDirectory.cpp). Every offset, count and size taken from the
// file is checked against the stream before it is used; sizes are computed in 64 bits.
#include "imaging/formats/TIFFGraphic.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"
#include "imaging/decoders/TIFFJPEGDecoder.h"
#include "imaging/formats/TIFFDirectory.h"

namespace {

constexpr const char* kTIFF = "TIF/TIFF";

// Tags read by the loader.
enum : uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagFillOrder = 266,
    tagStripOffsets = 273,
    tagOrientation = 274,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagXResolution = 282,
    tagYResolution = 283,
    tagPlanarConfiguration = 284,
    tagT4Options = 292,
    tagResolutionUnit = 296,
    tagPredictor = 317,
    tagColorMap = 320,
    tagTileWidth = 322,
    tagTileLength = 323,
    tagTileOffsets = 324,
    tagTileByteCounts = 325,
    tagExtraSamples = 338,
    tagSampleFormat = 339,
    tagSMinSampleValue = 340,
    tagSMaxSampleValue = 341,
    tagJPEGTables = 347,
    tagJPEGInterchangeFormat = 513,
    tagJPEGInterchangeFormatLength = 514,
    tagYCbCrCoefficients = 529,
    tagYCbCrSubsampling = 530,
    tagYCbCrPositioning = 531
};

// The longest chain of directories walked to reach an image.
constexpr uint32_t kMaxChain = 65536;

TCompressionKind CompressionKind(uint32_t value) {
    switch (value) {
        case 1:
            return compNone;
        case 2:
            return compCCITTModifiedHuffman;
        case 3:
            return compCCITTFax3;
        case 4:
            return compCCITTFax4;
        case 5:
            return compLZW;
        case 6:
            return compOldJPEG;
        case 7:
            return compJPEG;
        case 8:
        case 32946:
            return compLZ77;
        case 32766:
            return compNeXT;
        case 32771:
            return compCCITTModifiedHuffmanWord;
        case 32773:
            return compPackBits;
        case 32809:
            return compThunderscan;
        case 32895:
            return compIT8CTPad;
        case 32896:
            return compIT8LW;
        case 32897:
            return compIT8MP;
        case 32898:
            return compIT8BL;
        case 32908:
            return compPixarFilm;
        case 32909:
            return compPixarLog;
        case 32947:
            return compKodakDCS;
        case 34661:
            return compJBIG;
        default:
            return compUnknown;
    }
}

// Keeps the first keep samples of every pixel of spp samples of bits bits each, in place.
void CompactSamples(uint8_t* row, uint32_t width, uint32_t spp, uint32_t keep, uint32_t bits) {
    if ((bits & 7) == 0) {
        const size_t bytes = bits / 8;
        const size_t in = spp * bytes, out = keep * bytes;
        for (uint32_t x = 1; x < width; ++x)
            std::memmove(row + x * out, row + x * in, out);
        return;
    }
    // Sub-byte samples: bit by bit (rare layouts only).
    for (uint64_t x = 0; x < width; ++x) {
        for (uint32_t s = 0; s < keep; ++s) {
            const uint64_t from = (x * spp + s) * bits, to = (x * keep + s) * bits;
            for (uint32_t b = 0; b < bits; ++b) {
                const uint64_t f = from + b, t = to + b;
                const bool set = (row[f >> 3] >> (7 - (f & 7))) & 1;
                const uint8_t m = uint8_t(0x80 >> (t & 7));
                row[t >> 3] = set ? uint8_t(row[t >> 3] | m) : uint8_t(row[t >> 3] & ~m);
            }
        }
    }
}

// Undoes horizontal differencing of a row of width pixels with spp samples of 8 or 16 bits.
// 16-bit samples are added in the file's byte order.
// Undoes the floating-point predictor (3) on a row of width pixels of spp 32-bit samples: the
// row holds the samples' bytes grouped by significance (most significant first) and
// differenced byte by byte with a stride of spp; the samples are put back in the file's byte
// order. scratch holds a row.
void UndoFloatPredictor(uint8_t* row, uint32_t width, uint32_t spp, bool bigEndian,
                        std::vector<uint8_t>& scratch) {
    const size_t samples = size_t(width) * spp, bytes = samples * 4;
    for (size_t i = spp; i < bytes; ++i)
        row[i] = uint8_t(row[i] + row[i - spp]);
    scratch.assign(row, row + bytes);
    for (size_t k = 0; k < samples; ++k)
        for (size_t b = 0; b < 4; ++b)
            row[4 * k + (bigEndian ? b : 3 - b)] = scratch[b * samples + k];
}

void UndoPredictor(uint8_t* row, uint32_t width, uint32_t spp, uint32_t bits, bool bigEndian) {
    if (width < 2) return;
    if (bits == 8) {
        if (spp == 1)
            UndoDifferencing1(row, width - 1);
        else if (spp == 3)
            UndoDifferencing3(row, width - 1);
        else if (spp == 4)
            UndoDifferencing4(row, width - 1);
        else
            for (size_t i = spp; i < size_t(width) * spp; ++i)
                row[i] = uint8_t(row[i] + row[i - spp]);
    } else if (bits == 16) {
        for (size_t i = spp; i < size_t(width) * spp; ++i) {
            uint8_t* p = row + 2 * i;
            const uint8_t* q = p - 2 * size_t(spp);
            const uint16_t v = uint16_t(GetU16(p, bigEndian) + GetU16(q, bigEndian));
            if (bigEndian) {
                p[0] = uint8_t(v >> 8);
                p[1] = uint8_t(v);
            } else {
                p[0] = uint8_t(v);
                p[1] = uint8_t(v >> 8);
            }
        }
    } else if (bits == 32) {
        for (size_t i = spp; i < size_t(width) * spp; ++i) {
            uint8_t* p = row + 4 * i;
            const uint32_t v = GetU32(p, bigEndian) + GetU32(p - 4 * size_t(spp), bigEndian);
            for (int b = 0; b < 4; ++b)
                p[b] = uint8_t(v >> (bigEndian ? 24 - 8 * b : 8 * b));
        }
    }
}

// Reverses the bit order of every byte (fill order 2 data read as most significant bit first).
void ReverseBits(uint8_t* data, size_t count) {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = 0;
            for (unsigned b = 0; b < 8; ++b)
                if (i & (1u << b)) r |= 0x80u >> b;
            t[i] = uint8_t(r);
        }
        return t;
    }();
    for (size_t i = 0; i < count; ++i)
        data[i] = table[data[i]];
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TTIFFGraphic::TTIFFGraphic() = default;
TTIFFGraphic::~TTIFFGraphic() = default;

bool TTIFFGraphic::ProbeStream(TStream& stream) {
    const int64_t size = stream.Remaining();
    const std::vector<uint8_t> head = stream.PeekBytes(8, 9);
    if (head.empty() || (GetU16LE(head.data()) != 0x4949 && GetU16LE(head.data()) != 0x4D4D))
        return false;
    const bool big = head[0] == 'M';
    return GetU16(head.data() + 2, big) == 42 && int64_t(GetU32(head.data() + 4, big)) < size;
}

bool TTIFFGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    directory_.clear();
    tagStream_ = &stream;
    base_ = stream.Position();
    fileSize_ = stream.Size() - base_;
    TImageProperties& p = imageProperties_;
    uint8_t head[8];
    if (stream.Read(head, 8) != 8) return false;
    const uint16_t order = GetU16LE(head);
    if (order != 0x4949 && order != 0x4D4D) return false;
    bigEndian_ = order == 0x4D4D;
    if (bigEndian_) p.Options |= optBigEndian;
    p.Version = GetU16(head + 2, bigEndian_);
    if (p.Version != 42) return false;
    p.FirstIFDOffset = GetU32(head + 4, bigEndian_);

    // Walk the chain to the image; a directory seen twice ends it.
    int64_t offset = p.FirstIFDOffset;
    std::unordered_set<int64_t> seen;
    uint32_t steps = 0;
    while (imageIndex > 0) {
        if (offset < 8 || offset + 2 > fileSize_ || !seen.insert(offset).second ||
            ++steps > kMaxChain)
            return false;
        stream.SetPosition(base_ + offset);
        uint8_t countBytes[2];
        stream.ReadBuffer(countBytes, 2);
        const int64_t next = offset + 2 + int64_t(GetU16(countBytes, bigEndian_)) * 12;
        if (next + 4 > fileSize_) return false;
        stream.SetPosition(base_ + next);
        uint8_t nextBytes[4];
        stream.ReadBuffer(nextBytes, 4);
        offset = GetU32(nextBytes, bigEndian_);
        if (offset == 0) return false;
        --imageIndex;
    }
    if (!ReadDirectory(stream, offset)) return false;

    p.Width = ReadInteger(tagImageWidth, 0);
    p.Height = ReadInteger(tagImageLength, 0);
    if (p.Width == 0 || p.Height == 0) return false;

    const std::vector<uint32_t> bits = ReadList<uint32_t>(tagBitsPerSample);
    p.BitsPerSample = uint8_t(std::min<uint32_t>(bits.empty() ? 1 : bits[0], 255));
    p.Compression = CompressionKind(ReadInteger(tagCompression, 1));
    p.SamplesPerPixel = uint8_t(std::min<uint32_t>(ReadInteger(tagSamplesPerPixel, 1), 255));
    switch (ReadInteger(tagPhotometric, 0)) {
        case 0:
            p.ColorScheme = schemeGray;
            p.Options |= optMinIsWhite;
            break;
        case 1:
            p.ColorScheme = schemeGray;
            break;
        case 2:
            p.ColorScheme = p.SamplesPerPixel < 4 ? schemeRGB : schemeRGBA;
            break;
        case 3:
            p.ColorScheme = schemeIndexed;
            break;
        case 5:
            p.ColorScheme = schemeCMYK;
            break;
        case 6:
            p.ColorScheme = schemeYCbCr;
            break;
        case 8:
            p.ColorScheme = schemeCIELab;
            break;
        default:
            p.ColorScheme = schemeUnknown;
            break;
    }
    if (ReadInteger(tagFillOrder, 1) == 2) p.Options |= optReversedBitOrder;
    sampleFormat_ = ReadInteger(tagSampleFormat, 1);
    wideSamples_ = p.BitsPerSample == 32 && sampleFormat_ >= 1 && sampleFormat_ <= 3;
    if (wideSamples_) {
        wideMin_ = sampleFormat_ == 1 ? 0.0 : sampleFormat_ == 2 ? double(INT32_MIN) : 0.0;
        wideMax_ = sampleFormat_ == 1   ? double(UINT32_MAX)
                   : sampleFormat_ == 2 ? double(INT32_MAX)
                                        : 1.0;
        const std::vector<float> low = ReadList<float>(tagSMinSampleValue);
        const std::vector<float> high = ReadList<float>(tagSMaxSampleValue);
        if (!low.empty() && !high.empty() && std::isfinite(low[0]) && std::isfinite(high[0]) &&
            high[0] > low[0]) {
            wideMin_ = low[0];
            wideMax_ = high[0];
        }
    }
    orientation_ = ReadInteger(tagOrientation, 1);
    p.BitsPerPixel =
        uint8_t(std::min<uint32_t>(uint32_t(p.BitsPerSample) * p.SamplesPerPixel, 255));
    p.RowsPerStrip = ReadList<uint32_t>(tagRowsPerStrip);
    if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == UINT32_MAX) p.RowsPerStrip = {p.Height};
    p.XResolution = ReadFloat(tagXResolution, 0);
    p.YResolution = ReadFloat(tagYResolution, 0);
    if (ReadInteger(tagResolutionUnit, 2) == 3) {
        p.XResolution *= 2.54f;
        p.YResolution *= 2.54f;
    }
    // Without the tag the samples are interleaved (the TIFF 6.0 default).
    p.PlanarConfiguration = ReadInteger(tagPlanarConfiguration, 1);
    t4Options_ = ReadInteger(tagT4Options, 0);
    p.Predictor = ReadInteger(tagPredictor, 0);
    p.TileWidth = ReadInteger(tagTileWidth, 0);
    p.TileLength = ReadInteger(tagTileLength, 0);
    if (p.TileWidth != 0 && p.TileLength != 0) p.Options |= optTiled;
    const std::vector<uint32_t> extra = ReadList<uint32_t>(tagExtraSamples);
    p.HasAlpha = !extra.empty() &&
                 std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v <= 2; });
    // The first extra sample is the one shown as alpha; 1 means associated (premultiplied).
    associatedAlpha_ = !extra.empty() && extra[0] == 1;
    if (p.Compression == compJPEG) p.JPEGTables = ReadList<uint8_t>(tagJPEGTables);
    p.JPEGColorMode = 0;
    p.JPEGTablesMode = 3;
    yCbCrCoefficients_ = {0.299f, 0.587f, 0.114f};
    yCbCrPositioning_ = 1;
    if (p.ColorScheme == schemeYCbCr) {
        const std::vector<float> c = ReadList<float>(tagYCbCrCoefficients);
        for (size_t i = 0; i < std::min<size_t>(c.size(), 3); ++i)
            yCbCrCoefficients_[i] = c[i];
        p.YCbCrSubsampling = ReadList<uint8_t>(tagYCbCrSubsampling);
        if (p.YCbCrSubsampling.size() < 2) p.YCbCrSubsampling = {2, 2};
        p.YCbCrSubsampling.resize(2);
        yCbCrPositioning_ = ReadInteger(tagYCbCrPositioning, 1);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Loading

void TTIFFGraphic::SetupColorManager() {
    TImageProperties& p = imageProperties_;
    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(bigEndian_ ? TConversionOptions(convSwapBytes) : TConversionOptions());
    cm.SetTargetFlags(cm.TargetFlags() - TConversionOptions(convApplyGamma));
    // 32-bit samples reach the manager reduced to 8 bits.
    const uint8_t bits = wideSamples_ ? uint8_t(8) : p.BitsPerSample;
    cm.SetSourceSampleBits(bits);

    TColorSchemeKind source = p.ColorScheme;
    // The JPEG decoder hands out three-component colour as blue, green, red; separate planes
    // are single-component images that keep their order.
    const bool separate = p.PlanarConfiguration == 2 && p.SamplesPerPixel > 1;
    if ((p.Compression == compJPEG || p.Compression == compOldJPEG) && !separate &&
        (source == schemeRGB || source == schemeYCbCr))
        source = schemeBGR;
    TColorSchemeKind target;
    switch (source) {
        case schemeIndexed:
        case schemeGray:
            target = source;
            break;
        case schemeRGB:
        case schemeCMY:
        case schemeCMYK:
        case schemeCIELab:
        case schemeYCbCr:
        case schemeBGR:
            target = schemeBGR;
            break;
        case schemeRGBA:
            target = schemeBGRA;
            break;
        default:
            target = source;
            break;
    }
    const bool indexed = target == schemeIndexed || target == schemeGray;
    // Indexed and gray pixels go to a bitmap of 1, 4 or 8 bits; other depths are scaled to the
    // next one that holds them. Colour goes to 8 bits a sample.
    cm.SetTargetSampleBits(indexed ? TColorManager::BitmapSampleBits(bits) : uint8_t(8));

    // Samples of a pixel that reach the manager: extra samples that it would not read are
    // dropped from each row first (an alpha sample of gray or palette images, anything past
    // the scheme's samples).
    const uint32_t stored = SchemeSamples(source);
    const uint32_t needed = stored != 0 ? stored : 3;
    if (!indexed && p.SamplesPerPixel < needed)
        throw EColorConversionError(imsg::InvalidPixelDepth);
    sourceSamples_ = std::clamp<uint32_t>(p.SamplesPerPixel, 1, needed);
    cm.SetSourceScheme(source);
    cm.SetTargetScheme(target);
    cm.SetSourceSampleCount(uint8_t(sourceSamples_));
    cm.SetTargetSampleCount(indexed                ? 1
                            : target == schemeBGRA ? 4
                            : target == schemeBGR  ? 3
                                                   : uint8_t(sourceSamples_));
    if (source == schemeCIELab) cm.SetSourceFlags(cm.SourceFlags() | convLabByteLightness);
}

std::unique_ptr<TDecoder> TTIFFGraphic::CreateDecoder() const {
    const TImageProperties& p = imageProperties_;
    const bool swapBits = (p.Options & optReversedBitOrder) != 0;
    const uint32_t width = blockWidth_;  // decoders that count pixels work on one block row
    switch (p.Compression) {
        case compNone:
            return nullptr;
        case compPackBits:
            return std::make_unique<TPackbitsRLEDecoder>();
        case compCCITTFax3:
            return std::make_unique<TCCITTFax3Decoder>(t4Options_, swapBits, false, width);
        case compCCITTModifiedHuffman:
            return std::make_unique<TCCITTMHDecoder>(t4Options_, swapBits, false, width);
        case compCCITTModifiedHuffmanWord:
            return std::make_unique<TCCITTMHDecoder>(t4Options_, swapBits, true, width);
        case compCCITTFax4:
            return std::make_unique<TCCITTFax4Decoder>(t4Options_, swapBits, false, width);
        case compLZW:
            return std::make_unique<TTIFFLZWDecoder>();
        case compLZ77:
            return std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, true);
        case compJPEG:
        case compOldJPEG:  // read where each strip is a whole JPEG stream, as libtiff does
            return std::make_unique<TTIFFJPEGDecoder>(imageProperties_);
        case compThunderscan:
            return std::make_unique<TThunderDecoder>(width);
        default:
            RaiseInvalidGraphicFmt(imsg::UnsupportedFeature, imsg::CompressionScheme, kTIFF);
    }
}

namespace {

// Copies count bits from the start of src to bit position bit of dest, most significant bit
// first; the other bits of dest stay as they are.
void CopyBits(uint8_t* dest, uint64_t bit, const uint8_t* src, uint64_t count) {
    uint8_t* d = dest + bit / 8;
    const unsigned shift = unsigned(bit & 7);
    if (shift == 0) {
        std::memcpy(d, src, size_t(count / 8));
        if (const unsigned rest = unsigned(count & 7)) {
            const uint8_t mask = uint8_t(0xFF00u >> rest);
            d[count / 8] = uint8_t((d[count / 8] & ~mask) | (src[count / 8] & mask));
        }
        return;
    }
    for (uint64_t i = 0; i < count; i += 8, ++d) {
        const unsigned n = unsigned(std::min<uint64_t>(8, count - i));
        const unsigned mask = (0xFF00u >> n) & 0xFFu;  // the n bits taken, at the top
        const unsigned m = (mask << 8) >> shift, v = ((src[i / 8] & mask) << 8) >> shift;
        d[0] = uint8_t((d[0] & ~(m >> 8)) | (v >> 8));
        if (m & 0xFFu) d[1] = uint8_t((d[1] & ~(m & 0xFFu)) | (v & 0xFFu));
    }
}

// Spreads the YCbCr data units of a block (hSub x vSub luma samples, then one Cb and one Cr;
// unitsAcross units to a row of units) over rows x cols pixels of three samples, from pixel
// x0 of rows of line bytes.
void ExpandUnits(const uint8_t* units, uint64_t unitsAcross, uint32_t hSub, uint32_t vSub,
                 uint32_t rows, uint32_t cols, uint8_t* band, uint64_t line, uint64_t x0) {
    const uint64_t unitBytes = uint64_t(hSub) * vSub + 2;
    const uint64_t unitsDown = (uint64_t(rows) + vSub - 1) / vSub;
    const uint64_t usedAcross = (uint64_t(cols) + hSub - 1) / hSub;
    for (uint64_t uy = 0; uy < unitsDown; ++uy) {
        const uint8_t* unit = units + uy * unitsAcross * unitBytes;
        for (uint64_t ux = 0; ux < usedAcross; ++ux, unit += unitBytes) {
            const uint8_t cb = unit[hSub * vSub], cr = unit[hSub * vSub + 1];
            for (uint32_t j = 0; j < vSub && uy * vSub + j < rows; ++j) {
                uint8_t* row = band + (uy * vSub + j) * line;
                for (uint32_t i = 0; i < hSub && ux * hSub + i < cols; ++i) {
                    uint8_t* out = row + (x0 + ux * hSub + i) * 3;
                    out[0] = unit[j * hSub + i];
                    out[1] = cb;
                    out[2] = cr;
                }
            }
        }
    }
}

// A tile side longer than both this and the image side (rounded up to the multiple of 16
// that TIFF 6.0 asks for) has no sensible use and is refused.
constexpr uint64_t kLongTileSide = 4096;

// The most bytes that count packed bytes of the compression can unpack to, as whole rows of
// rowBytes bytes (when rowBytes is not 0), and never more than cap: the longest output each
// code can give times the most codes the bytes hold.
uint64_t UnpackedBound(TCompressionKind compression, uint64_t count, uint64_t rowBytes,
                       uint64_t cap) {
    uint64_t bound;
    switch (compression) {
        case compNone:
            bound = count;
            break;
        case compPackBits:  // two bytes repeat one byte up to 128 times
            bound = count * 64 + 128;
            break;
        case compLZW: {
            // Codes take at least 9 bits, and the k-th code of a strip stands for at most
            // k + 1 bytes (each code adds one entry to the table); no string is longer than
            // the table with its spare entries.
            const uint64_t codes = count * 8 / 9 + 2;
            bound = std::min(codes * (codes + 3) / 2, codes * 8192);
            break;
        }
        case compLZ77:  // a 258-byte match takes at least two bits
            bound = count * 1032 + 1032;
            break;
        case compThunderscan:  // a byte repeats a 4-bit pixel up to 63 times
            bound = count * 32 + 32;
            break;
        case compCCITTFax3:
        case compCCITTFax4:
        case compCCITTModifiedHuffman:
        case compCCITTModifiedHuffmanWord:  // a row may take a single bit
            if (rowBytes != 0 && count * 8 + 2 < cap / rowBytes + 1)
                return (count * 8 + 2) * rowBytes;
            return cap;
        case compJPEG:
        case compOldJPEG:
            // Huffman-coded blocks take at least two bits for 64 samples; the factor leaves
            // room for arithmetic coding.
            bound = count * 16384 + 65536;
            break;
        default:
            return cap;
    }
    if (bound >= cap) return cap;
    if (rowBytes != 0) bound = std::min(cap, (bound + rowBytes - 1) / rowBytes * rowBytes);
    return bound;
}

// Divides each colour of count blue, green, red, alpha pixels by its alpha (rounded), so that
// pixels stored premultiplied show as meant in a bitmap of straight alpha.
void Unpremultiply(uint8_t* row, uint32_t count) {
    for (uint32_t x = 0; x < count; ++x, row += 4) {
        const unsigned a = row[3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c)
            row[c] = a == 0 ? 0 : uint8_t(std::min(255u, (row[c] * 255u + a / 2) / a));
    }
}

// The same for 16-bit samples in the file's byte order, before they are reduced to 8 bits:
// sample c of pixel x at sample[c] + x * step.
void Unpremultiply16(uint8_t* const* sample, size_t step, uint32_t count, bool bigEndian) {
    for (size_t x = 0, at = 0; x < count; ++x, at += step) {
        const uint32_t a = GetU16(sample[3] + at, bigEndian);
        if (a == 65535) continue;
        for (int c = 0; c < 3; ++c) {
            uint8_t* q = sample[c] + at;
            const uint32_t v =
                a == 0 ? 0 : std::min<uint32_t>(65535, (GetU16(q, bigEndian) * 65535u + a / 2) / a);
            q[bigEndian ? 0 : 1] = uint8_t(v >> 8);
            q[bigEndian ? 1 : 0] = uint8_t(v);
        }
    }
}

// Sample i of bits bits (9 to 16) of a row, most significant bit first; 16-bit samples in the
// file's byte order.
uint32_t WideSample(const uint8_t* row, uint64_t i, uint32_t bits, bool bigEndian) {
    if (bits == 16) return GetU16(row + 2 * i, bigEndian);
    uint32_t v = 0;
    for (uint64_t bit = i * bits, end = bit + bits; bit < end; ++bit)
        v = (v << 1) | ((row[bit >> 3] >> (7 - (bit & 7))) & 1u);
    return v;
}

}  // namespace

void TTIFFGraphic::ReadBlock(TDecoder* decoder, std::vector<uint8_t>& packed, uint64_t index,
                             std::vector<uint8_t>& buffer, uint64_t unpackedSize, uint64_t rowBytes,
                             uint32_t blockWidth) {
    const TImageProperties& p = imageProperties_;
    buffer.clear();
    if (index >= blockOffsets_.size()) return;
    const int64_t offset = blockOffsets_[index];
    if (offset >= fileSize_) return;  // nothing of the block is in the file
    const int64_t available = fileSize_ - offset;
    const bool hasCount = index < blockByteCounts_.size();
    const int64_t byteCount = hasCount ? int64_t(blockByteCounts_[index]) : 0;
    // A tile (whose byte count is always given) is read whole or not at all; an empty one
    // stays zero.
    const bool tiled = (p.Options & optTiled) != 0;
    if (tiled && (byteCount == 0 || byteCount > available)) return;
    TStream& stream = *stream_;
    stream.SetPosition(base_ + offset);
    if (decoder == nullptr) {
        // Uncompressed: what the file holds of the block, never more than the block's size.
        int64_t count = std::min<int64_t>(int64_t(unpackedSize), available);
        if (hasCount && byteCount != 0) count = std::min<int64_t>(count, byteCount);
        buffer.assign(size_t(UnpackedBound(compNone, uint64_t(count), rowBytes, unpackedSize)), 0);
        stream.ReadBuffer(buffer.data(), count);
        if (reverseBits_) ReverseBits(buffer.data(), size_t(count));
        return;
    }
    // Compressed: the block's byte count (up to the end of the file); without one, what
    // follows in the file within a generous bound of the unpacked size (fax codes may take
    // several bits a pixel, a JPEG strip carries its headers).
    int64_t count;
    if (hasCount)
        count = std::min<int64_t>(byteCount, available);
    else
        count = std::min<int64_t>(available, int64_t(unpackedSize) * 8 + 4096);
    count = std::min<int64_t>(count, INT32_MAX);
    packed.resize(size_t(count));
    stream.ReadBuffer(packed.data(), count);
    if (reverseBits_) ReverseBits(packed.data(), size_t(count));
    const uint64_t size = UnpackedBound(p.Compression, uint64_t(count), rowBytes, unpackedSize);
    buffer.assign(size_t(size), 0);
    uint8_t* source = packed.data();
    uint8_t* dest = buffer.data();
    decoder->DecodeBlock(source, dest, int32_t(count), int32_t(size));

    // Horizontal differencing starts again at the left edge of every block row.
    if (p.Predictor == 2 && !subsampled_ && rowBytes != 0) {
        const uint32_t samples = planar_ ? 1 : std::max<uint32_t>(p.SamplesPerPixel, 1);
        for (uint64_t at = 0; at + rowBytes <= size; at += rowBytes)
            UndoPredictor(buffer.data() + at, blockWidth, samples, p.BitsPerSample, bigEndian_);
    }
    if (p.Predictor == 3 && wideSamples_ && sampleFormat_ == 3 && rowBytes != 0) {
        const uint32_t samples = planar_ ? 1 : std::max<uint32_t>(p.SamplesPerPixel, 1);
        std::vector<uint8_t> scratch;
        for (uint64_t at = 0; at + rowBytes <= size; at += rowBytes)
            UndoFloatPredictor(buffer.data() + at, blockWidth, samples, bigEndian_, scratch);
    }
}

void TTIFFGraphic::CheckTiles() {
    const TImageProperties& p = imageProperties_;
    auto sensible = [](uint64_t tile, uint64_t image) {
        return tile != 0 && (tile <= kLongTileSide || tile <= (image + 15) / 16 * 16);
    };
    if (!sensible(p.TileWidth, p.Width) || !sensible(p.TileLength, p.Height) ||
        uint64_t(p.TileWidth) * p.TileLength > MaxPixels())
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kTIFF);
    // One offset and one byte count for every tile of every plane stored.
    const uint64_t across = (uint64_t(p.Width) + p.TileWidth - 1) / p.TileWidth;
    const uint64_t down = (uint64_t(p.Height) + p.TileLength - 1) / p.TileLength;
    const uint64_t planes = planar_ ? std::max<uint32_t>(p.SamplesPerPixel, 1) : 1;
    const uint64_t tiles = across * down * planes;
    if (blockOffsets_.size() != tiles || blockByteCounts_.size() != tiles)
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kTIFF);
}

void TTIFFGraphic::ReadWideColorMap() {
    const TImageProperties& p = imageProperties_;
    // Indices beyond the map show black.
    wideColorMap_.assign(size_t(3) << p.BitsPerSample, 0);
    const TIFDEntry* map = FindTag(tagColorMap);
    TValues values;
    if (map == nullptr || map->Count < 3 || (map->Type != 3 && map->Type != 8) ||
        !ReadValues(*map, values))
        return;
    const uint32_t colors = std::min<uint32_t>(map->Count / 3, 1u << p.BitsPerSample);
    // Reds, greens, blues of 16 bits each, reduced to 8 as the colour manager reduces a
    // colour map.
    for (uint32_t i = 0; i < colors; ++i)
        for (uint32_t c = 0; c < 3; ++c)
            wideColorMap_[3 * size_t(i) + 2 - c] =
                uint8_t((values.Integer(c * (map->Count / 3) + i) & 0xFFFF) / 257);
}

void TTIFFGraphic::ReadIccProfile() {
    // Tag 34675 holds the profile as bytes (type BYTE or UNDEFINED); anything else is ignored.
    const TIFDEntry* entry = FindTag(34675);
    TValues values;
    if (entry == nullptr || (entry->Type != 1 && entry->Type != 7) ||
        entry->Count > kMaxIccProfileBytes || !ReadValues(*entry, values))
        return;
    values.Bytes.resize(entry->Count);
    SetIccProfile(std::move(values.Bytes));
}

void TTIFFGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kTIFF, pageIndex_);
    TImageProperties& p = imageProperties_;
    const bool tiled = (p.Options & optTiled) != 0;
    ReadIccProfile();

    StartRowProgress(p.Width, imsg::Preparing);
    TProgressGuard progressGuard(*this);
    blockOffsets_ = ReadList<uint32_t>(tiled ? tagTileOffsets : tagStripOffsets);
    blockByteCounts_ = ReadList<uint32_t>(tiled ? tagTileByteCounts : tagStripByteCounts);
    if (blockOffsets_.empty() && p.Compression == compOldJPEG &&
        FindTag(tagJPEGInterchangeFormat)) {
        // An old-style JPEG picture without strips: the one JPEG stream is the strip.
        const uint32_t start = ReadInteger(tagJPEGInterchangeFormat, 0);
        const uint64_t rest = start < fileSize_ ? uint64_t(fileSize_) - start : 0;
        blockOffsets_ = {start};
        blockByteCounts_ = {
            uint32_t(std::min<uint64_t>(ReadInteger(tagJPEGInterchangeFormatLength,
                                                    uint32_t(std::min<uint64_t>(rest, UINT32_MAX))),
                                        rest))};
    }
    if (blockOffsets_.empty()) RaiseInvalidGraphicFmt(imsg::InvalidImage, kTIFF);

    SetupColorManager();
    UseInkProfile();
    TColorManager& cm = ColorManager();
    planar_ = p.PlanarConfiguration == 2 && p.SamplesPerPixel > 1;
    hSub_ = vSub_ = 1;
    subsampled_ = false;
    if (cm.SourceScheme() == schemeYCbCr) {
        cm.SetupYCbCrTables(std::span<const float>(yCbCrCoefficients_.data(), 3),
                            p.YCbCrSubsampling[0], p.YCbCrSubsampling[1]);
        hSub_ = cm.HorizontalSubsampling();
        vSub_ = cm.VerticalSubsampling();
        subsampled_ = hSub_ != 1 || vSub_ != 1;
        // Subsampled chroma exists for interleaved 8-bit data only.
        if (subsampled_ && (planar_ || p.BitsPerSample != 8 || p.SamplesPerPixel != 3))
            RaiseInvalidGraphicFmt(imsg::InvalidImage, kTIFF);
    }
    if (tiled) CheckTiles();
    blockWidth_ = tiled ? p.TileWidth : p.Width;
    CheckSize(p.Width, p.Height);
    wideColorMap_ = {};
    if (cm.TargetScheme() == schemeIndexed && p.BitsPerSample > 8) {
        // More colours than a palette holds: every index is looked up in the whole map. A colour
        // map of 3 x 2^bits entries exists up to 16 bits.
        if (p.BitsPerSample > 16) RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kTIFF);
        ReadWideColorMap();
        SetPixelFormat(pf24bit);
    } else {
        SetPixelFormat(cm.BitmapPixelFormat(1));
    }
    if (cm.TargetScheme() == schemeIndexed && wideColorMap_.empty()) {
        // The colour map holds 3 x 2^bits values: reds, greens, blues.
        const TIFDEntry* map = FindTag(tagColorMap);
        TValues values;
        if (map != nullptr && map->Count >= 3 && map->Count <= 3u * 65536 &&
            (map->Type == 3 || map->Type == 8) && ReadValues(*map, values)) {
            const uint32_t colors = map->Count / 3;
            std::vector<uint8_t> planes(size_t(colors) * 6);
            for (uint32_t i = 0; i < 3 * colors; ++i) {
                const uint16_t v = uint16_t(values.Integer(i));
                planes[2 * i] = uint8_t(v);
                planes[2 * i + 1] = uint8_t(v >> 8);
            }
            const TConversionOptions flags = cm.SourceFlags();
            cm.SetSourceFlags(flags - TConversionOptions(convSwapBytes));  // already host order
            SetPalette(cm.PaletteFromColorMap(planes, cmf16BitPlanes, false, int(colors)));
            cm.SetSourceFlags(flags);
        }
    } else if (cm.TargetScheme() == schemeGray) {
        SetPalette(cm.GrayRampPalette((p.Options & optMinIsWhite) != 0));
    }
    SetSize(int(p.Width), int(p.Height));
    const uint64_t targetRow = wideColorMap_.empty() ? cm.TargetRowBytes(p.Width) : 3 * p.Width;
    if (targetRow > uint64_t(RowStride())) RaiseInvalidGraphicFmt(imsg::InvalidImage, kTIFF);

    // Fill order 2 applies to the data of every compression except those whose decoders
    // reverse it themselves (fax) or that code whole bytes of their own (JPEG), as libtiff
    // reads them.
    reverseBits_ = (p.Options & optReversedBitOrder) != 0 && p.Compression != compCCITTFax3 &&
                   p.Compression != compCCITTFax4 && p.Compression != compCCITTModifiedHuffman &&
                   p.Compression != compCCITTModifiedHuffmanWord && p.Compression != compJPEG &&
                   p.Compression != compOldJPEG;
    const std::unique_ptr<TDecoder> decoder = CreateDecoder();
    // Ends the decoder also when loading fails.
    struct TDecoderEnd {
        TDecoder* decoder;
        ~TDecoderEnd() {
            if (decoder == nullptr) return;
            try {
                decoder->EndDecoding();
            } catch (...) {
            }
        }
    } decoderEnd{nullptr};
    if (decoder) {
        decoder->BeginDecoding();
        decoderEnd.decoder = decoder.get();
    }
    LoadBlocks(decoder.get());
    if (decoder) {
        decoderEnd.decoder = nullptr;
        decoder->EndDecoding();
    }
    zeroLine_ = {};
    zeroTarget_ = {};
    wideColorMap_ = {};
    progressGuard.Dismiss();
    EndProgress();
    if (AutoOrient() && orientation_ >= 2 && orientation_ <= 8)
        Orient(int(orientation_));  // reports the change
    else
        Changed();
}

void TTIFFGraphic::LoadBlocks(TDecoder* decoder) {
    TImageProperties& p = imageProperties_;
    ProgressInArea(psEnding, 0, false, {});
    StartRowProgress(p.Width, imsg::Transfering);

    const uint32_t width = p.Width, height = p.Height;
    const uint32_t spp = std::max<uint32_t>(p.SamplesPerPixel, 1);
    const bool tiled = (p.Options & optTiled) != 0;
    // Bits of a pixel inside a block: one sample of a plane, or the whole pixel.
    const uint64_t pixelBits = uint64_t(p.BitsPerSample) * (planar_ ? 1 : spp);
    // Bytes of a band row (the image's width; whole YCbCr pixels when the chroma is
    // subsampled) and of a block row.
    const uint64_t line = subsampled_ ? uint64_t(width) * 3 : (pixelBits * width + 7) / 8;
    const uint64_t blockLine = (pixelBits * blockWidth_ + 7) / 8;
    if (line > INT32_MAX || blockLine > INT32_MAX)
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kTIFF);
    p.BytesPerLine = uint32_t(blockLine);
    p.CurrentRow = 0;
    p.CurrentStrip = 0;
    p.StripCount = uint32_t(std::min<size_t>(blockOffsets_.size(), UINT32_MAX));

    // Blocks are numbered plane by plane, row of blocks by row of blocks, left to right.
    // Strips of whole pixels may each give their own row count; strips of separate planes
    // all have the first.
    auto rowsOf = [&](uint64_t strip) {
        const TCardinalArray& r = p.RowsPerStrip;
        const uint32_t rows = r[std::min<size_t>(size_t(strip), r.size() - 1)];
        return rows == 0 ? height : rows;
    };
    const uint32_t planeRows = std::min(rowsOf(0), height);
    uint64_t across = 1, down;
    if (tiled) {
        across = (uint64_t(width) + blockWidth_ - 1) / blockWidth_;
        down = (uint64_t(height) + p.TileLength - 1) / p.TileLength;
    } else if (planar_) {
        down = (uint64_t(height) + planeRows - 1) / planeRows;
    } else {
        down = blockOffsets_.size();
    }
    const uint64_t perPlane = across * down;
    const uint32_t planes = planar_ ? std::min(spp, sourceSamples_) : 1;  // planes converted
    const uint64_t unitsAcross = (uint64_t(blockWidth_) + hSub_ - 1) / hSub_;
    const uint64_t unitBytes = uint64_t(hSub_) * vSub_ + 2;
    // Bytes of a coded block row: a row of data units when the chroma is subsampled.
    const uint64_t codedLine = subsampled_ ? unitsAcross * unitBytes : blockLine;

    // Rows the file does not hold convert from a row of zeros.
    zeroLine_.assign(size_t(line), 0);
    zeroTarget_.assign(size_t(RowStride()), 0);
    zeroTargetIsZero_ = false;
    {
        const void* zero[4] = {zeroLine_.data(), zeroLine_.data(), zeroLine_.data(),
                               zeroLine_.data()};
        ConvertRow(zero, planes, UINT32_MAX);  // into zeroTarget_
        zeroTargetIsZero_ =
            std::all_of(zeroTarget_.begin(), zeroTarget_.end(), [](uint8_t v) { return v == 0; });
    }

    std::vector<std::vector<uint8_t>> band(planes);
    std::vector<uint8_t> block, packed;
    for (uint64_t b = 0; b < down && p.CurrentRow < height; ++b) {
        p.CurrentStrip = uint32_t(b);
        const uint32_t bandRows = tiled ? p.TileLength : planar_ ? planeRows : rowsOf(b);
        const uint32_t rows = std::min(bandRows, height - p.CurrentRow);
        const uint32_t blockRows = tiled ? p.TileLength : rows;
        const uint64_t blockSize = subsampled_
                                       ? (uint64_t(blockRows) + vSub_ - 1) / vSub_ * codedLine
                                       : uint64_t(blockRows) * blockLine;
        const uint64_t bandSize = uint64_t(rows) * line;
        if (blockSize > INT32_MAX || bandSize > INT32_MAX)
            RaiseInvalidGraphicFmt(imsg::InvalidImage, kTIFF);
        for (uint32_t k = 0; k < planes; ++k) {
            const uint64_t first = k * perPlane + b * across;
            if (!tiled && !subsampled_) {
                // A strip of whole rows is its own band.
                ReadBlock(decoder, packed, first, band[k], blockSize, blockLine, blockWidth_);
                continue;
            }
            // The band grows to the rows that its blocks hold.
            band[k].clear();
            for (uint64_t c = 0; c < across; ++c) {
                ReadBlock(decoder, packed, first + c, block, blockSize, codedLine, blockWidth_);
                const uint64_t codedRows = codedLine == 0 ? 0 : block.size() / codedLine;
                const uint32_t held =
                    uint32_t(std::min<uint64_t>(rows, subsampled_ ? codedRows * vSub_ : codedRows));
                if (held == 0) continue;
                if (band[k].size() < held * line) band[k].resize(size_t(held * line), 0);
                const uint64_t x = c * blockWidth_;
                const uint32_t cols = uint32_t(std::min<uint64_t>(blockWidth_, width - x));
                if (subsampled_) {
                    ExpandUnits(block.data(), unitsAcross, hSub_, vSub_, held, cols, band[k].data(),
                                line, x);
                } else {
                    for (uint32_t r = 0; r < held; ++r)
                        CopyBits(band[k].data() + size_t(r) * line, x * pixelBits,
                                 block.data() + size_t(r) * blockLine, cols * pixelBits);
                }
            }
        }
        ConvertRows(band, line, rows, tiled);
    }
}

void TTIFFGraphic::ConvertRow(const void* const* source, size_t planes, uint32_t y) {
    const TImageProperties& p = imageProperties_;
    uint8_t* target = y == UINT32_MAX ? zeroTarget_.data() : ScanLine(int(y));
    if (!wideColorMap_.empty()) {
        const auto* row = static_cast<const uint8_t*>(source[0]);
        for (uint32_t x = 0; x < p.Width; ++x)
            std::memcpy(
                target + 3 * size_t(x),
                wideColorMap_.data() + 3 * size_t(WideSample(row, x, p.BitsPerSample, bigEndian_)),
                3);
        return;
    }
    TColorManager& cm = ColorManager();
    cm.ConvertScanline(std::span<const void* const>(source, planes), target, p.Width, 0xFF);
    if (associatedAlpha_ && cm.TargetScheme() == schemeBGRA && p.BitsPerSample != 16)
        Unpremultiply(target, p.Width);
}

void TTIFFGraphic::ReduceWideSamples(uint8_t* row, size_t count) const {
    const double range = wideMax_ - wideMin_;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bits = GetU32(row + 4 * i, bigEndian_);
        double value;
        if (sampleFormat_ == 3) {
            float f;
            std::memcpy(&f, &bits, 4);
            value = f;
        } else {
            value = sampleFormat_ == 2 ? double(int32_t(bits)) : double(bits);
        }
        const double level = (value - wideMin_) * 255.0 / range;
        // Not-a-number shows as 0.
        row[i] = level >= 0.5 ? uint8_t(std::min(level + 0.5, 255.0)) : uint8_t(0);
    }
}

void TTIFFGraphic::ConvertRows(std::vector<std::vector<uint8_t>>& band, uint64_t line,
                               uint32_t rows, bool bandProgress) {
    TImageProperties& p = imageProperties_;
    const uint32_t width = p.Width, height = p.Height;
    const uint32_t spp = std::max<uint32_t>(p.SamplesPerPixel, 1);
    // Samples the manager does not read are dropped from interleaved pixels first.
    const bool compact = !planar_ && !subsampled_ && spp != sourceSamples_;
    const size_t planes = std::min<size_t>(band.size(), 4);
    const uint32_t top = p.CurrentRow;
    for (uint32_t r = 0; r < rows && p.CurrentRow < height; ++r) {
        uint8_t* row[4] = {nullptr, nullptr, nullptr, nullptr};
        bool held = false;
        for (size_t k = 0; k < planes; ++k) {
            if ((uint64_t(r) + 1) * line > band[k].size()) {
                row[k] = zeroLine_.data();
                continue;
            }
            row[k] = band[k].data() + size_t(r) * line;
            if (wideSamples_) ReduceWideSamples(row[k], size_t(width) * (planar_ ? 1 : spp));
            if (compact)
                CompactSamples(row[k], width, spp, sourceSamples_,
                               wideSamples_ ? 8u : uint32_t(p.BitsPerSample));
            held = true;
        }
        if (held && associatedAlpha_ && p.BitsPerSample == 16 &&
            ColorManager().TargetScheme() == schemeBGRA) {
            // Associated alpha is divided out at full precision.
            uint8_t* sample[4];
            for (size_t k = 0; k < 4; ++k)
                sample[k] = planar_ ? row[k] : row[0] + 2 * k;
            Unpremultiply16(sample, planar_ ? 2 : 8, width, bigEndian_);
        }
        const void* src[4] = {row[0], row[1], row[2], row[3]};
        // A row that the file does not hold is left untouched when zeros convert to zeros
        // (the bitmap is fresh), so a short file costs no memory for it.
        if (held)
            ConvertRow(src, planes, p.CurrentRow);
        else if (!zeroTargetIsZero_)
            std::memcpy(ScanLine(int(p.CurrentRow)), zeroTarget_.data(), zeroTarget_.size());
        if (!bandProgress) RowProgress(p.CurrentRow, height);
        ++p.CurrentRow;
    }
    if (bandProgress && p.CurrentRow > top) {
        // One report for the band: the share of rows above it, the band's rectangle.
        SetProgressArea(TRect{0, int32_t(top), int32_t(std::min<uint32_t>(width, INT32_MAX)),
                              int32_t(p.CurrentRow)});
        ProgressInArea(psRunning, uint8_t(uint64_t(top) * 100 / height), true, {});
    }
}
