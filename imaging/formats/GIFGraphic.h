#pragma once
// TGIFGraphic: loads the first image of a CompuServe GIF file (87a and 89a) through giflib into
// an 8-bit indexed bitmap. The palette is the image's local colour map, else the global one,
// else a grey ramp. The frame is placed on the logical screen; the rest of the screen holds the
// transparent index when the frame has one, else the background index. Interlaced images are
// put back into row order. A frame with a transparent index (graphic control extension) is
// held as 32 bits with alpha, its transparent pixels (and the screen around it) with alpha 0.
// Damaged or missing data keeps the pixels decoded before it, with a load warning that says
// where the data ended; only a frame without any data fails. It does not save.
#include <cstdint>
#include <string>

#include "imaging/FormatGraphicOf.h"

struct GifFileType;

// Reads the next row of width pixels of the frame giflib is decoding into line; lastRow for the
// frame's last row. False when the data ended or broke inside the row (giflib's Error says
// which); the pixels it reached are in line. A file that ends after the last row's pixels,
// without the data blocks' terminator, still gives the whole row.
bool ReadGifRow(GifFileType* gif, uint8_t* line, int width, bool lastRow);
// The load warning for a frame whose data ended (or turned bad, after giflib's error code)
// after rows of its height rows.
std::string DamagedGifWarning(int error, int rows, int height);
// Row of the bitmap for the n-th row of an interlaced frame of the given height: first every
// eighth row from 0, then every eighth from 4, every fourth from 2, every second from 1.
int GifInterlacedRow(int n, int height);

class TGIFGraphic : public TFormatGraphicOf<TGIFGraphic> {
  public:
    static constexpr const char* kClassName = "TGIFGraphic";

    // True when at least 13 bytes remain and the next six read "GIF87a" or "GIF89a"; the
    // position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the signature and the logical screen descriptor. False when the signature does not
    // match. Only the first image is read: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the first image of the file that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;
};
