// Four-component (CMYK and YCCK) JPEG pictures and the EXIF orientation. Fixtures are written
// here with libjpeg from our own pixels; the corpus files are checked against Pillow.
#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Bitmap.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/ExifOrientation.h"
#include "imaging/formats/JPEGImage.h"

namespace {

using testhelp::Bytes;
using TSegments = std::vector<Bytes>;

struct TEncodeSettings {
    int width, height, components;
    J_COLOR_SPACE input, coded;
    bool adobe = true;
    bool progressive = false;
    int quality = 100;
};

// A JPEG file of the samples (rows top down), every component at full resolution.
Bytes Encode(const TEncodeSettings& settings, const Bytes& samples) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(settings.width);
    c.image_height = JDIMENSION(settings.height);
    c.input_components = settings.components;
    c.in_color_space = settings.input;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, settings.coded);
    jpeg_set_quality(&c, settings.quality, TRUE);
    for (int i = 0; i < c.num_components; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    c.write_Adobe_marker = settings.adobe ? TRUE : FALSE;
    if (settings.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    const size_t stride = size_t(settings.width) * size_t(settings.components);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    Bytes file(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return file;
}

// The CMYK samples libjpeg gives for a four-component file, at 1/2^scalePower of full size.
Bytes DecodeRawCMYK(const Bytes& file, int scalePower, int& width, int& height) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_CMYK;
    d.scale_num = 1;
    d.scale_denom = 1u << scalePower;
    jpeg_start_decompress(&d);
    width = int(d.output_width);
    height = int(d.output_height);
    Bytes samples(size_t(width) * size_t(height) * 4);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = samples.data() + size_t(d.output_scanline) * size_t(width) * 4;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return samples;
}

// The colour manager's ink-to-RGB formula for 8-bit samples: each of red, green and blue is
// clamp(C*K/255 (truncated) - C - K + 255), C being the cyan, magenta or yellow ink.
Bytes InkToRGB(const Bytes& cmyk) {
    Bytes rgb;
    for (size_t i = 0; i + 3 < cmyk.size(); i += 4) {
        const int k = cmyk[i + 3];
        for (int c = 0; c < 3; ++c) {
            const int v = cmyk[i + size_t(c)];
            rgb.push_back(uint8_t(std::clamp(v * k / 255 - v - k + 255, 0, 255)));
        }
    }
    return rgb;
}

Bytes Inverted(Bytes samples) {
    for (uint8_t& b : samples)
        b = uint8_t(255 - b);
    return samples;
}

Bytes BitmapRGB(const TBitmap& bmp) {
    const Bytes rgba = testhelp::BitmapRGBA(bmp);
    Bytes rgb;
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    return rgb;
}

int MaxDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 1000;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

void LoadBytes(TJPEGImage& jpeg, const Bytes& bytes) {
    TMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    jpeg.LoadFromStream(stream);
}

// Keeps TBitmap::AutoOrient as it was found.
struct TAutoOrientGuard {
    bool saved = TBitmap::AutoOrient();
    ~TAutoOrientGuard() { TBitmap::SetAutoOrient(saved); }
};

// Ink amounts of our own: cyan across, magenta down, yellow along the diagonal, black in
// steps, with a patch of pure cyan and one of no ink at all.
Bytes InkPixels(int w, int h) {
    Bytes ink;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t c = uint8_t(x * 255 / (w - 1)), m = uint8_t(y * 255 / (h - 1));
            uint8_t yl = uint8_t((x + y) * 4), k = uint8_t((x / 8) * 40);
            if (x < 8 && y < 8) c = 255, m = yl = k = 0;
            if (x >= w - 8 && y < 8) c = m = yl = k = 0;
            ink.insert(ink.end(), {c, m, yl, k});
        }
    return ink;
}

}  // namespace

