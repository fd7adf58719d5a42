// PCX loader. Rows, each made of its planes one after the other, are unpacked (or read) one
// at a time from a window over the file and converted into the bitmap; run-length packets
// may run on from one row into the next, as when the image is unpacked as a whole.
#include "imaging/formats/PCXGraphic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"
#include "imaging/formats/PacketWindow.h"

namespace {

constexpr int kHeaderSize = 128;
constexpr int kPaletteBlockSize = 769;  // the byte 12 and 256 red-green-blue triples
constexpr const char* kFormatName = "PCX";

// The system's 16 standard colours (the first and last eight of the static colours), for
// files that carry no palette.
constexpr uint8_t kDefault16[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

bool IsManufacturer(uint8_t b) {
    return b == 10 || b == 205;
}

// Spreads the eight bits of a byte (first pixel in bit 7) over the low bits of eight
// nibbles of a big-endian 32-bit word, first pixel in the high nibble of the first byte.
const std::array<uint32_t, 256>& NibbleSpread() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t v = 0;
            for (int i = 0; i < 8; ++i)
                if (b & (0x80u >> i)) v |= 1u << (28 - 4 * i);
            t[b] = v;
        }
        return t;
    }();
    return table;
}

// How the planes of a row make its pixels.
enum class TLayout {
    Packed,       // one plane of 1, 2, 4 or 8-bit pixels, converted by the colour manager
    IndexPlanes,  // two to four 1-bit planes, plane k giving bit k of a 4-bit index
    ColorPlanes   // three or four 8-bit planes: red, green, blue (and alpha)
};

// The layout of bits per pixel per plane and planes, false for combinations PCX files do not
// use.
bool LayoutOf(uint32_t bits, uint32_t planes, TLayout& layout) {
    if (planes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8))
        layout = TLayout::Packed;
    else if (bits == 1 && planes >= 2 && planes <= 4)
        layout = TLayout::IndexPlanes;
    else if (bits == 8 && (planes == 3 || planes == 4))
        layout = TLayout::ColorPlanes;
    else
        return false;
    return true;
}

// Merges two to four 1-bit planes (plane k gives bit k of each pixel) into 4-bit pixels.
void MergePlanes(const uint8_t* row, uint32_t planeBytes, uint32_t planes, uint8_t* target,
                 uint32_t width) {
    const auto& spread = NibbleSpread();
    const uint32_t outBytes = (width * 4 + 7) / 8;
    const uint32_t groups = (width + 7) / 8;
    for (uint32_t i = 0; i < groups; ++i) {
        uint32_t v = 0;
        for (uint32_t k = 0; k < planes; ++k)
            v |= spread[row[k * planeBytes + i]] << k;
        const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        const uint32_t n = std::min<uint32_t>(4, outBytes - 4 * i);
        std::memcpy(target + 4 * i, bytes, n);
    }
}

}  // namespace

bool TPCXGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> h = stream.PeekBytes(kHeaderSize, kHeaderSize + 1);
    return !h.empty() && (h[0] == 10 || h[0] == 12 || h[0] == 205) &&
           (h[1] == 0 || h[1] == 2 || h[1] == 3 || h[1] == 5) && h[2] <= 1;
}

bool TPCXGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    if (!IsManufacturer(h[0])) return false;
    TImageProperties& p = imageProperties_;
    const int64_t width = int64_t(GetU16LE(h + 8)) - GetU16LE(h + 4) + 1;
    const int64_t height = int64_t(GetU16LE(h + 10)) - GetU16LE(h + 6) + 1;
    // A maximum below the minimum leaves no picture: the size stays 0.
    p.Width = uint32_t(std::max<int64_t>(width, 0));
    p.Height = uint32_t(std::max<int64_t>(height, 0));
    if (p.Width == 0 || p.Height == 0) return false;
    p.SamplesPerPixel = h[65];
    p.BitsPerSample = h[3];
    p.BitsPerPixel = uint8_t(h[65] * h[3]);
    // Four 8-bit planes are red, green, blue and alpha.
    p.HasAlpha = h[3] == 8 && h[65] == 4;
    p.ColorScheme = p.HasAlpha ? schemeRGBA : h[65] * h[3] <= 8 ? schemeIndexed : schemeRGB;
    p.Compression = h[2] == 1 ? compRLE : compNone;
    p.XResolution = GetU16LE(h + 12);
    p.YResolution = GetU16LE(h + 14);
    return true;
}

