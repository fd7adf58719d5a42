#pragma once
// TWebPGraphic: loads still WebP pictures (lossy, lossless, with or without alpha) through
// libwebp, decoding straight into the rows of the bitmap: 32-bit with alpha, else 24-bit. Of an
// animation the first frame is shown, placed on the canvas (transparent elsewhere). A file that
// ends early keeps the rows decoded so far. It does not save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphicOf.h"

class TWebPGraphic : public TFormatGraphicOf<TWebPGraphic> {
  public:
    static constexpr const char* kClassName = "TWebPGraphic";

    // True when at least 20 bytes remain and they start with "RIFF", a size and "WEBP"; the
    // position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the RIFF container (up to the size it gives, at most to the end of the stream) and
    // the picture's features. False when it is not a WebP file or libwebp does not recognise
    // the features. A file holds one picture: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the picture of the file that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    void DecodeStill(const uint8_t* data, size_t size, int left, int top, int width, int height);

    std::vector<uint8_t> data_;  // the file's bytes during a load (read by ReadProperties)
    bool animated_ = false;
};
