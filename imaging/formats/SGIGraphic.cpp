// SGI loader. Rows are fetched channel by channel (seeking for each), bounded by the file's
// size, and converted one image row at a time from the bottom of the bitmap up.
#include "imaging/formats/SGIGraphic.h"

#include <algorithm>
#include <cstring>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"

namespace {

constexpr int kHeaderSize = 512;
constexpr uint16_t kMagic = 474;
constexpr const char* kShortName = "SGI";

}  // namespace

TSGIGraphic::TSGIGraphic() = default;
TSGIGraphic::~TSGIGraphic() = default;

bool TSGIGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> h = stream.PeekBytes(6, kHeaderSize + 1);
    if (h.empty()) return false;
    const uint16_t dimension = GetU16BE(h.data() + 4);
    return GetU16BE(h.data()) == kMagic && (h[3] == 1 || h[3] == 2) && dimension >= 1 &&
           dimension <= 3;
}

bool TSGIGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    if (GetU16BE(h) != kMagic) return false;
    TImageProperties& p = imageProperties_;
    p.Options = optBigEndian;
    p.BitsPerSample = uint8_t(h[3] * 8);
    p.Width = GetU16BE(h + 6);
    p.Height = GetU16BE(h + 8);
    p.SamplesPerPixel = h[11];  // the low byte of the channel count
    p.ColorScheme = p.SamplesPerPixel == 3   ? schemeRGB
                    : p.SamplesPerPixel == 4 ? schemeRGBA
                                             : schemeIndexed;
    p.BitsPerPixel = uint8_t(p.BitsPerSample * p.SamplesPerPixel);
    p.Compression = h[2] == 1 ? compRLE : compNone;
    // Samples of one or two bytes, and a picture with pixels.
    return (h[3] == 1 || h[3] == 2) && p.SamplesPerPixel != 0 && p.Width != 0 && p.Height != 0;
}

namespace {

// Fetches channel rows of one load: verbatim from their place in the file, or decoded through
// the run-length tables. Offsets and lengths are taken only as far as the file reaches.
class TChannelReader {
  public:
    TChannelReader(TStream& stream, const TImageProperties& p, int64_t start)
        : stream_(stream),
          p_(p),
          start_(start),
          size_(stream.Size()),
          bytesPerChannel_(p.BitsPerSample / 8),
          decoder_(p.BitsPerSample) {
        if (p.Compression == compRLE) {
            const int64_t count = int64_t(p.Height) * p.SamplesPerPixel;
            rowStart_ = stream.ReadU32Table(count, true);
            rowSize_ = stream.ReadU32Table(count, true);
        }
    }

    // Reads row y of channel c, Width samples, into target; bytes the file does not supply
    // are zero.
    void ReadRow(uint32_t y, uint32_t c, uint8_t* target) {
        const uint64_t rowBytes = uint64_t(p_.Width) * bytesPerChannel_;
        const uint64_t index = y + uint64_t(c) * p_.Height;
        std::memset(target, 0, rowBytes);
        if (p_.Compression != compRLE) {
            const int64_t offset = start_ + kHeaderSize + int64_t(index * rowBytes);
            if (offset >= size_) return;
            stream_.SetPosition(offset);
            stream_.Read(target, int64_t(rowBytes));  // a short row keeps zeros at its end
            return;
        }
        const int64_t offset = start_ + int64_t(rowStart_[index]);
        if (offset >= size_) return;
        const int64_t length =
            std::min<int64_t>(int64_t(rowSize_[index]) * bytesPerChannel_, size_ - offset);
        if (packed_.size() < uint64_t(length)) packed_.resize(size_t(length));
        stream_.SetPosition(offset);
        const int64_t got = stream_.Read(packed_.data(), length);
        uint8_t* source = packed_.data();
        uint8_t* dest = target;
        decoder_.DecodeBlock(source, dest, int32_t(std::min<int64_t>(got, INT32_MAX)),
                             int32_t(rowBytes));
    }

  private:
    TStream& stream_;
    const TImageProperties& p_;
    const int64_t start_;
    const int64_t size_;
    const uint32_t bytesPerChannel_;
    // Run-length files: file offset and packed length of every channel row (row y of channel
    // c at y + c x Height).
    std::vector<uint32_t> rowStart_;
    std::vector<uint32_t> rowSize_;
    TSGIRLEDecoder decoder_;
    std::vector<uint8_t> packed_;
};

}  // namespace

void TSGIGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kShortName);
    const TImageProperties& p = imageProperties_;
    StartRowProgress(p.Width, imsg::Preparing);
    TProgressGuard progress(*this);
    stream.SetPosition(startPosition_ + kHeaderSize);
    const uint32_t bytesPerChannel = p.BitsPerSample / 8;
    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(TConversionOptions(convSwapBytes));
    cm.SetTargetFlags(TConversionOptions());

    TChannelReader reader(stream, p, startPosition_);

    // Grey and other channel counts are shown through channel 0 alone.
    const bool color = p.ColorScheme != schemeIndexed;
    const uint8_t samples = color ? p.SamplesPerPixel : 1;
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(8);
    cm.SetSourceSampleCount(samples);
    cm.SetTargetSampleCount(samples);
    cm.SetSourceScheme(p.ColorScheme);
    cm.SetTargetScheme(p.ColorScheme == schemeRGB    ? schemeBGR
                       : p.ColorScheme == schemeRGBA ? schemeBGRA
                                                     : schemeIndexed);
    SetPixelFormat(cm.BitmapPixelFormat(1));
    CheckSize(p.Width, p.Height);
    if (!color) SetPalette(cm.GrayRampPalette(false));
    SetSize(int(p.Width), int(p.Height));
    if (cm.TargetRowBytes(p.Width) > uint64_t(RowStride()))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    EndProgress();

    const size_t rowBytes = size_t(p.Width) * bytesPerChannel;
    std::vector<uint8_t> buffers(rowBytes * (color ? samples : bytesPerChannel == 2 ? 1 : 0));
    const void* planes[4] = {};
    for (uint32_t c = 0; c < samples && color; ++c)
        planes[c] = buffers.data() + c * rowBytes;

    StartRowProgress(p.Width, imsg::Transfering);
    for (uint32_t y = 0; y < p.Height; ++y) {
        uint8_t* row = ScanLine(int(p.Height - 1 - y));
        if (color) {
            for (uint32_t c = 0; c < samples; ++c)
                reader.ReadRow(y, c, buffers.data() + c * rowBytes);
            cm.ConvertScanline(std::span<const void* const>(planes, samples), row, p.Width);
        } else if (bytesPerChannel == 2) {
            // 16-bit grey is reduced as the colour manager reduces 16-bit colour samples.
            reader.ReadRow(y, 0, buffers.data());
            for (uint32_t x = 0; x < p.Width; ++x)
                row[x] = uint8_t(GetU16BE(&buffers[2 * size_t(x)]) / 257);
        } else {
            reader.ReadRow(y, 0, row);
        }
        RowProgress(y, p.Height);
    }
    progress.End();
    Changed();
}
