#pragma once
// Reading and writing device-independent bitmaps (the Windows BMP format, also the image data
// inside icons). TBitmap::LoadFromStream and TIcon use these routines.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/Bitmap.h"

// Compression values of the info header.
enum TDibCompression : uint32_t {
    dibRGB = 0,
    dibRLE8 = 1,
    dibRLE4 = 2,
    dibBitFields = 3,  // OS/2 2.x: Huffman 1D
    dibJPEG = 4,       // OS/2 2.x: RLE24
    dibPNG = 5,
    dibAlphaBitFields = 6,
};

// What the info header of a device-independent bitmap says, checked for consistency.
struct TDibHeader {
    uint32_t HeaderSize = 0;
    int32_t Width = 0;
    int32_t Height = 0;  // always positive; see TopDown
    bool TopDown = false;
    uint16_t BitCount = 0;
    uint32_t Compression = dibRGB;
    uint32_t ImageSize = 0;
    int32_t XPelsPerMeter = 0;
    int32_t YPelsPerMeter = 0;
    uint32_t ColorsUsed = 0;
    bool OS2 = false;  // OS/2 1.x core header or OS/2 2.x header
    // Red, green, blue and alpha masks of 16- and 32-bit pixels (bit-field layouts); for
    // BI_RGB they hold the implied layout (5-5-5 or 8-8-8 without alpha).
    std::array<uint32_t, 4> Masks{};
    std::vector<TRGBQuad> Palette;
};

namespace dib {

// Reads the info header, colour masks and palette at the stream's position. When dataOffset
// is not negative it is the absolute stream position of the pixel data (from a file header);
// the palette is then limited to the room before it. Leaves the stream after the palette.
// Raises EInvalidGraphic for every inconsistent or unsupported header.
TDibHeader ReadHeader(TStream& stream, int64_t dataOffset);

// Decodes the pixel data that starts at the stream's position and spans at most dataSize
// bytes into the bitmap, in its natural pixel format (see the .cpp). Raises EInvalidGraphic
// when the data is truncated or malformed; never reads beyond dataSize bytes. When reporter is
// given, the rows' progress goes to it (every few rows), and its cancel flag is polled there.
void ReadPixels(TStream& stream, int64_t dataSize, const TDibHeader& header, TBitmap& target,
                TGraphic* reporter = nullptr);

// Bytes of one stored row of the given width and bit count (4-byte aligned).
int64_t RowBytes(int64_t width, int bitCount);

// Bitmaps compressed with dibJPEG or dibPNG hold a complete JPEG or PNG file as their pixel
// data. The decoder for each is handed in from outside (the registry sets the JPEG and PNG
// loaders), so this code does not depend on the loaders: it gets a stream over the embedded
// file, the file's size, and the bitmap to fill. Without a decoder such bitmaps are refused.
using TEmbeddedDecoder = std::function<void(TStream& stream, int64_t size, TBitmap& target)>;
void SetEmbeddedDecoder(TDibCompression compression, TEmbeddedDecoder decoder);

}  // namespace dib
