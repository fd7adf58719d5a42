#pragma once
// TQOIGraphic: loads "Quite OK Image" pictures (RGB or RGBA, 8 bits per sample). The chunk
// stream is decoded straight into the bitmap's rows: 32-bit with alpha for four channels, else
// 24-bit. A file that ends early keeps the rows decoded before. It does not save.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TQOIGraphic : public TFormatGraphicOf<TQOIGraphic> {
  public:
    static constexpr const char* kClassName = "TQOIGraphic";

    // True when more than the 14-byte header remains and it starts with "qoif"; the position
    // is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the 14-byte header. False when the magic is wrong, a side is 0, or the channel
    // count (3 or 4) or colour space (0 or 1) is out of range. A file holds one picture:
    // imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the picture that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;
};
