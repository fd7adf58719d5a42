#pragma once
// TSGIGraphic: loads Silicon Graphics image files: grey, RGB and RGBA, 8 or 16 bits per
// channel, stored verbatim or run-length encoded. Each channel is a plane of rows, bottom row
// first; for one image row the loader fetches that row of every channel and converts them
// into the bitmap. Channel counts other than 3 and 4 are shown through the first channel with
// a grey palette. It does not save.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TSGIGraphic : public TFormatGraphicOf<TSGIGraphic> {
  public:
    static constexpr const char* kClassName = "TSGIGraphic";

    TSGIGraphic();
    ~TSGIGraphic() override;

    // True when more than 512 bytes remain, the magic number is 474, the bytes per channel
    // are 1 or 2 and the dimension is 1, 2 or 3. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the 512-byte header into ImageProperties; false unless the magic number is 474,
    // samples have one or two bytes and there are channels, columns and rows.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the SGI image at the stream's position.
    void LoadFromStream(TStream& stream) override;
};
