// RLA loader. Scanline records are found through the offset table, so every offset is checked
// against the file before it is used. A channel of more than 8 bits holds two bytes a sample:
// its record decodes to the high bytes of the whole scanline followed by the low bytes, which
// are put together into big-endian samples for the colour manager.
#include "imaging/formats/RLAGraphic.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"

namespace {

constexpr int kHeaderSize = 740;
constexpr uint16_t kRevision = 0xFFFE;
constexpr const char* kShortName = "RLA";

// Header offsets.
constexpr int kActiveWindow = 8;  // left, right, bottom, top
constexpr int kChannelCount = 20;
constexpr int kMatteCount = 22;
constexpr int kRevisionField = 26;
constexpr int kGamma = 28;
constexpr int kGammaSize = 16;
constexpr int kChannelKind = 580;
constexpr int kChannelKindSize = 32;
constexpr int kBitsPerChannel = 658;

int16_t GetS16BE(const uint8_t* p) {
    return static_cast<int16_t>(GetU16BE(p));
}

// A text field: its bytes up to the first zero.
std::string Text(const uint8_t* p, size_t size) {
    const auto* c = reinterpret_cast<const char*>(p);
    return std::string(c, strnlen(c, size));
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(uint8_t(c)));
    return s;
}

// "rgb" or "xyz" (in any letter case), else empty.
std::string ChannelKind(const uint8_t* header) {
    const std::string kind = Lower(Text(header + kChannelKind, kChannelKindSize));
    return kind == "rgb" || kind == "xyz" ? kind : std::string();
}

// The gamma text as a number: surrounding blanks are allowed; anything else that is not a
// finite decimal number leaves the default.
float ParseGamma(const uint8_t* p, float fallback) {
    std::string text = Text(p, kGammaSize);
    const auto blank = [](char c) { return std::isspace(uint8_t(c)) != 0; };
    while (!text.empty() && blank(text.back()))
        text.pop_back();
    size_t first = 0;
    while (first < text.size() && blank(text[first]))
        ++first;
    const char* begin = text.data() + first;
    const char* end = text.data() + text.size();
    if (begin < end && *begin == '+') ++begin;
    float value = 0;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (begin == end || result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return fallback;
    return value;
}

}  // namespace

bool TRLAGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> header = stream.PeekBytes(kHeaderSize, kHeaderSize + 1);
    return !header.empty() && GetU16BE(header.data() + kRevisionField) == kRevision &&
           !ChannelKind(header.data()).empty();
}

bool TRLAGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    const std::string kind = ChannelKind(h);
    if (kind.empty()) return false;

    TImageProperties& p = imageProperties_;
    const int16_t matte = GetS16BE(h + kMatteCount);
    p.Options = optBigEndian;
    p.SamplesPerPixel = uint8_t(GetU16BE(h + kChannelCount) + (matte == 1 ? 1 : 0));
    p.BitsPerSample = uint8_t(GetU16BE(h + kBitsPerChannel));
    p.BitsPerPixel = uint8_t(p.BitsPerSample * p.SamplesPerPixel);
    if (kind == "rgb") p.ColorScheme = matte > 0 ? schemeRGBA : schemeRGB;
    p.Gamma = ParseGamma(h + kGamma, p.Gamma);
    p.Compression = compRLE;
    const int left = GetS16BE(h + kActiveWindow), right = GetS16BE(h + kActiveWindow + 2);
    const int bottom = GetS16BE(h + kActiveWindow + 4), top = GetS16BE(h + kActiveWindow + 6);
    p.Width = uint32_t(std::max(right - left + 1, 0));
    p.Height = uint32_t(std::abs(bottom - top) + 1);
    p.RLABottomUp = bottom < top;
    // A window without columns is no picture.
    return p.Width != 0;
}

void TRLAGraphic::LoadFromStream(TStream& stream) {
    // A file of another channel kind holds nothing this loader can show.
    TLoadScope scope(*this, stream, kShortName);
    const TImageProperties& p = imageProperties_;
    StartRowProgress(p.Width, imsg::Transfering);
    TProgressGuard progress(*this);
    CheckSize(p.Width, p.Height);

    TColorManager& cm = ColorManager();
    const bool alpha = p.ColorScheme == schemeRGBA;
    // The colour routines take three samples a pixel, four with alpha.
    if ((p.ColorScheme == schemeRGB && p.SamplesPerPixel != 3) || (alpha && p.SamplesPerPixel != 4))
        throw EColorConversionError(imsg::InvalidPixelDepth);
    cm.SetSourceFlags(TConversionOptions(convSwapBytes));
    cm.SetSourceSampleCount(p.SamplesPerPixel);
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(p.BitsPerSample <= 8 ? p.BitsPerSample : 8);
    cm.SetSourceScheme(p.ColorScheme);
    cm.SetTargetScheme(alpha ? schemeBGRA : schemeBGR);
    if (p.Gamma != 1.0f) {
        cm.BuildGammaTable(2.2f, p.Gamma);
        cm.SetTargetFlags(cm.TargetFlags() | TConversionOptions(convApplyGamma));
        imageProperties_.Options |= optGammaGiven;
    } else {
        cm.SetTargetFlags(cm.TargetFlags() - TConversionOptions(convApplyGamma));
    }
    // The offset table is read first: a file too short for it fails before the bitmap is made.
    const std::vector<uint32_t> offsets = stream.ReadU32Table(p.Height, true);
    SetPixelFormat(cm.BitmapPixelFormat(1));
    SetSize(int(p.Width), int(p.Height));
    if (cm.TargetRowBytes(p.Width) > uint64_t(RowStride()))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);

    const int64_t available = stream.Size() - startPosition_;
    const uint32_t width = p.Width;
    const size_t sampleBytes = (p.BitsPerSample + 7u) / 8u;
    const size_t planeSize = size_t(width) * sampleBytes;
    const int channels = alpha ? 4 : 3;
    std::vector<uint8_t> planes[4];
    for (auto& plane : planes)
        plane.assign(planeSize, 0);
    std::vector<uint8_t> decoded(sampleBytes > 1 ? planeSize : 0);
    std::vector<uint8_t> packed;
    TRLADecoder decoder;

    for (uint32_t i = 0; i < p.Height; ++i) {
        // A record must at least hold its length inside the file.
        if (int64_t(offsets[i]) + 2 > available) throw EReadError();
        stream.SetPosition(startPosition_ + offsets[i]);
        for (int c = 0; c < channels; ++c) {
            const uint16_t length = stream.ReadU16BE();
            packed.resize(length);
            stream.ReadBuffer(packed.data(), length);
            uint8_t* source = packed.data();
            // A record that ends early leaves the rest of its scanline black.
            uint8_t* target = sampleBytes > 1 ? decoded.data() : planes[c].data();
            std::memset(target, 0, planeSize);
            decoder.DecodeBlock(source, target, int32_t(length), int32_t(planeSize));
            if (sampleBytes > 1) {
                uint8_t* plane = planes[c].data();
                for (uint32_t x = 0; x < width; ++x) {
                    plane[2 * size_t(x)] = decoded[x];
                    plane[2 * size_t(x) + 1] = decoded[width + size_t(x)];
                }
            }
        }
        const void* source[4] = {planes[0].data(), planes[1].data(), planes[2].data(),
                                 planes[3].data()};
        const int row = p.RLABottomUp ? int(p.Height - 1 - i) : int(i);
        cm.ConvertScanline(std::span<const void* const>(source, size_t(channels)), ScanLine(row),
                           width);
        RowProgress(i, p.Height);
    }
    progress.End();
    Changed();
}
