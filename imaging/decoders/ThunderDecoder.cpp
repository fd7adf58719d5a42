// ThunderScan 4-bit decoding: runs of the last pixel, 2- and 3-bit deltas and raw pixels.
#include <algorithm>
#include <cstring>

#include "imaging/decoders/Decoder.h"

namespace {

constexpr int kDelta2[4] = {0, 1, 0, -1};                // field 2 means "no pixel"
constexpr int kDelta3[8] = {0, 1, 2, 3, 0, -3, -2, -1};  // field 4 means "no pixel"

// Writes 4-bit pixels into the destination, never past its end nor past the end of a pass.
class TNibbleWriter {
  public:
    TNibbleWriter(uint8_t* dest, uint64_t capacity) : dest_(dest), capacity_(capacity) {}

    // Starts a pass that may write up to count pixels.
    void BeginPass(uint64_t count) { passEnd_ = std::min(position_ + count, capacity_); }
    bool PassFull() const { return position_ >= passEnd_; }

    void Set(unsigned value) {
        if (position_ >= passEnd_) return;
        uint8_t& byte = dest_[position_ / 2];
        if (position_ & 1)
            byte = static_cast<uint8_t>((byte & 0xF0) | value);
        else
            byte = static_cast<uint8_t>(value << 4);
        ++position_;
    }
    // n copies of the pixel value.
    void Run(unsigned value, uint64_t n) {
        n = std::min(n, passEnd_ - position_);
        if (n == 0) return;
        if (position_ & 1) {
            Set(value);
            --n;
        }
        std::memset(dest_ + position_ / 2, static_cast<int>(value * 17), n / 2);
        position_ += n & ~uint64_t{1};
        if (n & 1) Set(value);
    }

  private:
    uint8_t* dest_;
    uint64_t capacity_;
    uint64_t position_ = 0;
    uint64_t passEnd_ = 0;
};

}  // namespace

TThunderDecoder::TThunderDecoder(uint32_t Width) : width_(Width) {}

void TThunderDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                  int32_t UnpackedSize) {
    if (width_ == 0 || PackedSize <= 0 || UnpackedSize <= 0) return;
    const uint8_t* src = Source;
    const uint8_t* const end = src + PackedSize;
    TNibbleWriter out(Dest, uint64_t(UnpackedSize) * 2);
    int64_t unpacked = UnpackedSize;
    // Each pass yields 2 x width pixels (width bytes).
    while (unpacked > 0 && src < end) {
        out.BeginPass(uint64_t{width_} * 2);
        unsigned last = 0;
        while (src < end && !out.PassFull()) {
            const unsigned b = *src++;
            switch (b >> 6) {
                case 0:  // run of the last pixel
                    out.Run(last, b & 63u);
                    break;
                case 1:  // three 2-bit deltas
                    for (int shift = 4; shift >= 0; shift -= 2) {
                        const unsigned f = (b >> shift) & 3u;
                        if (f == 2) continue;
                        last = (last + kDelta2[f]) & 15u;
                        out.Set(last);
                    }
                    break;
                case 2:  // two 3-bit deltas
                    for (int shift = 3; shift >= 0; shift -= 3) {
                        const unsigned f = (b >> shift) & 7u;
                        if (f == 4) continue;
                        last = (last + kDelta3[f]) & 15u;
                        out.Set(last);
                    }
                    break;
                default:  // raw pixel
                    last = b & 15u;
                    out.Set(last);
                    break;
            }
        }
        unpacked -= width_;
    }
}
