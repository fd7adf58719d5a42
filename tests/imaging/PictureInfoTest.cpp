// Picture properties: the EXIF fields of files Pillow writes (and the HEIF, AVIF and JPEG XL
// encoders make from such a JPEG), how values are written, what the loaded picture tells, and
// damaged or cut-short blocks and containers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/PillowReference.h"
#include "imaging/Picture.h"
#include "imaging/PictureInfo.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;
using testhelp::ShellQuote;

fs::path Dir() {
    const fs::path dir = fs::temp_directory_path() / "velkaro_picture_info_test";
    fs::create_directories(dir);
    return dir;
}

// Writes a 40 x 30 picture of Pillow's mode with the EXIF tags that the Python statements set
// on ex (R makes a rational); the format follows the file's extension.
bool WritePillow(const fs::path& file, const std::string& tags, const std::string& mode = "RGB") {
    const std::string script =
        "import sys\nfrom PIL import Image\nfrom PIL.TiffImagePlugin import IFDRational as R\n"
        "ex = Image.Exif()\n" +
        tags + "\nImage.new('" + mode + "', (40, 30)).save(sys.argv[1], exif=ex.tobytes())\n";
    return std::system(("/usr/bin/python3 -c " + ShellQuote(script) + " " +
                        ShellQuote(file.string()) + " >/dev/null 2>&1")
                           .c_str()) == 0;
}

const char* const kCameraTags =
    "ex[0x010F] = 'Canon'\nex[0x0110] = 'EOS 5D'\nex[0x0131] = 'GIMP 2.10'\nex[0x0112] = 6\n"
    "ex[0x8769] = {0x829A: R(1, 250), 0x829D: R(28, 10), 0x8827: 400, 0x920A: R(50, 1),\n"
    "  0x9003: '2024:05:06 07:08:09', 0xA434: 'EF50mm f/1.8'}\n"
    "ex[0x8825] = {1: 'N', 2: (R(48), R(51), R(2400, 100)), 3: 'W', 4: (R(2), R(21), R(0))}";

std::vector<std::string> All(const TExifFields& f) {
    return {f.Make,        f.Model,     f.Lens,        f.ExposureTime, f.FNumber, f.ISO,
            f.FocalLength, f.DateTaken, f.GPSPosition, f.Orientation,  f.Software};
}

TExifFields Camera() {
    TExifFields f;
    f.Make = "Canon";
    f.Model = "EOS 5D";
    f.Lens = "EF50mm f/1.8";
    f.ExposureTime = "1/250 s";
    f.FNumber = "f/2.8";
    f.ISO = "400";
    f.FocalLength = "50 mm";
    f.DateTaken = "2024-05-06 07:08:09";
    f.GPSPosition = "48.856667\xC2\xB0 N, 2.350000\xC2\xB0 W";
    f.Orientation = "Rotated 90\xC2\xB0 clockwise";
    f.Software = "GIMP 2.10";
    return f;
}

Bytes ExifOf(const Bytes& file) {
    TMemoryStream stream(file.data(), int64_t(file.size()));
    return FindExifBlock(stream);
}

