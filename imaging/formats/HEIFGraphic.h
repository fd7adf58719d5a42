#pragma once
// THEIFGraphic: loads the primary picture of a HEIF/HEIC file through libheif, with the
// file's rotation, mirroring and clean aperture applied (libheif applies them while decoding):
// 32-bit with alpha, else 24-bit; 10- and 12-bit samples are rounded to 8 bits. The embedded
// colour profile is not applied. It does not save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphic.h"

class THEIFGraphic : public TFormatGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // True when the stream starts with a file-type box naming a HEIF brand (heic, heix, mif1
    // and their relatives) and no AVIF brand; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the file (all of the stream from its position) and the primary picture's size,
    // alpha and sample depth. False when libheif does not read it as HEIF. imageIndex is not
    // used: the primary picture is the one shown.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the primary picture of the file that starts at the stream's
    // position.
    void LoadFromStream(TStream& stream) override;

  private:
    std::vector<uint8_t> data_;  // the file's bytes during a load (read by ReadProperties)
};