// A file's samples are 255 minus the ink amounts, with or without the APP14 "Adobe" marker
// (as Photoshop writes them and every common reader takes them; YCCK carries them the same
// way). Each case writes such a file of
// the same ink and compares the picture with the library's CMYK samples of that file pushed
// through the colour manager's formula: exactly, since both come from the same libjpeg and
// the same integer formula. The picture is also compared with the ink written, within the
// loss of the coding (quality 100, no subsampling; YCCK's colour transform adds rounding).
TEST(JPEGCmyk, FourComponentFilesShowTheirInk) {
    struct TCase {
        const char* name;
        J_COLOR_SPACE coded;
        bool adobe, progressive;
        uint8_t scalePower;
        bool showScans, eightBit;
        int tolerance;  // against the ink written
    };
    const TCase cases[] = {
        {"plain CMYK", JCS_CMYK, false, false, 0, false, false, 4},
        {"Adobe CMYK", JCS_CMYK, true, false, 0, false, false, 4},
        {"Adobe YCCK", JCS_YCCK, true, false, 0, false, false, 8},
        {"Adobe YCCK progressive", JCS_YCCK, true, true, 0, false, false, 8},
        {"Adobe CMYK progressive, scan by scan", JCS_CMYK, true, true, 0, true, false, 4},
        {"plain CMYK at half size", JCS_CMYK, false, false, 1, false, false, -1},
        {"Adobe CMYK, 8-bit output stays 24-bit", JCS_CMYK, true, false, 0, false, true, 4},
    };
    const int w = 40, h = 24;
    const Bytes ink = InkPixels(w, h);
    for (const TCase& t : cases) {
        SCOPED_TRACE(t.name);
        const Bytes stored = Inverted(ink);
        const Bytes file = Encode({w, h, 4, JCS_CMYK, t.coded, t.adobe, t.progressive}, stored);
        TJPEGImage jpeg;
        jpeg.SetScalePower(t.scalePower);
        jpeg.SetShowScans(t.showScans);
        jpeg.SetEightBitOutput(t.eightBit);
        LoadBytes(jpeg, file);
        int rw = 0, rh = 0;
        const Bytes raw = DecodeRawCMYK(file, t.scalePower, rw, rh);
        EXPECT_EQ(jpeg.Width(), rw);
        EXPECT_EQ(jpeg.Height(), rh);
        const TBitmap& bmp = jpeg.Bitmap();
        EXPECT_EQ(bmp.PixelFormat(), pf24bit);
        ASSERT_EQ(bmp.Width(), rw);
        ASSERT_EQ(bmp.Height(), rh);
        const Bytes shown = BitmapRGB(bmp);
        EXPECT_EQ(MaxDifference(shown, InkToRGB(Inverted(raw))), 0);
        if (t.tolerance >= 0) {
            EXPECT_LE(MaxDifference(shown, InkToRGB(ink)), t.tolerance);
        }
        // The patch of pure cyan ink is cyan; the patch of no ink is white.
        if (t.scalePower == 0) {
            EXPECT_LE(shown[0], 4);
            EXPECT_GE(shown[1], 250);
            const size_t white = size_t(w - 1) * 3;
            EXPECT_GE(std::min({shown[white], shown[white + 1], shown[white + 2]}), 250);
        }
    }
}

// Gray output of a four-component file: 256 grey levels from the colour picture (ITU-R 601
// weights, rounded).
TEST(JPEGCmyk, GrayOutputWeighsTheColourPicture) {
    const int w = 40, h = 24;
    const Bytes file = Encode({w, h, 4, JCS_CMYK, JCS_YCCK, true}, Inverted(InkPixels(w, h)));
    TJPEGImage colour, gray;
    LoadBytes(colour, file);
    gray.SetGrayOutput(true);
    LoadBytes(gray, file);
    const Bytes rgb = BitmapRGB(colour.Bitmap());
    const TBitmap& bmp = gray.Bitmap();
    ASSERT_EQ(bmp.PixelFormat(), pf8bit);
    ASSERT_EQ(bmp.Palette().size(), 256u);
    const Bytes shown = BitmapRGB(bmp);
    ASSERT_EQ(shown.size(), rgb.size());
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const int expected = (rgb[i] * 299 + rgb[i + 1] * 587 + rgb[i + 2] * 114 + 500) / 1000;
        ASSERT_EQ(shown[i], expected) << i / 3;
    }
}

