// Targa loader and writer. Rows go into the bitmap as the file stores them; run-length rows
// are decoded from a window over the stream that is refilled as the rows use it up.
#include "imaging/formats/TargaGraphic.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"
#include "imaging/formats/PacketWindow.h"

namespace {

constexpr int kHeaderSize = 18;
constexpr const char* kFormatName = "Targa";

struct THeader {
    uint8_t IDLength = 0;
    uint8_t ColorMapType = 0;
    uint8_t ImageType = 0;
    uint16_t ColorMapLength = 0;
    uint8_t ColorMapEntrySize = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t PixelSize = 0;
    uint8_t Descriptor = 0;
};

THeader ParseHeader(const uint8_t* h) {
    THeader r;
    r.IDLength = h[0];
    r.ColorMapType = h[1];
    r.ImageType = h[2];
    r.ColorMapLength = GetU16LE(h + 5);
    r.ColorMapEntrySize = h[7];
    r.Width = GetU16LE(h + 12);
    r.Height = GetU16LE(h + 14);
    r.PixelSize = h[16];
    r.Descriptor = h[17];
    return r;
}

bool IsGrayType(uint8_t imageType) {
    return imageType == 3 || imageType == 11;
}

bool IsRunLengthType(uint8_t imageType) {
    return imageType >= 9 && imageType <= 11;
}

// Bytes of one pixel or colour map entry of the given size in bits (15 bits take two).
uint32_t BytesFor(uint32_t bits) {
    return (bits + 7) / 8;
}

// Reverses the order of the pixels of a row stored from right to left.
void MirrorRow(uint8_t* row, uint32_t width, uint32_t pixelBytes) {
    if (width < 2) return;
    uint8_t* a = row;
    uint8_t* b = row + size_t(width - 1) * pixelBytes;
    uint8_t t[4];
    for (; a < b; a += pixelBytes, b -= pixelBytes) {
        std::memcpy(t, a, pixelBytes);
        std::memcpy(a, b, pixelBytes);
        std::memcpy(b, t, pixelBytes);
    }
}

// A bitmap row in Targa order: 15-bit pixels for 16-bit (5-6-5) bitmaps, blue-green-red for
// formats without a Targa layout, 8-bit indices for 1- and 4-bit bitmaps.
void TargaRow(const TBitmap& bitmap, int y, uint32_t pixelBytes, std::vector<uint8_t>& out,
              std::vector<uint8_t>& bgra) {
    const uint32_t width = uint32_t(bitmap.Width());
    const uint8_t* row = bitmap.ScanLine(y);
    switch (bitmap.PixelFormat()) {
        case pf1bit:
            for (uint32_t x = 0; x < width; ++x)
                out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
            return;
        case pf4bit:
            for (uint32_t x = 0; x < width; ++x)
                out[x] = (x & 1) ? (row[x / 2] & 15) : (row[x / 2] >> 4);
            return;
        case pf16bit:
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t v = GetU16LE(row + 2 * x);
                const uint32_t w = ((v >> 1) & 0x7FE0) | (v & 0x1F);
                out[2 * x] = uint8_t(w);
                out[2 * x + 1] = uint8_t(w >> 8);
            }
            return;
        case pf8bit:
        case pf15bit:
        case pf24bit:
        case pf32bit:
            std::memcpy(out.data(), row, size_t(width) * pixelBytes);
            return;
        default:
            ConvertScanLineToBGRA(bitmap, y, bgra.data());
            for (uint32_t x = 0; x < width; ++x)
                std::memcpy(&out[3 * x], &bgra[4 * x], 3);
            return;
    }
}

}  // namespace

bool TTargaGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> h = stream.PeekBytes(kHeaderSize, kHeaderSize + 1);
    if (h.empty()) return false;
    const THeader r = ParseHeader(h.data());
    const uint8_t e = r.ColorMapEntrySize, p = r.PixelSize;
    return (r.ImageType <= 3 || IsRunLengthType(r.ImageType)) && r.ColorMapType <= 1 &&
           (e == 15 || e == 16 || e == 24 || e == 32) &&
           (p == 8 || p == 15 || p == 16 || p == 24 || p == 32);
}

