#pragma once
// TPPMGraphic: loads the portable maps of netpbm: bitmaps (P1 text, P4 binary), gray maps
// (P2 text, P5 binary) and pixel maps (P3 text, P6 binary). Rows go straight into the bitmap
// (1, 8 or 24 bits per pixel); the colour manager only builds the gray palettes. Samples of
// any maximum value but 255 (up to 65535) are scaled to 0..255. It does not save.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/FormatGraphicOf.h"

class TPPMGraphic : public TFormatGraphicOf<TPPMGraphic> {
  public:
    static constexpr const char* kClassName = "TPPMGraphic";

    // True when more than 10 bytes remain and they start with "P" and a digit 1..6; the
    // position is restored either way.
    static bool ProbeStream(TStream& stream);
    // Reads the type, the size and (but for bitmaps) the maximum value. False when the stream
    // does not start with "P1".."P6" or the header numbers cannot describe a picture (a zero
    // size, a maximum value of 0 or above 65535). A file holds one image: imageIndex is unused.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Replaces the bitmap by the picture that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;

  private:
    // Buffered reading of the stream: bytes are taken from a 4096-byte buffer that is refilled
    // from the stream; only the bytes that actually arrived are ever used.
    void ResetBuffer(TStream& stream);
    bool Refill();
    uint8_t ReadByte();
    // The next byte without consuming it; -1 at the end of the stream.
    int PeekByte();
    // Skips the rest of the current line (up to and including CR, LF or CR LF).
    void SkipLine();
    // Skips to the next decimal number (a "#" starts a comment to the end of its line) and
    // reads it; the first byte after it is consumed. Values above 2^32 - 1 saturate.
    uint32_t ReadNumber();
    // Skips to the next digit as ReadNumber does and returns it alone (bitmap text pixels).
    uint8_t ReadDigit();
    // Copies exactly count bytes to dest, from the buffer first and then from the stream.
    void ReadRaw(uint8_t* dest, size_t count);
    [[noreturn]] void RaiseReadError() const;

    void ReadHeader();
    // One row of pixels into the bitmap row. scale maps samples to 0..255 (empty for the
    // maximum value 255); wideRow holds the bytes of a row of 16-bit samples.
    void ReadTextRow(uint8_t* row, const std::vector<uint8_t>& scale);
    void ReadBinaryRow(uint8_t* row, const std::vector<uint8_t>& scale,
                       std::vector<uint8_t>& wideRow);

    static constexpr size_t kBufferSize = 4096;
    std::array<uint8_t, kBufferSize> buffer_{};
    size_t index_ = 0;   // next byte in the buffer
    size_t filled_ = 0;  // bytes of the buffer that hold data
    TStream* source_ = nullptr;

    // Header of the file being read.
    int type_ = 0;  // 1..6
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t maxval_ = 0;
};
