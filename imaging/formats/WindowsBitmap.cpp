// Windows bitmap (BMP, DIB, RLE) reader and writer, following the published BMP format:
// BITMAPFILEHEADER, then BITMAPCOREHEADER (OS/2 1.x), an OS/2 2.x header or BITMAPINFOHEADER
// up to BITMAPV5HEADER, optional colour masks, the palette and the pixel rows.
//
// Pixel formats stay natural: 1/4/8 bits stay indexed with their palette, 16-bit 5-5-5 and
// 5-6-5 stay pf15bit/pf16bit, 24 bits stay pf24bit, 32 bits become pf32bit (opaque unless an
// alpha mask is given); any other bit-field layout is expanded to pf24bit, or pf32bit when it
// has alpha.
#include "imaging/formats/WindowsBitmap.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"

namespace {

constexpr uint32_t kFileHeaderSize = 14;

[[noreturn]] void Fail(const std::string& detail) {
    throw EInvalidGraphic("Cannot load bitmap. " + detail);
}

int32_t S32(const uint8_t* p) {
    return static_cast<int32_t>(GetU32LE(p));
}

bool IsEmbedded(uint32_t compression) {
    return compression == dibJPEG || compression == dibPNG;
}

dib::TEmbeddedDecoder& EmbeddedDecoderSlot(uint32_t compression) {
    static dib::TEmbeddedDecoder jpeg, png;
    return compression == dibJPEG ? jpeg : png;
}

bool IsWindowsHeaderSize(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// Header sizes the reader accepts: the core header, the Windows headers and OS/2 2.x headers,
// which may be cut short anywhere from 16 to 64 bytes.
bool IsKnownHeaderSize(uint32_t size) {
    return size == 12 || IsWindowsHeaderSize(size) || (size >= 16 && size <= 64);
}

// Progress of the rows as they arrive, reported to the graphic being loaded a band of rows at a
// time (a report per row would cost more than copying a narrow row): the window shows the
// percentage, and a raised cancel flag ends the load at the next band with EAbort. The ending
// stage is reported also when the load fails. Without a graphic nothing is reported.
class TRowBands {
  public:
    static constexpr int kRows = 64;

    TRowBands(TGraphic* graphic, int width, int height, bool bottomUp)
        : graphic_(graphic), width_(width), height_(height), bottomUp_(bottomUp) {
        if (graphic_ != nullptr) graphic_->Progress(psStarting, 0, false, {}, imsg::LoadingData);
    }
    ~TRowBands() {
        if (graphic_ != nullptr) graphic_->Progress(psEnding, 0, false, {}, {});
    }
    TRowBands(const TRowBands&) = delete;
    TRowBands& operator=(const TRowBands&) = delete;

    // The first `rows` rows in stored order have arrived; reports when a band is complete.
    void Arrived(int rows) {
        if (graphic_ == nullptr || (rows - reported_ < kRows && rows < height_)) return;
        const int top = bottomUp_ ? height_ - rows : reported_;
        const int bottom = bottomUp_ ? height_ - reported_ : rows;
        reported_ = rows;
        graphic_->Progress(psRunning, uint8_t(int64_t(rows) * 100 / std::max(1, height_)), false,
                           TRect{0, top, width_, bottom}, imsg::LoadingData);
    }

  private:
    TGraphic* graphic_;
    int width_, height_;
    bool bottomUp_;
    int reported_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Run-length encoded data (BI_RLE8 and BI_RLE4). Rows are stored bottom-up; the decoder keeps
// every write inside the bitmap: runs are cut at the row end, and commands that would leave
// the bitmap otherwise raise.

void DecodeRLE(const uint8_t* data, size_t size, const TDibHeader& h, TBitmap& bmp,
               TRowBands& bands) {
    const bool four = h.Compression == dibRLE4;
    const int width = h.Width;
    const int height = h.Height;
    int x = 0;
    int y = 0;  // counted from the bottom row
    size_t p = 0;

    // Runs that go past the end of a row are cut at the row end, as other readers do (some
    // writers pad odd-width rows that way); what would fall outside is dropped.
    auto put = [&](int count, auto pixelAt) {
        if (y >= height) Fail("Run-length data writes outside the bitmap.");
        count = std::min(count, width - x);
        uint8_t* row = bmp.ScanLine(height - 1 - y);
        if (!four) {
            for (int i = 0; i < count; ++i)
                row[x + i] = pixelAt(i);
        } else {
            for (int i = 0; i < count; ++i) {
                const int px = x + i;
                const uint8_t v = pixelAt(i) & 0x0F;
                uint8_t& b = row[px >> 1];
                b = (px & 1) ? static_cast<uint8_t>((b & 0xF0) | v)
                             : static_cast<uint8_t>((b & 0x0F) | (v << 4));
            }
        }
        x += count;
    };

    while (y < height) {
        if (size - p < 2) Fail("Run-length data is truncated.");
        const uint8_t count = data[p];
        const uint8_t value = data[p + 1];
        p += 2;
        if (count > 0) {
            // Encoded run: one index (RLE8) or two alternating indices (RLE4).
            if (!four) {
                put(count, [value](int) { return value; });
            } else {
                put(count, [value](int i) {
                    return static_cast<uint8_t>((i & 1) ? (value & 0x0F) : (value >> 4));
                });
            }
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                bands.Arrived(y);
                break;
            case 1:  // end of bitmap
                return;
            case 2: {  // delta: move right and up
                if (size - p < 2) Fail("Run-length data is truncated.");
                const int dx = data[p];
                const int dy = data[p + 1];
                p += 2;
                if (x + dx > width || y + dy > height)
                    Fail("Run-length delta moves outside the bitmap.");
                x += dx;
                y += dy;
                bands.Arrived(y);
                break;
            }
            default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
                const int n = value;
                const size_t bytes = four ? (static_cast<size_t>(n) + 1) / 2 : n;
                const size_t padded = (bytes + 1) & ~size_t(1);
                if (size - p < bytes) Fail("Run-length data is truncated.");
                const uint8_t* src = data + p;
                if (!four) {
                    put(n, [src](int i) { return src[i]; });
                } else {
                    put(n, [src](int i) {
                        const uint8_t b = src[i >> 1];
                        return static_cast<uint8_t>((i & 1) ? (b & 0x0F) : (b >> 4));
                    });
                }
                p += std::min(padded, size - p);
                break;
            }
        }
    }
}

// Whether every pixel of an indexed bitmap refers to an existing palette entry.
bool IndicesInPalette(const TBitmap& bmp, int bits, size_t paletteSize) {
    if (paletteSize >= (size_t(1) << bits)) return true;
    const int width = bmp.Width();
    for (int y = 0; y < bmp.Height(); ++y) {
        const uint8_t* row = bmp.ScanLine(y);
        if (bits == 8) {
            uint8_t maxIndex = 0;
            for (int x = 0; x < width; ++x)
                maxIndex = std::max(maxIndex, row[x]);
            if (maxIndex >= paletteSize) return false;
        } else {
            const int perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const unsigned index = (row[x / perByte] >> (8 - bits * (x % perByte + 1))) & mask;
                if (index >= paletteSize) return false;
            }
        }
    }
    return true;
}

// How 16- and 32-bit pixels are stored in the bitmap.
enum class TDirectLayout { Copy15, Copy16, Copy24, Copy32Opaque, Copy32Alpha, Expand };

TDirectLayout DirectLayout(const TDibHeader& h) {
    const auto& m = h.Masks;
    switch (h.BitCount) {
        case 16:
            if (m[3] == 0 && m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F)
                return TDirectLayout::Copy15;
            if (m[3] == 0 && m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F)
                return TDirectLayout::Copy16;
            return TDirectLayout::Expand;
        case 24:
            return TDirectLayout::Copy24;
        case 32:
            if (m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF) {
                if (m[3] == 0) return TDirectLayout::Copy32Opaque;
                if (m[3] == 0xFF000000) return TDirectLayout::Copy32Alpha;
            }
            return TDirectLayout::Expand;
        default:
            return TDirectLayout::Expand;
    }
}

// Reads rows stored as the bitmap holds them straight into it, a band at a time. Top-down
// rows are consecutive in the bitmap, so a band is one read.
void ReadRows(TStream& stream, int64_t srcStride, const TDibHeader& h, TBitmap& bmp,
              TGraphic* reporter) {
    const int height = bmp.Height();
    TRowBands bands(reporter, bmp.Width(), height, !h.TopDown);
    for (int i = 0; i < height;) {
        const int n = h.TopDown ? std::min(TRowBands::kRows, height - i) : 1;
        if (h.TopDown)
            stream.ReadBuffer(bmp.ScanLine(i), srcStride * n);
        else
            stream.ReadBuffer(bmp.ScanLine(height - 1 - i), srcStride);
        i += n;
        bands.Arrived(i);
    }
}

}  // namespace

