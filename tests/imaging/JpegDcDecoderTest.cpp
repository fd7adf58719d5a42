// TJpegDcDecoder against libjpeg itself at scale 1/8: progressive files made here by libjpeg's
// encoder (its simple progression, or scan scripts with DC successive approximation and separate
// DC scans), gray and colour, with and without chroma reduction and restart intervals, odd sizes,
// and cut-off files.
#include <gtest/gtest.h>

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <string>
#include <vector>

#include "imaging/decoders/JpegDcDecoder.h"

namespace {

struct TJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void Jump(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJump*>(cinfo->err)->jump, 1);
}

enum TScript { kSimple, kSuccessive, kSeparateDc };

struct TCase {
    const char* name;
    int width, height, components;
    int h, v;  // sampling of the first component (the others 1 x 1)
    int restart;
    TScript script;
    double keep;  // the part of the file kept (1: whole; negative: bytes of the first scan)
    bool handled;
};

// Noise over a gradient, so that every coefficient band has something to code.
std::vector<uint8_t> Encode(const TCase& t) {
    std::vector<uint8_t> pixels(size_t(t.width) * size_t(t.height) * size_t(t.components));
    uint32_t seed = 12345;
    for (size_t i = 0; i < pixels.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        pixels[i] = static_cast<uint8_t>((i * 7 / size_t(t.components)) % 200 + (seed >> 26));
    }
    jpeg_compress_struct c{};
    TJump error{};
    c.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = Jump;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> bytes;
    if (setjmp(error.jump) == 0) {
        jpeg_create_compress(&c);
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = JDIMENSION(t.width);
        c.image_height = JDIMENSION(t.height);
        c.input_components = t.components;
        c.in_color_space = t.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 85, TRUE);
        c.comp_info[0].h_samp_factor = t.h;
        c.comp_info[0].v_samp_factor = t.v;
        c.restart_interval = JDIMENSION(t.restart);
        jpeg_simple_progression(&c);
        const int n = t.components;
        std::vector<jpeg_scan_info> scans;
        auto scan = [&](std::vector<int> comps, int ss, int se, int ah, int al) {
            jpeg_scan_info s{};
            s.comps_in_scan = int(comps.size());
            for (size_t i = 0; i < comps.size(); ++i)
                s.component_index[i] = comps[i];
            s.Ss = ss, s.Se = se, s.Ah = ah, s.Al = al;
            scans.push_back(s);
        };
        std::vector<int> all = n == 1 ? std::vector<int>{0} : std::vector<int>{0, 1, 2};
        if (t.script != kSimple) {
            if (t.script == kSuccessive) scan(all, 0, 0, 0, 1);
            for (int ci : all) {
                if (t.script == kSeparateDc) scan({ci}, 0, 0, 0, 1);
                scan({ci}, 1, 5, 0, 2);
            }
            for (int ci : all) {
                scan({ci}, 6, 63, 0, 2);
                scan({ci}, 1, 63, 2, 1);
            }
            if (t.script == kSuccessive) scan(all, 0, 0, 1, 0);
            for (int ci : all) {
                if (t.script == kSeparateDc) scan({ci}, 0, 0, 1, 0);
                scan({ci}, 1, 63, 1, 0);
            }
            c.scan_info = scans.data();
            c.num_scans = int(scans.size());
        }
        jpeg_start_compress(&c, TRUE);
        const size_t stride = size_t(t.width) * size_t(t.components);
        for (int y = 0; y < t.height; ++y) {
            JSAMPROW row = pixels.data() + size_t(y) * stride;
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        bytes.assign(out, out + size);
        size_t keep = size_t(double(size) * t.keep);
        if (t.keep < 0) {  // that many bytes of the first scan
            const uint8_t sos[2] = {0xFF, 0xDA};
            keep = size_t(std::search(bytes.begin(), bytes.end(), sos, sos + 2) - bytes.begin());
            keep += size_t(-t.keep);
        }
        bytes.resize(std::min(keep, bytes.size()));
    }
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// libjpeg's picture at 1/8 (blue-green-red or gray rows); empty when it fails.
std::vector<uint8_t> LibjpegEighth(const std::vector<uint8_t>& bytes, int components) {
    jpeg_decompress_struct d{};
    TJump error{};
    d.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = Jump;
    std::vector<uint8_t> pixels;
    if (setjmp(error.jump) == 0) {
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&d, TRUE);
        d.scale_num = 1;
        d.scale_denom = 8;
        d.out_color_space = components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_start_decompress(&d);
        const size_t stride = size_t(d.output_width) * size_t(components);
        pixels.resize(stride * d.output_height);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = pixels.data() + d.output_scanline * stride;
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
    } else {
        pixels.clear();
    }
    jpeg_destroy_decompress(&d);
    return pixels;
}

