#pragma once
// TDecoder and the shared decompressors the format loaders use: the byte-oriented run-length
// schemes (Targa, PackBits, PCX, SGI, Dr. Halo CUT, Paint Shop Pro, Alias/Wavefront RLA), the
// CCITT fax decoders (T.4 Group 3 one- and two-dimensional, Modified Huffman, T.6 Group 4), TIFF
// LZW, deflate over zlib and ThunderScan. The JPEG-in-TIFF decoder lives in TIFFJPEGDecoder.h.
//
// Bounds: every decoder reads at most PackedSize bytes from Source and writes at most
// UnpackedSize units (bytes, or pixels where a class says so) to Dest, whatever the data.
// Damaged data ends decoding early; the rest of the destination is left as it was (or zero
// where the decoder clears it first). Negative sizes count as 0.
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Receives the warnings that a decoder shows the user (caption, text) without failing, such as
// a truncated JPEG strip. The application installs a message box; by default they are dropped.
using TDecoderWarningHandler =
    std::function<void(const std::string& caption, const std::string& text)>;
void SetDecoderWarningHandler(TDecoderWarningHandler handler);
// Passes one warning to the installed handler (if any).
void DecoderWarning(const std::string& caption, const std::string& text);

class TDecoder {
  public:
    TDecoder() = default;
    virtual ~TDecoder() = default;
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    // Unpacks from Source into Dest. Some decoders move the two positions (see each class).
    virtual void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                             int32_t UnpackedSize) = 0;
    virtual void EndDecoding() {}
    virtual void BeginDecoding() {}
    // Packs Count units from Source into Dest; BytesStored receives the bytes written.
    virtual void EncodeBlock(const uint8_t* Source, uint8_t* Dest, uint32_t Count,
                             uint32_t& BytesStored) = 0;
    virtual void EndEncoding() {}
    virtual void BeginEncoding() {}
};

// Truevision Targa run-length packets. Sizes are in pixels; Source is moved past the last
// packet consumed. A packet that runs past the end of the destination (packets may span rows)
// is finished by the next call. The only decoder that also encodes.
class TTargaRLEDecoder : public TDecoder {
  public:
    // Pixel size in bits: 8, 15, 16, 24 or 32; any other decodes nothing.
    explicit TTargaRLEDecoder(int PixelSize);
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    // Dest must hold Count x (bytes per pixel + 1) bytes in the worst case.
    void EncodeBlock(const uint8_t* Source, uint8_t* Dest, uint32_t Count,
                     uint32_t& BytesStored) override;

  private:
    int pixelSize_;
    // A packet that the previous call cut at the end of its destination continues here:
    // pixels still due, whether they are raw (read from Source) or repeat pendingPixel_.
    uint32_t pendingCount_ = 0;
    bool pendingRaw_ = false;
    uint8_t pendingPixel_[4] = {0, 0, 0, 0};
};

// Apple PackBits (TIFF 32773, Photoshop).
class TPackbitsRLEDecoder : public TDecoder {
  public:
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// ZSoft PCX: bytes with both top bits set are run counts. Source and Dest are moved past what
// was consumed and written, so an image can be unpacked in pieces (a row at a time): a run
// cut at the end of the destination is finished by the next call, and a count byte whose
// value is not in the packed data is left for the next call.
class TPCXRLEDecoder : public TDecoder {
  public:
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  private:
    uint32_t pendingCount_ = 0;
    uint8_t pendingValue_ = 0;
};

// Silicon Graphics RLE rows of 8- or 16-bit samples; a zero count ends the row. 16-bit
// samples stay in file byte order.
class TSGIRLEDecoder : public TDecoder {
  public:
    explicit TSGIRLEDecoder(int SampleSize);
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  private:
    int sampleSize_;
};

// Dr. Halo CUT: one row per call (a 2-byte length, packets, a 0 terminator). Source is moved
// past the terminator so that consecutive calls walk consecutive rows.
class TCUTRLEDecoder : public TDecoder {
  public:
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// Paint Shop Pro channel run-length data.
class TPSPRLEDecoder : public TDecoder {
  public:
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// Alias/Wavefront RLA channel run-length data.
class TRLADecoder : public TDecoder {
  public:
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// Shared part of the ITU-T T.4 and T.6 decoders: the white and black code trees, a bit reader
// over the packed bytes and a bit writer that fills 1-bit rows (black = 1), each row starting on
// a byte boundary of the destination.
class TCCITTDecoder : public TDecoder {
  public:
    // Options: the TIFF T4/T6 options value (Group 3 reads bit 0, 2-D coding). SwapBits: the packed
    // bytes hold their pixels least significant bit first (they are reversed in place before
    // decoding). WordAligned: each coded row starts on an even byte offset of the packed
    // data (TIFF compression 32771, read as libtiff reads it); the decoded rows stay packed
    // one after the other, each on a byte boundary. Width: pixels per row.
    TCCITTDecoder(uint32_t Options, bool SwapBits, bool WordAligned, uint32_t Width);