namespace dib {

int64_t RowBytes(int64_t width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

TDibHeader ReadHeader(TStream& stream, int64_t dataOffset) {
    const int64_t headerStart = stream.Position();
    TDibHeader h;
    uint8_t buf[124] = {};
    stream.ReadBuffer(buf, 4);
    h.HeaderSize = GetU32LE(buf);
    if (!IsKnownHeaderSize(h.HeaderSize))
        Fail("Unsupported bitmap header size " + std::to_string(h.HeaderSize) + ".");
    stream.ReadBuffer(buf + 4, h.HeaderSize - 4);

    uint16_t planes = 0;
    int64_t height = 0;
    if (h.HeaderSize == 12) {
        h.OS2 = true;
        h.Width = GetU16LE(buf + 4);
        height = GetU16LE(buf + 6);
        planes = GetU16LE(buf + 8);
        h.BitCount = GetU16LE(buf + 10);
    } else {
        // Short OS/2 2.x headers leave the missing fields zero.
        h.OS2 = !IsWindowsHeaderSize(h.HeaderSize);
        h.Width = S32(buf + 4);
        height = S32(buf + 8);
        planes = GetU16LE(buf + 12);
        h.BitCount = GetU16LE(buf + 14);
        h.Compression = GetU32LE(buf + 16);
        h.ImageSize = GetU32LE(buf + 20);
        h.XPelsPerMeter = S32(buf + 24);
        h.YPelsPerMeter = S32(buf + 28);
        h.ColorsUsed = GetU32LE(buf + 32);
    }

    if (planes != 1) Fail("Invalid plane count " + std::to_string(planes) + ".");
    if (h.Width <= 0) Fail("Invalid width " + std::to_string(h.Width) + ".");
    if (height == 0) Fail("Invalid height 0.");
    h.TopDown = height < 0;
    height = height < 0 ? -height : height;
    if (height > INT32_MAX) Fail("Invalid height " + std::to_string(height) + ".");
    h.Height = static_cast<int32_t>(height);

    switch (h.BitCount) {
        case 0:
            // The embedded JPEG or PNG file knows its own depth.
            if (h.OS2 || !IsEmbedded(h.Compression))
                Fail("Unsupported bit count " + std::to_string(h.BitCount) + ".");
            break;
        case 1:
        case 4:
        case 8:
        case 24:
            break;
        case 16:
        case 32:
            if (h.OS2 && h.HeaderSize == 12)
                Fail("Invalid bit count " + std::to_string(h.BitCount) + ".");
            break;
        default:
            Fail("Unsupported bit count " + std::to_string(h.BitCount) + ".");
    }

    // Compression, checked against the bit count.
    if (h.OS2 && (h.Compression == 3 || h.Compression == 4))
        Fail("OS/2 Huffman and RLE24 compressed bitmaps are not supported.");
    switch (h.Compression) {
        case dibRGB:
            break;
        case dibRLE8:
            if (h.BitCount != 8) Fail("RLE8 compression needs 8 bits per pixel.");
            break;
        case dibRLE4:
            if (h.BitCount != 4) Fail("RLE4 compression needs 4 bits per pixel.");
            break;
        case dibBitFields:
        case dibAlphaBitFields:
            if (h.BitCount != 16 && h.BitCount != 32)
                Fail("Bit-field masks need 16 or 32 bits per pixel.");
            break;
        case dibJPEG:
        case dibPNG:
            if (!EmbeddedDecoderSlot(h.Compression))
                Fail("JPEG and PNG compressed bitmaps are not supported.");
            break;
        default:
            Fail("Unknown compression " + std::to_string(h.Compression) + ".");
    }
    if ((h.Compression == dibRLE8 || h.Compression == dibRLE4) && h.TopDown)
        Fail("Run-length encoded bitmaps cannot be stored top-down.");

    // Colour masks: inside V2 and later headers, else after a 40-byte header.
    int64_t afterMasks = headerStart + h.HeaderSize;
    if (h.Compression == dibBitFields || h.Compression == dibAlphaBitFields) {
        const int count = h.Compression == dibAlphaBitFields ? 4 : 3;
        if (h.HeaderSize >= 52) {
            for (int i = 0; i < 3; ++i)
                h.Masks[i] = GetU32LE(buf + 40 + 4 * i);
            if (h.HeaderSize >= 56) h.Masks[3] = GetU32LE(buf + 52);
        } else {
            uint8_t masks[16] = {};
            stream.ReadBuffer(masks, 4 * count);
            afterMasks += 4 * count;
            for (int i = 0; i < count; ++i)
                h.Masks[i] = GetU32LE(masks + 4 * i);
        }
        const uint32_t limit = h.BitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        bool any = false;
        for (uint32_t m : h.Masks) {
            TBitFieldChannel c;
            if (!c.Init(m) || (m & ~limit) != 0) Fail("Invalid colour masks.");
            any = any || m != 0;
        }
        if ((h.Masks[0] | h.Masks[1] | h.Masks[2]) == 0 || !any) Fail("Invalid colour masks.");
    } else if (h.BitCount == 16) {
        h.Masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (h.BitCount == 32) {
        h.Masks = {0xFF0000, 0xFF00, 0xFF, 0};
    }

    // Palette.
    const int entrySize = h.HeaderSize == 12 ? 3 : 4;
    const bool indexed = h.BitCount >= 1 && h.BitCount <= 8;
    if (indexed && h.HeaderSize != 12 && h.ColorsUsed > 256)
        Fail("Invalid palette size " + std::to_string(h.ColorsUsed) + ".");
    if (dataOffset >= 0 && dataOffset < afterMasks) Fail("Invalid pixel data offset.");
    if (!indexed) {
        // Colours for display on palette devices: not needed, whatever their number. With a
        // data offset the reader goes there; a packed DIB's pixels follow the table.
        if (dataOffset < 0 && h.ColorsUsed > 0) {
            const int64_t skip = int64_t(h.ColorsUsed) * entrySize;
            if (skip > stream.Remaining()) throw EReadError();
            stream.Seek(skip, TSeekOrigin::soCurrent);
        }
        return h;
    }
    int64_t entries = h.ColorsUsed != 0 ? h.ColorsUsed : (int64_t(1) << h.BitCount);
    if (dataOffset >= 0)
        entries = std::min<int64_t>(entries, (dataOffset - afterMasks) / entrySize);
    if (entries > 0) {
        uint8_t pal[256 * 4];
        stream.ReadBuffer(pal, entries * entrySize);
        {
            const int64_t keep = std::min<int64_t>(entries, int64_t(1) << h.BitCount);
            h.Palette.resize(static_cast<size_t>(keep));
            for (int64_t i = 0; i < keep; ++i) {
                const uint8_t* e = pal + i * entrySize;
                h.Palette[i] = TRGBQuad{e[0], e[1], e[2], 0};
            }
        }
    }
    if (h.Palette.empty()) Fail("The palette is missing.");
    return h;
}

void SetEmbeddedDecoder(TDibCompression compression, TEmbeddedDecoder decoder) {
    if (IsEmbedded(compression)) EmbeddedDecoderSlot(compression) = std::move(decoder);
}

void ReadPixels(TStream& stream, int64_t dataSize, const TDibHeader& h, TBitmap& bmp,
                TGraphic* reporter) {
    TBitmap::CheckSize(h.Width, h.Height);
    const int width = h.Width;
    const int height = h.Height;
    const int64_t srcStride = RowBytes(width, h.BitCount);
    if (dataSize < 0) dataSize = 0;

    if (IsEmbedded(h.Compression)) {
        // The image size says how long the embedded file is; when it is missing or too large
        // the file runs to the end of the data.
        const TEmbeddedDecoder& decode = EmbeddedDecoderSlot(h.Compression);
        if (!decode) Fail("JPEG and PNG compressed bitmaps are not supported.");
        const int64_t size =
            h.ImageSize != 0 && h.ImageSize <= dataSize ? int64_t(h.ImageSize) : dataSize;
        TMemoryStream embedded(stream.ReadBytes(size));
        TBitmap picture;
        try {
            decode(embedded, size, picture);
        } catch (const EInvalidGraphic&) {
            throw;
        } catch (const EImagingError& e) {
            // The JPEG reader and the stream raise their own kinds; a bitmap load fails as one.
            Fail(std::string("The embedded picture is invalid: ") + e.what());
        }
        if (picture.Width() <= 0 || picture.Height() <= 0) Fail("The embedded picture is empty.");
        bmp.Assign(picture);
        return;
    }

    if (h.Compression == dibRLE8 || h.Compression == dibRLE4) {
        // The compressed size in the header is often wrong; the data runs to its end-of-bitmap
        // code, so the decoder gets everything up to the end of the stream.
        std::vector<uint8_t> data(static_cast<size_t>(dataSize));
        stream.ReadBuffer(data.data(), dataSize);
        bmp.Clear();
        bmp.SetPixelFormat(h.BitCount == 8 ? pf8bit : pf4bit);
        bmp.SetSize(width, height);
        bmp.SetPalette(h.Palette);
        TRowBands bands(reporter, width, height, true);
        DecodeRLE(data.data(), data.size(), h, bmp, bands);
        if (!IndicesInPalette(bmp, h.BitCount, h.Palette.size()))
            Fail("Pixel refers to a colour beyond the palette.");
        return;
    }

    if (srcStride * height > dataSize) Fail("Pixel data is truncated.");

    auto rowOf = [&](int i) { return h.TopDown ? i : height - 1 - i; };

    if (h.BitCount <= 8) {
        bmp.Clear();
        bmp.SetPixelFormat(h.BitCount == 1 ? pf1bit : h.BitCount == 4 ? pf4bit : pf8bit);
        bmp.SetSize(width, height);
        bmp.SetPalette(h.Palette);
        ReadRows(stream, srcStride, h, bmp, reporter);
        if (!IndicesInPalette(bmp, h.BitCount, h.Palette.size()))
            Fail("Pixel refers to a colour beyond the palette.");
        return;
    }

    const TDirectLayout layout = DirectLayout(h);
    if (layout != TDirectLayout::Expand) {
        TPixelFormat format = pf24bit;
        switch (layout) {
            case TDirectLayout::Copy15:
                format = pf15bit;
                break;
            case TDirectLayout::Copy16:
                format = pf16bit;
                break;
            case TDirectLayout::Copy24:
                format = pf24bit;
                break;
            default:
                format = pf32bit;
                break;
        }
        bmp.Clear();
        bmp.SetPixelFormat(format);
        bmp.SetSize(width, height);
        ReadRows(stream, srcStride, h, bmp, reporter);
        if (layout == TDirectLayout::Copy32Opaque) {
            for (int y = 0; y < height; ++y) {
                uint8_t* row = bmp.ScanLine(y);
                for (int x = 0; x < width; ++x)
                    row[4 * x + 3] = 255;
            }
        }
        return;
    }

    // Any other bit-field layout: expand each channel to 8 bits.
    TBitFieldChannel r, g, b, a;
    r.Init(h.Masks[0]);
    g.Init(h.Masks[1]);
    b.Init(h.Masks[2]);
    a.Init(h.Masks[3]);
    const bool alpha = a.Bits != 0;
    bmp.Clear();
    bmp.SetPixelFormat(alpha ? pf32bit : pf24bit);
    bmp.SetSize(width, height);
    const int outBytes = alpha ? 4 : 3;
    std::vector<uint8_t> row(static_cast<size_t>(srcStride));
    TRowBands bands(reporter, width, height, !h.TopDown);
    for (int i = 0; i < height; ++i) {
        stream.ReadBuffer(row.data(), srcStride);
        uint8_t* dst = bmp.ScanLine(rowOf(i));
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel =
                h.BitCount == 16 ? GetU16LE(row.data() + 2 * x) : GetU32LE(row.data() + 4 * x);
            uint8_t* d = dst + outBytes * x;
            d[0] = b.Scale(pixel);
            d[1] = g.Scale(pixel);
            d[2] = r.Scale(pixel);
            if (alpha) d[3] = a.Scale(pixel);
        }
        bands.Arrived(i + 1);
    }
}

}  // namespace dib

// ---------------------------------------------------------------------------------------------

void TBitmap::LoadFromStream(TStream& stream) {
    try {
        const int64_t start = stream.Position();
        const int64_t end = stream.Size();
        uint8_t sig[kFileHeaderSize];
        if (end - start < 16) Fail("The file is too short to be a bitmap.");
        int64_t dataOffset = -1;
        stream.ReadBuffer(sig, 2);
        if (sig[0] == 'B' && sig[1] == 'M') {
            stream.ReadBuffer(sig + 2, kFileHeaderSize - 2);
            // The file size and reserved fields are not needed; many writers get them wrong.
            const uint32_t offBits = GetU32LE(sig + 10);
            if (offBits != 0) {
                dataOffset = start + offBits;
                if (dataOffset > end) Fail("Invalid pixel data offset.");
            }
        } else {
            // A packed DIB without file header starts with the size of its info header.
            uint8_t more[2];
            stream.ReadBuffer(more, 2);
            const uint32_t size = sig[0] | (sig[1] << 8) | (more[0] << 16) | (more[1] << 24);
            if (!IsKnownHeaderSize(size)) Fail("The file is not a Windows bitmap.");
            stream.SetPosition(start);
        }
        TDibHeader h = dib::ReadHeader(stream, dataOffset);
        if (dataOffset >= 0) stream.SetPosition(dataOffset);
        const int64_t dataSize = end - stream.Position();
        dib::ReadPixels(stream, dataSize, h, *this, this);
        SetTransparent(false);
    } catch (const EReadError&) {
        Fail("The file is truncated.");
    }
    Changed();
}

void TBitmap::SaveToStream(TStream& stream) {
    const TPixelFormat format = format_;
    const int width = width_;
    const int height = height_;
    if (width <= 0 || height <= 0) throw EInvalidGraphic("Cannot save an empty bitmap.");

    int bitCount = 0;
    uint32_t compression = dibRGB;
    bool asIs = true;  // rows written as held
    switch (format) {
        case pf1bit:
            bitCount = 1;
            break;
        case pf4bit:
            bitCount = 4;
            break;
        case pf8bit:
            bitCount = 8;
            break;
        case pf15bit:
            bitCount = 16;
            break;
        case pf16bit:
            bitCount = 16;
            compression = dibBitFields;
            break;
        case pfDevice:
        case pf24bit:
            bitCount = 24;
            break;
        case pf32bit:
        case pfCustom:
            bitCount = 32;
            asIs = format == pf32bit;
            break;
    }
    // A 32-bit image keeps its alpha through a V4 header with an alpha mask; everything else
    // gets the plain 40-byte info header.
    const bool alpha = bitCount == 32;
    const uint32_t headerSize = alpha ? 108 : 40;
    if (alpha) compression = dibBitFields;

    std::vector<TRGBQuad> palette;
    if (bitCount <= 8) {
        palette = palette_;
        if (palette.empty()) {
            // No palette: a grey ramp keeps the indices meaningful.
            const int n = 1 << bitCount;
            for (int i = 0; i < n; ++i) {
                const uint8_t v = static_cast<uint8_t>(i * 255 / (n - 1));
                palette.push_back(TRGBQuad{v, v, v, 0});
            }
        }
        palette.resize(std::min<size_t>(palette.size(), size_t(1) << bitCount));
    }
    const uint32_t maskBytes = (compression == dibBitFields && headerSize == 40) ? 12 : 0;
    const int64_t rowBytes = dib::RowBytes(width, bitCount);
    const int64_t imageSize = rowBytes * height;
    const int64_t offBits = kFileHeaderSize + headerSize + maskBytes + 4 * palette.size();
    const int64_t fileSize = offBits + imageSize;
    if (fileSize > UINT32_MAX) throw EInvalidGraphic("The bitmap is too large to be saved.");

    std::vector<uint8_t> head;
    head.reserve(static_cast<size_t>(offBits));
    head.push_back('B');
    head.push_back('M');
    PutU32LE(head, static_cast<uint32_t>(fileSize));
    PutU32LE(head, 0);
    PutU32LE(head, static_cast<uint32_t>(offBits));
    PutU32LE(head, headerSize);
    PutU32LE(head, static_cast<uint32_t>(width));
    PutU32LE(head, static_cast<uint32_t>(height));  // bottom-up
    PutU16LE(head, 1);
    PutU16LE(head, static_cast<uint32_t>(bitCount));
    PutU32LE(head, compression);
    PutU32LE(head, static_cast<uint32_t>(imageSize));
    PutU32LE(head, 2835);  // 72 dots per inch
    PutU32LE(head, 2835);
    PutU32LE(head, static_cast<uint32_t>(palette.size()));
    PutU32LE(head, 0);
    if (compression == dibBitFields && bitCount == 16) {
        PutU32LE(head, 0xF800);
        PutU32LE(head, 0x07E0);
        PutU32LE(head, 0x001F);
    }
    if (headerSize == 108) {
        PutU32LE(head, 0x00FF0000);
        PutU32LE(head, 0x0000FF00);
        PutU32LE(head, 0x000000FF);
        PutU32LE(head, 0xFF000000);
        PutU32LE(head, 0x73524742);             // 'sRGB'
        head.resize(head.size() + 36 + 12, 0);  // endpoints and gamma
    }
    for (const TRGBQuad& q : palette) {
        head.push_back(q.rgbBlue);
        head.push_back(q.rgbGreen);
        head.push_back(q.rgbRed);
        head.push_back(0);
    }
    stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));

    std::vector<uint8_t> row(static_cast<size_t>(rowBytes), 0);
    for (int y = height - 1; y >= 0; --y) {
        if (asIs) {
            std::memcpy(row.data(), ScanLine(y), static_cast<size_t>(rowBytes));
        } else {
            ConvertScanLineToBGRA(*this, y, row.data());
        }
        stream.WriteBuffer(row.data(), rowBytes);
    }
}
