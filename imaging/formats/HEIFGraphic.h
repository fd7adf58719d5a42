#pragma once
// THEIFGraphic: loads the primary picture of a HEIF/HEIC file through libheif, with the
// file's rotation, mirroring and clean aperture applied (libheif applies them while decoding):
// 32-bit with alpha, else 24-bit; 10- and 12-bit samples are rounded to 8 bits. The embedded
// colour profile is not applied. It does not save.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/FormatGraphicOf.h"
#include "imaging/formats/LibraryGraphic.h"

class THEIFGraphic : public TFormatGraphicOf<THEIFGraphic, TLibraryGraphic> {
  public:
    THEIFGraphic() : TFormatGraphicOf("HEIF") {}
    static constexpr const char* kClassName = "THEIFGraphic";

    // True when the stream starts with a file-type box naming a HEIF brand (heic, heix, mif1
    // and their relatives) and no AVIF brand; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // A picture shown at half size or less loads the file's embedded thumbnail instead when one
    // is at least as large as it is shown (the full size is the primary picture's).
    bool PrepareReducedLoad(const std::string& fileName, const TReducedDecode& wish, int& fullWidth,
                            int& fullHeight) override;

  protected:
    // The primary picture's size, alpha and sample depth; false when libheif does not read the
    // file as HEIF.
    bool ReadFileProperties(const std::vector<uint8_t>& data) override;
    // Decodes the primary picture into the bitmap.
    void Decode() override;

  private:
    uint32_t thumbnailId_ = 0;  // the embedded thumbnail loaded instead of the picture, or 0
};