TEST(PictureInfo, CameraFieldsFromEveryContainer) {
    if (!testhelp::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    const fs::path source = Dir() / "camera.jpg";
    ASSERT_TRUE(WritePillow(source, kCameraTags));
    // The encoders take the EXIF block of the JPEG along (cjxl into a Brotli-compressed box).
    struct TRow {
        const char* file;
        const char* format;
        const char* tool;  // makes the file from the JPEG; null: Pillow writes it
    } const rows[] = {
        {"camera.jpg", "JPEG", nullptr},
        {"camera.tif", "TIFF", nullptr},
        {"camera.png", "PNG", nullptr},
        {"camera.webp", "WebP", nullptr},
        {"camera.heic", "HEIF", "heif-enc -q 50 %s -o %s"},
        {"camera.avif", "AVIF", "avifenc -s 10 %s %s"},
        {"camera.jxl", "JPEG XL", "cjxl %s %s"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.file);
        const fs::path file = Dir() / row.file;
        if (row.tool == nullptr) {
            ASSERT_TRUE(fs::exists(file) || WritePillow(file, kCameraTags));
        } else {
            const std::string tool(row.tool);
            if (!testhelp::HaveTool(tool.substr(0, tool.find(' ')))) continue;
            char command[1024];
            std::snprintf(command, sizeof command, (tool + " >/dev/null 2>&1").c_str(),
                          ShellQuote(source.string()).c_str(), ShellQuote(file.string()).c_str());
            ASSERT_EQ(std::system(command), 0);
        }
        const TPictureInfo info = ReadPictureInfo(file.string(), nullptr);
        EXPECT_EQ(info.Format, row.format);
        EXPECT_EQ(info.FileSize, int64_t(fs::file_size(file)));
        EXPECT_EQ(All(info.Exif), All(Camera()));
    }
}

TEST(PictureInfo, ValuesAreWrittenForPeople) {
    if (!testhelp::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    struct TRow {
        const char* tags;
        std::string TExifFields::*field;
        const char* expected;
    } const rows[] = {
        {"ex[0x8769] = {0x829A: R(1, 3)}", &TExifFields::ExposureTime, "1/3 s"},
        {"ex[0x8769] = {0x829A: R(10, 4)}", &TExifFields::ExposureTime, "2.5 s"},
        {"ex[0x8769] = {0x829A: R(0, 1)}", &TExifFields::ExposureTime, ""},
        {"ex[0x8769] = {0x829D: R(8, 1)}", &TExifFields::FNumber, "f/8"},
        {"ex[0x8769] = {0x920A: R(35, 1), 0xA405: 52}", &TExifFields::FocalLength,
         "35 mm (52 mm in 35 mm film)"},
        {"ex[0x8825] = {1: 'S', 2: (R(33), R(52), R(0)), 3: 'E', 4: (R(151), R(12), R(36))}",
         &TExifFields::GPSPosition, "33.866667\xC2\xB0 S, 151.210000\xC2\xB0 E"},
        // A latitude past the pole is no position.
        {"ex[0x8825] = {1: 'N', 2: (R(91), R(0), R(0)), 3: 'E', 4: (R(1), R(0), R(0))}",
         &TExifFields::GPSPosition, ""},
        // A camera without a clock writes zeros; the file's own date then counts.
        {"ex[0x0132] = '2020:01:02 03:04:05'\nex[0x8769] = {0x9003: '0000:00:00 00:00:00'}",
         &TExifFields::DateTaken, "2020-01-02 03:04:05"},
        {"ex[0x0112] = 8", &TExifFields::Orientation, "Rotated 270\xC2\xB0 clockwise"},
        {"ex[0x0112] = 9", &TExifFields::Orientation, ""},
        {"ex[0x010F] = '  Nikon\\tCorp  '", &TExifFields::Make, "Nikon Corp"},
        {"ex[0x8769] = {0xA433: 'Sigma', 0xA434: '18-35mm'}", &TExifFields::Lens, "Sigma 18-35mm"},
    };
    int index = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.tags);
        const fs::path file = Dir() / ("value" + std::to_string(index++) + ".jpg");
        ASSERT_TRUE(WritePillow(file, row.tags));
        const Bytes exif = ExifOf(testhelp::ReadFileBytes(file));
        EXPECT_EQ(ParseExif(exif.data(), exif.size()).*row.field, row.expected);
    }
}

