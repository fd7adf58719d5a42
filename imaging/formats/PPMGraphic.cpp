// Portable map loader. The header and the text pixels are read by a small tokenizer over a
// 4096-byte buffer; binary rows are copied from the buffer and then straight from the stream.
#include "imaging/formats/PPMGraphic.h"

#include <algorithm>
#include <cstring>

#include "imaging/Exceptions.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"

namespace {

constexpr const char* kFormatName = "PPM";

bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool TPPMGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> magic = stream.PeekBytes(2, 11);
    return !magic.empty() && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6';
}

// ---- buffered reading ----

void TPPMGraphic::ResetBuffer(TStream& stream) {
    source_ = &stream;
    index_ = 0;
    filled_ = 0;
}

bool TPPMGraphic::Refill() {
    index_ = 0;
    filled_ = 0;
    if (source_ == nullptr) return false;
    const int64_t got = source_->Read(buffer_.data(), int64_t(kBufferSize));
    filled_ = got > 0 ? size_t(got) : 0;
    return filled_ > 0;
}

void TPPMGraphic::RaiseReadError() const {
    RaiseInvalidGraphicFmt(imsg::StreamReadError, kFormatName);
}

uint8_t TPPMGraphic::ReadByte() {
    if (index_ >= filled_ && !Refill()) RaiseReadError();
    return buffer_[index_++];
}

int TPPMGraphic::PeekByte() {
    if (index_ >= filled_ && !Refill()) return -1;
    return buffer_[index_];
}

void TPPMGraphic::SkipLine() {
    for (;;) {
        const int c = PeekByte();
        if (c < 0) return;  // a comment may run to the end of the file
        ++index_;
        if (c == '\n') return;
        if (c == '\r') {
            if (PeekByte() == '\n') ++index_;
            return;
        }
    }
}

uint8_t TPPMGraphic::ReadDigit() {
    for (;;) {
        const uint8_t c = ReadByte();
        if (IsDigit(c)) return uint8_t(c - '0');
        if (c == '#') SkipLine();
    }
}

uint32_t TPPMGraphic::ReadNumber() {
    uint64_t value = ReadDigit();
    for (;;) {
        const int c = PeekByte();
        if (c < 0) break;
        ++index_;  // the byte after the number is consumed with it
        if (!IsDigit(c)) break;
        value = std::min<uint64_t>(value * 10 + uint64_t(c - '0'), UINT32_MAX);
    }
    return uint32_t(value);
}

void TPPMGraphic::ReadRaw(uint8_t* dest, size_t count) {
    const size_t buffered = std::min(count, filled_ - index_);
    std::memcpy(dest, buffer_.data() + index_, buffered);
    index_ += buffered;
    dest += buffered;
    count -= buffered;
    if (count == 0) return;
    if (count >= kBufferSize) {
        // Large blocks go straight from the stream to the row.
        const int64_t got = source_->Read(dest, int64_t(count));
        if (got != int64_t(count)) RaiseReadError();
        return;
    }
    if (!Refill() || filled_ < count) RaiseReadError();
    std::memcpy(dest, buffer_.data(), count);
    index_ = count;
}

// ---- header ----

void TPPMGraphic::ReadHeader() {
    type_ = 0;
    width_ = height_ = maxval_ = 0;
    if (PeekByte() != 'P') return;
    ++index_;
    const int digit = PeekByte();
    if (digit < '1' || digit > '6') return;
    ++index_;
    // The numbers may follow on the same line as the type; a "#" anywhere in the header starts
    // a comment that runs to the end of its line.
    width_ = ReadNumber();
    height_ = ReadNumber();
    type_ = digit - '0';
    maxval_ = (type_ == 1 || type_ == 4) ? 1 : ReadNumber();
}

bool TPPMGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    ResetBuffer(stream);
    ReadHeader();
    if (type_ == 0) return false;
    if (width_ == 0 || height_ == 0 || maxval_ == 0 || maxval_ > 65535) return false;

    TImageProperties& p = imageProperties_;
    p.Compression = compNone;
    p.Width = width_;
    p.Height = height_;
    switch (type_) {
        case 1:
        case 4:
            p.SamplesPerPixel = 1;
            p.BitsPerSample = 1;
            p.ColorScheme = schemeIndexed;
            break;
        case 2:
        case 5:
            p.SamplesPerPixel = 1;
            p.BitsPerSample = maxval_ > 255 ? 16 : 8;
            p.ColorScheme = schemeIndexed;
            break;
        default:
            p.SamplesPerPixel = 3;
            p.BitsPerSample = maxval_ > 255 ? 16 : 8;
            p.ColorScheme = schemeRGB;
            break;
    }
    p.BitsPerPixel = uint8_t(p.SamplesPerPixel * p.BitsPerSample);
    return true;
}

// ---- pixels ----

void TPPMGraphic::ReadTextRow(uint8_t* row, const std::vector<uint8_t>& scale) {
    auto sample = [&]() -> uint8_t {
        const uint32_t v = ReadNumber();
        // Samples of the maximum value 255 are stored as they are (beyond 255 their low
        // byte); other maximum values are scaled, values beyond them shown as the maximum.
        if (scale.empty()) return uint8_t(v);
        return v >= maxval_ ? 255 : scale[v];
    };
    switch (type_) {
        case 1:
            // One digit per pixel; separators are optional. 1 is black.
            for (uint32_t x = 0; x < width_; ++x)
                if (ReadDigit() & 1) row[x / 8] |= uint8_t(0x80 >> (x % 8));
            break;
        case 2:
            for (uint32_t x = 0; x < width_; ++x)
                row[x] = sample();
            break;
        case 3:
            for (uint32_t x = 0; x < width_; ++x) {
                row[3 * size_t(x) + 2] = sample();
                row[3 * size_t(x) + 1] = sample();
                row[3 * size_t(x)] = sample();
            }
            break;
        default:
            break;
    }
}

