// Decodes arbitrary bytes with the DC-scan reader of progressive JPEG files and, when it
// decodes them, with libjpeg at scale 1/8 too: the two pictures must be the same, and a file
// the library cannot decode must not be decoded by the reader either. Seeds: made by
// fuzz/make_jpeg_dc_seeds.py.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "imaging/decoders/JpegDcDecoder.h"

namespace {

constexpr int64_t kMaxPixels = int64_t(1) << 22;  // of the full-size picture (libjpeg's memory)

struct TJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void Jump(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJump*>(cinfo->err)->jump, 1);
}
void Quiet(j_common_ptr, int) {}

// libjpeg's picture at 1/8; false when it fails. Scans beyond the loader's limit fail too.
bool Library(const uint8_t* data, size_t size, int channels, std::vector<uint8_t>& pixels) {
    jpeg_decompress_struct d{};
    TJump error{};
    d.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = Jump;
    error.pub.emit_message = Quiet;
    bool ok = false;
    if (setjmp(error.jump) == 0) {
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
        jpeg_read_header(&d, TRUE);
        d.scale_num = 1;
        d.scale_denom = 8;
        d.out_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_start_decompress(&d);
        const size_t stride = size_t(d.output_width) * size_t(channels);
        pixels.assign(stride * d.output_height, 0);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = pixels.data() + size_t(d.output_scanline) * stride;
            if (jpeg_read_scanlines(&d, &row, 1) == 0) break;
        }
        jpeg_finish_decompress(&d);
        ok = d.input_scan_number <= 1000;
    }
    jpeg_destroy_decompress(&d);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TJpegDcDecoder decoder;
    if (!decoder.Open(data, size)) return 0;
    const int64_t full = int64_t(decoder.Width()) * 8 * int64_t(decoder.Height()) * 8;
    if (full > kMaxPixels) return 0;
    const size_t stride = size_t(decoder.Width()) * size_t(decoder.Channels());
    std::vector<uint8_t> pixels(stride * size_t(decoder.Height()), 0);
    int cancelPolls = 0;
    const auto result = decoder.Decode([&](int y) { return pixels.data() + size_t(y) * stride; },
                                       [&] { return ++cancelPolls > 1 << 20; });
    if (result != TJpegDcDecoder::TResult::Decoded) return 0;
    std::vector<uint8_t> expected;
    if (!Library(data, size, decoder.Channels(), expected) || expected != pixels) std::abort();
    return 0;
}