// Real errors keep their "JPEG error #n"; a damaged four-component file shows what it holds.
TEST(JPEGCmyk, TruncatedAndBrokenFiles) {
    const int w = 40, h = 24;
    const Bytes file = Encode({w, h, 4, JCS_CMYK, JCS_CMYK, true}, Inverted(InkPixels(w, h)));
    TJPEGImage cut;
    LoadBytes(cut, Bytes(file.begin(), file.begin() + long(file.size() / 2)));
    EXPECT_EQ(cut.Bitmap().Width(), w);
    // A start-of-frame whose first component has sampling factors of 0.
    Bytes broken = file;
    for (size_t i = 0; i + 12 < broken.size(); ++i)
        if (broken[i] == 0xFF && broken[i + 1] == 0xC0) {
            broken[i + 11] = 0x00;
            break;
        }
    TJPEGImage bad;
    try {
        LoadBytes(bad, broken);
        (void)bad.Bitmap();
        ADD_FAILURE() << "no error";
    } catch (const EJPEG& e) {
        EXPECT_TRUE(std::string(e.what()).rfind("JPEG error #", 0) == 0) << e.what();
    }
}

// ---- EXIF orientation ----

namespace {

struct TEntry {
    uint16_t tag, type;
    uint32_t count, value;
};

// The data of an APP1 EXIF segment: "Exif\0\0", a TIFF header in the byte order, IFD0 at
// ifdOffset with `count` entries (only `entries` are written) and the next-IFD pointer.
Bytes ExifSegment(bool big, const std::vector<TEntry>& entries, uint32_t ifdOffset = 8,
                  int count = -1, uint32_t next = 0, uint16_t magic = 42) {
    Bytes b;
    testhelp::PutText(b, std::string("Exif\0\0", 6));
    testhelp::PutText(b, big ? "MM" : "II");
    testhelp::Put16(b, magic, big);
    testhelp::Put32(b, ifdOffset, big);
    testhelp::Put16(b, count < 0 ? uint32_t(entries.size()) : uint32_t(count), big);
    for (const TEntry& e : entries) {
        testhelp::Put16(b, e.tag, big);
        testhelp::Put16(b, e.type, big);
        testhelp::Put32(b, e.count, big);
        if (e.type == 3) {
            testhelp::Put16(b, e.value, big);  // a SHORT is left-justified
            testhelp::Put16(b, 0, big);
        } else {
            testhelp::Put32(b, e.value, big);
        }
    }
    testhelp::Put32(b, next, big);
    return b;
}

Bytes OrientationSegment(bool big, uint32_t value) {
    // Make and Orientation, as cameras write them.
    return ExifSegment(big, {{0x010F, 2, 4, 0}, {274, 3, 1, value}});
}

// The JPEG file with the APP1 segments right after its start-of-image marker.
Bytes WithApp1(const Bytes& jpeg, const std::vector<Bytes>& segments) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    for (const Bytes& s : segments) {
        out.insert(out.end(), {0xFF, 0xE1, uint8_t((s.size() + 2) >> 8), uint8_t(s.size() + 2)});
        out.insert(out.end(), s.begin(), s.end());
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// A stored picture of 3 x 2 flat blocks of 8 x 8 pixels, A B C over D E F, in colours far
// apart, so each block survives the coding within a few levels.
const uint8_t kBlockColours[6][3] = {{250, 10, 10},  {10, 250, 10},  {10, 10, 250},
                                     {250, 250, 10}, {10, 250, 250}, {128, 128, 128}};

Bytes BlockPicture() {
    Bytes rgb;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const uint8_t* c = kBlockColours[(y / 8) * 3 + x / 8];
            rgb.insert(rgb.end(), c, c + 3);
        }
    return Encode({24, 16, 3, JCS_RGB, JCS_YCbCr, false}, rgb);
}

// The block shown at each block position, row by row ("ABC/DEF" is the stored layout).
std::string ShownBlocks(const TBitmap& bmp) {
    std::string s;
    for (int by = 0; by < bmp.Height() / 8; ++by) {
        if (by > 0) s += '/';
        for (int bx = 0; bx < bmp.Width() / 8; ++bx) {
            const uint8_t* p = bmp.ScanLine(by * 8 + 4) + (bx * 8 + 4) * 3;  // blue, green, red
            char block = '?';
            for (int k = 0; k < 6; ++k)
                if (std::abs(p[2] - kBlockColours[k][0]) <= 6 &&
                    std::abs(p[1] - kBlockColours[k][1]) <= 6 &&
                    std::abs(p[0] - kBlockColours[k][2]) <= 6)
                    block = char('A' + k);
            s += block;
        }
    }
    return s;
}

}  // namespace