void TPPMGraphic::ReadBinaryRow(uint8_t* row, const std::vector<uint8_t>& scale,
                                std::vector<uint8_t>& wideRow) {
    const size_t width = width_;
    switch (type_) {
        case 4:
            ReadRaw(row, (width + 7) / 8);
            break;
        case 5:
        case 6: {
            const size_t samples = type_ == 6 ? 3 * width : width;
            const uint32_t maxval = maxval_;
            if (maxval > 255) {
                ReadRaw(wideRow.data(), 2 * samples);
                const uint8_t* s = wideRow.data();
                for (size_t i = 0; i < samples; ++i, s += 2) {
                    const uint32_t v = uint32_t(s[0]) << 8 | s[1];
                    row[i] = v >= maxval ? 255 : scale[v];
                }
            } else if (type_ == 6 && scale.empty()) {
                // Red, green, blue in the file; blue, green, red in the bitmap: the samples
                // are read into a row of their own and turned on their way to the bitmap (a
                // turn in place would reload every block it has just stored).
                ReadRaw(wideRow.data(), samples);
                SwapRedBlue24(wideRow.data(), row, width);
                break;
            } else {
                ReadRaw(row, samples);
                if (!scale.empty())
                    for (size_t i = 0; i < samples; ++i)
                        row[i] = row[i] >= maxval ? 255 : scale[row[i]];
            }
            if (type_ == 6) SwapRedBlue24(row, row, width);
            break;
        }
        default:
            break;
    }
}

void TPPMGraphic::LoadFromStream(TStream& stream) {
    Clear();
    TLoadScope scope(*this, stream);
    // The stream belongs to this load only, also when it fails.
    struct TRelease {
        TPPMGraphic& g;
        ~TRelease() {
            g.source_ = nullptr;
            g.index_ = g.filled_ = 0;
        }
    } release{*this};
    if (!ReadProperties(stream, 0)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);
    // The buffer now stands at the first pixel.

    TProgressGuard guard(*this);
    StartRowProgress(width_, imsg::Transfering);

    TColorManager& cm = ColorManager();
    cm.SetTargetFlags(cm.TargetFlags() - TConversionOptions(convApplyGamma));
    const bool text = type_ <= 3;
    const int kind = text ? type_ : type_ - 3;  // 1 bitmap, 2 gray map, 3 pixel map
    uint64_t rowBytes = 0;
    uint64_t samplesPerRow = 0;
    switch (kind) {
        case 1:
            SetPixelFormat(pf1bit);
            rowBytes = (uint64_t(width_) + 7) / 8;
            samplesPerRow = width_;
            break;
        case 2:
            SetPixelFormat(pf8bit);
            rowBytes = width_;
            samplesPerRow = width_;
            break;
        default:
            SetPixelFormat(pf24bit);
            rowBytes = uint64_t(width_) * 3;
            samplesPerRow = rowBytes;
            break;
    }
    CheckSize(width_, height_);

    // A file that cannot hold the pixels it announces is refused before the bitmap is made:
    // binary rows need their bytes, text samples at least a digit each (and a separator
    // between numbers).
    const uint64_t sampleBytes = maxval_ > 255 ? 2 : 1;
    const uint64_t total = samplesPerRow * height_;
    uint64_t needed = 0;
    if (!text)
        needed = kind == 1 ? rowBytes * height_ : total * sampleBytes;
    else
        needed = kind == 1 ? total : 2 * total - 1;
    const uint64_t available = uint64_t(filled_ - index_) + uint64_t(stream.Remaining());
    if (needed > available) RaiseReadError();

    if (kind != 3) {
        cm.SetTargetSampleCount(1);
        cm.SetTargetSampleBits(kind == 1 ? 1 : 8);
        SetPalette(cm.GrayRampPalette(kind == 1));
    }
    // Samples of any maximum value but 255 are scaled to 0..255 with rounding, as netpbm's
    // pamdepth does (maximum 15: 8 shows as 136).
    std::vector<uint8_t> scale;
    std::vector<uint8_t> wideRow;
    if (kind != 1 && maxval_ != 255) {
        scale.resize(maxval_);
        for (uint32_t v = 0; v < maxval_; ++v)
            scale[v] = uint8_t((uint64_t(v) * 255 + maxval_ / 2) / maxval_);
        if (!text && maxval_ > 255) wideRow.resize(size_t(samplesPerRow * 2));
    } else if (!text && kind == 3) {
        wideRow.resize(size_t(samplesPerRow));
    }

    SetSize(int(width_), int(height_));
    if (rowBytes > uint64_t(RowStride())) RaiseInvalidGraphicFmt(imsg::InvalidImage, kFormatName);

    for (uint32_t y = 0; y < height_; ++y) {
        uint8_t* row = ScanLine(int(y));
        if (text)
            ReadTextRow(row, scale);
        else
            ReadBinaryRow(row, scale, wideRow);
        RowProgress(y, height_);
    }
    guard.Dismiss();
    EndProgress();
    Changed();
}
