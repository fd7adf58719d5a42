#pragma once
// TCUTGraphic: loads Dr. Halo CUT pictures: 8-bit palette indices in run-length rows. The
// palette lives in a separate Dr. Halo palette file of the same name with the extension
// ".pal"; without one the picture is shown with a gray ramp. The format has no signature, so
// the class is chosen by the file extension only. It does not save.
#include <cstdint>
#include <string>

#include "imaging/FormatGraphicOf.h"

class TCUTGraphic : public TFormatGraphicOf<TCUTGraphic> {
  public:
    static constexpr const char* kClassName = "TCUTGraphic";

    // CUT files have no signature: always false.
    static bool ProbeStream(TStream& stream);
    // Reads width and height. False when the stream holds fewer than the 6 header bytes.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Loads the file with the palette file beside it (when there is one).
    void LoadFromFile(const std::string& fileName) override;
    // Replaces the bitmap by the picture that starts at the stream's position. The palette
    // comes from the palette file of the file being loaded by LoadFromFile; a picture loaded
    // from a stream alone gets the gray ramp.
    void LoadFromStream(TStream& stream) override;

    // The palette file that belongs to an image file: the name with its extension replaced
    // by ".pal" (or ".PAL" when only that exists). Empty when neither exists.
    static std::string PaletteFileFor(const std::string& fileName);

  private:
    TPaletteEntries ReadPaletteFile(const std::string& fileName) const;

    std::string paletteFile_;
};
