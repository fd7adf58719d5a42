// GIF loader. giflib reads the file through a callback over our stream, one record at a time:
// extensions are skipped (the graphic control extension gives the transparent index) until the
// first image descriptor, whose rows are decoded one by one straight into the bitmap. Only the
// first image is ever decoded, so the memory used is the bitmap and one row.
#include "imaging/formats/GIFGraphic.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

namespace {

constexpr int64_t kHeaderSize = 13;  // signature and logical screen descriptor
constexpr const char* kFormatName = "GIF";

// giflib's read callback: the user data is the stream.
int ReadFromStream(GifFileType* gif, GifByteType* buffer, int count) {
    if (count <= 0) return 0;
    auto* stream = static_cast<TStream*>(gif->UserData);
    return int(stream->Read(buffer, count));
}

struct TGifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using TGifFile = std::unique_ptr<GifFileType, TGifCloser>;

// Raises the message that fits giflib's error code.
[[noreturn]] void RaiseGifError(int error) {
    switch (error) {
        case D_GIF_ERR_READ_FAILED:
            RaiseInvalidGraphicFmt(imsg::StreamReadError, kFormatName);
        case D_GIF_ERR_DATA_TOO_BIG:
        case D_GIF_ERR_IMAGE_DEFECT:
        case D_GIF_ERR_EOF_TOO_SOON:
            RaiseInvalidGraphicFmt(imsg::CompressionError, kFormatName);
        default:
            RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    }
}

// Row of the bitmap for the n-th row of an interlaced frame of the given height: first every
// eighth row from 0, then every eighth from 4, every fourth from 2, every second from 1.
int InterlacedRow(int n, int height) {
    static const int kStart[4] = {0, 4, 2, 1};
    static const int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows =
            height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
        if (n < rows) return kStart[pass] + n * kStep[pass];
        n -= rows;
    }
    return height - 1;  // not reached for n < height
}

}  // namespace

const TGraphicClass& TGIFGraphic::ClassInfo() {
    static const TGraphicClass info{"TGIFGraphic", [] { return std::make_unique<TGIFGraphic>(); },
                                    &TGIFGraphic::ProbeStream, &TFormatGraphic::ClassInfo()};
    return info;
}

bool TGIFGraphic::ProbeStream(TStream& stream) {
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() >= kHeaderSize) {
        uint8_t head[6];
        if (stream.Read(head, 6) == 6)
            result = std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0;
    }
    stream.SetPosition(position);
    return result;
}

bool TGIFGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    if (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0) return false;
    TImageProperties& p = imageProperties_;
    p.Version = h[4] == '9' ? 89 : 87;
    p.Width = GetU16LE(h + 6);
    p.Height = GetU16LE(h + 8);
    p.ColorScheme = schemeIndexed;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.Compression = compLZW;
    return true;
}

