#pragma once
// TJPEG2000Graphic: loads JPEG 2000 pictures through OpenJPEG, both the bare codestream (j2k,
// j2c) and the JP2 box format (jp2, jpf), told apart by their signatures. One to four
// components (grey, grey and alpha, RGB, RGBA); samples of more than 8 bits are reduced to 8
// with rounding, sYCC pictures are converted to RGB and subsampled components are spread over
// the whole picture. A reduced view decodes at a lower resolution level. It does not save.
#include <cstdint>

#include "imaging/FormatGraphicOf.h"

class TJPEG2000Graphic : public TFormatGraphicOf<TJPEG2000Graphic> {
  public:
    static constexpr const char* kClassName = "TJPEG2000Graphic";

    // True when the stream, at its position, starts with the JP2 signature box or a codestream's
    // SOC and SIZ markers; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the main header: the picture's full size and its components. False when it is not
    // a JPEG 2000 file. A file holds one picture: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the picture that starts at the stream's position, reduced by
    // ReducePower().
    void LoadFromStream(TStream& stream) override;

    // Decode at 1/2^n of the full size (each side rounded up), n = 0..7; a picture with fewer
    // resolution levels is decoded at its smallest. Like the JPEG picture's ScalePower.
    uint8_t ReducePower() const { return reducePower_; }
    void SetReducePower(uint8_t value) { reducePower_ = value > 7 ? 7 : value; }

    // A picture shown at half size or less loads first at the lowest resolution level that
    // still covers the view (1/2 to 1/128, as far as its levels go), read from the file's header.
    bool PrepareReducedLoad(const std::string& fileName, const TReducedDecode& wish, int& fullWidth,
                            int& fullHeight) override;

    // The resolution levels every component has (the smallest picture is reduced by one less),
    // read with the properties; 0 before.
    uint8_t ResolutionLevels() const { return levels_; }

  private:
    uint8_t reducePower_ = 0;
    uint8_t levels_ = 0;
};
