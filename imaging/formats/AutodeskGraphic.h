#pragma once
// TAutodeskGraphic: loads Autodesk Animator cel (.cel) and picture (.pic) files: a 32-byte
// header, a palette of 256 entries with 6-bit components, then 8-bit palette indices row by
// row from the top, uncompressed. It does not save.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TAutodeskGraphic : public TFormatGraphicOf<TAutodeskGraphic> {
  public:
    static constexpr const char* kClassName = "TAutodeskGraphic";

    // True when more than 32 bytes remain, the magic number is 9119h, the bits per pixel are
    // 8 and the compression is 0; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the header. False when the magic number does not match or the header is cut
    // short. A file holds one image: imageIndex is unused.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the picture that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;
};
