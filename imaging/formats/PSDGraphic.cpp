// Photoshop loader. The merged image follows four sections (header, colour mode data, image
// resources, layer and mask information) and stores its channels one after the other, each as
// a plane of rows, raw or PackBits-compressed row by row with a table of the packed row sizes
// in front. Every row of the bitmap is built from the same row of each channel it needs.
#include "imaging/formats/PSDGraphic.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <span>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"

namespace {

constexpr int64_t kHeaderSize = 26;
// Photoshop documents hold at most 56 channels.
constexpr uint32_t kMaxChannels = 56;
// The name of the format in messages.
constexpr const char* kShortName = "PSD";

// Colour modes of the header.
enum : uint16_t {
    modeBitmap = 0,
    modeGray = 1,
    modeIndexed = 2,
    modeRGB = 3,
    modeCMYK = 4,
    modeMultichannel = 7,
    modeDuotone = 8,
    modeLab = 9
};

[[noreturn]] void InvalidColorFormat() {
    RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kShortName);
}

}  // namespace

bool TPSDGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(6, kHeaderSize + 1);
    if (head.empty() || GetU16BE(head.data() + 4) != 1) return false;
    for (int i = 0; i < 4; ++i)
        if (std::toupper(head[i]) != "8BPS"[i]) return false;
    return true;
}

void TPSDGraphic::SkipSection(TStream& stream) {
    const uint32_t length = stream.ReadU32BE();
    // A section that claims more than the file holds cannot be skipped to a valid position.
    if (int64_t(length) > stream.Remaining()) throw EReadError();
    stream.Seek(length, TSeekOrigin::soCurrent);
}

namespace {
// The data of resource 1039 (the ICC profile) among the image resources, or empty. Each
// resource: "8BIM", id (u16), a name as a length byte and text padded to an even size, the
// data size (u32) and the data padded to an even size.
std::vector<uint8_t> PsdIccProfile(const std::vector<uint8_t>& section) {
    size_t at = 0;
    const size_t n = section.size();
    while (n - at >= 12 && std::memcmp(&section[at], "8BIM", 4) == 0) {
        const uint16_t id = GetU16BE(&section[at + 4]);
        const size_t nameSize = (size_t(section[at + 6]) + 2) & ~size_t(1);
        if (nameSize + 4 > n - at - 6) break;
        at += 6 + nameSize;
        const uint32_t size = GetU32BE(&section[at]);
        at += 4;
        if (size > n - at) break;
        if (id == 1039) {
            if (size > kMaxIccProfileBytes) break;
            return {section.begin() + int64_t(at), section.begin() + int64_t(at + size)};
        }
        at += std::min<size_t>(n - at, (size_t(size) + 1) & ~size_t(1));
    }
    return {};
}
}  // namespace

void TPSDGraphic::ReadImageResources(TStream& stream) {
    const uint32_t length = stream.ReadU32BE();
    if (int64_t(length) > stream.Remaining()) throw EReadError();
    // The resources are read only for the profile, and only while they are of a sane size.
    if (length > kMaxIccProfileBytes * 2) {
        stream.Seek(length, TSeekOrigin::soCurrent);
        return;
    }
    SetIccProfile(PsdIccProfile(stream.ReadBytes(length)));
}

bool TPSDGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    if (std::memcmp(h, "8BPS", 4) != 0) return false;
    const uint32_t channels = GetU16BE(h + 12);
    const uint32_t bits = GetU16BE(h + 22);
    if (channels == 0 || channels > kMaxChannels) return false;
    if (bits != 1 && bits != 8 && bits != 16) return false;

    TImageProperties& p = imageProperties_;
    p.Options = optBigEndian;
    p.BitsPerSample = uint8_t(bits);
    p.PSDChannels = uint8_t(channels);
    p.SamplesPerPixel = uint8_t(std::min<uint32_t>(channels, 4));
    p.BitsPerPixel = uint8_t(p.BitsPerSample * p.SamplesPerPixel);
    p.Height = GetU32BE(h + 14);
    p.Width = GetU32BE(h + 18);
    switch (GetU16BE(h + 24)) {
        case modeBitmap:
            p.ColorScheme = schemeGray;
            p.Options |= optMinIsWhite;
            break;
        case modeGray:
        case modeDuotone:
            p.ColorScheme = schemeGray;
            break;
        case modeIndexed:
            p.ColorScheme = schemeIndexed;
            break;
        case modeRGB:
        case modeMultichannel:
            p.ColorScheme = channels == 3 ? schemeRGB : schemeRGBA;
            break;
        case modeCMYK:
            p.ColorScheme = schemeCMYK;
            break;
        case modeLab:
            p.ColorScheme = schemeCIELab;
            break;
        default:
            p.ColorScheme = schemeUnknown;
            break;
    }
    for (int section = 0; section < 3; ++section)
        SkipSection(stream);
    p.Compression = stream.ReadU16BE() == 1 ? compPackBits : compNone;
    // A picture without pixels is no picture.
    return p.Width != 0 && p.Height != 0;
}