// Every orientation in both byte orders: the size is the shown one before anything is
// decoded, and the blocks land where the EXIF meaning of the value puts them.
TEST(JPEGExif, OrientationTurnsThePicture) {
    const char* const shown[9] = {nullptr,    "ABC/DEF",  "CBA/FED",  "FED/CBA", "DEF/ABC",
                                  "AD/BE/CF", "DA/EB/FC", "FC/EB/DA", "CF/BE/AD"};
    const Bytes plain = BlockPicture();
    for (bool big : {false, true})
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(std::string(big ? "MM " : "II ") + std::to_string(o));
            TJPEGImage jpeg;
            LoadBytes(jpeg, WithApp1(plain, {OrientationSegment(big, uint32_t(o))}));
            EXPECT_EQ(jpeg.Orientation(), o);
            const bool quarter = o >= 5;
            EXPECT_EQ(jpeg.Width(), quarter ? 16 : 24);
            EXPECT_EQ(jpeg.Height(), quarter ? 24 : 16);
            EXPECT_FALSE(jpeg.HasBitmap());
            EXPECT_EQ(ShownBlocks(jpeg.Bitmap()), shown[o]);
            EXPECT_EQ(jpeg.Width(), jpeg.Bitmap().Width());
            EXPECT_EQ(jpeg.Height(), jpeg.Bitmap().Height());
        }
    // Another APP1 (XMP) before the EXIF one does not hide it.
    Bytes xmp;
    testhelp::PutText(xmp, std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 33));
    TJPEGImage jpeg;
    LoadBytes(jpeg, WithApp1(plain, {xmp, OrientationSegment(true, 6)}));
    EXPECT_EQ(ShownBlocks(jpeg.Bitmap()), "DA/EB/FC");
}

