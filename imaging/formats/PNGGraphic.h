#pragma once
// TPNGGraphic: loads Portable Network Graphics files (the PNG standard, ISO/IEC 15948) into a
// device-independent bitmap. It verifies the CRC of every chunk it reads, handles IHDR, PLTE,
// gAMA, bKGD, tRNS, IDAT and IEND, inflates the image data as one zlib stream across all IDAT
// chunks, undoes the five row filters, places the seven Adam7 passes of interlaced images and
// converts each row into the bitmap through the colour manager. It does not save.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphicOf.h"

class TLZ77Decoder;

class TPNGGraphic : public TFormatGraphicOf<TPNGGraphic> {
  public:
    static constexpr const char* kClassName = "TPNGGraphic";

    TPNGGraphic();
    ~TPNGGraphic() override;

    // True when at least 9 bytes remain after the position and the next 8 are the PNG
    // signature; the position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the signature, IHDR and a gAMA chunk (if one comes before IEND) into
    // ImageProperties. A PNG file holds one image: imageIndex is not used.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the image that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;

    // Decodes a PNG-compressed icon entry (the whole PNG file at the stream's position) into
    // target; the hook given to TIcon::SetPNGEntryDecoder.
    static void DecodeIconEntry(TStream& stream, int64_t size, TBitmap& target);

    // Image data that inflates to at most this many bytes (and to not much more than the
    // bitmap holds) is inflated in one piece; larger data is inflated row by row, so memory
    // stays near the bitmap's size. The pixels are the same either way. 0 keeps every image to
    // rows; the default is 256 MiB.
    static uint64_t WholeInflateLimit();
    static void SetWholeInflateLimit(uint64_t bytes);

  private:
    void ReadChunkHeader(TStream& stream);
    void ReadChunkData(TStream& stream);
    void SkipChunk(TStream& stream);
    bool ChunkIs(uint32_t type) const;
    void SetupColorManager();
    void ReadBackground();
    void ReadTransparency();
    void DecodeImage(TLZ77Decoder& decoder);
    bool FillBuffer(TLZ77Decoder& decoder, uint8_t* buffer, uint32_t count, uint32_t& produced);
    // Image data inflated in one piece, in pixel memory (large blocks get large pages).
    struct TInflated {
        uint8_t* data = nullptr;
        size_t size = 0;
        TInflated() = default;
        TInflated(const TInflated&) = delete;
        TInflated& operator=(const TInflated&) = delete;
        ~TInflated() { Release(); }
        explicit operator bool() const { return data != nullptr; }
        void Allocate(size_t bytes);
        void Release();
    };
    bool InflateWhole(uint64_t size, TInflated& out);
    void FillBackground(int firstRow, int endRow);
    void EndLoad();

    // IHDR fields of the image being loaded.
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint8_t bitDepth_ = 0;
    uint8_t colorType_ = 0;

    std::vector<uint8_t> chunkBuffer_;
    uint32_t chunkDataRemaining_ = 0;  // IDAT bytes not yet handed to the decoder
    const uint8_t* readPosition_ = nullptr;
    uint32_t chunkLength_ = 0;
    uint32_t chunkType_ = 0;  // the four type bytes, first in the high byte
    uint32_t crc_ = 0;
    uint32_t bytesPerPixel_ = 1;
    bool colorManagerReady_ = false;
    bool hasPalette_ = false;
    TPaletteEntries palette_;
    TPaletteEntries plte_;  // colours of the PLTE chunk, for an indexed background
    TColor backgroundColor_ = 0xFFFFFF;
    TColor transparentColor_ = clNone;
    // tRNS as the samples hold it: the gray or red-green-blue key, or the palette's alpha.
    bool keyGiven_ = false;
    uint16_t key_[3] = {0, 0, 0};
    std::vector<uint8_t> paletteAlpha_;
    // When the file has tRNS: the alpha of every pixel, taken from its stored samples while the
    // rows are read, and given to a 32-bit bitmap at the end.
    std::vector<uint8_t> alphaPlane_;
    void StoreRowAlpha(const uint8_t* samples, uint32_t count, int y, uint32_t firstColumn,
                       uint32_t columnStep);
    void ApplyAlphaPlane();
    float gamma_ = 0;  // file gamma of a gAMA chunk, 0 when none was seen in this load
    bool imageDone_ = false;
    bool dataEnded_ = false;  // the image data ended before the last row
};
