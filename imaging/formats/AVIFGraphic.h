#pragma once
// TAVIFGraphic: loads AVIF pictures through libavif (AV1 decoded by dav1d, or another decoder
// libavif was built with): a still picture, or the first frame of a sequence, turned and
// mirrored as the file asks (libavif leaves that to us): 32-bit with alpha, else 24-bit; 10- and
// 12-bit samples are rounded to 8 bits. The embedded colour profile is not applied. It does not
// save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphicOf.h"
#include "imaging/formats/LibraryGraphic.h"

class TAVIFGraphic : public TFormatGraphicOf<TAVIFGraphic, TLibraryGraphic> {
  public:
    TAVIFGraphic() : TFormatGraphicOf("AVIF") {}
    static constexpr const char* kClassName = "TAVIFGraphic";

    // True when the stream starts with a file-type box naming the avif or avis brand; the
    // position is restored either way.
    static bool ProbeStream(TStream& stream);

  protected:
    // The picture's size, alpha, sample depth and frame count (Version); false when libavif
    // does not read the file as AVIF.
    bool ReadFileProperties(const std::vector<uint8_t>& data) override;
    // Decodes the picture, or the first frame of a sequence, into the bitmap.
    void Decode() override;
};