TEST(PictureInfo, TheLoadedPictureGivesFormatDepthAndColourSpace) {
    if (!testhelp::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    struct TRow {
        const char* file;
        const char* mode;
        const char* format;
        int bits;
        const char* colourSpace;
    } const rows[] = {
        {"gray16.png", "I;16", "PNG", 16, "Grayscale"},
        {"cmyk.jpg", "CMYK", "JPEG", 32, "CMYK"},
        {"gray.jpg", "L", "JPEG", 8, "Grayscale"},
        {"rgba.webp", "RGBA", "WebP", 32, "RGB with alpha"},
        {"rgb.tif", "RGB", "TIFF", 24, "RGB"},
    };
    RegisterImageFormats();
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.file);
        const fs::path file = Dir() / row.file;
        ASSERT_TRUE(WritePillow(file, "", row.mode));
        TPicture picture;
        picture.LoadFromFile(file.string());
        const TPictureInfo info = ReadPictureInfo(file.string(), picture.Graphic());
        EXPECT_EQ(info.FileName, row.file);
        EXPECT_EQ(info.Format, row.format);
        EXPECT_EQ(info.Width, 40);
        EXPECT_EQ(info.Height, 30);
        EXPECT_EQ(info.BitDepth, row.bits);
        EXPECT_EQ(info.ColorSpace, row.colourSpace);
        EXPECT_EQ(info.FrameCount, 1);
        EXPECT_TRUE(info.Exif.Empty());
    }
    UnregisterImageFormats();
}

TEST(PictureInfo, FieldsLeaveOutWhatIsAbsent) {
    TPictureInfo info;
    info.FileName = "a.png";
    info.FileSize = 1234;
    info.Width = 2;
    info.Height = 3;
    info.BitDepth = 1;
    info.Exif.ISO = "100";
    std::vector<std::string> lines;
    for (const auto& [label, value] : info.Fields())
        lines.push_back(label + ": " + value);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "File name: a.png", "Size: 1234 bytes", "Dimensions: 2 x 3 pixels",
                         "Bit depth: 1 bit per pixel", "Frames: 1", "ISO: 100"}));
}

