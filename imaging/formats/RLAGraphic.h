#pragma once
// TRLAGraphic: loads Alias/Wavefront RLA (and RPF) images: a 740-byte header, a table of
// scanline offsets, and per scanline one run-length record per channel (red, green, blue, then
// the matte channel when there is one). Each scanline's channels are decoded into planes and
// converted into one bitmap row; the file gamma is applied when it is not 1. It does not save.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TRLAGraphic : public TFormatGraphicOf<TRLAGraphic> {
  public:
    static constexpr const char* kClassName = "TRLAGraphic";

    // True when more than 740 bytes remain, the revision is FFFEh and the channel kind is "rgb"
    // or "xyz" (in any letter case); the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the header into ImageProperties; false when the channel kind is neither "rgb" nor
    // "xyz". A file holds one image: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the image that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;
};
