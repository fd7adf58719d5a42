#pragma once
// TJPEGXLGraphic: loads JPEG XL pictures (lossless and lossy, with or without alpha), both the
// bare codestream and the box container, through libjxl. The picture is turned by its
// orientation; grey pictures come as RGB. It does not save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphicOf.h"
#include "imaging/formats/LibraryGraphic.h"

class TJPEGXLGraphic : public TFormatGraphicOf<TJPEGXLGraphic, TLibraryGraphic> {
  public:
    TJPEGXLGraphic() : TFormatGraphicOf("JPEG XL") {}
    static constexpr const char* kClassName = "TJPEGXLGraphic";

    // True when the stream, at its position, starts with the codestream's two signature bytes
    // or the container's signature box; the position is restored either way.
    static bool ProbeStream(TStream& stream);

  protected:
    // The basic information: the size as shown (after orientation), alpha, bit depth, and
    // whether the file is a bare codestream (Version 1) or a container (2); false when it is
    // not a JPEG XL file.
    bool ReadFileProperties(const std::vector<uint8_t>& data) override;
    // Decodes the picture into the bitmap.
    void Decode() override;
};
