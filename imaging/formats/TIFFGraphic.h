#pragma once
// TTIFFGraphic: loads the first image of a Tagged Image File Format file (TIFF 6.0, baseline
// plus the extensions below) into a device-independent bitmap. The image file directory is
// read into memory, swapped to host order for "MM" files and sorted by tag so that every tag
// is found by binary search. Strips are read one at a time, unpacked by the shared decoders
// (PackBits, CCITT one-dimensional and Modified Huffman, deflate, JPEG, ThunderScan),
// undone from horizontal differencing and converted row by row through the colour manager.
// Separate planes and subsampled YCbCr are put together before conversion. Tiled images are
// recognised but not loaded (the bitmap stays empty). It does not save.
//
// TEPSGraphic shows the TIFF preview of a binary Encapsulated PostScript file.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/FormatGraphic.h"

class TDecoder;

class TTIFFGraphic : public TFormatGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    TTIFFGraphic();
    ~TTIFFGraphic() override;

    // True when more than 8 bytes remain, the byte-order mark is "II" or "MM", the version is
    // 42 and the first directory offset lies inside the stream. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the header at the stream's position and the directory of image imageIndex (0 the
    // first) into ImageProperties; false when the stream holds no such TIFF image.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the first image of the TIFF file that starts at the position.
    void LoadFromStream(TStream& stream) override;
    // Saving is not supported: does nothing.
    void SaveToStream(TStream& stream) override;

    // One directory entry with its value field in host order: inline values each stored least
    // significant byte first in their place, an offset as one 32-bit value.
    struct TIFDEntry {
        uint16_t Tag = 0;
        uint16_t Type = 0;
        uint32_t Count = 0;
        uint8_t Value[4] = {0, 0, 0, 0};
    };
    // The directory read by the last ReadProperties, sorted by tag.
    const std::vector<TIFDEntry>& Directory() const { return directory_; }

  private:
    bool ReadDirectory(TStream& stream, int64_t offset);
    const TIFDEntry* FindTag(uint16_t tag) const;
    // The values of an entry as bytes in a known byte order; false when they cannot be read
    // (unknown type, outside the file, too many).
    struct TValues;
    bool ReadValues(const TIFDEntry& entry, TValues& values) const;
    uint32_t ReadInteger(uint16_t tag, uint32_t fallback) const;
    float ReadFloat(uint16_t tag, float fallback) const;
    std::vector<uint32_t> ReadIntegerList(uint16_t tag) const;
    std::vector<float> ReadFloatList(uint16_t tag) const;
    std::vector<uint8_t> ReadByteList(uint16_t tag) const;

    void SetupColorManager();
    void LoadStrips();
    std::unique_ptr<TDecoder> CreateDecoder();
    // Reads strip number index and unpacks it into buffer (zero-filled first); the bytes that
    // the strip really holds are unpacked, the rest stays zero.
    void ReadStrip(uint32_t index, std::vector<uint8_t>& buffer, uint64_t unpackedSize);

    std::vector<TIFDEntry> directory_;
    TStream* tagStream_ = nullptr;  // the stream ReadProperties reads from
    int64_t base_ = 0;              // where the TIFF header starts in tagStream_
    int64_t fileSize_ = 0;          // bytes of the TIFF from base_ to the end of the stream
    bool bigEndian_ = false;
    std::array<float, 3> yCbCrCoefficients_{0.299f, 0.587f, 0.114f};
    uint32_t yCbCrPositioning_ = 1;
    uint32_t t4Options_ = 0;

    // Layout of the load in progress.
    std::unique_ptr<TDecoder> decoder_;
    std::vector<uint32_t> stripOffsets_;
    std::vector<uint32_t> stripByteCounts_;
    std::vector<uint8_t> packed_;
    uint32_t sourceSamples_ = 1;  // samples of a pixel that reach the colour manager
    bool planar_ = false;
    bool reverseBits_ = false;  // fill order 2 outside the fax decoders
    bool subsampled_ = false;   // YCbCr with chroma subsampling outside JPEG
    uint32_t hSub_ = 1, vSub_ = 1;
};

class TEPSGraphic : public TTIFFGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // True when more than 30 bytes remain, the binary EPS magic matches, the TIFF preview
    // starts after the header and is not empty. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the 30-byte header and loads the TIFF preview it points at.
    void LoadFromStream(TStream& stream) override;
};
