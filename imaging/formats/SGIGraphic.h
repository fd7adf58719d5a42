#pragma once
// TSGIGraphic: loads Silicon Graphics image files: grey, RGB and RGBA, 8 or 16 bits per
// channel, stored verbatim or run-length encoded. Each channel is a plane of rows, bottom row
// first; for one image row the loader fetches that row of every channel and converts them
// into the bitmap. Channel counts other than 3 and 4 are shown through the first channel with
// a grey palette. It does not save.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/FormatGraphic.h"

class TSGIRLEDecoder;

class TSGIGraphic : public TFormatGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    TSGIGraphic();
    ~TSGIGraphic() override;

    // True when more than 512 bytes remain, the magic number is 474, the bytes per channel
    // are 1 or 2 and the dimension is 1, 2 or 3. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the 512-byte header into ImageProperties; false unless the magic number is 474.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the SGI image at the stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    // Reads (or decodes) row y of channel c, Width samples, into target; bytes the file does
    // not supply are zero.
    void ReadChannelRow(uint32_t y, uint32_t c, uint8_t* target);
    void EndLoad();

    uint32_t bytesPerChannel_ = 1;
    int64_t streamSize_ = 0;
    // Run-length files: file offset and packed length of every channel row (row y of channel
    // c at y + c x Height).
    std::vector<uint32_t> rowStart_;
    std::vector<uint32_t> rowSize_;
    std::unique_ptr<TSGIRLEDecoder> decoder_;
    std::vector<uint8_t> packed_;
};
