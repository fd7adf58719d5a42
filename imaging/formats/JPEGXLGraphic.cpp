// JPEG XL loader. libjxl wants the file whole, so it is held in memory during a load. The
// decoder turns the picture by its orientation and writes 8-bit RGB or RGBA straight into the
// bitmap's rows (their stride given as the alignment); red and blue are then exchanged row by
// row, which is where progress is reported. Up to two threads decode.
#include "imaging/formats/JPEGXLGraphic.h"

#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

namespace {

constexpr uint8_t kCodestream[2] = {0xFF, 0x0A};
constexpr uint8_t kContainer[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};

bool HasSignature(const uint8_t* head, int64_t n) {
    return (n >= 2 && std::memcmp(head, kCodestream, 2) == 0) ||
           (n >= 12 && std::memcmp(head, kContainer, 12) == 0);
}

struct TDecoderCloser {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct TRunnerCloser {
    void operator()(void* runner) const { JxlResizableParallelRunnerDestroy(runner); }
};
using TDecoderPtr = std::unique_ptr<JxlDecoder, TDecoderCloser>;

// A decoder over the whole file that reports the basic information first (and the picture
// when full is set); null when libjxl cannot be set up.
// The profile of the samples libjxl hands out; empty when they are sRGB already.
std::vector<uint8_t> OutputProfile(const JxlDecoder* decoder) {
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &encoding) == JXL_DEC_SUCCESS &&
        encoding.color_space == JXL_COLOR_SPACE_RGB &&
        encoding.white_point == JXL_WHITE_POINT_D65 && encoding.primaries == JXL_PRIMARIES_SRGB &&
        encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB)
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > kMaxIccProfileBytes)
        return {};
    std::vector<uint8_t> icc(size);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(),
                                       size) != JXL_DEC_SUCCESS)
        return {};
    return icc;
}

TDecoderPtr OpenDecoder(const std::vector<uint8_t>& data, bool full) {
    TDecoderPtr decoder(JxlDecoderCreate(nullptr));
    if (!decoder) return decoder;
    const int events =
        JXL_DEC_BASIC_INFO | (full ? JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE : 0);
    if (JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(decoder.get(), JXL_FALSE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data.data(), data.size()) != JXL_DEC_SUCCESS)
        return nullptr;
    JxlDecoderCloseInput(decoder.get());
    return decoder;
}

// The size as shown: orientations 5 to 8 exchange the sides.
void ShownSize(const JxlBasicInfo& info, uint32_t& width, uint32_t& height) {
    const bool swap = info.orientation >= JXL_ORIENT_TRANSPOSE;
    width = swap ? info.ysize : info.xsize;
    height = swap ? info.xsize : info.ysize;
}

}  // namespace

bool TJPEGXLGraphic::ProbeStream(TStream& stream) {
    const int64_t position = stream.Position();
    uint8_t head[12];
    const int64_t n = stream.Read(head, std::min<int64_t>(12, stream.Remaining()));
    stream.SetPosition(position);
    return HasSignature(head, n);
}

bool TJPEGXLGraphic::ReadFileProperties(const std::vector<uint8_t>& data) {
    TDecoderPtr decoder = OpenDecoder(data, false);
    if (!decoder || JxlDecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO) return false;
    JxlBasicInfo info;
    if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS) return false;
    if (info.xsize == 0 || info.ysize == 0) return false;
    TImageProperties& p = imageProperties_;
    ShownSize(info, p.Width, p.Height);
    p.HasAlpha = info.alpha_bits > 0;
    p.ColorScheme = p.HasAlpha ? schemeRGBA : schemeRGB;
    p.BitsPerSample = uint8_t(std::min<uint32_t>(info.bits_per_sample, 255));
    p.SamplesPerPixel = uint8_t(info.num_color_channels + (p.HasAlpha ? 1 : 0));
    p.BitsPerPixel =
        uint8_t(std::min<uint32_t>(uint32_t(p.BitsPerSample) * p.SamplesPerPixel, 255));
    // Bare codestream (1) or container (2).
    p.Version = data[0] == 0 ? 2 : 1;
    return true;
}

