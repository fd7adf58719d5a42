// Autodesk Animator cel and picture loader: the palette is built directly from the file and
// the rows are read straight into the bitmap.
#include "imaging/formats/AutodeskGraphic.h"

#include <algorithm>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

namespace {

constexpr const char* kShortName = "Autodesk";
constexpr uint16_t kMagic = 0x9119;
constexpr int64_t kHeaderSize = 32;
constexpr int64_t kPaletteSize = 768;

}  // namespace

bool TAutodeskGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> header = stream.PeekBytes(12, kHeaderSize + 1);
    return !header.empty() && GetU16LE(header.data()) == kMagic && header[10] == 8 &&
           header[11] == 0;
}

bool TAutodeskGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    if (stream.Remaining() < kHeaderSize) return false;
    uint8_t header[kHeaderSize];
    stream.ReadBuffer(header, kHeaderSize);
    if (GetU16LE(header) != kMagic) return false;
    // The bits-per-pixel and compression bytes are not checked here: a file chosen by its
    // extension is read as 8-bit uncompressed whatever they say.
    TImageProperties& p = imageProperties_;
    p.ColorScheme = schemeIndexed;
    p.Width = GetU16LE(header + 2);
    p.Height = GetU16LE(header + 4);
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.Compression = compNone;
    // A picture without pixels is no picture.
    return p.Width != 0 && p.Height != 0;
}

void TAutodeskGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kShortName);
    const uint32_t width = imageProperties_.Width;
    const uint32_t height = imageProperties_.Height;

    stream.SetPosition(startPosition_ + kHeaderSize);
    StartRowProgress(width, imsg::Transfering);
    TProgressGuard progress(*this);

    // 6-bit components (0..63) are shifted to 8 bits: 63 becomes 252. Values above 63 keep
    // the low eight bits of the shift.
    uint8_t colors[kPaletteSize];
    stream.ReadBuffer(colors, kPaletteSize);
    TPaletteEntries palette(256);
    for (size_t i = 0; i < palette.size(); ++i) {
        palette[i].rgbRed = uint8_t(colors[3 * i] << 2);
        palette[i].rgbGreen = uint8_t(colors[3 * i + 1] << 2);
        palette[i].rgbBlue = uint8_t(colors[3 * i + 2] << 2);
    }
    SetPixelFormat(pf8bit);
    SetPalette(std::move(palette));
    CheckSize(width, height);
    SetSize(int(width), int(height));
    if (int64_t(width) > RowStride()) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);

    // A file that ends early leaves the rows it does not reach at index 0.
    bool more = true;
    for (uint32_t y = 0; y < height; ++y) {
        if (more) more = stream.Read(ScanLine(int(y)), width) == int64_t(width);
        RowProgress(y, height);
    }
    progress.End();
    Changed();
}