TEST(PictureInfo, DamagedBlocksGiveNoFieldsAndCutFilesNoCrash) {
    if (!testhelp::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    const fs::path jpeg = Dir() / "damaged.jpg";
    ASSERT_TRUE(WritePillow(jpeg, kCameraTags));
    const Bytes good = ExifOf(testhelp::ReadFileBytes(jpeg));
    ASSERT_FALSE(ParseExif(good.data(), good.size()).Empty());
    struct TRow {
        const char* what;
        size_t at;
        Bytes bytes;
    } const rows[] = {
        {"byte order mark", 0, {'X', 'X'}},
        {"TIFF magic number", 2, {43, 0}},
        {"first directory past the block", 4, {0x00, 0xFF, 0xFF, 0x7F}},
        {"first directory inside the header", 4, {2, 0, 0, 0}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes bad = good;
        std::copy(row.bytes.begin(), row.bytes.end(), bad.begin() + std::ptrdiff_t(row.at));
        EXPECT_TRUE(ParseExif(bad.data(), bad.size()).Empty());
    }
    // Every prefix of the block and of each container is read without a fault (the sanitizer
    // build checks the reads).
    for (size_t n = 0; n <= good.size(); ++n)
        ParseExif(good.data(), n);
    for (const char* name : {"camera.jpg", "camera.png", "camera.webp", "camera.tif"}) {
        if (!fs::exists(Dir() / name)) {
            ASSERT_TRUE(WritePillow(Dir() / name, kCameraTags));
        }
        const Bytes file = testhelp::ReadFileBytes(Dir() / name);
        for (size_t n = 0; n < file.size(); n += 1 + n / 64) {
            const Bytes cut(file.begin(), file.begin() + std::ptrdiff_t(n));
            ExifOf(cut);
        }
    }
}

// One directory entry: tag, type, count and the value's bytes in the file's byte order.
struct TTag {
    uint16_t tag, type;
    uint32_t count;
    Bytes value;
};

// A TIFF of one grey pixel whose directories (the image's, then its EXIF and GPS ones, each
// given the pointer entries to the next as 34665 and 34853) start at offset first, with every
// value of more than four bytes after them.
Bytes FarTiff(bool big, uint32_t first, std::vector<std::vector<TTag>> dirs) {
    using namespace testhelp;
    Bytes out;
    PutText(out, big ? "MM" : "II");
    Put16(out, 42, big);
    Put32(out, first, big);
    out.resize(first, 0x55);  // the pixel at offset 8, then filler
    std::vector<uint32_t> starts;
    uint32_t at = first;
    for (const auto& dir : dirs) {
        starts.push_back(at);
        at += uint32_t(2 + 12 * (dir.size() + 2) + 4);
    }
    Bytes values;
    for (size_t d = 0; d < dirs.size(); ++d) {
        std::vector<TTag> entries = dirs[d];
        if (d == 0) {
            for (size_t k = 1; k < dirs.size(); ++k) {
                Bytes pointer;
                Put32(pointer, starts[k], big);
                entries.push_back({uint16_t(k == 1 ? 34665 : 34853), 4, 1, pointer});
            }
        }
        Put16(out, uint32_t(entries.size()), big);
        for (const TTag& t : entries) {
            Put16(out, t.tag, big);
            Put16(out, t.type, big);
            Put32(out, t.count, big);
            Bytes field = t.value;
            if (field.size() > 4) {
                field.clear();
                Put32(field, at + uint32_t(values.size()), big);
                PutBytes(values, t.value);
            }
            field.resize(4, 0);
            PutBytes(out, field);
        }
        Put32(out, 0, big);
        out.resize(starts[d] + 2 + 12 * (dirs[d].size() + 2) + 4, 0);
    }
    PutBytes(out, values);
    return out;
}

TEST(PictureInfo, TiffDirectoriesPastTheFirst64KiBAreReadInEitherByteOrder) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        auto shortValue = [big](uint32_t v) {
            Bytes b;
            testhelp::Put16(b, v, big);
            return b;
        };
        auto longValue = [big](uint32_t v) {
            Bytes b;
            testhelp::Put32(b, v, big);
            return b;
        };
        auto rationals = [big](std::initializer_list<std::pair<uint32_t, uint32_t>> list) {
            Bytes b;
            for (const auto& [n, d] : list) {
                testhelp::Put32(b, n, big);
                testhelp::Put32(b, d, big);
            }
            return b;
        };
        auto text = [](const std::string& s) { return Bytes(s.begin(), s.end() + 1); };
        const Bytes file = FarTiff(
            big, 70000,
            {{{256, 3, 1, shortValue(1)},
              {257, 3, 1, shortValue(1)},
              {258, 3, 1, shortValue(8)},
              {262, 3, 1, shortValue(1)},
              {271, 2, 8, text("Nikon Z")},
              {273, 4, 1, longValue(8)},
              {274, 3, 1, shortValue(3)},
              {277, 3, 1, shortValue(1)},
              {278, 3, 1, shortValue(1)},
              {279, 4, 1, longValue(1)},
              {305, 2, 3, text("vk")}},
             {{0x829A, 5, 1, rationals({{1, 60}})}, {0x9003, 2, 20, text("2021:12:31 23:59:58")}},
             {{1, 2, 2, text("S")},
              {2, 5, 3, rationals({{12, 1}, {30, 1}, {0, 1}})},
              {3, 2, 2, text("W")},
              {4, 5, 3, rationals({{45, 1}, {15, 1}, {36, 1}})}}});
        TMemoryStream stream(file.data(), int64_t(file.size()));
        const Bytes block = FindExifBlock(stream);
        const TExifFields f = ParseExif(block.data(), block.size());
        EXPECT_EQ(f.Make, "Nikon Z");
        EXPECT_EQ(f.Software, "vk");
        EXPECT_EQ(f.Orientation, "Rotated 180\xC2\xB0");
        EXPECT_EQ(f.ExposureTime, "1/60 s");
        EXPECT_EQ(f.DateTaken, "2021-12-31 23:59:58");
        EXPECT_EQ(f.GPSPosition, "12.500000\xC2\xB0 S, 45.260000\xC2\xB0 W");
    }
}

}  // namespace
