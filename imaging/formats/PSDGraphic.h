#pragma once
// TPSDGraphic: loads the merged (flattened) image of an Adobe Photoshop file (.psd, .pdd).
// Layers, image resources and masks are skipped. Bitmap, grey, duotone (shown grey), indexed,
// RGB, multichannel, CMYK and L*a*b* images of 8 and 16 bits per channel are read, raw or
// PackBits-compressed; a fourth RGB channel is the alpha of the bitmap. It does not save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphicOf.h"

class TPSDGraphic : public TFormatGraphicOf<TPSDGraphic> {
  public:
    static constexpr const char* kClassName = "TPSDGraphic";

    // True when more than 26 bytes remain, the first four read "8BPS" in any letter case and
    // the version is 1; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the file header, skips the colour mode data, the image resources and the layer
    // and mask information and reads the compression of the image data. False when the
    // signature is not "8BPS" or the header describes no image this loader can hold (no
    // channel or more than 56, a channel depth other than 1, 8 or 16). A file holds one
    // merged image: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the merged image of the file that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    void SetupColorManager();
    void ReadColorModeData();
    void SkipSection(TStream& stream);
    // Reads the image resources section, keeping the embedded colour profile.
    void ReadImageResources(TStream& stream);
    void LoadSingleChannel(const std::vector<uint16_t>& byteCounts);
    void LoadColorChannels(const std::vector<uint16_t>& byteCounts, unsigned planes);
};
