#pragma once
// TPCDGraphic: loads the base resolution (768 x 512 pixels) of a Kodak Photo-CD image or
// overview file. Luminance is stored at full size, the two chrominance planes at half size in
// both directions; the chrominance is doubled, Photo YCC is converted to blue-green-red and the
// rotation recorded in the file is applied. It does not save.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TPCDGraphic : public TFormatGraphicOf<TPCDGraphic> {
  public:
    static constexpr const char* kClassName = "TPCDGraphic";

    // True when at least 6145 bytes remain and the file begins with "PCD_OPA" (an overview
    // file) or has "PCD" at offset 2048 (an image file); the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the first three sectors and describes resolution imageIndex (0 = 192 x 128 up to
    // 5 = 6144 x 4096; larger indexes count as 5; an overview file has only 0). Width and
    // height are exchanged for the rotations by a quarter turn. A file shorter than three
    // sectors raises the stream's read error.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the base image of the file at the stream's position.
    void LoadFromStream(TStream& stream) override;
};
