#pragma once
// TTIFFGraphic: loads the first image of a Tagged Image File Format file (TIFF 6.0, baseline
// plus the extensions below) into a device-independent bitmap. The image file directory is
// read into memory, swapped to host order for "MM" files and sorted by tag so that every tag
// is found by binary search. The image is read in blocks, strips or tiles, one band of rows
// at a time (a strip, or a row of tiles): each block is unpacked by the shared decoders
// (PackBits, CCITT one-dimensional and Modified Huffman, deflate, JPEG, ThunderScan) and
// undone from horizontal differencing row by row; tiles are put side by side (cropped at the
// right and bottom edges), separate planes and subsampled YCbCr are put together, and the
// band is converted row by row through the colour manager. When TBitmap::AutoOrient() is on,
// the Orientation tag (2-8) turns the loaded bitmap into the way it is meant to be seen; the
// image properties keep the stored width and height (the bitmap's Width() and Height() are
// the shown ones). It does not save. (TEPSGraphic, EPSGraphic.h, shows the TIFF preview of a
// binary Encapsulated PostScript file.)
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/FormatGraphicOf.h"

class TDecoder;

class TTIFFGraphic : public TFormatGraphicOf<TTIFFGraphic> {
  public:
    static constexpr const char* kClassName = "TTIFFGraphic";

    TTIFFGraphic();
    ~TTIFFGraphic() override;

    // True when more than 8 bytes remain, the byte-order mark is "II" or "MM", the version is
    // 42 and the first directory offset lies inside the stream. The position is restored.
    static bool ProbeStream(TStream& stream);
    // Reads the header at the stream's position and the directory of image imageIndex (0 the
    // first) into ImageProperties; false when the stream holds no such TIFF image.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the image of the TIFF file that starts at the position: the first,
    // or the one SetPageIndex chose.
    void LoadFromStream(TStream& stream) override;
    // Which image (directory, 0 the first) LoadFromStream loads.
    void SetPageIndex(uint32_t index) { pageIndex_ = index; }

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
    // The Orientation tag of the last ReadProperties (1, top left, when absent).
    uint32_t Orientation() const { return orientation_; }
    // Reads the directory at offset (counted from the TIFF header) of the stream the last
    // ReadProperties read into Directory(), in place of the image's: for the directories an
    // entry points at (EXIF, GPS). False when it does not fit in the file.
    bool ReadDirectoryAt(int64_t offset);
    // The values of an entry as the file holds them: elements in the file's byte order
    // (bigEndian), except values kept in the entry itself, which are little-endian. False when
    // they cannot be read or take more than maxBytes.
    bool EntryBytes(const TIFDEntry& entry, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                    bool& bigEndian) const;

  private:
    bool ReadDirectory(TStream& stream, int64_t offset);
    const TIFDEntry* FindTag(uint16_t tag) const;
    // Keeps the directory's embedded colour profile, if it has a usable one.
    void ReadIccProfile();
    // The values of an entry as bytes in a known byte order; false when they cannot be read
    // (unknown type, outside the file, too many).
    struct TValues;
    bool ReadValues(const TIFDEntry& entry, TValues& values) const;
    uint32_t ReadInteger(uint16_t tag, uint32_t fallback) const;
    float ReadFloat(uint16_t tag, float fallback) const;
    // All values of the tag (none when it is missing or unreadable), as integers or floats.
    template <class T>
    std::vector<T> ReadList(uint16_t tag) const;

    void SetupColorManager();
    // Checks the tile geometry and the tile lists; raises the invalid-format message.
    void CheckTiles();
    // Palette images of more than 8 bits a sample: the whole colour map, each entry reduced
    // to 8 bits a component, for a 24-bit bitmap.
    void ReadWideColorMap();
    void LoadBlocks(TDecoder* decoder);
    // The decoder of the compression (null for uncompressed data); decoders that count pixels
    // get the block width (a tile's or the image's), since every strip and tile is coded on
    // its own.
    std::unique_ptr<TDecoder> CreateDecoder() const;
    // Reads block (strip or tile) number index into buffer, unpacked by the decoder, and
    // sizes buffer to what the block can hold: at most unpackedSize bytes, and never more
    // than its packed bytes can unpack to (rounded up to whole rows of rowBytes bytes), so a
    // short file that claims a large picture costs no more memory than its data. Rows of
    // rowBytes bytes and blockWidth pixels are then undone from horizontal differencing. An
    // empty buffer: the file holds nothing of the block.
    void ReadBlock(TDecoder* decoder, std::vector<uint8_t>& packed, uint64_t index,
                   std::vector<uint8_t>& buffer, uint64_t unpackedSize, uint64_t rowBytes,
                   uint32_t blockWidth);
    // Converts rows rows of the band (row r of plane k at band[k] + r x line; rows beyond a
    // plane's buffer read as zero) into the bitmap from CurrentRow on; progress per row, or
    // once for the whole band.
    void ConvertRows(std::vector<std::vector<uint8_t>>& band, uint64_t line, uint32_t rows,
                     bool bandProgress);
    // Converts one band row (one pointer per plane) into bitmap row y.
    void ConvertRow(const void* const* source, size_t planes, uint32_t y);
    // Scales count 32-bit samples (unsigned, signed or floating point) at the start of row to
    // 8 bits in place, over the range of wideMin_..wideMax_.
    void ReduceWideSamples(uint8_t* row, size_t count) const;

    std::vector<TIFDEntry> directory_;
    TStream* tagStream_ = nullptr;  // the stream ReadProperties reads from
    int64_t base_ = 0;              // where the TIFF header starts in tagStream_
    int64_t fileSize_ = 0;          // bytes of the TIFF from base_ to the end of the stream
    bool bigEndian_ = false;
    std::array<float, 3> yCbCrCoefficients_{0.299f, 0.587f, 0.114f};
    uint32_t yCbCrPositioning_ = 1;
    uint32_t t4Options_ = 0;
    uint32_t orientation_ = 1;
    uint32_t pageIndex_ = 0;

    // Layout of the load in progress.
    std::vector<uint32_t> blockOffsets_;     // strip or tile offsets
    std::vector<uint32_t> blockByteCounts_;  // their packed sizes
    uint32_t blockWidth_ = 0;                // pixels of a block row: tile or image width
    uint32_t sourceSamples_ = 1;             // samples of a pixel that reach the colour manager
    bool planar_ = false;
    bool reverseBits_ = false;      // fill order 2 for decoders that do not handle it
    bool subsampled_ = false;       // YCbCr with chroma subsampling outside JPEG
    bool associatedAlpha_ = false;  // the alpha sample is associated (colours premultiplied)
    uint32_t hSub_ = 1, vSub_ = 1;
    // Palette images of more than 8 bits a sample: blue, green, red of every index.
    std::vector<uint8_t> wideColorMap_;
    // Rows that the file does not hold: a band row of zeros, the bitmap row it converts to,
    // and whether that is all zero (then the fresh bitmap's row is left as it is).
    std::vector<uint8_t> zeroLine_, zeroTarget_;
    bool zeroTargetIsZero_ = false;
    // 32-bit samples: their format (1 unsigned, 2 signed, 3 floating point) and the range
    // that maps to 0..255 (SMinSampleValue/SMaxSampleValue, else the type's).
    bool wideSamples_ = false;
    uint32_t sampleFormat_ = 1;
    double wideMin_ = 0, wideMax_ = 1;
};
