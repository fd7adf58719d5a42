#pragma once
// TPCXGraphic: loads ZSoft Paintbrush (PCX) files and the Word screen captures that share
// their layout (first byte 205): 1, 2, 4 and 8-bit single-plane images, 4, 8 and 16-colour
// images of two to four 1-bit planes, and 24-bit and 32-bit (with alpha) images of three and
// four 8-bit planes, run-length encoded or raw; other layouts are refused with the colour
// format message. The palette comes from the header, from the 256-colour block at the end of
// the file or from the default 16 colours. It does not save.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TPCXGraphic : public TFormatGraphicOf<TPCXGraphic> {
  public:
    static constexpr const char* kClassName = "TPCXGraphic";

    // True when more than 128 bytes remain and the header has manufacturer 10, 12 or 205,
    // version 0, 2, 3 or 5 and encoding 0 or 1. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the 128-byte header into ImageProperties; false unless the manufacturer byte is
    // 10 or 205 and the picture has a width and a height.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the PCX image at the stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    void SetupPalette(TStream& stream, const uint8_t* header);
};
