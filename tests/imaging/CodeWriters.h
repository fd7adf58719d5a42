#pragma once
// Coded data for decoder tests: bit strings, and a TIFF LZW encoder: codes in either bit order,
// with the code-width rule the decoder uses for that order, so that streams no tool writes (the
// pre-TIFF 6.0 layout, a table that fills up without a Clear code) can be made from known pixels.
// Codes given directly make hand-made (and damaged) streams.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace lzwtest {

using Bytes = std::vector<uint8_t>;

// Packs a string of '0' and '1' (other characters ignored) into bytes, most significant bit
// first, the last byte padded with zeros.
inline Bytes BitString(const std::string& text) {
    Bytes out;
    int n = 0;
    for (const char c : text) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= uint8_t(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

// Writes codes of growing width the way a TIFF LZW decoder reads them.
class TCodeWriter {
  public:
    explicit TCodeWriter(bool oldStyle) : oldStyle_(oldStyle) {}

    // Writes one code at the width the decoder expects now and follows the decoder's table:
    // Clear resets it, every other code after the first defines an entry (up to 4096).
    void Put(uint32_t code) {
        if (oldStyle_) {
            acc_ |= uint64_t(code) << bits_;
            bits_ += width_;
            while (bits_ >= 8) {
                out_.push_back(uint8_t(acc_));
                acc_ >>= 8;
                bits_ -= 8;
            }
        } else {
            acc_ = (acc_ << width_) | code;
            bits_ += width_;
            while (bits_ >= 8) {
                out_.push_back(uint8_t(acc_ >> (bits_ - 8)));
                bits_ -= 8;
            }
            acc_ &= (uint64_t(1) << bits_) - 1;
        }
        if (code == 256) {
            next_ = 258;
            width_ = 9;
            previous_ = false;
            return;
        }
        if (previous_ && next_ < 4096) {
            ++next_;
            if (next_ + (oldStyle_ ? 0 : 1) == (1u << width_) && width_ < 12) ++width_;
        }
        previous_ = true;
    }
    Bytes Finish() {
        if (bits_ > 0) out_.push_back(uint8_t(oldStyle_ ? acc_ : acc_ << (8 - bits_)));
        bits_ = 0;
        return out_;
    }

  private:
    bool oldStyle_;
    uint64_t acc_ = 0;
    uint32_t bits_ = 0;
    uint32_t width_ = 9;
    uint32_t next_ = 258;
    bool previous_ = false;
    Bytes out_;
};

// LZW stream of data: Clear first, end of information last. clearWhenFull: a Clear code when
// the table is nearly full (as libtiff writes); otherwise the table stays full and the stream
// goes on with the entries it has.
inline Bytes Encode(const Bytes& data, bool oldStyle = false, bool clearWhenFull = true) {
    TCodeWriter writer(oldStyle);
    writer.Put(256);
    if (!data.empty()) {
        std::unordered_map<uint32_t, uint32_t> table;
        uint32_t next = 258;
        uint32_t w = data[0];
        for (size_t i = 1; i < data.size(); ++i) {
            const uint32_t key = (w << 8) | data[i];
            const auto it = table.find(key);
            if (it != table.end()) {
                w = it->second;
                continue;
            }
            writer.Put(w);
            if (next < 4096) table[key] = next++;
            if (clearWhenFull && next == 4094) {
                writer.Put(256);
                table.clear();
                next = 258;
            }
            w = data[i];
        }
        writer.Put(w);
    }
    writer.Put(257);
    return writer.Finish();
}

// A stream of the given codes, as they stand.
inline Bytes Codes(const std::vector<uint32_t>& codes, bool oldStyle = false) {
    TCodeWriter writer(oldStyle);
    for (const uint32_t c : codes)
        writer.Put(c);
    return writer.Finish();
}

}  // namespace lzwtest