    // One node of a code tree: children for bit 0 and bit 1 (0 = none; node 0 is the root)
    // and the value of the code that ends here (run length, -1 end of line, -2 invalid).
    struct TTreeNode {
        uint32_t Child[2] = {0, 0};
        int32_t Value = 0;
    };
    const std::vector<TTreeNode>& WhiteTree() const { return whiteTree_; }
    const std::vector<TTreeNode>& BlackTree() const { return blackTree_; }

  protected:
    // Clears the destination, reverses the packed bytes when asked and sets up reader and
    // writer. Returns false when there is nothing to do.
    bool Prepare(uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize);
    bool HasBits() const { return bitsLeft_ > 0 || packedLeft_ > 0; }
    void LoadByte() {
        bits_ = *source_++;
        --packedLeft_;
        mask_ = 128;
        bitsLeft_ = 8;
    }
    bool ReadBit();
    // Decodes one code (with its make-up parts) from the tree of the current colour.
    int32_t FindCode(const std::vector<TTreeNode>& tree);
    int32_t FindWhiteCode() { return FindCode(whiteTree_); }
    int32_t FindBlackCode() { return FindCode(blackTree_); }
    int32_t NextCode() { return isWhite_ ? FindWhiteCode() : FindBlackCode(); }
    // Writes a run of the current colour; returns true when the row is complete.
    bool FillRun(uint32_t run);
    // Moves the writer to the start of the next row.
    void EndRow();
    bool TargetFull() const { return target_ >= targetSize_; }

    // Two-dimensional coding (T.4 2-D rows and T.6): rows are lists of changing elements, the
    // positions where the colour changes, starting from white. How a coded row ended.
    enum TRowEnd {
        rowComplete,   // the row reached its width
        rowEndOfLine,  // an end-of-line code (already read) ended it early
        rowInvalid,    // a code that is not allowed here
        rowEndOfData   // the data ran out
    };
    // Starts a page: the reference row is all white.
    void ResetReferenceRow();
    // Decodes one row against the reference row (T.6 modes), or one row of alternating runs
    // (T.4 one-dimensional), writes it to the destination (what was decoded of a damaged row,
    // the rest white) and makes it the reference row. Changing elements never leave 0..Width.
    TRowEnd DecodeRow2D();
    TRowEnd DecodeRow1D();
    // Reads one bit: 0, 1, or -1 when the data has run out.
    int NextBit() { return HasBits() ? int(ReadBit()) : -1; }
    // Reads one run length (make-up codes and their terminating code) of the given colour;
    // negative for an end-of-line code (-1), an invalid code (-2) or the end of the data (-3).
    int64_t ReadRunLength(bool white);

    uint32_t options_;
    bool swapBits_;
    bool wordAligned_;
    uint32_t width_;
    bool isWhite_ = true;

    // Bit reader.
    const uint8_t* sourceStart_ = nullptr;
    const uint8_t* source_ = nullptr;
    uint32_t packedLeft_ = 0;
    uint8_t bits_ = 0;
    uint8_t mask_ = 0;
    uint32_t bitsLeft_ = 0;

    // Bit writer: byte offset into the destination, free bits in that byte, pixels left.
    uint8_t* dest_ = nullptr;
    uint32_t target_ = 0;
    uint32_t targetSize_ = 0;
    uint32_t freeTargetBits_ = 8;
    uint32_t restWidth_ = 0;

  private:
    // Writes the coding row into the destination and makes it the reference row.
    void FinishRow2D();