bool TTargaGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    const THeader r = ParseHeader(h);
    TImageProperties& p = imageProperties_;
    p.Width = r.Width;
    p.Height = r.Height;
    if (p.Width == 0 || p.Height == 0) return false;
    p.BitsPerSample = 8;
    switch (r.PixelSize) {
        case 8:
            p.ColorScheme = IsGrayType(r.ImageType) ? schemeGray : schemeIndexed;
            p.SamplesPerPixel = 1;
            break;
        case 15:
        case 16:
            if (IsGrayType(r.ImageType) && r.PixelSize == 16) {
                // Grey with an alpha byte: shown through its grey byte.
                p.ColorScheme = schemeGrayAlpha;
                p.SamplesPerPixel = 2;
            } else {
                p.ColorScheme = schemeRGB;
                p.BitsPerSample = 5;
                p.SamplesPerPixel = 3;
            }
            break;
        case 24:
            p.ColorScheme = schemeRGB;
            p.SamplesPerPixel = 3;
            break;
        case 32:
            p.ColorScheme = schemeRGBA;
            p.SamplesPerPixel = 4;
            break;
        default:
            break;
    }
    p.BitsPerPixel = uint8_t(p.SamplesPerPixel * p.BitsPerSample);
    p.Compression = IsRunLengthType(r.ImageType) ? compRLE : compNone;
    return true;
}

void TTargaGraphic::ReadColorMap(TStream& stream, uint8_t imageType, uint8_t mapType,
                                 uint32_t length, uint8_t entryBits) {
    const uint64_t mapBytes = uint64_t(length) * BytesFor(entryBits);
    TColorManager& cm = ColorManager();
    if (IsGrayType(imageType)) {
        // The pixels are grey levels: a colour map in the file is passed over, not used.
        SetPalette(cm.GrayRampPalette(false));
        if (mapType == 1) stream.Seek(int64_t(mapBytes), TSeekOrigin::soCurrent);
        return;
    }
    if (mapType != 1) return;
    const std::vector<uint8_t> map = stream.ReadBytes(int64_t(mapBytes));
    // The bitmap's palette has room for 256 entries; a longer map is cut.
    const int count = int(std::min<uint32_t>(length, 256));
    TPaletteEntries palette;
    switch (entryBits) {
        case 24:
            palette = cm.PaletteFromColorMap(map, cmf8BitTriplets, true, count);
            break;
        case 32:
            palette = cm.PaletteFromColorMap(map, cmf8BitQuadruplets, true, count);
            break;
        case 15:
        case 16:
            palette.resize(size_t(count));
            // 5-bit components widened by repeating their top bits, so 31 gives 255.
            for (int i = 0; i < count; ++i) {
                const uint32_t v = GetU16LE(map.data() + 2 * i);
                palette[size_t(i)].rgbRed = Replicate((v >> 10) & 31, 5);
                palette[size_t(i)].rgbGreen = Replicate((v >> 5) & 31, 5);
                palette[size_t(i)].rgbBlue = Replicate(v & 31, 5);
            }
            break;
        default:
            return;  // entries of an unknown size give no colours
    }
    if (PixelFormat() == pf8bit) SetPalette(std::move(palette));
}

void TTargaGraphic::ReadRows(TStream& stream, uint8_t imageType, uint8_t pixelBits, bool topDown,
                             bool rightToLeft) {
    const uint32_t width = uint32_t(Width()), height = uint32_t(Height());
    const uint32_t pixelBytes = BytesFor(pixelBits);
    const size_t rowBytes = size_t(width) * pixelBytes;
    // Grey with alpha keeps only its grey byte; every other layout is stored as it is.
    const bool grayAlpha = imageProperties_.ColorScheme == schemeGrayAlpha;
    if (!grayAlpha && rowBytes > size_t(RowStride()))
        RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kFormatName);
    std::vector<uint8_t> wide(grayAlpha ? rowBytes : 0);

    std::optional<TTargaRLEDecoder> decoder;
    std::optional<TPacketWindow> window;
    if (IsRunLengthType(imageType)) {
        decoder.emplace(pixelBits);
        // A row's packets never take more than twice its size (one header per pixel).
        window.emplace(stream, 2 * rowBytes + 8, INT64_MAX);
    }
    StartRowProgress(width, imsg::Transfering);
    for (uint32_t i = 0; i < height; ++i) {
        const int y = int(topDown ? i : height - 1 - i);
        uint8_t* target = grayAlpha ? wide.data() : ScanLine(y);
        if (decoder) {
            size_t available = 0;
            uint8_t* const start = window->Fill(available);
            uint8_t* source = start;
            uint8_t* dest = target;
            decoder->DecodeBlock(source, dest, int32_t(available), int32_t(width));
            window->Consume(size_t(source - start));
        } else {
            stream.ReadBuffer(target, int64_t(rowBytes));
        }
        if (grayAlpha) {
            uint8_t* row = ScanLine(y);
            for (uint32_t x = 0; x < width; ++x)
                row[x] = wide[2 * size_t(x)];
        }
        if (rightToLeft) MirrorRow(ScanLine(y), width, grayAlpha ? 1 : pixelBytes);
        RowProgress(i, height);
    }
    if (window) window->Finish();
}

void TTargaGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kFormatName);
    stream.SetPosition(startPosition_);
    TProgressGuard progressGuard(*this);
    StartRowProgress(imageProperties_.Width, imsg::Preparing);

    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    const THeader header = ParseHeader(h);
    const bool topDown = (header.Descriptor & 0x20) != 0;
    const bool rightToLeft = (header.Descriptor & 0x10) != 0;
    stream.Seek(header.IDLength, TSeekOrigin::soCurrent);
    const TImageProperties& p = imageProperties_;

    TColorManager& cm = ColorManager();
    cm.SetSourceSampleCount(p.SamplesPerPixel);
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    cm.SetSourceScheme(p.ColorScheme);
    cm.SetSourceFlags(TConversionOptions());
    cm.SetTargetScheme(schemeBGR);
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(p.BitsPerSample);
    if (p.ColorScheme == schemeGrayAlpha) {
        // Shown as 8-bit grey.
        cm.SetTargetSampleCount(1);
        SetPixelFormat(pf8bit);
    } else {
        SetPixelFormat(cm.BitmapPixelFormat(1));
    }
    if (header.ColorMapType == 1 || IsGrayType(header.ImageType))
        ReadColorMap(stream, header.ImageType, header.ColorMapType, header.ColorMapLength,
                     header.ColorMapEntrySize);

    CheckSize(p.Width, p.Height);
    SetSize(int(p.Width), int(p.Height));
    if (header.ImageType != 0)
        ReadRows(stream, header.ImageType, header.PixelSize, topDown, rightToLeft);
    progressGuard.Dismiss();
    EndProgress();
    Changed();
}

void TTargaGraphic::SaveToStream(TStream& stream) {
    SaveToStream(stream, true);
}

void TTargaGraphic::SaveToStream(TStream& stream, bool compressed) {
    if (Empty()) return;
    uint32_t pixelBytes;
    switch (PixelFormat()) {
        case pf1bit:
        case pf4bit:
        case pf8bit:
            pixelBytes = 1;
            break;
        case pf15bit:
        case pf16bit:
            pixelBytes = 2;
            break;
        case pf32bit:
            pixelBytes = 4;
            break;
        default:
            pixelBytes = 3;
            break;
    }
    const uint32_t width = uint32_t(Width()), height = uint32_t(Height());
    if (width > 0xFFFF || height > 0xFFFF)
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);  // no room in the header

    std::vector<uint8_t> header;
    header.push_back(0);                // no image ID
    header.push_back(pixelBytes == 1);  // colour map type
    header.push_back(uint8_t((compressed ? 8 : 0) + (pixelBytes == 1 ? 1 : 2)));
    PutU16LE(header, 0);    // first colour map entry
    PutU16LE(header, 256);  // colour map length
    header.push_back(24);   // colour map entry size
    PutU16LE(header, 0);    // x origin
    PutU16LE(header, 0);    // y origin
    PutU16LE(header, width);
    PutU16LE(header, height);
    header.push_back(uint8_t(pixelBytes * 8));
    header.push_back(0x20);  // the rows below are written top row first
    stream.WriteBuffer(header.data(), int64_t(header.size()));
    if (pixelBytes == 1) {
        uint8_t map[256 * 3] = {};
        const auto& palette = Palette();
        for (size_t i = 0; i < std::min<size_t>(palette.size(), 256); ++i) {
            map[3 * i] = palette[i].rgbBlue;
            map[3 * i + 1] = palette[i].rgbGreen;
            map[3 * i + 2] = palette[i].rgbRed;
        }
        stream.WriteBuffer(map, sizeof map);
    }

    const size_t rowBytes = size_t(width) * pixelBytes;
    std::vector<uint8_t> row(rowBytes), bgra(size_t(width) * 4);
    std::vector<uint8_t> packed(compressed ? 2 * rowBytes + 2 : 0);
    TTargaRLEDecoder encoder(int(pixelBytes * 8));
    TProgressGuard progressGuard(*this);
    StartRowProgress(width, imsg::Transfering);
    for (uint32_t y = 0; y < height; ++y) {
        TargaRow(*this, int(y), pixelBytes, row, bgra);
        if (compressed) {
            uint32_t stored = 0;
            encoder.EncodeBlock(row.data(), packed.data(), width, stored);
            stream.WriteBuffer(packed.data(), stored);
        } else {
            stream.WriteBuffer(row.data(), int64_t(rowBytes));
        }
        RowProgress(y, height);
    }
}