void TPSDGraphic::SetupColorManager() {
    const TImageProperties& p = imageProperties_;
    TColorManager& cm = ColorManager();
    const uint8_t bits = p.BitsPerSample;
    TConversionOptions sourceFlags(convSwapBytes);
    TColorSchemeKind target = p.ColorScheme;
    // Grey and indexed bitmaps show the first channel; further channels (alpha, spot colours)
    // are not part of their pixels.
    uint8_t sourceCount = 1, targetCount = 1;
    switch (p.ColorScheme) {
        case schemeGray:
        case schemeIndexed:
            break;
        case schemeRGB:
            target = schemeBGR;
            sourceCount = targetCount = 3;
            break;
        case schemeRGBA:
            target = schemeBGRA;
            sourceCount = targetCount = 4;
            break;
        case schemeCMYK:
            target = schemeBGR;
            sourceCount = 4;
            targetCount = 3;
            break;
        case schemeCIELab:
            target = schemeBGR;
            sourceCount = targetCount = 3;
            sourceFlags += convLabByteLightness | convLabOffsetChroma;
            break;
        default:
            InvalidColorFormat();
    }
    if (target != p.ColorScheme) {
        // The colour routines need whole bytes per sample and a plane for every sample.
        if (bits != 8 && bits != 16) InvalidColorFormat();
        if (p.PSDChannels < sourceCount) InvalidColorFormat();
    }
    cm.SetSourceFlags(sourceFlags);
    cm.SetTargetFlags(TConversionOptions());
    cm.SetSourceScheme(p.ColorScheme);
    cm.SetTargetScheme(target);
    cm.SetSourceSampleBits(bits);
    cm.SetTargetSampleBits(bits == 16 ? 8 : bits);
    cm.SetSourceSampleCount(sourceCount);
    cm.SetTargetSampleCount(targetCount);
    SetPixelFormat(cm.BitmapPixelFormat(1));
}

void TPSDGraphic::ReadColorModeData() {
    const TImageProperties& p = imageProperties_;
    TColorManager& cm = ColorManager();
    const uint32_t length = stream_->ReadU32BE();
    if (int64_t(length) > stream_->Remaining()) throw EReadError();
    const int64_t start = stream_->Position();
    if (p.ColorScheme == schemeIndexed) {
        // Three planes of length / 3 bytes: all reds, all greens, all blues. A palette holds
        // at most 256 colours; longer planes are cut.
        const uint32_t planeSize = length / 3;
        const uint32_t count = std::min<uint32_t>(planeSize, 256);
        if (count == 0) RaiseInvalidGraphicFmt(imsg::InvalidPalette, kShortName);
        std::vector<uint8_t> planes(3 * size_t(count));
        for (uint32_t plane = 0; plane < 3; ++plane) {
            stream_->SetPosition(start + int64_t(plane) * planeSize);
            stream_->ReadBuffer(planes.data() + plane * count, count);
        }
        // The entries are 8-bit colours whatever the depth of the indices.
        const uint8_t sourceBits = cm.SourceSampleBits();
        if (sourceBits > 8) cm.SetSourceSampleBits(8);
        TPaletteEntries palette = cm.PaletteFromColorMap(planes, cmf8BitPlanes, false, int(count));
        cm.SetSourceSampleBits(sourceBits);
        SetPalette(std::move(palette));
    } else if (p.ColorScheme == schemeGray) {
        SetPalette(cm.GrayRampPalette((p.Options & optMinIsWhite) != 0));
    }
    stream_->SetPosition(start + length);
}

void TPSDGraphic::LoadSingleChannel(const std::vector<uint16_t>& byteCounts) {
    const TImageProperties& p = imageProperties_;
    TColorManager& cm = ColorManager();
    const uint32_t width = p.Width, height = p.Height;
    const uint64_t rowBytes = (uint64_t(width) * p.BitsPerSample + 7) / 8;
    if (rowBytes > uint64_t(INT32_MAX)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    std::vector<uint8_t> row(rowBytes);

    StartRowProgress(width, imsg::Transfering);
    if (p.Compression == compPackBits) {
        // The first channel's rows come first in the data.
        uint64_t packedSize = 0;
        for (uint32_t y = 0; y < height; ++y)
            packedSize += byteCounts[y];
        const std::vector<uint8_t> packed = stream_->ReadBytes(int64_t(packedSize));
        TPackbitsRLEDecoder decoder;
        uint8_t* source = const_cast<uint8_t*>(packed.data());
        for (uint32_t y = 0; y < height; ++y) {
            std::fill(row.begin(), row.end(), uint8_t(0));
            uint8_t* dest = row.data();
            decoder.DecodeBlock(source, dest, byteCounts[y], int32_t(rowBytes));
            source += byteCounts[y];
            cm.ConvertScanline(row.data(), ScanLine(int(y)), width);
            RowProgress(y, height);
        }
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            stream_->ReadBuffer(row.data(), int64_t(rowBytes));
            cm.ConvertScanline(row.data(), ScanLine(int(y)), width);
            RowProgress(y, height);
        }
    }
}

