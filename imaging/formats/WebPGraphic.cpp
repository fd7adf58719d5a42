// WebP loader. The file is held in memory (libwebp wants it whole), its features tell the size
// and whether there is alpha, and libwebp's incremental decoder writes BGRA or BGR pixels
// straight into the bitmap's rows, a slice at a time so that progress can be reported. An
// animation shows its first frame, taken out of the container by libwebp's demuxer.
#include "imaging/formats/WebPGraphic.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

namespace {

constexpr int64_t kHeaderSize = 20;  // "RIFF", size, "WEBP" and the first chunk header
constexpr const char* kShortName = "WebP";
// The decoder gets the data in slices of this size; progress is reported after each.
constexpr size_t kSlice = 256 * 1024;

struct TDecoderCloser {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};
struct TDemuxCloser {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

}  // namespace

bool TWebPGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(12, kHeaderSize);
    return !head.empty() && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

bool TWebPGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    data_.clear();
    animated_ = false;
    uint8_t head[12];
    stream.ReadBuffer(head, 12);
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WEBP", 4) != 0) return false;
    // The container's size counts from after the size field; what lies beyond it is not part
    // of the file, and a size past the end of the stream reads what there is.
    const int64_t total =
        std::min<int64_t>(int64_t(GetU32LE(head + 4)) + 8, stream.Remaining() + 12);
    if (total < kHeaderSize) return false;
    std::vector<uint8_t> data(head, head + 12);
    data.resize(size_t(total));
    stream.ReadBuffer(data.data() + 12, total - 12);

    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK) return false;
    if (features.width <= 0 || features.height <= 0) return false;
    TImageProperties& p = imageProperties_;
    p.Width = uint32_t(features.width);
    p.Height = uint32_t(features.height);
    animated_ = features.has_animation != 0;
    // An animation's first frame sits on a transparent canvas.
    p.HasAlpha = features.has_alpha != 0 || animated_;
    p.ColorScheme = p.HasAlpha ? schemeRGBA : schemeRGB;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = p.HasAlpha ? 4 : 3;
    p.BitsPerPixel = uint8_t(8 * p.SamplesPerPixel);
    // Lossy (1), lossless (2) or both in an animation (0).
    p.Version = uint32_t(features.format);
    // A load decodes the bytes next; a look at the header alone does not keep them.
    if (stream_ == &stream) data_ = std::move(data);
    return true;
}

void TWebPGraphic::DecodeStill(const uint8_t* data, size_t size, int left, int top, int width,
                               int height) {
    const bool alpha = PixelFormat() == pf32bit;
    const int bytes = alpha ? 4 : 3;
    if (left < 0 || top < 0 || int64_t(left) + width > Width() || int64_t(top) + height > Height())
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);

    // The picture's rows are the bitmap's rows from (left, top) on.
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    WebPRGBABuffer& out = config.output.u.RGBA;
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    out.rgba = ScanLine(top) + int64_t(left) * bytes;
    out.stride = RowStride();
    out.size = size_t(RowStride()) * size_t(height - 1) + size_t(width) * size_t(bytes);

    std::unique_ptr<WebPIDecoder, TDecoderCloser> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    StartRowProgress(uint32_t(width), imsg::Transfering);
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    int lastRow = 0;
    for (size_t done = 0; done < size && status == VP8_STATUS_SUSPENDED;) {
        // The whole picture is in memory: the decoder is shown a growing part of it in place
        // (no copy into a buffer of its own).
        done += std::min(kSlice, size - done);
        status = WebPIUpdate(decoder.get(), data, done);
        int rows = 0;
        if (WebPIDecodedArea(decoder.get(), nullptr, nullptr, nullptr, &rows) != nullptr) {
            for (; lastRow < rows; ++lastRow)
                RowProgress(uint32_t(lastRow), uint32_t(height));
        }
    }
    if (status == VP8_STATUS_OK) return;
    // A picture that breaks off keeps the rows decoded before; nothing decoded is an error.
    if (lastRow > 0 && (status == VP8_STATUS_SUSPENDED || status == VP8_STATUS_NOT_ENOUGH_DATA))
        return;
    if (status == VP8_STATUS_UNSUPPORTED_FEATURE)
        RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kShortName);
    RaiseInvalidGraphicFmt(imsg::CompressionError, kShortName);
}

namespace {
// The ICCP chunk of an extended file, when the file says it has one; empty otherwise.
std::vector<uint8_t> WebPIccProfile(const uint8_t* data, size_t size) {
    WebPData whole{data, size};
    std::unique_ptr<WebPDemuxer, TDemuxCloser> demux(WebPDemuxPartial(&whole, nullptr));
    if (!demux || (WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) == 0) return {};
    WebPChunkIterator chunk;
    if (!WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) return {};
    std::vector<uint8_t> profile;
    if (chunk.chunk.size <= kMaxIccProfileBytes)
        profile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    return profile;
}
}  // namespace

void TWebPGraphic::LoadFromStream(TStream& stream) {
    Clear();
    TLoadScope scope(*this, stream);
    TReleaseBytes release(data_);
    if (!ReadProperties(stream, 0)) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    SetIccProfile(WebPIccProfile(data_.data(), data_.size()));
    const TImageProperties& p = imageProperties_;
    StartRowProgress(p.Width, imsg::Preparing);
    TProgressGuard progress(*this);

    PrepareEightBitColorRows(p.HasAlpha, false, p.Width, p.Height, kShortName);

    if (!animated_) {
        DecodeStill(data_.data(), data_.size(), 0, 0, int(p.Width), int(p.Height));
    } else {
        // First frame of an animation, on a transparent canvas.
        WebPData whole{data_.data(), data_.size()};
        std::unique_ptr<WebPDemuxer, TDemuxCloser> demux(WebPDemux(&whole));
        if (!demux) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
        WebPIterator frame;
        if (!WebPDemuxGetFrame(demux.get(), 1, &frame))
            RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
        struct TReleaseFrame {
            WebPIterator& frame;
            ~TReleaseFrame() { WebPDemuxReleaseIterator(&frame); }
        } release{frame};
        DecodeStill(frame.fragment.bytes, frame.fragment.size, frame.x_offset, frame.y_offset,
                    frame.width, frame.height);
    }
    progress.End();
    Changed();
}