const TCase kCases[] = {
    {"gray", 120, 90, 1, 1, 1, 0, kSimple, 1, true},
    {"gray_successive", 67, 45, 1, 1, 1, 0, kSuccessive, 1, true},
    {"colour_444", 130, 70, 3, 1, 1, 0, kSimple, 1, true},
    {"colour_422", 125, 77, 3, 2, 1, 0, kSimple, 1, true},
    {"colour_420", 200, 150, 3, 2, 2, 0, kSimple, 1, true},
    {"colour_420_successive", 99, 71, 3, 2, 2, 0, kSuccessive, 1, true},
    {"colour_420_separate_dc", 93, 65, 3, 2, 2, 0, kSeparateDc, 1, true},
    {"colour_422_separate_dc_restarts", 81, 49, 3, 2, 1, 3, kSeparateDc, 1, true},
    {"colour_420_restarts", 150, 110, 3, 2, 2, 5, kSimple, 1, true},
    {"colour_444_restart_each_mcu", 40, 24, 3, 1, 1, 1, kSuccessive, 1, true},
    {"odd_17x9", 17, 9, 3, 2, 2, 0, kSimple, 1, true},
    {"single_pixel", 1, 1, 3, 2, 2, 0, kSimple, 1, true},
    {"single_gray_pixel", 1, 1, 1, 1, 1, 0, kSimple, 1, true},
    // cut in the last (luma) AC scans: the DC and chroma scans are whole
    {"cut_444", 160, 120, 3, 1, 1, 0, kSimple, 0.95, true},
    {"cut_420", 160, 120, 3, 2, 2, 0, kSimple, 0.8, true},
    // cut in an early AC scan: libjpeg's block smoothing then applies
    {"cut_early_444", 160, 120, 3, 1, 1, 0, kSimple, 0.3, false},
    {"cut_early_420", 160, 120, 3, 2, 2, 0, kSimple, 0.3, false},
    // cut in the first DC scan
    {"cut_in_dc_scan", 160, 120, 3, 1, 1, 0, kSimple, -30, false},
};

class JpegDcDecoder : public testing::TestWithParam<TCase> {};

TEST_P(JpegDcDecoder, MatchesLibjpegAtOneEighth) {
    const TCase& t = GetParam();
    const std::vector<uint8_t> bytes = Encode(t);
    ASSERT_FALSE(bytes.empty());
    TJpegDcDecoder decoder;
    const bool opened = decoder.Open(bytes.data(), bytes.size());
    std::vector<uint8_t> pixels;
    TJpegDcDecoder::TResult result = TJpegDcDecoder::TResult::NotHandled;
    if (opened) {
        ASSERT_EQ(decoder.Channels(), t.components);
        const size_t stride = size_t(decoder.Width()) * size_t(decoder.Channels());
        pixels.assign(stride * size_t(decoder.Height()), 0);
        result = decoder.Decode([&](int y) { return pixels.data() + size_t(y) * stride; }, {});
    }
    ASSERT_EQ(result == TJpegDcDecoder::TResult::Decoded, t.handled);
    if (t.handled) {
        EXPECT_TRUE(pixels == LibjpegEighth(bytes, t.components));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, JpegDcDecoder, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(JpegDcDecoderRefuses, BaselineCancelledAndBrokenFiles) {
    TJpegDcDecoder decoder;
    const uint8_t noJpeg[] = {0x00, 0x01, 0x02, 0x03};
    EXPECT_FALSE(decoder.Open(noJpeg, sizeof noJpeg));
    TCase t = kCases[2];
    std::vector<uint8_t> bytes = Encode(t);
    // A frame type other than progressive Huffman.
    std::vector<uint8_t> baseline = bytes;
    for (size_t i = 0; i + 1 < baseline.size(); ++i)
        if (baseline[i] == 0xFF && baseline[i + 1] == 0xC2) baseline[i + 1] = 0xC0;
    EXPECT_FALSE(decoder.Open(baseline.data(), baseline.size()));
    ASSERT_TRUE(decoder.Open(bytes.data(), bytes.size()));
    std::vector<uint8_t> row(size_t(decoder.Width()) * 3);
    EXPECT_EQ(decoder.Decode([&](int) { return row.data(); }, [] { return true; }),
              TJpegDcDecoder::TResult::Cancelled);
}

}  // namespace
