#pragma once
// TDecoder and the shared decompressors the format loaders use: the byte-oriented run-length
// schemes (Targa, PackBits, PCX, SGI, Dr. Halo CUT, Paint Shop Pro, Alias/Wavefront RLA), the
// CCITT T.4 fax decoders (Group 3 one-dimensional and Modified Huffman), deflate over zlib and
// ThunderScan. The JPEG-in-TIFF decoder lives in TIFFJPEGDecoder.h.
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

// Shared part of the ITU-T T.4 decoders: the white and black code trees, a bit reader over
// the packed bytes and a bit writer that fills 1-bit rows (black = 1), each row starting on a
// byte boundary of the destination.
class TCCITTDecoder : public TDecoder {
  public:
    // Options: the TIFF T4/T6 options value (kept for reference). SwapBits: the packed bytes
    // hold their pixels least significant bit first (they are reversed in place before
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
    std::vector<TTreeNode> whiteTree_;
    std::vector<TTreeNode> blackTree_;
};

// TIFF compression 3 with one-dimensional coding: rows introduced by end-of-line codes.
class TCCITTFax3Decoder : public TCCITTDecoder {
  public:
    using TCCITTDecoder::TCCITTDecoder;
    void DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                     int32_t UnpackedSize) override;
    void EncodeBlock(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  private:
    void SynchroniseOnEOL(bool lookForZeros);
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