void TPCXGraphic::SetupPalette(TStream& stream, const uint8_t* header) {
    TColorManager& cm = ColorManager();
    const uint8_t version = header[1];
    const bool grayKind = GetU16LE(header + 68) == 2;
    auto defaultPalette = [] {
        TPaletteEntries palette(16);
        for (int i = 0; i < 16; ++i)
            palette[size_t(i)] = TRGBQuad{kDefault16[i][2], kDefault16[i][1], kDefault16[i][0], 0};
        return palette;
    };
    switch (PixelFormat()) {
        case pf1bit:
            SetPalette(cm.GrayRampPalette(false));
            break;
        case pf4bit:
            if (version == 3)
                SetPalette(defaultPalette());
            else if (grayKind)
                SetPalette(cm.GrayRampPalette(false));
            else
                SetPalette(cm.PaletteFromColorMap({header + 16, 48}, cmf8BitTriplets, false, 16));
            break;
        case pf8bit: {
            // The 256 colours at the end of the file, when the block is there and lies after
            // the header.
            const int64_t position = stream.Position();
            const int64_t block = stream.Size() - kPaletteBlockSize;
            uint8_t colours[kPaletteBlockSize] = {};
            const bool present = block >= startPosition_ + kHeaderSize &&
                                 (stream.SetPosition(block),
                                  stream.Read(colours, kPaletteBlockSize) == kPaletteBlockSize) &&
                                 colours[0] == 12;
            stream.SetPosition(position);
            if (present)
                SetPalette(cm.PaletteFromColorMap({colours + 1, 768}, cmf8BitTriplets, false, 256));
            else if (version == 3)
                SetPalette(defaultPalette());
            else
                SetPalette(cm.GrayRampPalette(false));  // grey levels rather than all black
            break;
        }
        default:
            break;
    }
}

void TPCXGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kFormatName);
    stream.SetPosition(startPosition_);
    TProgressGuard progressGuard(*this);
    StartRowProgress(imageProperties_.Width, imsg::Preparing);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    if (!IsManufacturer(h[0])) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    const TImageProperties& p = imageProperties_;
    const uint32_t width = p.Width, height = p.Height;
    const uint32_t planes = h[65], bits = h[3];
    const uint32_t planeBytes = GetU16LE(h + 66);
    TLayout layout = TLayout::Packed;
    if (!LayoutOf(bits, planes, layout))
        RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);

    // Packed pixels and colour planes go through the colour manager; 1-bit planes are merged
    // into 4-bit indices here.
    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(TConversionOptions());
    cm.SetTargetFlags(TConversionOptions());
    cm.SetSourceScheme(p.ColorScheme);
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetSourceSampleCount(p.SamplesPerPixel);
    cm.SetTargetScheme(p.ColorScheme == schemeIndexed ? schemeIndexed
                       : p.HasAlpha                   ? schemeBGRA
                                                      : schemeBGR);
    // Packed 2-bit pixels are widened to 4 bits; merged planes keep their palette as it is.
    cm.SetTargetSampleBits(layout == TLayout::Packed && bits == 2 ? 4 : p.BitsPerSample);
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    const TPixelFormat format = layout == TLayout::IndexPlanes ? pf4bit : cm.BitmapPixelFormat(1);
    SetPixelFormat(format);
    if (layout != TLayout::ColorPlanes) SetupPalette(stream, h);

    // Every plane must hold its row of pixels.
    const uint64_t rowSize = uint64_t(planes) * planeBytes;
    CheckSize(width, height);
    if (uint64_t(planeBytes) * 8 < uint64_t(width) * bits)
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    SetSize(int(width), int(height));
    if (layout != TLayout::IndexPlanes &&
        (cm.SourceRowBytes(width) > rowSize || cm.TargetRowBytes(width) > uint64_t(RowStride())))
        RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);

    // The image data: what follows the header, less the palette block of 8-bit pictures.
    int64_t dataSize = stream.Size() - stream.Position();
    if (format == pf8bit) dataSize -= kPaletteBlockSize;
    const bool packed = p.Compression == compRLE;
    // One row takes at most two packed bytes per byte (besides empty runs, which are read
    // in further pieces).
    TPacketWindow window(stream, size_t(packed ? 2 * rowSize + 2 : rowSize), dataSize);
    TPCXRLEDecoder decoder;
    std::vector<uint8_t> rowBuffer(rowSize);

    StartRowProgress(width, imsg::Transfering);
    for (uint32_t y = 0; y < height; ++y) {
        // Unpacked (or copied) a piece at a time, as far as the data reaches; what the data
        // does not cover stays black.
        uint8_t* dest = rowBuffer.data();
        uint8_t* const end = dest + rowSize;
        while (dest < end) {
            size_t available = 0;
            uint8_t* const start = window.Fill(available);
            if (available == 0) break;
            uint8_t* source = start;
            uint8_t* const before = dest;
            if (packed) {
                decoder.DecodeBlock(source, dest, int32_t(std::min<size_t>(available, INT32_MAX)),
                                    int32_t(end - dest));
            } else {
                const size_t n = std::min<size_t>(available, size_t(end - dest));
                std::memcpy(dest, source, n);
                source += n;
                dest += n;
            }
            window.Consume(size_t(source - start));
            if (source == start && dest == before) break;  // nothing more can be used
        }
        const bool ended = dest < end;
        std::memset(dest, 0, size_t(end - dest));
        const uint8_t* row = rowBuffer.data();
        uint8_t* target = ScanLine(int(y));
        switch (layout) {
            case TLayout::Packed:
                cm.ConvertScanline(row, target, width);
                break;
            case TLayout::IndexPlanes:
                MergePlanes(row, planeBytes, planes, target, width);
                break;
            case TLayout::ColorPlanes: {
                const void* const sources[4] = {row, row + planeBytes, row + 2 * planeBytes,
                                                row + 3 * planeBytes};
                cm.ConvertScanline(std::span<const void* const>(sources, planes), target, width);
                break;
            }
        }
        RowProgress(y, height);
        // The rows the data does not reach stay as the new bitmap is: all zero.
        if (ended) break;
    }
    window.Finish();
    progressGuard.Dismiss();
    EndProgress();
    Changed();
}
