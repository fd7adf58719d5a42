#pragma once
// TPSPGraphic: loads Paint Shop Pro image files (file format versions 3 and later). The file is
// a sequence of blocks; the loader takes size and depth from the general attributes block, the
// colours from the palette block and the pixels from the first raster layer of the layer bank,
// whose channels (red, green, blue, and a composite or transparency channel) are stored one per
// channel block, uncompressed, run-length or deflate compressed. Other layers, masks and extra
// data are skipped. It does not save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphicOf.h"

class TPSPGraphic : public TFormatGraphicOf<TPSPGraphic> {
  public:
    static constexpr const char* kClassName = "TPSPGraphic";

    // True when more than 36 bytes remain, the header text matches and the major version is at
    // least 3; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the file header and the general attributes block into ImageProperties. A file
    // holds one image: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the image that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    // A block: its id and where its contents begin and end in the stream.
    struct TBlock {
        uint16_t Id = 0;
        int64_t Start = 0;
        int64_t End = 0;
    };
    // Planes of one layer, indexed by channel type (composite, red, green, blue).
    enum : int { kComposite = 0, kRed = 1, kGreen = 2, kBlue = 3 };

    // Reads the header of the block at the position when it fits before limit and its
    // identifier starts with "~"; false otherwise.
    bool ReadBlockHeader(TStream& stream, int64_t limit, TBlock& block) const;
    void ReadPalette(TStream& stream, const TBlock& block);
    // Reads the first raster layer of the bank and converts it into the bitmap; false when the
    // bank holds none.
    bool ReadLayerBank(TStream& stream, const TBlock& bank);
    void ReadChannel(TStream& stream, const TBlock& block);
    void DecodeChannel(const std::vector<uint8_t>& packed, std::vector<uint8_t>& plane,
                       uint32_t unpacked);
    void TransferRows(bool withAlpha);

    uint16_t major_ = 0;
    uint16_t bitDepth_ = 0;
    uint16_t compression_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    bool greyscale_ = false;
    int64_t firstBlockEnd_ = 0;
    uint64_t rowSize_ = 0;  // bytes of one row in a channel
    bool colour_ = false;   // red, green and blue planes (else one composite plane)
    std::vector<uint8_t> planes_[4];
};
