// Embedded colour profiles: pictures that Pillow writes with colord's profiles are converted as
// Pillow's ImageCms converts them; damaged or unsuitable profiles and broken JPEG segment chains
// leave the pixels as stored.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/ImagingTestHelpers.h"
#include "imaging/Bitmap.h"
#include "imaging/ColorProfile.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/JPEGImage.h"

namespace fs = std::filesystem;
using namespace testhelp;

namespace {

const fs::path kColord = "/usr/share/color/icc/colord";

// The decoded picture as RGBA, through the picture holder as the reader loads it (a JPEG
// picture decodes when its bitmap is first asked for: still under the switch).
Bytes DecodeFile(const fs::path& file, bool manage) {
    RegisterImageFormats();
    SetColorManagementEnabled(manage);
    std::unique_ptr<TGraphic> g = TPicture::LoadGraphic(file.string());
    auto* jpeg = dynamic_cast<TJPEGImage*>(g.get());
    const Bytes rgba = BitmapRGBA(jpeg != nullptr ? jpeg->Bitmap() : dynamic_cast<TBitmap&>(*g));
    SetColorManagementEnabled(true);
    return rgba;
}

// A 24-bit ramp.
void Ramp(TBitmap& b) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(40, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 40; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = uint8_t(x * 6), p[1] = uint8_t(y * 32), p[2] = uint8_t(255 - x * 6);
        }
}

}  // namespace

// Pillow writes a ramp in each format with the profile embedded and converts it to sRGB with
// ImageCms, which is Little CMS with the same perceptual intent: the samples agree. The
// tolerance of 1 covers a different rounding of Little CMS's 8-bit optimised transforms between
// builds; a missed conversion is off by far more (SwappedRedAndGreen swaps whole channels,
// ProPhoto moves mid-tones by over 40).
// Every test decodes through the registry, and leaves it as other suites expect to find it.
class ColorProfile : public ::testing::Test {
  protected:
    void SetUp() override { RegisterImageFormats(); }
    void TearDown() override {
        UnregisterImageFormats();
        SetColorManagementEnabled(true);
    }
};

TEST_F(ColorProfile, PillowFilesMatchImageCms) {
    if (!fs::exists(kColord) || !HaveTool("/usr/bin/python3")) GTEST_SKIP() << "no colord/Pillow";
    const std::string script =
        "import sys, io\n"
        "from PIL import Image, ImageCms\n"
        "prof, out, mode = sys.argv[1], sys.argv[2], sys.argv[3]\n"
        "im = Image.new('RGB', (48, 32))\n"
        "im.putdata([(x * 5, y * 8, (x * 7 + y * 3) % 256) for y in range(32) for x in "
        "range(48)])\n"
        "if mode == 'RGBA': im.putalpha(Image.linear_gradient('L').resize((48, 32)))\n"
        "if mode == 'P': im = im.quantize(64)\n"
        "icc = open(prof, 'rb').read()\n"
        "opts = {'quality': 95} if out.endswith('.jpg') else {'lossless': True} if "
        "out.endswith('.webp') else {}\n"
        "im.save(out, icc_profile=icc, **opts)\n"
        "im = Image.open(out)\n"
        "im = im.convert('RGBA' if mode == 'RGBA' else 'RGB')\n"
        "ref = ImageCms.profileToProfile(im, ImageCms.ImageCmsProfile(io.BytesIO(icc)),\n"
        "    ImageCms.createProfile('sRGB'), outputMode=im.mode).convert('RGBA')\n"
        "sys.stdout.buffer.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nENDHDR\\n'"
        " % ref.size + ref.tobytes())\n";
    struct Case {
        const char* profile;
        const char* file;
        const char* mode;
    } const cases[] = {
        {"SwappedRedAndGreen.icc", "a.jpg", "RGB"}, {"ProPhotoRGB.icc", "b.jpg", "RGB"},
        {"SwappedRedAndGreen.icc", "c.png", "RGB"}, {"AdobeRGB1998.icc", "d.png", "RGBA"},
        {"ProPhotoRGB.icc", "e.png", "P"},          {"ProPhotoRGB.icc", "f.tif", "RGB"},
        {"AdobeRGB1998.icc", "g.tif", "RGBA"},      {"SwappedRedAndGreen.icc", "h.webp", "RGB"},
        {"ProPhotoRGB.icc", "i.webp", "RGBA"},
    };
    const fs::path dir = fs::temp_directory_path() / "velkaro_icc_test";
    fs::create_directories(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path profile = kColord / c.profile;
        if (!fs::exists(profile)) continue;
        bool ok = false;
        const TPnm ref = ParsePnm(RunCommand(
            "/usr/bin/python3 -c " + ShellQuote(script) + " " + ShellQuote(profile.string()) + " " +
                ShellQuote((dir / c.file).string()) + " " + c.mode + " 2>/dev/null",
            ok));
        ASSERT_TRUE(ok && ref.valid);
        const Bytes ours = DecodeFile(dir / c.file, true);
        EXPECT_LE(MaxDifference(ours, ref.raster), 1);
        // The profile really moves the samples, so the comparison above tells.
        EXPECT_GT(MaxDifference(ours, DecodeFile(dir / c.file, false)), 8);
    }
}