void TPSDGraphic::LoadColorChannels(const std::vector<uint16_t>& byteCounts, unsigned planes) {
    const TImageProperties& p = imageProperties_;
    TColorManager& cm = ColorManager();
    const uint32_t width = p.Width, height = p.Height;
    const uint64_t rowBytes = uint64_t(width) * (p.BitsPerSample / 8);
    const uint64_t planeSize = rowBytes * height;
    if (rowBytes > uint64_t(INT32_MAX)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    // CMYK is stored with 0 for full ink; the colour routine wants the ink amount.
    const bool invert = p.ColorScheme == schemeCMYK;
    std::array<const void*, 4> rows{};
    const std::span<const void* const> source(rows.data(), planes);

    ProgressInArea(psStarting, 0, false, imsg::LoadingData);
    if (p.Compression == compPackBits) {
        // Only the channels that make up the pixels are read; further ones (spot colours,
        // masks) follow them in the data.
        const size_t entries = size_t(planes) * height;
        std::vector<uint64_t> offsets(entries + 1, 0);
        for (size_t i = 0; i < entries; ++i)
            offsets[i + 1] = offsets[i] + byteCounts[i];
        const std::vector<uint8_t> packed = stream_->ReadBytes(int64_t(offsets[entries]));
        std::vector<uint8_t> buffer(planes * rowBytes);
        for (unsigned c = 0; c < planes; ++c)
            rows[c] = buffer.data() + c * rowBytes;
        TPackbitsRLEDecoder decoder;
        StartRowProgress(width, imsg::Transfering);
        for (uint32_t y = 0; y < height; ++y) {
            std::fill(buffer.begin(), buffer.end(), uint8_t(0));
            for (unsigned c = 0; c < planes; ++c) {
                const size_t entry = size_t(c) * height + y;
                uint8_t* from = const_cast<uint8_t*>(packed.data()) + offsets[entry];
                uint8_t* dest = buffer.data() + c * rowBytes;
                decoder.DecodeBlock(from, dest, byteCounts[entry], int32_t(rowBytes));
            }
            if (invert)
                for (uint8_t& b : buffer)
                    b = uint8_t(~b);
            cm.ConvertScanline(source, ScanLine(int(y)), width);
            RowProgress(y, height);
        }
    } else {
        // The planes follow one another; they are read a band of rows at a time, so that only
        // the band is held beside the bitmap.
        if (planeSize * planes > uint64_t(stream_->Remaining())) throw EReadError();
        const int64_t dataStart = stream_->Position();
        const uint32_t bandRows =
            uint32_t(std::clamp<uint64_t>((1u << 20) / (rowBytes * planes), 1, height));
        std::vector<uint8_t> band(planes * rowBytes * bandRows);
        StartRowProgress(width, imsg::Transfering);
        for (uint32_t top = 0; top < height; top += bandRows) {
            const uint32_t rowsHere = std::min(bandRows, height - top);
            const uint64_t bandBytes = uint64_t(rowsHere) * rowBytes;
            for (unsigned c = 0; c < planes; ++c) {
                uint8_t* to = band.data() + c * rowBytes * bandRows;
                stream_->SetPosition(dataStart + int64_t(c * planeSize + top * rowBytes));
                stream_->ReadBuffer(to, int64_t(bandBytes));
                if (invert)
                    for (uint64_t i = 0; i < bandBytes; ++i)
                        to[i] = uint8_t(~to[i]);
            }
            for (uint32_t y = top; y < top + rowsHere; ++y) {
                for (unsigned c = 0; c < planes; ++c)
                    rows[c] = band.data() + (c * bandRows + (y - top)) * rowBytes;
                cm.ConvertScanline(source, ScanLine(int(y)), width);
                RowProgress(y, height);
            }
        }
        stream_->SetPosition(dataStart + int64_t(planeSize * planes));
    }
}

void TPSDGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kShortName);
    const TImageProperties& p = imageProperties_;

    stream.SetPosition(startPosition_);
    StartRowProgress(p.Width, imsg::Preparing);
    TProgressGuard progress(*this);
    stream.Seek(kHeaderSize, TSeekOrigin::soCurrent);

    SetupColorManager();
    CheckSize(p.Width, p.Height);
    ReadColorModeData();
    ReadImageResources(stream);
    UseInkProfile();
    SkipSection(stream);  // layer and mask information
    stream.ReadU16BE();   // compression, known from ReadProperties

    std::vector<uint16_t> byteCounts;
    if (p.Compression == compPackBits)
        byteCounts = stream.ReadU16Table(int64_t(p.PSDChannels) * p.Height, true);

    SetSize(int(p.Width), int(p.Height));
    TColorManager& cm = ColorManager();
    if (cm.TargetRowBytes(p.Width) > uint64_t(RowStride()))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    if (p.ColorScheme == schemeGray || p.ColorScheme == schemeIndexed)
        LoadSingleChannel(byteCounts);
    else
        LoadColorChannels(byteCounts, cm.SourceSampleCount() == 4 ? 4 : 3);
    progress.End();
    Changed();
}
