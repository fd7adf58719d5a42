#pragma once
// TEPSGraphic: shows the TIFF preview of a binary Encapsulated PostScript file (the PostScript
// itself is not drawn).
#include "imaging/FormatGraphicOf.h"
#include "imaging/formats/TIFFGraphic.h"

class TEPSGraphic : public TFormatGraphicOf<TEPSGraphic, TTIFFGraphic> {
  public:
    static constexpr const char* kClassName = "TEPSGraphic";

    // True when more than 30 bytes remain, the binary EPS magic matches, the TIFF preview
    // starts after the 30-byte header (right after it, or later) inside the stream and is not
    // empty. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the 30-byte header at the stream's position and the properties of the TIFF
    // preview it points at; false when either is missing.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Loads the TIFF preview that the 30-byte header points at.
    void LoadFromStream(TStream& stream) override;
};
