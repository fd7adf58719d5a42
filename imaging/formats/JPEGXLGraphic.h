#pragma once
// TJPEGXLGraphic: loads JPEG XL pictures (lossless and lossy, with or without alpha), both the
// bare codestream and the box container, through libjxl. The picture is turned by its
// orientation; grey pictures come as RGB. It does not save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphic.h"

class TJPEGXLGraphic : public TFormatGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // True when the stream, at its position, starts with the codestream's two signature bytes
    // or the container's signature box; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the file (to the end of the stream) and its basic information: the size as shown
    // (after orientation), alpha, bit depth. False when it is not a JPEG XL file. A file holds
    // one picture: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the picture of the file that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    std::vector<uint8_t> data_;  // the file's bytes during a load (read by ReadProperties)
};
