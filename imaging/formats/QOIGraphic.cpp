// QOI loader. After a 14-byte header the file is one stream of chunks, each giving the next
// pixel (or a run of the previous one) as a full value, a small difference to the previous
// pixel, or an entry of a 64-colour table indexed by a hash of the colour. The chunks are read
// through a buffer and decoded row by row into the bitmap.
#include "imaging/formats/QOIGraphic.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Stream.h"

namespace {

constexpr int64_t kHeaderSize = 14;
constexpr const char* kFormatName = "QOI";
constexpr size_t kBufferSize = 64 * 1024;
// One chunk byte stands for at most 62 pixels (a run), so a file whose chunk bytes cannot
// describe its pixels is refused before the bitmap is made.
constexpr uint64_t kMaxPixelsPerByte = 62;

enum : uint8_t {
    kOpIndex = 0x00,
    kOpDiff = 0x40,
    kOpLuma = 0x80,
    kOpRun = 0xC0,
    kOpRGB = 0xFE,
    kOpRGBA = 0xFF,
};

// Reads the chunk bytes through a buffer; only bytes that arrived are used.
class TChunkReader {
  public:
    explicit TChunkReader(TStream& stream) : stream_(stream), buffer_(kBufferSize) {}
    // False at the end of the stream.
    bool Next(uint8_t& value) {
        if (index_ == filled_ && !Refill()) return false;
        value = buffer_[index_++];
        return true;
    }

  private:
    bool Refill() {
        const int64_t got = stream_.Read(buffer_.data(), int64_t(buffer_.size()));
        index_ = 0;
        filled_ = got > 0 ? size_t(got) : 0;
        return filled_ > 0;
    }
    TStream& stream_;
    std::vector<uint8_t> buffer_;
    size_t index_ = 0;
    size_t filled_ = 0;
};

}  // namespace

bool TQOIGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(4, kHeaderSize + 1);
    return !head.empty() && std::memcmp(head.data(), "qoif", 4) == 0;
}

bool TQOIGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    if (stream.Remaining() < kHeaderSize) return false;
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    if (std::memcmp(h, "qoif", 4) != 0) return false;
    const uint32_t width = GetU32BE(h + 4);
    const uint32_t height = GetU32BE(h + 8);
    const uint8_t channels = h[12];
    const uint8_t colorSpace = h[13];  // 0 sRGB with linear alpha, 1 all linear: shown alike
    if (width == 0 || height == 0 || channels < 3 || channels > 4 || colorSpace > 1) return false;
    TImageProperties& p = imageProperties_;
    p.Width = width;
    p.Height = height;
    p.HasAlpha = channels == 4;
    p.ColorScheme = p.HasAlpha ? schemeRGBA : schemeRGB;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = channels;
    p.BitsPerPixel = uint8_t(8 * channels);
    return true;
}

void TQOIGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kFormatName);
    const TImageProperties& p = imageProperties_;
    StartRowProgress(p.Width, imsg::Transfering);
    TProgressGuard guard(*this);

    if (uint64_t(p.Width) * p.Height > uint64_t(stream.Remaining()) * kMaxPixelsPerByte)
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    PrepareEightBitColorRows(p.HasAlpha, false, p.Width, p.Height, kFormatName);
    const int bytes = p.HasAlpha ? 4 : 3;

    TChunkReader in(stream);
    uint8_t table[64][4] = {};
    uint8_t r = 0, g = 0, b = 0, a = 255, b2 = 0;
    uint32_t run = 0;
    for (uint32_t y = 0; y < p.Height; ++y) {
        uint8_t* out = ScanLine(int(y));
        bool complete = true;
        for (uint32_t x = 0; x < p.Width && complete; ++x, out += bytes) {
            if (run > 0) {
                --run;
            } else {
                uint8_t b1 = 0;
                complete = in.Next(b1);
                if (!complete) break;
                if (b1 == kOpRGB) {
                    complete = in.Next(r) && in.Next(g) && in.Next(b);
                } else if (b1 == kOpRGBA) {
                    complete = in.Next(r) && in.Next(g) && in.Next(b) && in.Next(a);
                } else if ((b1 & 0xC0) == kOpIndex) {
                    r = table[b1][0], g = table[b1][1], b = table[b1][2], a = table[b1][3];
                } else if ((b1 & 0xC0) == kOpDiff) {
                    r = uint8_t(r + ((b1 >> 4) & 3) - 2);
                    g = uint8_t(g + ((b1 >> 2) & 3) - 2);
                    b = uint8_t(b + (b1 & 3) - 2);
                } else if ((b1 & 0xC0) == kOpLuma) {
                    complete = in.Next(b2);
                    const int dg = (b1 & 0x3F) - 32;
                    r = uint8_t(r + dg - 8 + ((b2 >> 4) & 0x0F));
                    g = uint8_t(g + dg);
                    b = uint8_t(b + dg - 8 + (b2 & 0x0F));
                } else {
                    run = b1 & 0x3F;  // this pixel and as many more
                }
                if (!complete) break;
                uint8_t* slot = table[(r * 3 + g * 5 + b * 7 + a * 11) % 64];
                slot[0] = r, slot[1] = g, slot[2] = b, slot[3] = a;
            }
            out[0] = b;
            out[1] = g;
            out[2] = r;
            if (bytes == 4) out[3] = a;
        }
        if (!complete) {
            // The file breaks off: the complete rows stay, the broken one is cleared; nothing
            // decoded is an error.
            if (y == 0) RaiseInvalidGraphicFmt(imsg::CompressionError, kFormatName);
            std::memset(ScanLine(int(y)), 0, size_t(p.Width) * size_t(bytes));
            break;
        }
        RowProgress(y, p.Height);
    }
    guard.Dismiss();
    EndProgress();
    Changed();
}
