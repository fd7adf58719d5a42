#pragma once
// TTIFFJPEGDecoder: JPEG-compressed TIFF strips and tiles (compression 7) through libjpeg, with the
// shared tables of the JPEGTables tag. Output rows are blue, green, red for three-component
// colour images and the samples as stored otherwise.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/FormatGraphic.h"
#include "imaging/decoders/Decoder.h"

class TTIFFJPEGDecoder : public TDecoder {
  public:
    // The properties (not owned) give the strip or tile geometry; the loader keeps CurrentRow
    // up to date between strips.
    explicit TTIFFJPEGDecoder(const TImageProperties& Properties);
    ~TTIFFJPEGDecoder() override;

    // Decodes one strip or tile of PackedSize bytes into UnpackedSize bytes of BytesPerLine
    // rows.
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    // Creates the decompressor and reads the tables; EndDecoding destroys it.
    void EndDecoding() override;
    void BeginDecoding() override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  private:
    struct TLibrary;  // the libjpeg objects
    std::unique_ptr<TLibrary> library_;
    const TImageProperties& properties_;
    uint16_t hSubSampling_ = 1;
    uint16_t vSubSampling_ = 1;
    std::vector<uint8_t> row_;
    std::vector<uint8_t> tables_;
};