    std::vector<TTreeNode> whiteTree_;
    std::vector<TTreeNode> blackTree_;
    // Changing elements of the reference row (followed by Width twice) and of the row being
    // decoded.
    std::vector<uint32_t> referenceRow_;
    std::vector<uint32_t> codingRow_;
};

// TIFF compression 3: rows introduced by end-of-line codes. With bit 0 of the options (T4Options
// 2-D coding) each end-of-line code is followed by a bit telling whether the row is coded in one
// dimension (1) or against the row above (0).
class TCCITTFax3Decoder : public TCCITTDecoder {
  public:
    using TCCITTDecoder::TCCITTDecoder;
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  private:
    void SynchroniseOnEOL(bool lookForZeros);
    void DecodeTwoDimensional();
};

// TIFF compression 4: ITU-T T.6 (Group 4) rows, each coded against the row above (the first
// against a white row), up to the end-of-facsimile-block code. Damaged data ends decoding; the
// rows not reached stay white (0).
class TCCITTFax4Decoder : public TCCITTDecoder {
  public:
    using TCCITTDecoder::TCCITTDecoder;
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// TIFF LZW (compression 5): codes of 9 to 12 bits, Clear 256, end of information 257, a table of
// 4096 entries. TIFF 6.0 streams store codes most significant bit first and widen them one code
// early; streams of pre-6.0 writers (recognised by their first two bytes, as libtiff does) store
// them least significant bit first and widen them when the table reaches the power of two. Each
// block is a stream of its own. Writes at most UnpackedSize bytes (a string crossing the end is
// cut) and reads at most PackedSize bytes; a code not in the table ends decoding. A full table
// without a Clear code stays as it is and decoding goes on (libtiff reads such streams too).
// The rest of the destination is left as it was.
class TTIFFLZWDecoder : public TDecoder {
  public:
    TTIFFLZWDecoder();
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

    // Whether a stream uses the pre-TIFF 6.0 layout.
    static bool IsOldStyle(const uint8_t* Source, int32_t PackedSize);
    // Bytes written by the last call.
    uint32_t Written() const { return written_; }

  private:
    static constexpr uint32_t kTableSize = 4096;
    // Where the string of a code stands in the output of the current block, and its length.
    struct TEntry {
        uint32_t Position;
        uint32_t Length;
    };
    template <bool OldStyle>
    void Decode(const uint8_t* in, uint32_t packed, uint8_t* out, uint32_t size);

    std::vector<TEntry> table_;
    uint32_t written_ = 0;
};

// TIFF compression 2 (and 32771 with WordAligned): Modified Huffman rows without end-of-line
// codes, each row starting on a byte boundary of the coded data (a 16-bit boundary with
// WordAligned).
class TCCITTMHDecoder : public TCCITTDecoder {
  public:
    using TCCITTDecoder::TCCITTDecoder;
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// Deflate (zlib format) over zlib's inflate. Source and Dest are moved by what was consumed
// and produced. Errors inside DecodeBlock are stored, not raised: later calls do nothing until
// an automatic reset (each block its own zlib stream) clears them.
class TLZ77Decoder : public TDecoder {
  public:
    // FlushMode: the zlib flush constant for every inflate call (Z_PARTIAL_FLUSH, Z_FINISH...).
    TLZ77Decoder(int FlushMode, bool AutoReset);
    ~TLZ77Decoder() override;
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EndDecoding() override;
    void BeginDecoding() override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

    // Input bytes not consumed and output bytes not filled by the last call.
    uint32_t AvailableInput() const { return stream_.avail_in; }
    uint32_t AvailableOutput() const { return stream_.avail_out; }
    // The last result of zlib (Z_OK, Z_STREAM_END, or an error code).
    int ZLibResult() const { return zLibResult_; }

  private:
    z_stream stream_{};
    int zLibResult_ = Z_OK;
    int flushMode_;
    bool autoReset_;
    bool initialized_ = false;
};

// ThunderScan 4-bit data (TIFF 32809): two pixels per byte, the first in the high nibble. Each
// pass of the decoder yields 2 x Width pixels; UnpackedSize is in bytes.
class TThunderDecoder : public TDecoder {
  public:
    explicit TThunderDecoder(uint32_t Width);
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  private:
    uint32_t width_;
};