void TJPEGXLGraphic::Decode() {
    const TImageProperties& p = imageProperties_;
    const bool alpha = p.HasAlpha;
    const unsigned bytes = alpha ? 4 : 3;
    SetPixelFormat(alpha ? pf32bit : pf24bit);
    CheckSize(p.Width, p.Height);
    if (p.Width > uint32_t(INT32_MAX) || p.Height > uint32_t(INT32_MAX)) Fail(imsg::InvalidImage);

    TDecoderPtr decoder = OpenDecoder(data_, true);
    if (!decoder) Fail(imsg::InvalidImage);
    std::unique_ptr<void, TRunnerCloser> runner(JxlResizableParallelRunnerCreate(nullptr));
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
    if (runner && threads > 1) {
        JxlResizableParallelRunnerSetThreads(runner.get(), threads);
        if (JxlDecoderSetParallelRunner(decoder.get(), JxlResizableParallelRunner, runner.get()) !=
            JXL_DEC_SUCCESS)
            Fail(imsg::InvalidImage);
    }
    JxlPixelFormat format{bytes, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    bool done = false, haveBuffer = false;
    while (!done) {
        // The cancel flag between libjxl's events (the basic information, the colour encoding,
        // the output buffer, the picture).
        CheckCancelled();
        switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_BASIC_INFO: {
                // The same file as ReadProperties read: the same size, checked again all the same.
                JxlBasicInfo info;
                uint32_t width = 0, height = 0;
                if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                    Fail(imsg::InvalidImage);
                ShownSize(info, width, height);
                if (width != p.Width || height != p.Height || (info.alpha_bits > 0) != alpha)
                    Fail(imsg::InvalidImage);
                SetSize(int(p.Width), int(p.Height));
                // The rows are contiguous and RowStride apart: that stride as the alignment makes
                // libjxl write them in place.
                if (uint64_t(p.Width) * bytes > uint64_t(RowStride())) Fail(imsg::InvalidImage);
                format.align = size_t(RowStride());
                break;
            }
            case JXL_DEC_COLOR_ENCODING: {
                // Lossy pictures are stored in libjxl's own colour space and come out in any
                // space asked for: sRGB, rather than the linear light it gives otherwise (which
                // eight bits hold badly). Other pictures refuse the wish and keep their profile.
                JxlColorEncoding srgb{};
                srgb.color_space = JXL_COLOR_SPACE_RGB;
                srgb.white_point = JXL_WHITE_POINT_D65;
                srgb.primaries = JXL_PRIMARIES_SRGB;
                srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
                srgb.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
                JxlDecoderSetPreferredColorProfile(decoder.get(), &srgb);
                SetIccProfile(OutputProfile(decoder.get()));
                break;
            }
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                const size_t size = size_t(RowStride()) * p.Height;
                size_t needed = 0;
                if (Empty() ||
                    JxlDecoderImageOutBufferSize(decoder.get(), &format, &needed) !=
                        JXL_DEC_SUCCESS ||
                    needed > size ||
                    JxlDecoderSetImageOutBuffer(decoder.get(), &format, ScanLine(0), size) !=
                        JXL_DEC_SUCCESS)
                    Fail(imsg::InvalidImage);
                haveBuffer = true;
                break;
            }
            case JXL_DEC_FULL_IMAGE:
                done = haveBuffer;
                break;
            case JXL_DEC_SUCCESS:
                if (!haveBuffer) Fail(imsg::InvalidImage);
                done = true;
                break;
            default:  // an error, or the file ending early
                Fail(imsg::CompressionError);
        }
    }

    StartRowProgress(p.Width, imsg::Transfering);
    for (uint32_t y = 0; y < p.Height; ++y) {
        uint8_t* row = ScanLine(int(y));
        for (uint32_t x = 0; x < p.Width; ++x, row += bytes)
            std::swap(row[0], row[2]);
        RowProgress(y, p.Height);
    }
}