// CMYK JPEG, TIFF and PSD pictures are turned into colours through their own ink profile, as
// ImageCms turns them (the PSD is ImageMagick's copy of the TIFF, profile included). The
// profile is made here: a table from inks to Lab in which cyan and magenta trade places, so that
// the plain ink formula (used without a profile) comes out far from it.
TEST_F(ColorProfile, CmykPicturesThroughTheirProfile) {
    if (!HaveTool("/usr/bin/python3")) GTEST_SKIP() << "no Pillow";
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
    cmsHPROFILE ink = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(ink, 4.3);
    cmsSetDeviceClass(ink, cmsSigOutputClass);
    cmsSetColorSpace(ink, cmsSigCmykData);
    cmsSetPCS(ink, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    auto sampler = [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> int {
        const double k = 1 - in[3] / 65535.0;
        const double rgb[3] = {(1 - in[1] / 65535.0) * k, (1 - in[0] / 65535.0) * k,
                               (1 - in[2] / 65535.0) * k};
        cmsCIELab l;
        cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, &l, 1);
        cmsFloat2LabEncoded(out, &l);
        return 1;
    };
    ASSERT_TRUE(cmsStageSampleCLut16bit(table, sampler, toLab, 0));
    // Identity curves around the table: the shape of table a profile can store.
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(lut, cmsAT_END, table);
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(ink, cmsSigAToB0Tag, lut);
    cmsUInt32Number n = 0;
    ASSERT_TRUE(cmsSaveProfileToMem(ink, nullptr, &n));
    Bytes profile(n);
    ASSERT_TRUE(cmsSaveProfileToMem(ink, profile.data(), &n));
    cmsPipelineFree(lut);
    cmsCloseProfile(ink);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);

    const fs::path dir = fs::temp_directory_path() / "velkaro_icc_test";
    fs::create_directories(dir);
    const fs::path icc = dir / "ink.icc";
    WriteFileBytes(icc, profile);
    const std::string script =
        "import sys, io\n"
        "from PIL import Image, ImageCms\n"
        "icc = open(sys.argv[1], 'rb').read()\n"
        "im = Image.new('CMYK', (48, 32))\n"
        "im.putdata([(x * 5, 255 - y * 8, (x * 7 + y * 3) % 256, (x + y) % 96) for y in "
        "range(32) for x in range(48)])\n"
        "im.save(sys.argv[2], icc_profile=icc, **({'quality': 95} if sys.argv[2].endswith('jpg') "
        "else {}))\n"
        "im = Image.open(sys.argv[2])\n"
        "ref = ImageCms.profileToProfile(im, ImageCms.ImageCmsProfile(io.BytesIO(icc)),\n"
        "    ImageCms.createProfile('sRGB'), outputMode='RGB').convert('RGBA')\n"
        "sys.stdout.buffer.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nENDHDR\\n'"
        " % ref.size + ref.tobytes())\n";
    for (const char* name : {"cmyk.jpg", "cmyk.tif"}) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        bool ok = false;
        const TPnm ref = ParsePnm(RunCommand("/usr/bin/python3 -c " + ShellQuote(script) + " " +
                                                 ShellQuote(icc.string()) + " " +
                                                 ShellQuote(file.string()) + " 2>/dev/null",
                                             ok));
        ASSERT_TRUE(ok && ref.valid);
        const Bytes ours = DecodeFile(file, true);
        EXPECT_LE(MaxDifference(ours, ref.raster), 1);
        EXPECT_GT(MaxDifference(ours, DecodeFile(file, false)), 64);
        if (file.extension() != ".tif" || !HaveTool("/usr/bin/convert")) continue;
        // The same inks as Photoshop files and as 16-bit samples (each 8-bit value times 257).
        for (const char* other : {"psd:", "tiff:-depth 16 ", "psd:-depth 16 "}) {
            SCOPED_TRACE(other);
            const std::string to(other);
            const size_t colon = to.find(':');
            const fs::path copy = dir / ("copy." + to.substr(0, colon));
            WriteFileBytes(
                copy, RunCommand("/usr/bin/convert " + ShellQuote(file.string()) + " " +
                                     to.substr(colon + 1) + to.substr(0, colon) + ":- 2>/dev/null",
                                 ok));
            ASSERT_TRUE(ok);
            EXPECT_LE(MaxDifference(DecodeFile(copy, true), ref.raster), 1);
        }
    }
}