void TGIFGraphic::LoadFromStream(TStream& stream) {
    Clear();
    SetTransparent(false);
    SetTransparentColor(clDefault);
    TLoadScope scope(*this, stream);
    if (!ReadProperties(stream, 0)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    stream.SetPosition(startPosition_);
    StartRowProgress(imageProperties_.Width, imsg::Preparing);
    TProgressGuard guard(*this);

    int error = 0;
    TGifFile gif(DGifOpen(&stream, &ReadFromStream, &error));
    if (!gif) RaiseGifError(error);

    // Extensions before the first image: only the graphic control extension matters.
    int transparentIndex = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) RaiseGifError(gif->Error);
        if (type == IMAGE_DESC_RECORD_TYPE) break;
        if (type == TERMINATE_RECORD_TYPE) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
        if (type != EXTENSION_RECORD_TYPE) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) RaiseGifError(gif->Error);
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
            // Block: length, flags (bit 0: a transparent index is given), delay, index.
            transparentIndex = (block[1] & 1) != 0 ? block[4] : -1;
        }
        while (block != nullptr)
            if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) RaiseGifError(gif->Error);
    }
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) RaiseGifError(gif->Error);

    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0)
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    // The bitmap is the logical screen, grown when the frame reaches past it.
    const int64_t width = std::max<int64_t>(gif->SWidth, int64_t(frame.Left) + frame.Width);
    const int64_t height = std::max<int64_t>(gif->SHeight, int64_t(frame.Top) + frame.Height);
    CheckSize(width, height);
    imageProperties_.Width = uint32_t(width);
    imageProperties_.Height = uint32_t(height);
    imageProperties_.Interlaced = frame.Interlace;

    // Palette: the frame's own colour map, else the global one, else a grey ramp.
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    TColorManager& cm = ColorManager();
    cm.SetSourceScheme(schemeIndexed);
    cm.SetTargetScheme(schemeIndexed);
    cm.SetSourceSampleBits(8);
    cm.SetTargetSampleBits(8);
    cm.SetSourceSampleCount(1);
    cm.SetTargetSampleCount(1);
    cm.SetSourceFlags(TConversionOptions());
    cm.SetTargetFlags(TConversionOptions());
    SetPixelFormat(pf8bit);
    TPaletteEntries palette;
    if (map != nullptr && map->Colors != nullptr && map->ColorCount > 0) {
        const int count = std::min(map->ColorCount, 256);
        palette.resize(size_t(count));
        for (int i = 0; i < count; ++i)
            palette[size_t(i)] =
                TRGBQuad{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 0};
    } else {
        palette = cm.GrayRampPalette(false);
    }

    // Outside the frame: transparent when the frame has a transparent index, else the screen's
    // background colour (when the global map holds it).
    int fill = 0;
    if (transparentIndex >= 0)
        fill = transparentIndex;
    else if (gif->SColorMap != nullptr && gif->SBackGroundColor < gif->SColorMap->ColorCount)
        fill = gif->SBackGroundColor;

    SetSize(int(width), int(height));
    const bool covered =
        frame.Left == 0 && frame.Top == 0 && frame.Width == width && frame.Height == height;
    if (!covered && fill != 0)
        for (int y = 0; y < int(height); ++y)
            std::memset(ScanLine(y), fill, size_t(width));

    // Rows in file order; an interlaced frame places them pass by pass.
    StartRowProgress(uint32_t(frame.Width), imsg::Transfering);
    uint8_t largest = uint8_t(fill);
    int decoded = 0;
    for (int n = 0; n < frame.Height; ++n) {
        const int y = frame.Interlace ? InterlacedRow(n, frame.Height) : n;
        GifPixelType* row = ScanLine(frame.Top + y) + frame.Left;
        if (DGifGetLine(gif.get(), row, frame.Width) == GIF_ERROR) {
            // Data that ends early or breaks off: keep what was decoded when there is any.
            if (decoded == 0) RaiseGifError(gif->Error);
            std::memset(row, fill, size_t(frame.Width));
            break;
        }
        for (int x = 0; x < frame.Width; ++x)
            largest = std::max(largest, row[x]);
        ++decoded;
        RowProgress(uint32_t(n), uint32_t(frame.Height));
    }

    // Indices beyond the colour map show black rather than pointing past the palette.
    if (size_t(largest) >= palette.size())
        palette.resize(size_t(largest) + 1, TRGBQuad{0, 0, 0, 0});
    if (transparentIndex >= 0 && size_t(transparentIndex) >= palette.size())
        palette.resize(size_t(transparentIndex) + 1, TRGBQuad{0, 0, 0, 0});
    SetPalette(palette);
    if (transparentIndex >= 0) {
        const TRGBQuad& e = palette[size_t(transparentIndex)];
        SetTransparentColor(TColor(e.rgbRed + 256 * e.rgbGreen + 65536 * e.rgbBlue));
        SetTransparent(true);
    }
    Changed();
}
