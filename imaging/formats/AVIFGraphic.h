#pragma once
// TAVIFGraphic: loads AVIF pictures through libavif (AV1 decoded by dav1d, or another decoder
// libavif was built with): a still picture, or the first frame of a sequence, turned and
// mirrored as the file asks (libavif leaves that to us): 32-bit with alpha, else 24-bit; 10- and
// 12-bit samples are rounded to 8 bits. The embedded colour profile is not applied. It does not
// save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphic.h"

class TAVIFGraphic : public TFormatGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // True when the stream starts with a file-type box naming the avif or avis brand; the
    // position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the file (all of the stream from its position) and the picture's size, alpha, sample
    // depth and frame count (Version). False when libavif does not read it as AVIF. imageIndex
    // is not used: the first frame is the one shown.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the picture (or first frame) of the file that starts at the
    // stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    std::vector<uint8_t> data_;  // the file's bytes during a load (read by ReadProperties)
};