// Broken EXIF blocks are ignored: the picture is shown as stored.
TEST(JPEGExif, BrokenExifShowsThePictureAsStored) {
    struct TCase {
        const char* name;
        std::function<TSegments(bool big)> segments;
    };
    const TEntry six{274, 3, 1, 6};
    const TCase cases[] = {
        {"IFD past the segment", [&](bool b) { return TSegments{ExifSegment(b, {six}, 4000)}; }},
        {"IFD inside the header", [&](bool b) { return TSegments{ExifSegment(b, {six}, 2)}; }},
        {"IFD count in the last byte",
         [&](bool b) {
             Bytes s = ExifSegment(b, {six});
             s.resize(6 + 8 + 1);
             return TSegments{s};
         }},
        {"no entries", [&](bool b) { return TSegments{ExifSegment(b, {six}, 8, 0)}; }},
        {"entries past the segment",
         [&](bool b) {
             Bytes s = ExifSegment(b, {six}, 8, 3);
             return TSegments{s};
         }},
        {"entry cut short",
         [&](bool b) {
             Bytes s = ExifSegment(b, {six});
             s.resize(6 + 8 + 2 + 10);
             return TSegments{s};
         }},
        {"orientation as LONG",
         [&](bool b) {
             return TSegments{ExifSegment(b, {{274, 4, 1, 6}})};
         }},
        {"orientation as ASCII",
         [&](bool b) {
             return TSegments{ExifSegment(b, {{274, 2, 1, 6}})};
         }},
        {"two values",
         [&](bool b) {
             return TSegments{ExifSegment(b, {{274, 3, 2, 6}})};
         }},
        {"no value",
         [&](bool b) {
             return TSegments{ExifSegment(b, {{274, 3, 0, 6}})};
         }},
        {"orientation 0", [&](bool b) { return TSegments{OrientationSegment(b, 0)}; }},
        {"orientation 9", [&](bool b) { return TSegments{OrientationSegment(b, 9)}; }},
        {"orientation 65535", [&](bool b) { return TSegments{OrientationSegment(b, 65535)}; }},
        {"not TIFF", [&](bool b) { return TSegments{ExifSegment(b, {six}, 8, -1, 0, 43)}; }},
        {"unknown byte order",
         [&](bool b) {
             Bytes s = ExifSegment(b, {six});
             s[6] = 'I', s[7] = 'M';
             return TSegments{s};
         }},
        {"segment of the header only",
         [&](bool b) {
             Bytes s = ExifSegment(b, {six});
             s.resize(6);
             return TSegments{s};
         }},
        // Only IFD0 is read: a next pointer to itself (with the tag only "behind" it) is no
        // loop, and the IFD0 without the tag counts.
        {"next IFD loops to IFD0",
         [&](bool b) {
             return TSegments{ExifSegment(b, {{0x010F, 2, 4, 0}}, 8, -1, 8)};
         }},
        {"a broken EXIF segment first",
         [&](bool b) {
             return TSegments{ExifSegment(b, {six}, 4000), OrientationSegment(b, 6)};
         }},
    };
    const Bytes plain = BlockPicture();
    for (bool big : {false, true})
        for (const TCase& t : cases) {
            SCOPED_TRACE(std::string(big ? "MM " : "II ") + t.name);
            const std::vector<Bytes> segments = t.segments(big);
            EXPECT_EQ(ExifOrientation(segments[0].data(), segments[0].size()), 0);
            TJPEGImage jpeg;
            LoadBytes(jpeg, WithApp1(plain, segments));
            EXPECT_EQ(jpeg.Orientation(), 0);
            EXPECT_EQ(jpeg.Width(), 24);
            EXPECT_EQ(ShownBlocks(jpeg.Bitmap()), "ABC/DEF");
        }
}

// The picture holder's load (what velkaro-decode does) turns the picture, and with
// AutoOrient off (velkaro-decode --no-orient) keeps the stored layout. Reduced scales and
// gray output turn too; while a turned picture decodes, no rows are offered for display.
TEST(JPEGExif, HolderAutoOrientScalesAndProgress) {
    TAutoOrientGuard guard;
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "velkaro_exif_orientation_8.jpg";
    {
        const Bytes bytes = WithApp1(BlockPicture(), {OrientationSegment(false, 8)});
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    RegisterImageFormats();
    for (bool autoOrient : {true, false}) {
        TBitmap::SetAutoOrient(autoOrient);
        TPicture picture;
        picture.LoadFromFile(file.string());
        const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic());
        ASSERT_NE(jpeg, nullptr);
        EXPECT_EQ(picture.Width(), autoOrient ? 16 : 24);
        EXPECT_EQ(ShownBlocks(jpeg->Bitmap()), autoOrient ? "CF/BE/AD" : "ABC/DEF");
    }
    UnregisterImageFormats();
    std::filesystem::remove(file);
    TBitmap::SetAutoOrient(true);

    // Library-rounded sizes of the reduced scales, exchanged: 24 x 16 stored.
    TJPEGImage jpeg;
    LoadBytes(jpeg, WithApp1(BlockPicture(), {OrientationSegment(true, 6)}));
    const int sizes[4][2] = {{16, 24}, {8, 12}, {4, 6}, {2, 3}};
    for (uint8_t n = 0; n < 4; ++n) {
        jpeg.SetScalePower(n);
        EXPECT_EQ(jpeg.Width(), sizes[n][0]) << int(n);
        EXPECT_EQ(jpeg.Height(), sizes[n][1]) << int(n);
        EXPECT_EQ(jpeg.Bitmap().Width(), sizes[n][0]) << int(n);
        EXPECT_EQ(jpeg.Bitmap().Height(), sizes[n][1]) << int(n);
    }
    jpeg.SetScalePower(0);
    jpeg.SetGrayOutput(true);
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf8bit);
    EXPECT_EQ(jpeg.Bitmap().Width(), 16);

    // Progress of a tall turned picture: percentages, but empty rectangles and no redraw.
    Bytes rgb(size_t(64) * 512 * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint8_t(i * 7);
    const Bytes tall = Encode({64, 512, 3, JCS_RGB, JCS_YCbCr, false, true, 80}, rgb);
    static uint64_t ticks = 0;
    TJPEGImage::SetTickSource([] { return ticks += 600; });
    TJPEGImage turned;
    LoadBytes(turned, WithApp1(tall, {OrientationSegment(false, 6)}));
    int running = 0, widthSeen = 0;
    turned.OnProgress = [&](TGraphic* g, TProgressStage stage, uint8_t, bool redraw,
                            const TRect& rect, const std::string&) {
        if (stage == psRunning) {
            ++running;
            EXPECT_FALSE(redraw);
            EXPECT_EQ(rect.Bottom - rect.Top, 0);
        }
        widthSeen = g->Width();
        EXPECT_EQ(g->Width(), 512);  // the shown size throughout
    };
    EXPECT_EQ(turned.Bitmap().Width(), 512);
    TJPEGImage::SetTickSource(nullptr);
    EXPECT_GT(running, 0);
    EXPECT_EQ(widthSeen, 512);
}