// Profiles that cannot convert RGB pixels leave every byte, including a palette, as it was.
TEST_F(ColorProfile, UnusableProfilesLeavePixels) {
    Bytes good;
    if (fs::exists(kColord / "AdobeRGB1998.icc"))
        good = ReadFileBytes(kColord / "AdobeRGB1998.icc");
    auto lab = [] {
        cmsHPROFILE p = cmsCreateLab4Profile(nullptr);
        cmsUInt32Number n = 0;
        cmsSaveProfileToMem(p, nullptr, &n);
        Bytes out(n);
        cmsSaveProfileToMem(p, out.data(), &n);
        cmsCloseProfile(p);
        return out;
    };
    auto damaged = [&](size_t keep, size_t at, uint8_t value) {
        Bytes b = good;
        if (b.empty()) return b;
        b.resize(std::min(keep, b.size()));
        if (at < b.size()) b[at] = value;
        return b;
    };
    const struct Case {
        const char* what;
        Bytes profile;
    } cases[] = {
        {"empty", {}},
        {"garbage", Bytes(600, 0x5A)},
        {"truncated", damaged(300, 9999, 0)},
        {"tag count huge", damaged(100000, 128, 0xFF)},
        {"colour space unknown", damaged(100000, 16, 0xB7)},
        {"Lab profile", lab()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (TPixelFormat format : {pf24bit, pf8bit}) {
            TBitmap b;
            Ramp(b);
            if (format == pf8bit) {
                b.SetPixelFormat(pf8bit);
                b.SetPalette({{10, 200, 30, 0}, {250, 5, 128, 0}});
            }
            const Bytes before = BitmapRGBA(b);
            EXPECT_FALSE(ConvertBitmapFromProfile(b, c.profile.data(), c.profile.size()));
            EXPECT_EQ(BitmapRGBA(b), before);
        }
    }
}

// A profile split over APP2 segments is put together by sequence number; a chain with a gap, a
// repeat or disagreeing counts is ignored and the picture decodes as stored.
TEST_F(ColorProfile, JpegSegmentsReassembled) {
    const fs::path swapped = kColord / "SwappedRedAndGreen.icc";
    if (!fs::exists(swapped)) GTEST_SKIP() << "colord profiles absent";
    const Bytes profile = ReadFileBytes(swapped);
    TJPEGImage plainJpeg;
    {
        TBitmap ramp;
        Ramp(ramp);
        plainJpeg.Assign(ramp);
    }
    TMemoryStream saved;
    plainJpeg.SaveToStream(saved);
    const Bytes plain(saved.Memory(), saved.Memory() + saved.Size());

    // Segment (number, count) of a third of the profile each.
    const size_t third = (profile.size() + 2) / 3;
    auto segment = [&](int number, int count, int part) {
        const size_t from = std::min(profile.size(), size_t(part) * third);
        const size_t size = std::min(profile.size() - from, third);
        Bytes s(18 + size);
        s[0] = 0xFF, s[1] = 0xE2;
        s[2] = uint8_t((s.size() - 2) >> 8), s[3] = uint8_t(s.size() - 2);
        std::memcpy(&s[4], "ICC_PROFILE", 12);  // with its terminating zero
        s[16] = uint8_t(number), s[17] = uint8_t(count);
        std::copy_n(profile.begin() + int64_t(from), size, s.begin() + 18);
        return s;
    };
    auto decode = [&](const std::vector<Bytes>& segments) {
        Bytes file(plain.begin(), plain.begin() + 2);
        for (const Bytes& s : segments)
            PutBytes(file, s);
        file.insert(file.end(), plain.begin() + 2, plain.end());
        TJPEGImage jpeg;
        LoadBytes(jpeg, file);
        return BitmapRGBA(jpeg.Bitmap());
    };
    const Bytes stored = decode({});
    TBitmap expected;
    {
        TJPEGImage jpeg;
        LoadBytes(jpeg, plain);
        expected.Assign(jpeg.Bitmap());
    }
    ASSERT_TRUE(ConvertBitmapFromProfile(expected, profile.data(), profile.size()));
    const Bytes converted = BitmapRGBA(expected);
    ASSERT_NE(converted, stored);

    const struct Case {
        const char* what;
        std::vector<Bytes> segments;
        bool applies;
    } cases[] = {
        {"in order", {segment(1, 3, 0), segment(2, 3, 1), segment(3, 3, 2)}, true},
        {"shuffled", {segment(3, 3, 2), segment(1, 3, 0), segment(2, 3, 1)}, true},
        {"gap", {segment(1, 3, 0), segment(3, 3, 2)}, false},
        {"repeat", {segment(1, 3, 0), segment(1, 3, 1), segment(3, 3, 2)}, false},
        {"counts differ", {segment(1, 3, 0), segment(2, 4, 1), segment(3, 3, 2)}, false},
        {"number zero", {segment(0, 3, 0), segment(2, 3, 1), segment(3, 3, 2)}, false},
        {"beyond count", {segment(1, 2, 0), segment(2, 2, 1), segment(3, 2, 2)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decode(c.segments), c.applies ? converted : stored);
    }
}

// Video colour descriptions: sRGB's own needs no profile, HDR transfers are left alone, wide
// primaries give a profile under which a stored green means a more saturated one.
TEST_F(ColorProfile, CicpProfiles) {
    const struct Case {
        int primaries, transfer;
        bool profile;
    } cases[] = {{1, 13, false}, {2, 2, false}, {3, 13, false}, {9, 13, true},
                 {12, 13, true}, {1, 8, true},  {9, 16, true},  {9, 18, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.primaries << "/" << c.transfer);
        const Bytes p = IccProfileForCicp(c.primaries, c.transfer);
        EXPECT_EQ(!p.empty(), c.profile);
        if (p.empty() || c.primaries == 1) continue;
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(1, 1);
        uint8_t* px = b.ScanLine(0);
        px[0] = 64, px[1] = 160, px[2] = 64;  // blue, green, red
        ASSERT_TRUE(ConvertBitmapFromProfile(b, p.data(), p.size()));
        EXPECT_GT(px[1], 160);
        EXPECT_LT(px[2], 64);
    }
    // HDR grays: black stays black, the reference white (PQ 148, HLG 191 of 255) shows near
    // white, and the format's peak at white; a plain reading of the codes gives 148 and 191.
    for (const auto& [transfer, white] : {std::pair{16, 148}, std::pair{18, 191}}) {
        SCOPED_TRACE(transfer);
        const Bytes p = IccProfileForCicp(9, transfer);
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(3, 1);
        uint8_t* px = b.ScanLine(0);
        std::memset(px, 0, 3);
        std::memset(px + 3, white, 3);
        std::memset(px + 6, 255, 3);
        ASSERT_TRUE(ConvertBitmapFromProfile(b, p.data(), p.size()));
        for (int i = 0; i < 3; ++i) {
            EXPECT_LE(px[i], 1);
            EXPECT_GE(px[3 + i], 225);
            EXPECT_LE(px[3 + i], 250);
            EXPECT_GE(px[6 + i], 253);
        }
    }
}

// The library-backed formats hand over the profile their encoders embedded from a ProPhoto PNG
// (lossless, so the stored samples are the PNG's): decoding converts exactly as the profile
// applied to the stored samples does, and the picture names the profile.
TEST_F(ColorProfile, EncodersKeepTheProfile) {
    const fs::path prophoto = kColord / "ProPhotoRGB.icc";
    if (!fs::exists(prophoto) || !HaveTool("/usr/bin/python3")) GTEST_SKIP() << "no colord/Pillow";
    const fs::path dir = fs::temp_directory_path() / "velkaro_icc_encoders";
    fs::create_directories(dir);
    const fs::path png = dir / "source.png";
    bool ok = false;
    RunCommand(
        "/usr/bin/python3 -c \"from PIL import Image; im = Image.new('RGB', (32, 16)); "
        "im.putdata([(x * 8, y * 16, 200 - x * 4) for y in range(16) for x in range(32)]); "
        "im.save('" +
            png.string() + "', icc_profile=open('" + prophoto.string() +
            "', 'rb').read())\" && echo ok",
        ok);
    ASSERT_TRUE(ok);
    const Bytes profile = ReadFileBytes(prophoto);
    const struct Case {
        const char* tool;
        const char* file;
        const char* command;  // %in, %out
    } cases[] = {
        {"avifenc", "a.avif", "avifenc -l -s 10 %in %out"},
        {"heif-enc", "b.heic", "heif-enc -L %in -o %out"},
        {"cjxl", "c.jxl", "cjxl -d 0 -e 1 %in %out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (!HaveTool(c.tool)) continue;
        std::string command = c.command;
        command.replace(command.find("%in"), 3, ShellQuote(png.string()));
        command.replace(command.find("%out"), 4, ShellQuote((dir / c.file).string()));
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0);
        RegisterImageFormats();
        SetColorManagementEnabled(false);
        std::unique_ptr<TGraphic> stored = TPicture::LoadGraphic((dir / c.file).string());
        SetColorManagementEnabled(true);
        auto& bitmap = dynamic_cast<TBitmap&>(*stored);
        EXPECT_EQ(IccProfileDescription(stored->IccProfile()), "ProPhoto RGB");
        const Bytes raw = BitmapRGBA(bitmap);
        ASSERT_TRUE(ConvertBitmapFromProfile(bitmap, profile.data(), profile.size()));
        const Bytes converted = DecodeFile(dir / c.file, true);
        EXPECT_EQ(converted, BitmapRGBA(bitmap));
        EXPECT_GT(MaxDifference(converted, raw), 8);
    }
}
