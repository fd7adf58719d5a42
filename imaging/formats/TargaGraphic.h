#pragma once
// TTargaGraphic: reads and writes Truevision Targa files: colour-mapped, true-colour and grey
// images, uncompressed or run-length encoded (image types 1 to 3 and 9 to 11). The bitmap's
// pixel format is chosen to match the file's pixels (8-bit indexed, 15-bit, 24-bit or 32-bit
// blue-green-red), so rows are stored as the file holds them (rows stored right to left are
// turned round, grey with alpha keeps its grey byte). It is the one format class
// that also saves.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TTargaGraphic : public TFormatGraphicOf<TTargaGraphic> {
  public:
    static constexpr const char* kClassName = "TTargaGraphic";

    // True when more than 18 bytes remain and the header has a known image type (0 to 3,
    // 9 to 11), colour map type 0 or 1, a colour map entry size of 15, 16, 24 or 32 bits and
    // a pixel size of 8, 15, 16, 24 or 32 bits. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the 18-byte header into ImageProperties. True unless the width or the height is 0;
    // the rest of the header is not checked.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the Targa image at the stream's position.
    void LoadFromStream(TStream& stream) override;

    // Writes the bitmap as a run-length encoded Targa file.
    void SaveToStream(TStream& stream) override;
    // Writes the bitmap as a Targa file, run-length encoded when compressed is true. The rows
    // are written top row first; 1- and 4-bit bitmaps are widened to 8 bits and written with
    // a 256-entry colour map, 16-bit (5-6-5) bitmaps as 15-bit pixels, formats without a
    // Targa pixel layout as 24-bit pixels. An empty bitmap writes nothing.
    void SaveToStream(TStream& stream, bool compressed);

  private:
    void ReadColorMap(TStream& stream, uint8_t imageType, uint8_t mapType, uint32_t length,
                      uint8_t entryBits);
    void ReadRows(TStream& stream, uint8_t imageType, uint8_t pixelBits, bool topDown,
                  bool rightToLeft);
};
