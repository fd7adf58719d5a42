// GIF loader. giflib reads the file through a callback over our stream, one record at a time:
// extensions are skipped (the graphic control extension gives the transparent index) until the
// first image descriptor, whose rows are decoded one by one into the bitmap. Only the first
// image is ever decoded, so the memory used is the bitmap and one row.
#include "imaging/formats/GIFGraphic.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

namespace {

constexpr int64_t kHeaderSize = 13;  // signature and logical screen descriptor
constexpr const char* kFormatName = "GIF";

// What giflib reads through (its user data). While pixels are decoded, the data sub-blocks are
// followed: a block that the end of the file cuts short is announced with the length that
// remains, so giflib decodes the bytes that are there instead of refusing the whole block.
struct TGifSource {
    TStream* stream = nullptr;
    bool pixels = false;     // reading the data blocks of the image
    bool lengthNext = true;  // the next read is a block's length byte
    int64_t dataBytes = 0;   // bytes of image data delivered
};

int ReadFromStream(GifFileType* gif, GifByteType* buffer, int count) {
    if (count <= 0) return 0;
    auto* source = static_cast<TGifSource*>(gif->UserData);
    const int got = int(source->stream->Read(buffer, count));
    if (source->pixels && got > 0) {
        if (source->lengthNext) {
            buffer[0] = uint8_t(std::min<int64_t>(buffer[0], source->stream->Remaining()));
            source->lengthNext = buffer[0] == 0;
        } else {
            source->dataBytes += got;
            source->lengthNext = true;
        }
    }
    return got;
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

}  // namespace

bool ReadGifRow(GifFileType* gif, uint8_t* line, int width, bool lastRow) {
    // giflib reads the rest of the frame's data blocks after the frame's last pixel within the
    // same call, and fails when the file ends there: that last pixel is read on its own, so
    // that a file without the blocks' end still gives its whole last row.
    if (!lastRow || width < 2) {
        if (DGifGetLine(gif, line, width) != GIF_ERROR) return true;
        return lastRow && (gif->Error == D_GIF_ERR_READ_FAILED);
    }
    if (DGifGetLine(gif, line, width - 1) == GIF_ERROR) return false;
    return DGifGetLine(gif, line + width - 1, 1) != GIF_ERROR ||
           gif->Error == D_GIF_ERR_READ_FAILED;
}

std::string DamagedGifWarning(int error, int rows, int height) {
    const bool ended = error == D_GIF_ERR_READ_FAILED || error == D_GIF_ERR_EOF_TOO_SOON;
    return std::string(ended ? "The GIF data ends" : "The GIF data is damaged") + " after " +
           std::to_string(rows) + " of " + std::to_string(height) + " rows; the rest is not shown.";
}

namespace {}  // namespace

int GifInterlacedRow(int n, int height) {
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

bool TGIFGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(6, kHeaderSize);
    return !head.empty() && (std::memcmp(head.data(), "GIF87a", 6) == 0 ||
                             std::memcmp(head.data(), "GIF89a", 6) == 0);
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
    TProgressGuard guard(*this);
    StartRowProgress(imageProperties_.Width, imsg::Preparing);

    int error = 0;
    TGifSource source{&stream};
    TGifFile gif(DGifOpen(&source, &ReadFromStream, &error));
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
    source.pixels = true;

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
    // A transparent index makes a picture with alpha, as PNG, TIFF or icons with transparency
    // are shown: 32 bits, the transparent pixels with alpha 0. Others keep their 8-bit indices.
    const bool alpha = transparentIndex >= 0;
    // Indices beyond the colour map show black rather than pointing past the palette.
    TPaletteEntries colours = palette;
    colours.resize(256, TRGBQuad{0, 0, 0, 0});
    for (TRGBQuad& c : colours)
        c.rgbReserved = 255;
    if (alpha) colours[size_t(transparentIndex)].rgbReserved = 0;
    SetPixelFormat(alpha ? pf32bit : pf8bit);

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
    std::vector<uint8_t> line(size_t(std::max<int64_t>(width, frame.Width)), uint8_t(fill));
    // Row y of the bitmap from indices, from column x on.
    auto store = [&](int y, int x, const uint8_t* indices, int count) {
        if (!alpha) {
            std::memcpy(ScanLine(y) + x, indices, size_t(count));
            return;
        }
        uint8_t* target = ScanLine(y) + 4 * size_t(x);
        for (int i = 0; i < count; ++i, target += 4)
            std::memcpy(target, &colours[indices[i]], 4);
    };
    if (!covered && (fill != 0 || alpha))
        for (int y = 0; y < int(height); ++y)
            store(y, 0, line.data(), int(width));

    // Rows in file order; an interlaced frame places them pass by pass.
    StartRowProgress(uint32_t(frame.Width), imsg::Transfering);
    uint8_t largest = uint8_t(fill);
    for (int n = 0; n < frame.Height; ++n) {
        const int y = frame.Interlace ? GifInterlacedRow(n, frame.Height) : n;
        std::memset(line.data(), fill, size_t(frame.Width));
        const bool decoded = ReadGifRow(gif.get(), line.data(), frame.Width, n + 1 == frame.Height);
        // Damaged or missing data: the picture keeps what was decoded before it (the pixels
        // of this row that giflib reached too) and says so; only a frame without any data
        // fails.
        if (!decoded && n == 0 && source.dataBytes == 0) RaiseGifError(gif->Error);
        for (int x = 0; x < frame.Width; ++x)
            largest = std::max(largest, line[size_t(x)]);
        store(frame.Top + y, frame.Left, line.data(), frame.Width);
        if (!decoded) {
            SetLoadWarning(DamagedGifWarning(gif->Error, n, frame.Height));
            break;
        }
        RowProgress(uint32_t(n), uint32_t(frame.Height));
    }

    if (alpha) {
        SetTransparentColor(clNone);  // the alpha says what shows through
        SetTransparent(true);
    } else {
        if (size_t(largest) >= palette.size())
            palette.resize(size_t(largest) + 1, TRGBQuad{0, 0, 0, 0});
        SetPalette(palette);
    }
    Changed();
}