// The corpus's CMYK and EXIF-oriented files against Pillow (Debian's python3-pil reads JPEG
// through the same system libjpeg, so the samples agree exactly). For CMYK, Pillow's samples
// (it undoes Adobe's inversion) go through the colour manager's formula here; for the turned
// files Pillow's ImageOps.exif_transpose is the reference.
TEST(JPEGCmyk, CorpusMatchesPillow) {
    const std::filesystem::path dir = testdata::corpus("pillow");
    if (dir.empty()) GTEST_SKIP() << "conformance corpus absent";
    const std::string python = "/usr/bin/python3";
    if (!std::filesystem::exists(python)) GTEST_SKIP() << "python3 absent";
    // Writes the picture as PAM: CMYK samples (depth 4) or the turned RGB picture (depth 3).
    const std::string script =
        "import sys\n"
        "from PIL import Image, ImageOps\n"
        "im = Image.open(sys.argv[1])\n"
        "im = im if im.mode == 'CMYK' else ImageOps.exif_transpose(im).convert('RGB')\n"
        "d = len(im.mode)\n"
        "sys.stdout.buffer.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH %d\\nMAXVAL 255\\nENDHDR\\n'"
        " % (im.width, im.height, d) + im.tobytes())\n";
    const char* const files[] = {"pil_sample_cmyk.jpg",
                                 "hopper_orientation_2.jpg",
                                 "hopper_orientation_3.jpg",
                                 "hopper_orientation_4.jpg",
                                 "hopper_orientation_5.jpg",
                                 "hopper_orientation_6.jpg",
                                 "hopper_orientation_7.jpg",
                                 "hopper_orientation_8.jpg",
                                 "empty_gps_ifd.jpg",
                                 "hopper.jpg",
                                 "flower2.jpg"};
    TAutoOrientGuard guard;
    TBitmap::SetAutoOrient(true);
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const std::filesystem::path path = dir / name;
        if (!std::filesystem::exists(path)) continue;
        bool ok = false;
        const Bytes out = testhelp::RunCommand(python + " -c " + testhelp::ShellQuote(script) +
                                                   " " + testhelp::ShellQuote(path.string()),
                                               ok);
        if (!ok) GTEST_SKIP() << "Pillow unavailable";
        const testhelp::TPnm ref = testhelp::ParsePnm(out);
        ASSERT_TRUE(ref.valid);
        const Bytes expected = ref.depth == 4 ? InkToRGB(ref.raster) : ref.raster;
        TJPEGImage jpeg;
        jpeg.LoadFromFile(path.string());
        EXPECT_EQ(jpeg.Width(), ref.width);
        EXPECT_EQ(jpeg.Height(), ref.height);
        EXPECT_EQ(MaxDifference(BitmapRGB(jpeg.Bitmap()), expected), 0);
    }
}
