#pragma once
// TJpegDcDecoder: a progressive Huffman JPEG (SOF2) at 1/8 of its size, made the way libjpeg
// (libjpeg-turbo) makes it at scale 1/8 with blue-green-red rows (gray rows for one component),
// but without holding the picture's coefficients. At that scale a block gives one sample from
// its DC coefficient alone (a 1 x 1 inverse DCT); chroma reduced in both directions gives 2 x 2
// samples per block from the coefficients of rows and columns 0, 1, 3, 5 and 7. So only the DC
// scans are decoded, and the AC scans of such chroma; the other scans are skipped. The scans are
// decoded side by side, one row of MCUs at a time, each keeping its own place in the file, so the
// memory used is a few rows of blocks, whatever the picture's size.
//
// Anything libjpeg would treat differently, warn about or fail on (other frame types, Adobe,
// RGB or CMYK files, 12-bit samples, uncommon sampling, a missing DC scan, a damaged or cut-off
// scan that is needed, later scans missing, unknown markers) is "not handled": the
// caller decodes with libjpeg as before. Every size and index from the file is bounded, and no
// byte outside the buffer is read.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class TJpegDcDecoder {
  public:
    enum class TResult { Decoded, NotHandled, Cancelled };

    TJpegDcDecoder();
    ~TJpegDcDecoder();
    TJpegDcDecoder(const TJpegDcDecoder&) = delete;
    TJpegDcDecoder& operator=(const TJpegDcDecoder&) = delete;

    // Reads the markers of the whole file (the buffer must outlive the decoder); false when the
    // file is not one this decoder handles.
    bool Open(const uint8_t* data, size_t size);
    // The reduced size (libjpeg's: the full size divided by 8, rounded up) and the samples per
    // pixel of the rows (3: blue, green, red; 1: gray).
    int Width() const;
    int Height() const;
    int Channels() const;

    // Decodes after a successful Open. rowAt(y) gives the destination of row y (Width() *
    // Channels() bytes); cancelled() is asked between rows of MCUs. NotHandled: a scan turned out
    // damaged; the rows written so far are then incomplete.
    TResult Decode(const std::function<uint8_t*(int y)>& rowAt,
                   const std::function<bool()>& cancelled);

  private:
    struct TState;
    std::unique_ptr<TState> state_;
};
