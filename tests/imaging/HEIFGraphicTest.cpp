// HEIF loader: pictures encoded here with libheif (8 and 10 bits, alpha, an odd size that the
// encoder pads and crops back with a clean aperture, stored rotated and mirrored) compared
// with heif-convert's decoding; the probe, damaged files, the pixel limit and progress.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/Exceptions.h"
#include "imaging/LibraryGraphicChecks.h"
#include "imaging/formats/HEIFGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

struct THeif {
    int width, height, bits;
    bool alpha;
    heif_orientation orientation;
};

// Encodes a smooth picture with an alpha ramp at quality 90.
Bytes Encode(const THeif& c) {
    heif_image* image = nullptr;
    const heif_chroma chroma =
        c.bits > 8
            ? (c.alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
            : (c.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    EXPECT_EQ(heif_image_create(c.width, c.height, heif_colorspace_RGB, chroma, &image).code, 0);
    heif_image_add_plane(image, heif_channel_interleaved, c.width, c.height, c.bits);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int samples = c.alpha ? 4 : 3, max = (1 << c.bits) - 1;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            for (int s = 0; s < samples; ++s) {
                const int v = (s == 0   ? x * max / c.width
                               : s == 1 ? y * max / c.height
                               : s == 2 ? max / 2
                                        : (x + y) * max / (c.width + c.height));
                uint8_t* p = plane + y * stride + (x * samples + s) * (c.bits > 8 ? 2 : 1);
                p[0] = uint8_t(v);
                if (c.bits > 8) p[1] = uint8_t(v >> 8);
            }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->macOS_compatibility_workaround = 0;  // crop with a clean aperture
    options->image_orientation = c.orientation;
    EXPECT_EQ(heif_context_encode_image(context, image, encoder, options, nullptr).code, 0);
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                           auto* bytes = static_cast<Bytes*>(out);
                           bytes->insert(bytes->end(), static_cast<const uint8_t*>(data),
                                         static_cast<const uint8_t*>(data) + size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    Bytes file;
    heif_context_write(context, &writer, &file);
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(image);
    return file;
}

TEST(HEIFGraphic, MatchesHeifConvert) {
    if (!testhelp::HaveTool("heif-convert") || !testhelp::HaveTool("convert"))
        GTEST_SKIP() << "heif-convert or ImageMagick absent";
    const THeif cases[] = {{40, 24, 8, false, heif_orientation_normal},
                           {40, 24, 8, true, heif_orientation_normal},
                           {37, 21, 8, false, heif_orientation_rotate_90_cw},
                           {37, 21, 8, true, heif_orientation_flip_horizontally},
                           {32, 18, 10, true, heif_orientation_rotate_270_cw},
                           {33, 17, 12, false, heif_orientation_rotate_180}};
    const fs::path file = fs::temp_directory_path() / "velkaro_heif_test.heic";
    const fs::path png = fs::temp_directory_path() / "velkaro_heif_test.png";
    for (const THeif& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " bits " +
                     std::to_string(c.bits) + " orientation " + std::to_string(c.orientation));
        const Bytes bytes = Encode(c);
        THEIFGraphic heif;
        ASSERT_NO_THROW(testhelp::LoadBytes(heif, bytes));
        const bool turned = c.orientation >= 5;
        EXPECT_EQ(heif.Width(), turned ? c.height : c.width);
        EXPECT_EQ(heif.Height(), turned ? c.width : c.height);
        EXPECT_EQ(heif.PixelFormat(), c.alpha ? pf32bit : pf24bit);

        testhelp::WriteFileBytes(file, bytes);
        bool ok = false;
        testhelp::RunCommand(
            "heif-convert " + file.string() + " " + png.string() + " >/dev/null 2>&1 && echo ok",
            ok);
        ASSERT_TRUE(ok);
        const testhelp::TPnm ref =
            testhelp::ParsePnm(testhelp::RunCommand("convert " + png.string() + " pam:-", ok));
        ASSERT_TRUE(ok && ref.valid);
        ASSERT_EQ(ref.width, heif.Width());
        ASSERT_EQ(ref.height, heif.Height());
        ASSERT_EQ(ref.depth, c.alpha ? 4 : 3);
        // heif-convert writes deep samples shifted to 16 bits; we round them to 8.
        EXPECT_EQ(testhelp::BitmapRGBA(heif), testhelp::ReferenceRGBA(ref, c.bits));
    }
    fs::remove(file);
    fs::remove(png);
}

TEST(HEIFGraphic, ProbeDamageLimitAndProgress) {
    const Bytes good = Encode({24, 16, 8, true, heif_orientation_normal});
    TMemoryStream stream(good.data(), int64_t(good.size()));
    EXPECT_TRUE(THEIFGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    Bytes avif = good;  // the same box naming AVIF is not ours
    std::copy_n("avif", 4, avif.begin() + 8);
    TMemoryStream avifStream(avif.data(), int64_t(avif.size()));
    EXPECT_FALSE(THEIFGraphic::ProbeStream(avifStream));
    EXPECT_EQ(testhelp::LoadError<THEIFGraphic>(avif),
              "Cannot load image. Invalid or unexpected HEIF image format.");

    testhelp::ExpectLibraryLoaderBasics<THEIFGraphic>(good, testhelp::ZeroTail(good, 200), 24, 16,
                                                      true);
}

}  // namespace
