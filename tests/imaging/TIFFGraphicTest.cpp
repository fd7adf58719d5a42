// TIFF and EPS preview loader: conformance with libtiff's tifftopnm over the public corpus and
// over fixtures built here (and recompressed with tiffcp), the directory rules, and hostile
// input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/CodeWriters.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/EPSGraphic.h"
#include "imaging/formats/TIFFGraphic.h"

using namespace testhelp;
namespace fs = std::filesystem;

namespace {

const std::string kInvalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";
const std::string kCompression =
    "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";

// ---- A small TIFF writer --------------------------------------------------------------------

struct TTag {
    uint16_t tag;
    uint16_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL
    std::vector<uint32_t> values;
};

struct TTiffLayout {
    uint32_t width = 6, height = 4;
    uint32_t bits = 8, spp = 1, photometric = 1;
    uint32_t compression = 1;
    bool bigEndian = false;
    uint32_t rowsPerStrip = 0;  // 0: one strip
    uint32_t planar = 1;
    std::vector<TTag> extra;    // further tags
    Bytes pixels;               // the uncompressed strip data of all rows (or planes)
    std::vector<Bytes> strips;  // when set, used as the stored strips instead
    size_t stripBytes = 0;      // when set, pixels are cut into strips of this many bytes
    uint32_t nextIFD = 0;       // patched offset of a following directory (0: none)
    // Tiled when set: pixels (or strips, as the stored tiles) are cut into tiles of this size.
    uint32_t tileWidth = 0, tileLength = 0;
    // Changes the block offsets and byte counts before they are written.
    std::function<void(std::vector<uint32_t>& offsets, std::vector<uint32_t>& counts)> patch;
    bool lzwOldStyle = false;  // compression 5: codes in the pre-TIFF 6.0 layout
    bool lzwClearWhenFull = true;
};

Bytes PackBits(const Bytes& data) {
    Bytes out;
    size_t i = 0;
    while (i < data.size()) {
        size_t run = 1;
        while (i + run < data.size() && run < 128 && data[i + run] == data[i])
            ++run;
        if (run > 1) {
            out.push_back(uint8_t(257 - run));
            out.push_back(data[i]);
            i += run;
        } else {
            size_t j = i + 1;
            while (j < data.size() && j - i < 128 &&
                   (j + 1 >= data.size() || data[j] != data[j + 1]))
                ++j;
            out.push_back(uint8_t(j - i - 1));
            out.insert(out.end(), data.begin() + long(i), data.begin() + long(j));
            i = j;
        }
    }
    return out;
}

Bytes Deflate(const Bytes& data) {
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    compress(out.data(), &size, data.data(), uLong(data.size()));
    out.resize(size);
    return out;
}

// Cuts the pixels (plane after plane when planar) into tiles, left to right and top to
// bottom; edge tiles are padded with zero bits.
std::vector<Bytes> CutTiles(const TTiffLayout& s) {
    const uint32_t planes = s.planar == 2 ? s.spp : 1;
    const uint64_t pixelBits = uint64_t(s.bits) * (s.planar == 2 ? 1 : s.spp);
    const uint64_t line = (s.width * pixelBits + 7) / 8,
                   tileLine = (s.tileWidth * pixelBits + 7) / 8;
    auto bit = [](const Bytes& b, uint64_t i) {
        return i / 8 < b.size() && ((b[i / 8] >> (7 - i % 8)) & 1);
    };
    std::vector<Bytes> tiles;
    for (uint32_t p = 0; p < planes; ++p)
        for (uint32_t ty = 0; ty < s.height; ty += s.tileLength)
            for (uint32_t tx = 0; tx < s.width; tx += s.tileWidth) {
                Bytes tile(tileLine * s.tileLength, 0);
                for (uint32_t r = 0; r < s.tileLength && ty + r < s.height; ++r) {
                    const uint64_t from =
                        (p * uint64_t(s.height) + ty + r) * line * 8 + tx * pixelBits;
                    const uint64_t bits = std::min(s.tileWidth, s.width - tx) * pixelBits;
                    for (uint64_t i = 0; i < bits; ++i)
                        if (bit(s.pixels, from + i))
                            tile[r * tileLine + i / 8] |= uint8_t(0x80 >> (i % 8));
                }
                tiles.push_back(tile);
            }
    return tiles;
}

Bytes LZW(const TTiffLayout& s, const Bytes& data) {
    return lzwtest::Encode(data, s.lzwOldStyle, s.lzwClearWhenFull);
}

// Builds a TIFF file: strips cut from pixels by rowsPerStrip (per plane when planar), or
// tiles, packed by the compression (1, 32773, 8, 32946 or 5), then the directory at the end.
Bytes BuildTiff(const TTiffLayout& s) {
    const bool be = s.bigEndian;
    std::vector<Bytes> strips = s.strips;
    const uint32_t rps = s.rowsPerStrip ? s.rowsPerStrip : s.height;
    if (strips.empty() && s.tileWidth != 0) {
        for (Bytes tile : CutTiles(s)) {
            if (s.compression == 32773) tile = PackBits(tile);
            if (s.compression == 8 || s.compression == 32946) tile = Deflate(tile);
            if (s.compression == 5) tile = LZW(s, tile);
            strips.push_back(tile);
        }
    }
    if (strips.empty() && s.stripBytes != 0) {
        for (size_t from = 0; from < s.pixels.size(); from += s.stripBytes) {
            Bytes strip(s.pixels.begin() + long(from),
                        s.pixels.begin() + long(std::min(from + s.stripBytes, s.pixels.size())));
            if (s.compression == 32773) strip = PackBits(strip);
            if (s.compression == 8 || s.compression == 32946) strip = Deflate(strip);
            if (s.compression == 5) strip = LZW(s, strip);
            strips.push_back(strip);
        }
    }
    if (strips.empty()) {
        const uint32_t planes = s.planar == 2 ? s.spp : 1;
        const uint32_t samples = s.planar == 2 ? 1 : s.spp;
        const size_t line = (size_t(s.width) * s.bits * samples + 7) / 8;
        const size_t planeBytes = line * s.height;
        for (uint32_t p = 0; p < planes; ++p)
            for (uint32_t y = 0; y < s.height; y += rps) {
                const size_t from = p * planeBytes + y * line;
                const size_t to =
                    std::min(from + size_t(std::min(rps, s.height - y)) * line, s.pixels.size());
                Bytes strip(s.pixels.begin() + long(std::min(from, s.pixels.size())),
                            s.pixels.begin() + long(to));
                if (s.compression == 32773) strip = PackBits(strip);
                if (s.compression == 8 || s.compression == 32946) strip = Deflate(strip);
                if (s.compression == 5) strip = LZW(s, strip);
                strips.push_back(strip);
            }
    }
    Bytes out;
    PutText(out, be ? "MM" : "II");
    Put16(out, 42, be);
    Put32(out, 0, be);  // patched
    std::vector<uint32_t> offsets, counts;
    for (const Bytes& strip : strips) {
        offsets.push_back(uint32_t(out.size()));
        counts.push_back(uint32_t(strip.size()));
        PutBytes(out, strip);
        if (out.size() % 2) out.push_back(0);
    }
    if (s.patch) s.patch(offsets, counts);
    std::vector<TTag> tags = {{256, 4, {s.width}},
                              {257, 4, {s.height}},
                              {258, 3, std::vector<uint32_t>(s.spp, s.bits)},
                              {259, 3, {s.compression}},
                              {262, 3, {s.photometric}},
                              {277, 3, {s.spp}},
                              {284, 3, {s.planar}}};
    if (s.tileWidth != 0) {
        tags.insert(tags.end(), {{322, 4, {s.tileWidth}},
                                 {323, 4, {s.tileLength}},
                                 {324, 4, offsets},
                                 {325, 4, counts}});
    } else {
        tags.insert(tags.end(), {{273, 4, offsets}, {278, 4, {rps}}, {279, 4, counts}});
    }
    for (const TTag& t : s.extra) {
        auto it =
            std::find_if(tags.begin(), tags.end(), [&](const TTag& x) { return x.tag == t.tag; });
        if (it != tags.end())
            *it = t;
        else
            tags.push_back(t);
    }
    std::sort(tags.begin(), tags.end(), [](const TTag& a, const TTag& b) { return a.tag < b.tag; });
    const uint32_t ifd = uint32_t(out.size());
    for (int i = 0; i < 4; ++i)
        out[4 + i] = be ? uint8_t(ifd >> (24 - 8 * i)) : uint8_t(ifd >> (8 * i));
    const uint32_t dataStart = ifd + 2 + 12 * uint32_t(tags.size()) + 4;
    Bytes data;
    Put16(out, uint32_t(tags.size()), be);
    for (const TTag& t : tags) {
        Bytes values;
        for (uint32_t v : t.values) {
            if (t.type == 3) Put16(values, v, be);
            if (t.type == 4 || t.type == 9 || t.type == 11) Put32(values, v, be);
            if (t.type == 5) {
                Put32(values, v, be);
                Put32(values, 1, be);
            }
        }
        Put16(out, t.tag, be);
        Put16(out, t.type, be);
        Put32(out, uint32_t(t.values.size()), be);
        if (values.size() <= 4) {
            values.resize(4, 0);
            PutBytes(out, values);
        } else {
            Put32(out, dataStart + uint32_t(data.size()), be);
            PutBytes(data, values);
        }
    }
    Put32(out, s.nextIFD, be);
    PutBytes(out, data);
    return out;
}

// Sample pattern of n bytes whose values stay below top + 1.
Bytes Pattern(size_t n, uint32_t top = 255, uint32_t seed = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t((i * 37 + seed * 11 + (i * i) % 7) % (top + 1));
    return b;
}

// ---- References -----------------------------------------------------------------------------

// The picture as an independent reader sees it, reduced by the reader's own rules: 16-bit
// samples to 8 with MulDiv(v, 255, 65535), other maxvals scaled to 0..255. tifftopnm first;
// for what it refuses (YCbCr, L*a*b*) libtiff's RGBA interface through tiff2rgba, then
// ImageMagick's convert, then Pillow. Empty when no tool can read it. first is the tifftopnm
// command with its options, or "convert" with its options to start with ImageMagick.
Bytes ReferenceRGB(const fs::path& file, int& width, int& height, std::string* tool = nullptr,
                   const std::string& first = "tifftopnm") {
    bool ok = false;
    Bytes out;
    const bool magickFirst = first.rfind("convert", 0) == 0;
    if (!magickFirst) {
        out = RunCommand(first + " " + ShellQuote(file.string()) + " 2>/dev/null", ok);
        if (tool) *tool = first;
    }
    if (!ok && !magickFirst && HaveTool("tiff2rgba")) {
        const fs::path rgba = fs::temp_directory_path() / "velkaro_tiff_reference_rgba.tif";
        out = RunCommand("tiff2rgba -c none " + ShellQuote(file.string()) + " " +
                             ShellQuote(rgba.string()) + " 2>/dev/null && tifftopnm " +
                             ShellQuote(rgba.string()) + " 2>/dev/null",
                         ok);
        fs::remove(rgba);
        if (tool) *tool = "tiff2rgba";
    }
    if (!ok && HaveTool("convert")) {
        // Asked for first, at 16 bits a sample so that pictures of fewer bits keep their
        // values.
        const std::string options = magickFirst ? first.substr(7) + " -depth 16" : "";
        out = RunCommand(
            "convert " + ShellQuote(file.string() + "[0]") + options + " ppm:- 2>/dev/null", ok);
        if (tool) *tool = "convert";
    }
    if (!ok) {
        // Pillow for the rest (separate gray planes with an empty extra plane).
        const std::string script =
            "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
            "im = im.convert('RGB'); sys.stdout.write('P6\\n%d %d\\n255\\n' % im.size); "
            "sys.stdout.flush(); sys.stdout.buffer.write(im.tobytes())";
        out = RunCommand("/usr/bin/python3 -c " + ShellQuote(script) + " " +
                             ShellQuote(file.string()) + " 2>/dev/null",
                         ok);
        if (tool) *tool = "Pillow";
    }
    if (!ok) return {};
    const TPnm pnm = ParsePnm(out);
    if (!pnm.valid) return {};
    width = pnm.width;
    height = pnm.height;
    Bytes rgb(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = pnm.Sample(x, y, pnm.depth >= 3 ? c : 0);
                rgb[(size_t(y) * width + x) * 3 + c] =
                    uint8_t(pnm.maxval == 65535 ? v * 255 / 65535 : v * 255 / uint32_t(pnm.maxval));
            }
    return rgb;
}

// L*a*b* pixels as Pillow reads them (the stored L and signed a, b), converted with the reader's
// L*a*b* arithmetic: lightness stored as 0..255, signed chroma, linear RGB of the XYZ matrix.
Bytes LabReferenceRGB(const fs::path& file, int& width, int& height) {
    bool ok = false;
    const std::string script =
        "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "sys.stdout.write('%d %d\\n' % im.size); sys.stdout.flush(); "
        "sys.stdout.buffer.write(im.convert('LAB').tobytes() if im.mode != 'LAB' else "
        "im.tobytes())";
    const Bytes out = RunCommand("/usr/bin/python3 -c " + ShellQuote(script) + " " +
                                     ShellQuote(file.string()) + " 2>/dev/null",
                                 ok);
    if (!ok) return {};
    const auto nl = std::find(out.begin(), out.end(), uint8_t('\n'));
    if (nl == out.end() ||
        std::sscanf(std::string(out.begin(), nl).c_str(), "%d %d", &width, &height) != 2)
        return {};
    const uint8_t* lab = &*(nl + 1);
    if (size_t(out.end() - nl - 1) < size_t(width) * height * 3) return {};
    Bytes rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const double l = lab[i] / 2.55, a = int8_t(lab[i + 1]), b = int8_t(lab[i + 2]);
        double X, Y, Z;
        if (l < 7.9996) {
            Y = l / 903.3;
            X = Y + a / 3893.5;
            Z = Y - b / 1557.4;
        } else {
            const double f = (l + 16) / 116;
            X = std::pow(f + a / 500, 3);
            Y = f * f * f;
            Z = std::pow(f - b / 200, 3);
        }
        const double c[3] = {2.998 * X - 1.458 * Y - 0.541 * Z, -0.952 * X + 1.893 * Y + 0.059 * Z,
                             0.099 * X - 0.198 * Y + 1.099 * Z};
        for (int k = 0; k < 3; ++k)
            rgb[i + k] = uint8_t(std::clamp(std::lround(c[k] * 255), 0L, 255L));
    }
    return rgb;
}

// Largest difference of a colour component between the bitmap and the reference. With
// premultiply the bitmap's colours are first multiplied by its alpha (tifftopnm shows
// unassociated alpha over black).
int MaxDifference(const TBitmap& bitmap, const Bytes& rgb, bool premultiply = false) {
    const Bytes rgba = BitmapRGBA(bitmap);
    int worst = 0;
    for (size_t i = 0, j = 0; j < rgb.size() && i < rgba.size(); i += 4, j += 3)
        for (int c = 0; c < 3; ++c) {
            int v = rgba[i + c];
            if (premultiply) v = v * rgba[i + 3] / 255;
            worst = std::max(worst, std::abs(v - int(rgb[j + c])));
        }
    return worst;
}

// The reference name of pictures with associated alpha, compared with ImageMagick, which
// divides the colours by alpha as the bitmap's straight alpha wants them.
const std::string kStraightAlpha = "convert rgba";

// Largest difference of red, green, blue and alpha between the bitmap and ImageMagick's
// straight-alpha picture; colours count where alpha is not 0. 256 when ImageMagick fails.
int StraightAlphaDifference(const TBitmap& bitmap, const fs::path& file) {
    bool ok = false;
    const Bytes ref = RunCommand(
        "convert " + ShellQuote(file.string() + "[0]") + " -depth 8 rgba:- 2>/dev/null", ok);
    const Bytes ours = BitmapRGBA(bitmap);
    if (!ok || ref.size() != ours.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < ref.size(); i += 4)
        for (size_t c = 0; c < 4; ++c)
            if (c == 3 || ref[i + 3] != 0)
                worst = std::max(worst, std::abs(int(ours[i + c]) - int(ref[i + c])));
    return worst;
}

fs::path TempFile(const std::string& name) {
    return fs::temp_directory_path() / ("velkaro_tiff_" + name);
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

// ---- Public corpus --------------------------------------------------------------------------

namespace {

enum class TExpect { Match, Lab, Error, Empty, Clean };
struct TCorpusRule {
    TExpect expect = TExpect::Match;
    int tolerance = 0;
    std::string message = {};  // TExpect::Error
    bool premultiply = false;
    std::string reference = "tifftopnm";  // the first reference tried (see ReferenceRGB)
};
TCorpusRule Within(int tolerance, bool premultiply = false) {
    return {TExpect::Match, tolerance, {}, premultiply};
}
TCorpusRule Lab(int tolerance) {
    return {TExpect::Lab, tolerance, {}, false};
}
TCorpusRule Fails(const std::string& message) {
    return {TExpect::Error, 0, message, false};
}
TCorpusRule Outcome(TExpect expect) {
    return {expect, 0, {}, false};
}

const std::string kDepth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";

// Files that do not simply match their reference exactly, and why.
const std::map<std::string, TCorpusRule>& CorpusRules() {
    static const std::map<std::string, TCorpusRule> rules = {
        // 16-bit gray: tifftopnm keeps the high byte of each sample (v >> 8) where the reader
        // takes MulDiv(v, 255, 65535).
        {"cmx3g8_wv_1998.260_0745_mcidas.tiff", Within(1)},
        // Palette entries: tifftopnm keeps the high byte of the 16-bit colour map values where
        // the reader divides by 257.
        {"ifd_tag_type.tiff", Within(1)},
        {"multipage-mmap.tiff", Within(1)},
        // Unassociated alpha: tifftopnm shows the colours over black.
        {"tiff_wrong_bits_per_sample.tiff", Within(1, true)},
        // L*a*b*: the reader's own conversion (linear RGB), rounding of the float formula.
        {"hopper.Lab.tif", Lab(1)},
        {"lab.tif", Lab(1)},
        {"lab-red.tif", Lab(1)},
        {"lab-green.tif", Lab(1)},
        // Group 4 with Orientation 3, 4 and 7: tifftopnm turns the transposing values (5-8)
        // the wrong way, as it warns itself, so ImageMagick turns the reference.
        {"g4_orientation_3.tif", {TExpect::Match, 0, {}, false, "convert -auto-orient"}},
        {"g4_orientation_4.tif", {TExpect::Match, 0, {}, false, "convert -auto-orient"}},
        {"g4_orientation_7.tif", {TExpect::Match, 0, {}, false, "convert -auto-orient"}},
        // LZW palette image whose later pages tifftopnm refuses: ImageMagick reads the first
        // page and rounds the 16-bit colour map to 8 bits where the reader divides by 257.
        {"no_rows_per_strip.tif", Within(1)},
        // 16-bit RGB with associated alpha in LZW planes, tiled and in strips: ImageMagick
        // rounds alpha to 8 bits where the reader takes MulDiv(v, 255, 65535).
        {"tiff_strip_planar_16bit_RGBa.tiff", {TExpect::Match, 1, {}, false, kStraightAlpha}},
        {"tiff_tiled_planar_16bit_RGBa.tiff", {TExpect::Match, 1, {}, false, kStraightAlpha}},
        // Compressions without a decoder: LZMA, WebP.
        {"hopper_lzma.tif", Fails(kCompression)},
        {"hopper_webp.tif", Fails(kCompression)},
        // Old-style JPEG whose strip is a whole JPEG stream: equal to djpeg on that stream;
        // libtiff (tiff2rgba) repeats the subsampled chroma where libjpeg interpolates it
        // (mean difference 0.07).
        {"old-style-jpeg-compression.tif", Within(44)},
        // BigTIFF (version 43) and broken headers.
        {"hopper_bigtiff.tif", Fails(kInvalid)},
        {"oom-225817ca0f8c663be7ab4b9e717b02c661e66834.tif", Fails(kInvalid)},
        {"seek_too_large.tif", Fails(kInvalid)},
        // 32-bit samples.
        {"10ct_32bit_128.tiff", Outcome(TExpect::Clean)},  // no reader scales -pi..pi alike
        {"hopper_unknown_pixel_mode.tif", {TExpect::Match, 0, {}, false, "convert"}},
        // Tiled, 16-bit deflate in 256 x 256 tiles larger than the picture: v >> 8 as above.
        {"tiff_16bit_RGB.tiff", Within(1)},
        // Damaged files: they must load or fail with an imaging error, nothing else.
        {"crash-1152ec2d1a1a71395b6f2ce6721c38924d025bf3.tif", Outcome(TExpect::Clean)},
        {"crash-2020-10-test.tif", Outcome(TExpect::Clean)},
        {"crash-338516dbd2f0e83caddb8ce256c22db3bd6dc40f.tif", Outcome(TExpect::Clean)},
        {"crash-4f085cc12ece8cde18758d42608bed6a2a2cfb1c.tif", Outcome(TExpect::Clean)},
        {"crash-f46f5b2f43c370fe65706c11449f567ecc345e74.tif", Outcome(TExpect::Clean)},
        {"libtiff_segfault.tif", Outcome(TExpect::Clean)},
        // Its extra-sample plane has no data: libtiff (tifftopnm, convert) and Pillow refuse
        // the file; the gray plane is shown.
        {"separate_planar_extra_samples.tiff", Outcome(TExpect::Clean)},
    };
    return rules;
}

std::vector<fs::path> CorpusFiles(const fs::path& dir, const std::vector<std::string>& exts) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (std::find(exts.begin(), exts.end(), e.path().extension().string()) != exts.end())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Checks one file against its rule; name is used in the messages.
void CheckCorpusFile(const fs::path& file, const std::string& name, const TCorpusRule& rule) {
    SCOPED_TRACE(name);
    TTIFFGraphic g;
    std::string message;
    try {
        g.LoadFromFile(file.string());
    } catch (const EImagingError& e) {
        message = e.what();
    }
    switch (rule.expect) {
        case TExpect::Error:
            EXPECT_EQ(message, rule.message);
            return;
        case TExpect::Clean:
            return;  // any imaging error or a picture; other exceptions fail the test
        case TExpect::Empty:
            EXPECT_EQ(message, "");
            EXPECT_TRUE(g.Empty());
            return;
        default:
            break;
    }
    ASSERT_EQ(message, "");
    if (rule.reference == kStraightAlpha) {
        EXPECT_LE(StraightAlphaDifference(g, file), rule.tolerance);
        return;
    }
    int w = 0, h = 0;
    std::string tool;
    const Bytes ref = rule.expect == TExpect::Lab ? LabReferenceRGB(file, w, h)
                                                  : ReferenceRGB(file, w, h, &tool, rule.reference);
    if (ref.empty()) {
        ADD_FAILURE() << "no reference could read it";
        return;
    }
    ASSERT_EQ(g.Width(), w);
    ASSERT_EQ(g.Height(), h);
    EXPECT_LE(MaxDifference(g, ref, rule.premultiply), rule.tolerance) << tool;
}

}  // namespace

TEST(TIFFGraphicCorpus, MatchesIndependentReaders) {
    const fs::path dir = testdata::corpus("pillow");
    if (dir.empty() || !HaveTool("tifftopnm") || !HaveTool("convert")) GTEST_SKIP();
    const auto files = CorpusFiles(dir, {".tif", ".tiff", ".TIF", ".TIFF"});
    ASSERT_GT(files.size(), 50u);
    for (const auto& f : files) {
        const std::string name = f.filename().string();
        const auto it = CorpusRules().find(name);
        CheckCorpusFile(f, fs::relative(f, dir).string(),
                        it == CorpusRules().end() ? TCorpusRule{} : it->second);
    }
}

// The TIFF preview of each EPS file, cut out by its header, is the reference; files without
// one give the TIFF invalid-format message.
TEST(TIFFGraphicCorpus, EPSPreviews) {
    const fs::path dir = testdata::corpus("pillow");
    if (dir.empty() || !HaveTool("tifftopnm")) GTEST_SKIP();
    const auto files = CorpusFiles(dir, {".eps", ".EPS"});
    ASSERT_FALSE(files.empty());
    int previews = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f.filename().string());
        const Bytes bytes = ReadFileBytes(f);
        TEPSGraphic eps;
        std::string message = "no error";
        try {
            eps.LoadFromFile(f.string());
        } catch (const EImagingError& e) {
            message = e.what();
        }
        const bool binary = bytes.size() > 30 && GetU32LE(bytes.data()) == 0xC6D3D0C5;
        const uint32_t offset = binary ? GetU32LE(bytes.data() + 20) : 0;
        const uint32_t length = binary ? GetU32LE(bytes.data() + 24) : 0;
        if (!binary) {
            EXPECT_EQ(message, "Cannot load image. Invalid or unexpected EPS image format.");
            continue;
        }
        if (length == 0) {
            EXPECT_FALSE(TEPSGraphic::ProbeFile(f.string(), TEPSGraphic::ClassInfo()));
            EXPECT_EQ(message, kInvalid);
            continue;
        }
        ASSERT_EQ(message, "no error");
        ++previews;
        const fs::path preview = TempFile("preview.tif");
        WriteFile(preview, Bytes(bytes.begin() + offset,
                                 bytes.begin() + std::min<size_t>(bytes.size(), offset + length)));
        int w = 0, h = 0;
        const Bytes ref = ReferenceRGB(preview, w, h);
        ASSERT_FALSE(ref.empty());
        ASSERT_EQ(eps.Width(), w);
        ASSERT_EQ(eps.Height(), h);
        EXPECT_LE(MaxDifference(eps, ref), 1);  // palette previews: v / 257 against MulDiv
        fs::remove(preview);
    }
    EXPECT_GT(previews, 0);
}

// ---- Fixtures built here --------------------------------------------------------------------

namespace {

// A colour map of 2^bits entries per plane with distinct 16-bit values.
std::vector<uint32_t> ColorMap(uint32_t bits) {
    const uint32_t n = 1u << bits;
    std::vector<uint32_t> map(3 * n);
    for (uint32_t i = 0; i < 3 * n; ++i)
        map[i] = (i * 40503u + 1234u) & 0xFFFF;
    return map;
}

struct TFixture {
    std::string name;
    TTiffLayout layout;
    int tolerance = 0;
    bool premultiply = false;
    bool lab = false;
    std::string tiffcp = {};  // when set: tiffcp arguments that recompress the built file first
    std::string reference = "tifftopnm";  // the first reference tried (see ReferenceRGB)
};

TTiffLayout Layout(uint32_t w, uint32_t h, uint32_t bits, uint32_t spp, uint32_t photometric,
                   uint32_t compression = 1, bool big = false) {
    TTiffLayout s;
    s.width = w;
    s.height = h;
    s.bits = bits;
    s.spp = spp;
    s.photometric = photometric;
    s.compression = compression;
    s.bigEndian = big;
    s.pixels = Pattern((size_t(w) * bits * spp + 7) / 8 * h, 255, w + bits);
    return s;
}

TTiffLayout With(TTiffLayout s, const std::function<void(TTiffLayout&)>& change) {
    change(s);
    return s;
}

// YCbCr data units of hs x vs luma samples and one Cb, Cr each, for a w x h image, in strips
// of rps rows (0: one strip).
TTiffLayout YCbCr(uint32_t w, uint32_t h, uint32_t hs, uint32_t vs, uint32_t compression,
                  uint32_t rps = 0) {
    TTiffLayout s = Layout(w, h, 8, 3, 6, compression);
    s.rowsPerStrip = rps;
    if (rps != 0) s.stripBytes = ((w + hs - 1) / hs) * (rps / vs) * (hs * vs + 2);
    const size_t units = ((w + hs - 1) / hs) * ((h + vs - 1) / vs);
    s.pixels = Pattern(units * (hs * vs + 2), 255, 5);
    for (size_t u = 0; u < units; ++u) {  // chroma near the middle, so the colours stay in range
        s.pixels[u * (hs * vs + 2) + hs * vs] = uint8_t(100 + u % 50);
        s.pixels[u * (hs * vs + 2) + hs * vs + 1] = uint8_t(150 - u % 40);
    }
    s.extra = {{530, 3, {hs, vs}}, {532, 5, {0, 255, 128, 255, 128, 255}}};
    return s;
}

// A picture of random samples (LZW finds few repeats: the table fills quickly).
TTiffLayout Noise(uint32_t w, uint32_t h, uint32_t spp, uint32_t compression) {
    TTiffLayout s = Layout(w, h, 8, spp, spp == 3 ? 2 : 1, compression);
    uint32_t x = 12345;
    for (uint8_t& b : s.pixels) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 23);
    }
    return s;
}

// A bilevel min-is-white page: a disc at the right end of long white rows, a diagonal hatch at
// the left and a vertical bar, so that fax coding uses all its modes and long make-up runs.
TTiffLayout Shapes(uint32_t w, uint32_t h) {
    TTiffLayout s = Layout(w, h, 1, 1, 0);
    const size_t line = (w + 7) / 8;
    s.pixels.assign(line * h, 0);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const int dx = int(x) - int(w) + 40, dy = int(y) - int(h) / 2;
            const bool black = dx * dx + dy * dy < 144 || (x < 300 && (x / 3 + y) % 11 == 0) ||
                               (x >= 1000 && x < 1003 + y % 4);
            if (black) s.pixels[y * line + x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    return s;
}

std::vector<TFixture> Fixtures() {
    auto palette = [](uint32_t bits, bool big, uint32_t w = 9, uint32_t h = 5) {
        TTiffLayout s = Layout(w, h, bits, 1, 3, 1, big);
        s.extra = {{320, 3, ColorMap(bits)}};
        return s;
    };
    // The reference converts YCbCr with floating point; the tables here round each term.
    const int kYCbCr = 1;
    // 16-bit samples and colour maps: tifftopnm keeps the high byte (v >> 8) where the reader
    // takes MulDiv(v, 255, 65535).
    const int k16 = 1;
    TTiffLayout uint32RGB = Layout(9, 5, 32, 3, 2);
    uint32RGB.extra = {{339, 3, {1, 1, 1}}};
    TTiffLayout floatGray = Layout(40, 3, 32, 1, 1, 1, true);
    floatGray.pixels.clear();
    for (uint32_t i = 0; i < 120; ++i)
        Put32(floatGray.pixels, std::bit_cast<uint32_t>(float(i) / 100.0f - 0.1f), true);
    floatGray.extra = {{339, 3, {3}}};
    const std::string kTiles = "-t -w 16 -l 16";
    return {
        {"gray8_none_le", Layout(7, 5, 8, 1, 1)},
        {"gray8_packbits_be", Layout(7, 5, 8, 1, 1, 32773, true)},
        {"gray8_deflate", Layout(7, 5, 8, 1, 1, 8)},
        {"gray8_deflate_32946_be", Layout(7, 5, 8, 1, 1, 32946, true)},
        {"gray1", Layout(13, 5, 1, 1, 1)},
        {"gray1_min_is_white_packbits", Layout(13, 5, 1, 1, 0, 32773)},
        {"gray2", Layout(11, 5, 2, 1, 1)},
        {"gray4_be", Layout(11, 5, 4, 1, 1, 1, true)},
        {"gray4_fill_order_2", With(Layout(11, 5, 4, 1, 1),
                                    [](TTiffLayout& s) {
                                        s.extra = {{266, 3, {2}}};
                                    })},
        {"gray8_min_is_white", Layout(7, 5, 8, 1, 0)},
        {"gray12", Layout(7, 5, 12, 1, 1)},
        {"gray16_le", Layout(7, 5, 16, 1, 1), k16},
        {"gray16_be_deflate", Layout(7, 5, 16, 1, 1, 8, true), k16},
        {"gray16_be_predictor",
         With(Layout(7, 5, 16, 1, 1, 8, true),
              [](TTiffLayout& s) {
                  s.extra = {{317, 3, {2}}};
              }),
         k16},
        {"palette1", palette(1, false), k16},
        {"palette2", palette(2, false), k16},
        {"palette4_be", palette(4, true), k16},
        {"palette8", palette(8, false), k16},
        // tifftopnm refuses 16-bit indices; ImageMagick reduces with MulDiv as the reader.
        {"palette16_be", palette(16, true), 0, false, false, {}, "convert"},
        {"rgb8_le", Layout(7, 5, 8, 3, 2)},
        {"rgb8_be_packbits", Layout(7, 5, 8, 3, 2, 32773, true)},
        {"rgb8_strips_short_last",
         With(Layout(7, 7, 8, 3, 2, 8), [](TTiffLayout& s) { s.rowsPerStrip = 3; })},
        {"rgb8_predictor", With(Layout(7, 5, 8, 3, 2, 8),
                                [](TTiffLayout& s) {
                                    s.extra = {{317, 3, {2}}};
                                })},
        {"rgb16_be", Layout(7, 5, 16, 3, 2, 1, true)},
        {"rgba_unassociated",
         With(Layout(7, 5, 8, 4, 2),
              [](TTiffLayout& s) {
                  s.extra = {{338, 3, {2}}};
              }),
         1, true},
        // Associated alpha is divided out (rounding: 1).
        {"rgba_associated_predictor",
         With(Layout(7, 5, 8, 4, 2, 8),
              [](TTiffLayout& s) {
                  s.extra = {{338, 3, {1}}, {317, 3, {2}}};
                  for (size_t i = 0; i + 3 < s.pixels.size(); i += 4)  // colours not above alpha
                      for (int c = 0; c < 3; ++c)
                          s.pixels[i + c] = std::min(s.pixels[i + c], s.pixels[i + 3]);
              }),
         1,
         false,
         false,
         {},
         kStraightAlpha},
        {"cmyk", Layout(7, 5, 8, 4, 5), 1},
        {"lab", Layout(7, 5, 8, 3, 8), 1, false, true},
        {"planar_rgb", With(Layout(7, 5, 8, 3, 2), [](TTiffLayout& s) { s.planar = 2; })},
        {"planar_rgb16_be_deflate_predictor",
         With(Layout(7, 5, 16, 3, 2, 8, true),
              [](TTiffLayout& s) {
                  s.planar = 2;
                  s.rowsPerStrip = 2;
                  s.extra = {{317, 3, {2}}};
              }),
         k16},
        {"ycbcr11", YCbCr(7, 5, 1, 1, 1), kYCbCr},
        {"ycbcr21_deflate", YCbCr(7, 5, 2, 1, 8), kYCbCr},
        {"ycbcr22", YCbCr(8, 6, 2, 2, 1), kYCbCr},
        {"ycbcr22_odd_size_deflate", YCbCr(7, 5, 2, 2, 8), kYCbCr},
        {"ycbcr42_strips", YCbCr(16, 8, 4, 2, 1, 4), kYCbCr},
        // Recompressed by libtiff.
        {"fax3", Layout(40, 9, 1, 1, 0), 0, false, false, "-c g3"},
        {"fax3_fill_order_2", Layout(40, 9, 1, 1, 0), 0, false, false, "-c g3 -f lsb2msb"},
        {"fax3_eol_aligned", Layout(40, 9, 1, 1, 0), 0, false, false, "-c g3:fill"},
        {"jpeg_rgb", Layout(16, 32, 8, 3, 2), 0, false, false, "-c jpeg -r 16"},
        {"jpeg_ycbcr", Layout(16, 32, 8, 3, 2), 0, false, false, "-c jpeg:r -r 16"},
        {"jpeg_gray", Layout(16, 16, 8, 1, 1), 0, false, false, "-c jpeg -r 8"},
        {"jpeg_planar", Layout(16, 32, 8, 3, 2), 0, false, false, "-p separate -c jpeg:r -r 16"},
        // Fill order 2 does not apply to JPEG data (libtiff writes and reads it as is).
        {"jpeg_fill_order_2", Layout(16, 32, 8, 3, 2), 0, false, false, "-c jpeg -r 16 -f lsb2msb"},
        {"tiled_jpeg_fill_order_2", Layout(37, 23, 8, 3, 2), 0, false, false,
         kTiles + " -c jpeg -f lsb2msb"},
        {"tiffcp_separate_packbits_be", Layout(9, 6, 8, 3, 2), 0, false, false,
         "-p separate -c packbits -B -r 2"},
        {"tiffcp_zip_predictor", Layout(9, 6, 8, 3, 2), 0, false, false, "-c zip:2 -r 2"},
        // Tiled by libtiff: 37 x 23 pixels in 16 x 16 tiles, so the right and bottom tiles
        // are cropped; differencing starts again in every tile row.
        {"tiled_gray8", Layout(37, 23, 8, 1, 1), 0, false, false, kTiles},
        {"tiled_gray8_packbits_be", Layout(37, 23, 8, 1, 1), 0, false, false,
         kTiles + " -c packbits -B"},
        {"tiled_gray8_zip", Layout(37, 23, 8, 1, 1), 0, false, false, kTiles + " -c zip"},
        {"tiled_gray1", Layout(37, 23, 1, 1, 1), 0, false, false, kTiles},
        {"tiled_gray1_packbits", Layout(37, 23, 1, 1, 0), 0, false, false, kTiles + " -c packbits"},
        {"tiled_fax3", Layout(37, 23, 1, 1, 0), 0, false, false, kTiles + " -c g3"},
        {"tiled_fax3_fill_order_2", Layout(37, 23, 1, 1, 0), 0, false, false,
         kTiles + " -c g3 -f lsb2msb"},
        {"tiled_gray2", Layout(37, 23, 2, 1, 1), 0, false, false, kTiles},
        {"tiled_gray4_zip", Layout(37, 23, 4, 1, 1), 0, false, false, kTiles + " -c zip"},
        // tifftopnm misreads 16-bit samples in tiles cropped at the right edge (rows below
        // the first come from the wrong place); ImageMagick reads them as stored.
        {"tiled_gray16_be_zip_predictor", Layout(37, 23, 16, 1, 1), k16, false, false,
         kTiles + " -c zip:2 -B", "convert"},
        {"tiled_palette4", palette(4, false, 37, 23), k16, false, false, kTiles},
        {"tiled_palette8_zip", palette(8, false, 37, 23), k16, false, false, kTiles + " -c zip"},
        {"tiled_rgb8", Layout(37, 23, 8, 3, 2), 0, false, false, kTiles},
        {"tiled_rgb8_packbits", Layout(37, 23, 8, 3, 2), 0, false, false, kTiles + " -c packbits"},
        {"tiled_rgb8_zip", Layout(37, 23, 8, 3, 2), 0, false, false, kTiles + " -c zip"},
        {"tiled_rgb8_zip_predictor_be", Layout(37, 23, 8, 3, 2), 0, false, false,
         kTiles + " -c zip:2 -B"},
        {"tiled_rgb16_zip_predictor", Layout(37, 23, 16, 3, 2), k16, false, false,
         kTiles + " -c zip:2", "convert"},
        {"tiled_rgba_unassociated_zip",
         With(Layout(37, 23, 8, 4, 2),
              [](TTiffLayout& s) {
                  s.extra = {{338, 3, {2}}};
              }),
         1, true, false, kTiles + " -c zip"},
        {"tiled_cmyk", Layout(37, 23, 8, 4, 5), 1, false, false, kTiles},
        {"tiled_planar_rgb", Layout(37, 23, 8, 3, 2), 0, false, false, kTiles + " -p separate"},
        {"tiled_planar_rgb_zip_predictor", Layout(37, 23, 8, 3, 2), 0, false, false,
         kTiles + " -p separate -c zip:2"},
        {"tiled_planar_rgba_packbits_be",
         With(Layout(37, 23, 8, 4, 2),
              [](TTiffLayout& s) {
                  s.extra = {{338, 3, {2}}};
              }),
         1, true, false, kTiles + " -p separate -c packbits -B"},
        {"tiled_wide_tiles", Layout(37, 23, 8, 3, 2), 0, false, false, "-t -w 32 -l 16 -c zip"},
        {"tiled_tile_larger_than_picture", Layout(37, 23, 8, 3, 2), 0, false, false,
         "-t -w 64 -l 48 -c packbits"},
        // JPEG tiles always hold a whole tile; YCbCr is upsampled and converted by libjpeg
        // as the reference (libtiff's RGBA interface) has it done.
        {"tiled_jpeg_ycbcr", Layout(37, 23, 8, 3, 2), 0, false, false, kTiles + " -c jpeg"},
        {"tiled_jpeg_rgb", Layout(37, 23, 8, 3, 2), 0, false, false, kTiles + " -c jpeg:r"},
        {"tiled_jpeg_gray", Layout(37, 23, 8, 1, 1), 0, false, false, kTiles + " -c jpeg"},
        {"tiled_jpeg_planar", Layout(37, 23, 8, 3, 2), 0, false, false,
         kTiles + " -p separate -c jpeg:r"},
        // LZW by libtiff: with and without horizontal differencing, several strips.
        {"lzw_gray8_strips", Layout(37, 11, 8, 1, 1), 0, false, false, "-c lzw -r 3"},
        {"lzw_gray8_predictor", Layout(37, 11, 8, 1, 1), 0, false, false, "-c lzw:2 -r 4"},
        {"lzw_gray16_predictor_be", Layout(29, 9, 16, 1, 1, 1, true), k16, false, false,
         "-c lzw:2 -r 4 -B"},
        {"lzw_gray16_predictor_le", Layout(29, 9, 16, 1, 1), k16, false, false, "-c lzw:2 -r 4 -L"},
        {"lzw_rgb8", Layout(33, 10, 8, 3, 2), 0, false, false, "-c lzw -r 3"},
        {"lzw_rgb8_predictor", Layout(33, 10, 8, 3, 2), 0, false, false, "-c lzw:2 -r 3"},
        {"lzw_rgb16_predictor", Layout(21, 7, 16, 3, 2), k16, false, false, "-c lzw:2 -r 2"},
        {"lzw_palette4", palette(4, false), k16, false, false, "-c lzw"},
        {"lzw_palette8", palette(8, false), k16, false, false, "-c lzw -r 2"},
        {"lzw_bilevel", Layout(45, 9, 1, 1, 0), 0, false, false, "-c lzw -r 4"},
        {"lzw_planar_rgb_predictor", Layout(19, 8, 8, 3, 2), 0, false, false,
         "-p separate -c lzw:2 -r 3"},
        // Many Clear codes: strips of 48 KB of noise.
        {"lzw_noise", Noise(256, 96, 3, 1), 0, false, false, "-c lzw -r 64"},
        // Tiled LZW and Group 4.
        {"tiled_rgb8_lzw_predictor", Layout(37, 23, 8, 3, 2), 0, false, false,
         kTiles + " -c lzw:2"},
        {"tiled_planar_rgb_lzw", Layout(37, 23, 8, 3, 2), 0, false, false,
         kTiles + " -p separate -c lzw"},
        {"tiled_fax4", Layout(37, 23, 1, 1, 0), 0, false, false, kTiles + " -c g4"},
        // Group 4 and two-dimensional Group 3 by libtiff, both photometrics, fill order 2,
        // and rows wide enough for the extended make-up codes.
        {"fax4_min_is_white", Layout(40, 9, 1, 1, 0), 0, false, false, "-c g4"},
        {"fax4_min_is_black", Layout(40, 9, 1, 1, 1), 0, false, false, "-c g4"},
        {"fax4_fill_order_2", Layout(40, 9, 1, 1, 0), 0, false, false, "-c g4 -f lsb2msb"},
        {"fax4_shapes_strips", Shapes(2700, 30), 0, false, false, "-c g4 -r 7"},
        {"fax4_shapes_fill_order_2_min_is_black",
         With(Shapes(2700, 30), [](TTiffLayout& s) { s.photometric = 1; }), 0, false, false,
         "-c g4 -f lsb2msb -r 16"},
        {"fax3_2d", Layout(40, 9, 1, 1, 0), 0, false, false, "-c g3:2d"},
        {"fax3_2d_fill_shapes", Shapes(2700, 30), 0, false, false, "-c g3:2d:fill -r 8"},
        // LZW coded here: the pre-TIFF 6.0 layout (libtiff reads it too), and a table that
        // fills up without a Clear code and stays full: about 870 codes follow, within the
        // 1024 spare entries after which libtiff gives up.
        {"lzw_old_style_strips", With(Noise(64, 24, 3, 5),
                                      [](TTiffLayout& s) {
                                          s.rowsPerStrip = 10;
                                          s.lzwOldStyle = true;
                                      })},
        {"lzw_full_table",
         With(Noise(60, 27, 3, 5), [](TTiffLayout& s) { s.lzwClearWhenFull = false; })},
        // 32-bit samples: unsigned over their whole range, floating point over 0..1 (outside it
        // clipped), also behind the integer and floating-point predictors. ImageMagick's 16-bit
        // result is cut to 8 bits by the test: 1 level.
        {"uint32_rgb", uint32RGB, 1, false, false, {}, "convert"},
        {"uint32_rgb_predictor", uint32RGB, 1, false, false, "-c zip:2", "convert"},
        {"float_gray", floatGray, 1, false, false, {}, "convert"},
        {"float_gray_predictor", floatGray, 1, false, false, "-c lzw:3", "convert"},
    };
}

}  // namespace

TEST(TIFFGraphicFixtures, MatchIndependentReaders) {
    if (!HaveTool("tifftopnm") || !HaveTool("convert") || !HaveTool("tiffcp")) GTEST_SKIP();
    for (const TFixture& f : Fixtures()) {
        SCOPED_TRACE(f.name);
        fs::path file = TempFile(f.name + ".tif");
        WriteFile(file, BuildTiff(f.layout));
        // Lossless recompressions and LZW coded here must also give exactly the picture of
        // the uncompressed source.
        Bytes source;
        const bool lossless = f.tiffcp.find("jpeg") == std::string::npos;
        if ((!f.tiffcp.empty() && lossless) || f.layout.compression == 5) {
            TTiffLayout plain = f.layout;
            plain.compression = 1;
            TTIFFGraphic original;
            LoadBytes(original, BuildTiff(plain));
            source = BitmapRGBA(original);
        }
        if (!f.tiffcp.empty()) {
            const fs::path packed = TempFile(f.name + "_cp.tif");
            bool ok = false;
            RunCommand("tiffcp " + f.tiffcp + " " + ShellQuote(file.string()) + " " +
                           ShellQuote(packed.string()) + " >/dev/null 2>&1 && echo ok",
                       ok);
            ASSERT_TRUE(ok) << "tiffcp " << f.tiffcp;
            fs::remove(file);
            file = packed;
        }
        TTIFFGraphic g;
        std::string message;
        try {
            g.LoadFromFile(file.string());
        } catch (const EImagingError& e) {
            message = e.what();
        }
        ASSERT_EQ(message, "");
        if (f.reference == kStraightAlpha) {
            EXPECT_LE(StraightAlphaDifference(g, file), f.tolerance);
            if (!HasFailure()) fs::remove(file);
            continue;
        }
        int w = 0, h = 0;
        std::string tool;
        const Bytes ref =
            f.lab ? LabReferenceRGB(file, w, h) : ReferenceRGB(file, w, h, &tool, f.reference);
        ASSERT_FALSE(ref.empty());
        ASSERT_EQ(g.Width(), w);
        ASSERT_EQ(g.Height(), h);
        EXPECT_LE(MaxDifference(g, ref, f.premultiply), f.tolerance) << tool << " " << file;
        if (!source.empty()) {
            EXPECT_EQ(BitmapRGBA(g), source);
        }
        if (!HasFailure()) fs::remove(file);
    }
}

// ---- Header, directory and tags -------------------------------------------------------------

namespace {

std::string Error(const Bytes& bytes) {
    return LoadError<TTIFFGraphic>(bytes);
}

template <class G = TTIFFGraphic>
bool Probe(const Bytes& bytes, int64_t position = 0) {
    TMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(position);
    const bool result = G::ProbeStream(stream);
    EXPECT_EQ(stream.Position(), position);
    return result;
}

}  // namespace

TEST(TIFFGraphic, ProbeChecksOrderVersionAndFirstDirectory) {
    const Bytes good = BuildTiff(Layout(2, 2, 8, 1, 1));
    EXPECT_TRUE(Probe(good));
    EXPECT_TRUE(Probe(BuildTiff(Layout(2, 2, 8, 1, 1, 1, true))));
    struct TCase {
        const char* name;
        std::function<void(Bytes&)> change;
    };
    const TCase cases[] = {
        {"byte order", [](Bytes& b) { b[0] = 'X'; }},
        {"mixed order marks", [](Bytes& b) { b[1] = 'M'; }},
        {"version 43", [](Bytes& b) { b[2] = 43; }},
        {"directory beyond the end", [](Bytes& b) { b[4] = b[5] = b[6] = 0xFF; }},
        {"only the header", [](Bytes& b) { b.resize(8); }},
    };
    for (const TCase& c : cases) {
        Bytes b = good;
        c.change(b);
        EXPECT_FALSE(Probe(b)) << c.name;
    }
    Bytes shifted(5, 0);
    PutBytes(shifted, good);
    EXPECT_TRUE(Probe(shifted, 5));
}

TEST(TIFFGraphic, PropertiesFromTheDirectory) {
    // Big-endian, tags written out of order, YCbCr subsampling inline (2, 1), resolution per
    // centimetre, strips of every row, two directories.
    TTiffLayout s = YCbCr(4, 2, 2, 1, 1);
    s.bigEndian = true;
    s.extra.push_back({282, 5, {100}});
    s.extra.push_back({283, 5, {50}});
    s.extra.push_back({296, 3, {3}});
    s.extra.push_back({278, 4, {0xFFFFFFFF}});
    s.extra.push_back({529, 5, {1, 1, 1}});
    Bytes file = BuildTiff(s);
    TTIFFGraphic g;
    TMemoryStream stream(file.data(), int64_t(file.size()));
    ASSERT_TRUE(g.ReadProperties(stream, 0));
    const TImageProperties& p = g.ImageProperties();
    EXPECT_EQ(p.Version, 42u);
    EXPECT_TRUE(p.Options & optBigEndian);
    EXPECT_EQ(p.Width, 4u);
    EXPECT_EQ(p.Height, 2u);
    EXPECT_EQ(p.ColorScheme, schemeYCbCr);
    EXPECT_EQ(p.BitsPerPixel, 24);
    EXPECT_EQ(p.YCbCrSubsampling, (TByteArray{2, 1}));
    EXPECT_EQ(p.RowsPerStrip, (TCardinalArray{2}));  // 0xFFFFFFFF: one strip of the height
    EXPECT_FLOAT_EQ(p.XResolution, 254.0f);
    EXPECT_FLOAT_EQ(p.YResolution, 127.0f);
    EXPECT_EQ(p.PlanarConfiguration, 1u);
    EXPECT_EQ(p.JPEGTablesMode, 3u);
    EXPECT_TRUE(std::is_sorted(g.Directory().begin(), g.Directory().end(),
                               [](const auto& a, const auto& b) { return a.Tag < b.Tag; }));
    EXPECT_FALSE(g.ReadProperties(stream, 1));  // no second directory

    // Defaults: no compression tag, no photometric tag (min-is-white gray).
    TTiffLayout plain = Layout(3, 2, 8, 1, 1);
    Bytes bare = BuildTiff(plain);
    TTIFFGraphic h;
    LoadBytes(h, bare);
    EXPECT_EQ(h.ImageProperties().Compression, compNone);
}

TEST(TIFFGraphic, SecondDirectoryAndLoops) {
    // Image 0 is 3 x 2 gray, image 1 is 5 x 1; loading takes the first.
    TTiffLayout second = Layout(5, 1, 8, 1, 1);
    Bytes first = BuildTiff(Layout(3, 2, 8, 1, 1));
    const Bytes tail = BuildTiff(second);
    // Append the second file's directory (its strips are found through absolute offsets, so
    // append the whole file and point the first directory's next offset at its directory).
    const uint32_t base = uint32_t(first.size());
    const uint32_t secondIFD = GetU32LE(tail.data() + 4) + base;
    TTiffLayout firstLayout = Layout(3, 2, 8, 1, 1);
    firstLayout.nextIFD = secondIFD;
    first = BuildTiff(firstLayout);
    ASSERT_EQ(first.size(), base);
    // Shift the second file's strip offsets by base: rebuild it with its strip at base + 8.
    TTiffLayout shifted = second;
    Bytes secondFile = BuildTiff(shifted);
    Bytes combined = first;
    PutBytes(combined, secondFile);
    // Patch the second directory's StripOffsets value (inline, one strip).
    const uint32_t ifd2 = GetU32LE(secondFile.data() + 4) + base;
    const uint32_t n = GetU16LE(combined.data() + ifd2);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* e = combined.data() + ifd2 + 2 + 12 * i;
        if (GetU16LE(e) == 273) {
            const uint32_t v = GetU32LE(e + 8) + base;
            for (int k = 0; k < 4; ++k)
                e[8 + k] = uint8_t(v >> (8 * k));
        }
    }
    TTIFFGraphic g;
    TMemoryStream stream(combined.data(), int64_t(combined.size()));
    ASSERT_TRUE(g.ReadProperties(stream, 1));
    EXPECT_EQ(g.ImageProperties().Width, 5u);
    EXPECT_FALSE(g.ReadProperties(stream, 2));
    LoadBytes(g, combined);
    EXPECT_EQ(g.Width(), 3);

    // A chain that points back at itself ends.
    TTiffLayout loop = Layout(3, 2, 8, 1, 1);
    Bytes once = BuildTiff(loop);
    loop.nextIFD = GetU32LE(once.data() + 4);
    const Bytes looped = BuildTiff(loop);
    TMemoryStream loopStream(looped.data(), int64_t(looped.size()));
    EXPECT_TRUE(g.ReadProperties(loopStream, 0));
    EXPECT_FALSE(g.ReadProperties(loopStream, 1000));
}

TEST(TIFFGraphic, MessagesAndEmptyResults) {
    auto with = [](TTiffLayout s, std::vector<TTag> tags) {
        for (auto& t : tags)
            s.extra.push_back(t);
        return BuildTiff(s);
    };
    const TTiffLayout gray = Layout(4, 3, 8, 1, 1);
    // Old-style JPEG strips that are no JPEG stream.
    EXPECT_EQ(Error(with(gray, {{259, 3, {6}}})).rfind("other: JPEG error", 0), 0u);
    EXPECT_EQ(Error(with(gray, {{259, 3, {32766}}})), kCompression);  // NeXT
    EXPECT_EQ(Error(with(gray, {{259, 3, {34925}}})), kCompression);  // LZMA
    EXPECT_EQ(Error(with(gray, {{259, 3, {12345}}})), kCompression);  // unknown
    EXPECT_EQ(Error(with(gray, {{256, 4, {0}}})), kInvalid);
    EXPECT_EQ(Error(with(gray, {{257, 4, {0}}})), kInvalid);
    EXPECT_EQ(Error(Bytes{'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0}), kInvalid);
    EXPECT_EQ(Error(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}), kInvalid);
    // RGB with one sample a pixel would be read past its rows.
    EXPECT_EQ(Error(with(gray, {{262, 3, {2}}})),
              "other: Sample count per pixel does not correspond to the given color scheme.");
    EXPECT_EQ(Error(with(gray, {{258, 3, {24}}})),
              "other: Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");
    // No strips at all.
    EXPECT_EQ(Error(with(gray, {{273, 4, {}}})), kInvalid);

    // Tile sizes without tile offsets.
    EXPECT_EQ(Error(with(gray, {{322, 4, {16}}, {323, 4, {16}}})), kInvalid);
}

TEST(TIFFGraphic, MinIsWhiteGivesAnInvertedRamp) {
    TTIFFGraphic g;
    LoadBytes(g, BuildTiff(Layout(4, 2, 4, 1, 0)));
    ASSERT_EQ(g.PixelFormat(), pf4bit);
    ASSERT_EQ(g.Palette().size(), 16u);
    EXPECT_EQ(g.Palette()[0].rgbRed, 255);
    EXPECT_EQ(g.Palette()[15].rgbRed, 0);
}

TEST(TIFFGraphic, ThirtyTwoBitSamplesScaleByTheirRange) {
    auto f = [](float v) { return std::bit_cast<uint32_t>(v); };
    struct TCase {
        const char* name;
        std::vector<uint32_t> samples;
        std::vector<TTag> tags;
        Bytes gray;
    } const cases[] = {
        {"signed", {0x80000000u, 0xFFFFFFFFu, 0, 0x7FFFFFFF}, {{339, 3, {2}}}, {0, 127, 128, 255}},
        {"signed with range",
         {uint32_t(-100), 0, 50, 100},
         {{339, 3, {2}}, {340, 9, {uint32_t(-100)}}, {341, 9, {100}}},
         {0, 128, 191, 255}},
        {"float with range",
         {f(-1.0f), f(0.0f), f(1.0f), f(3.5f)},
         {{339, 3, {3}}, {340, 11, {f(-1.0f)}}, {341, 11, {f(3.0f)}}},
         {0, 64, 128, 255}},
        {"float not a number",
         {0x7FC00000u, f(0.5f), f(2.0f), f(-2.0f)},
         {{339, 3, {3}}},
         {0, 128, 255, 0}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTiffLayout s = Layout(4, 1, 32, 1, 1);
        s.pixels.clear();
        for (uint32_t v : c.samples)
            Put32(s.pixels, v, false);
        s.extra = c.tags;
        TTIFFGraphic g;
        LoadBytes(g, BuildTiff(s));
        const Bytes rgba = BitmapRGBA(g);
        EXPECT_EQ(Bytes({rgba[0], rgba[4], rgba[8], rgba[12]}), c.gray);
    }
}

TEST(TIFFGraphic, OldStyleJPEGWithoutStripsReadsTheInterchangeStream) {
    if (!HaveTool("convert") || !HaveTool("djpeg")) GTEST_SKIP();
    bool ok = false;
    const Bytes jpeg =
        RunCommand("convert -size 24x16 gradient:red-blue -sampling-factor 2x2 jpeg:-", ok);
    ASSERT_TRUE(ok);
    TTiffLayout s = Layout(24, 16, 8, 3, 6, 6);
    s.strips = {jpeg};  // written right after the 8-byte header
    s.patch = [](std::vector<uint32_t>& offsets, std::vector<uint32_t>& counts) {
        offsets.clear();
        counts.clear();
    };
    s.extra = {{513, 4, {8}}, {514, 4, {uint32_t(jpeg.size())}}};
    TTIFFGraphic g;
    LoadBytes(g, BuildTiff(s));
    const fs::path file = TempFile("old_jpeg.jpg");
    WriteFile(file, jpeg);
    const TPnm ref = ParsePnm(RunCommand("djpeg -pnm " + ShellQuote(file.string()), ok));
    fs::remove(file);
    ASSERT_TRUE(ok && ref.valid);
    EXPECT_EQ(MaxDifference(g, ref.raster), 0);
}

TEST(TIFFGraphic, SixteenBitPaletteUsesTheWholeMap) {
    // Every 16-bit index shows its own colour-map entry, reduced to 8 bits.
    TTiffLayout s = Layout(4, 1, 16, 1, 3);
    s.pixels = {0, 0, 1, 0, 2, 0, 3, 0};  // indices 0 to 3 (little-endian)
    std::vector<uint32_t> map(3 * 65536, 0);
    map[1] = 0x4000;
    map[2] = 0x8000;
    map[3] = 0xFFFF;  // reds
    s.extra = {{320, 3, map}};
    TTIFFGraphic g;
    LoadBytes(g, BuildTiff(s));
    EXPECT_EQ(g.PixelFormat(), pf24bit);
    const Bytes rgba = BitmapRGBA(g);
    EXPECT_EQ(Bytes({rgba[0], rgba[4], rgba[8], rgba[12]}), Bytes({0, 63, 127, 255}));
}

TEST(TIFFGraphic, ProgressSequence) {
    TTiffLayout s = Layout(3, 4, 8, 1, 1, 32773);
    s.rowsPerStrip = 2;
    TTIFFGraphic g;
    std::vector<std::string> events;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        events.push_back(std::to_string(int(stage)) + ":" + std::to_string(percent) + ":" +
                         std::to_string(r.Top) + ":" + msg);
    };
    LoadBytes(g, BuildTiff(s));
    const std::vector<std::string> expected = {"0:0:0:Preparing...",
                                               "2:0:0:",
                                               "0:0:0:Transfering...",
                                               "1:0:0:",
                                               "1:25:1:",
                                               "1:50:2:",
                                               "1:75:3:",
                                               "2:0:4:"};
    EXPECT_EQ(events, expected);
}

// ---- Hostile input --------------------------------------------------------------------------

TEST(TIFFGraphic, TruncatedFilesFailCleanlyAtEveryLength) {
    const std::vector<Bytes> files = {
        BuildTiff(Layout(5, 3, 8, 3, 2, 8)),
        BuildTiff(With(Layout(5, 4, 8, 3, 2, 32773, true),
                       [](TTiffLayout& s) {
                           s.planar = 2;
                           s.rowsPerStrip = 2;
                       })),
        BuildTiff(With(Layout(5, 3, 4, 1, 3),
                       [](TTiffLayout& s) {
                           s.extra = {{320, 3, ColorMap(4)}};
                       })),
        BuildTiff(YCbCr(6, 4, 2, 2, 8)),
        BuildTiff(With(Layout(21, 9, 8, 3, 2, 8, true),
                       [](TTiffLayout& s) {
                           s.planar = 2;
                           s.tileWidth = 16;
                           s.tileLength = 8;
                           s.extra = {{317, 3, {2}}};
                       })),
        BuildTiff(With(Layout(21, 9, 1, 1, 1, 32773),
                       [](TTiffLayout& s) {
                           s.tileWidth = 16;
                           s.tileLength = 4;
                       })),
    };
    for (const Bytes& file : files)
        for (size_t n = 0; n < file.size(); ++n) {
            const std::string e = Error(Bytes(file.begin(), file.begin() + long(n)));
            // A cut file either still shows a picture (data missing) or is refused with an
            // imaging error; LoadError lets anything else escape.
            EXPECT_FALSE(e.empty()) << n;
        }
}

TEST(TIFFGraphic, HostileCountsAndOffsets) {
    auto with = [](TTiffLayout s, std::vector<TTag> tags) {
        for (auto& t : tags)
            s.extra.push_back(t);
        return BuildTiff(s);
    };
    const TTiffLayout gray = Layout(4, 3, 8, 1, 1);
    const TTiffLayout packed = Layout(4, 3, 8, 1, 1, 32773);
    struct TCase {
        const char* name;
        Bytes file;
        std::string expected;  // "" means: loads
    };
    const TCase cases[] = {
        {"strip beyond the file", with(gray, {{273, 4, {0x7FFFFFF0}}}), ""},
        {"byte count beyond the file", with(packed, {{279, 4, {0xFFFFFFFF}}}), ""},
        {"no byte counts, compressed", with(packed, {{279, 4, {}}}), ""},
        {"more byte counts than strips", with(gray, {{279, 4, {12, 1, 2, 3}}}), ""},
        {"rows per strip 0", with(gray, {{278, 4, {0}}}), ""},
        {"colour map too short", with(Layout(4, 3, 8, 1, 3), {{320, 3, {1, 2, 3}}}), ""},
        {"colour map count huge",
         with(Layout(4, 3, 8, 1, 3), {{320, 3, std::vector<uint32_t>(9, 1)}}), ""},
        {"missing planes",
         with(With(Layout(4, 3, 8, 3, 2), [](TTiffLayout& s) { s.planar = 2; }),
              {{273, 4, {8}}, {279, 4, {12}}}),
         ""},
        {"gray, samples per pixel 300", with(gray, {{277, 3, {300}}}), ""},  // gray kept
        {"RGB, samples per pixel 5", with(Layout(4, 3, 8, 5, 2), {}), ""},   // RGBA kept
        {"palette of 32-bit indices", with(Layout(4, 3, 32, 1, 3), {}),
         "Invalid color format in TIF/TIFF file."},
        {"bits per sample 0", with(gray, {{258, 3, {0}}}),
         "other: Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
        {"subsampling 3", with(YCbCr(6, 4, 2, 2, 1), {{530, 3, {3, 1}}}),
         "other: Subsampling value is invalid. Allowed are 1, 2 and 4."},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(Error(c.file), c.expected.empty() ? "no error" : c.expected) << c.name;

    // A directory whose entry count runs past the end, and a tag whose values would.
    Bytes file = BuildTiff(gray);
    const uint32_t ifd = GetU32LE(file.data() + 4);
    Bytes longDirectory = file;
    longDirectory[ifd] = longDirectory[ifd + 1] = 0xFF;
    EXPECT_EQ(Error(longDirectory), kInvalid);
    Bytes hugeCount = BuildTiff(gray);
    for (uint32_t i = 0; i < GetU16LE(hugeCount.data() + ifd); ++i) {
        uint8_t* e = hugeCount.data() + ifd + 2 + 12 * i;
        if (GetU16LE(e) == 273) e[4] = e[5] = e[6] = e[7] = 0xFF;  // 2^32 - 1 offsets
    }
    EXPECT_EQ(Error(hugeCount), kInvalid);
}

TEST(TIFFGraphic, PixelLimitBeforeAllocation) {
    TPixelLimit limit(1000);
    TTiffLayout s = Layout(4, 3, 8, 1, 1);
    s.extra = {{256, 4, {40000}}, {257, 4, {40000}}};
    TTIFFGraphic g;
    try {
        LoadBytes(g, BuildTiff(s));
        ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic&) {
    }
    EXPECT_TRUE(g.Empty());
}

// ---- EPS preview ----------------------------------------------------------------------------

namespace {

Bytes EPS(const Bytes& preview, uint32_t offsetFix = 0, bool withPreview = true) {
    const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 4 3\nshowpage\n";
    Bytes out;
    Put32LE(out, 0xC6D3D0C5);
    Put32LE(out, 30);
    Put32LE(out, uint32_t(ps.size()));
    Put32LE(out, 0);
    Put32LE(out, 0);
    Put32LE(out, withPreview ? uint32_t(30 + ps.size()) + offsetFix : 0);
    Put32LE(out, withPreview ? uint32_t(preview.size()) : 0);
    Put16LE(out, 0xFFFF);
    PutText(out, ps);
    if (withPreview) PutBytes(out, preview);
    return out;
}

}  // namespace

TEST(EPSGraphic, PreviewOffsetsCountFromThePreview) {
    const TTiffLayout layout = Layout(4, 3, 8, 3, 2, 8);
    const Bytes preview = BuildTiff(layout);
    const Bytes eps = EPS(preview);
    TMemoryStream probe(eps.data(), int64_t(eps.size()));
    EXPECT_TRUE(TEPSGraphic::ProbeStream(probe));
    EXPECT_EQ(probe.Position(), 0);
    TEPSGraphic g;
    LoadBytes(g, eps);
    TTIFFGraphic t;
    LoadBytes(t, preview);
    ASSERT_EQ(g.Width(), 4);
    EXPECT_EQ(BitmapRGBA(g), BitmapRGBA(t));

    // A preview right after the header (no PostScript), at any stream position.
    Bytes bare(eps.begin(), eps.begin() + 30);
    bare[20] = 30;
    bare[21] = bare[22] = bare[23] = 0;
    PutBytes(bare, preview);
    EXPECT_TRUE(Probe<TEPSGraphic>(bare));
    Bytes shifted(5, 0);
    PutBytes(shifted, bare);
    EXPECT_TRUE(Probe<TEPSGraphic>(shifted, 5));
    TEPSGraphic b;
    LoadBytes(b, bare);
    EXPECT_EQ(BitmapRGBA(b), BitmapRGBA(t));

    const Bytes noPreview = EPS(preview, 0, false);
    TMemoryStream probe2(noPreview.data(), int64_t(noPreview.size()));
    EXPECT_FALSE(TEPSGraphic::ProbeStream(probe2));
    EXPECT_EQ(LoadError<TEPSGraphic>(noPreview), kInvalid);
    Bytes badMagic = eps;
    badMagic[0] = 0;
    EXPECT_EQ(LoadError<TEPSGraphic>(badMagic),
              "Cannot load image. Invalid or unexpected EPS image format.");
    EXPECT_EQ(LoadError<TEPSGraphic>(EPS(preview, 0x7FFFFFFF)), kInvalid);
    for (size_t n = 0; n < eps.size(); n += 7)
        EXPECT_FALSE(LoadError<TEPSGraphic>(Bytes(eps.begin(), eps.begin() + long(n))).empty());
}

// Compressions that no reference tool writes: strips coded here by hand.
TEST(TIFFGraphic, ModifiedHuffmanAndThunderScanStrips) {
    // Modified Huffman, width 16, min-is-white: a white row (white 16 = 101010) and a black
    // row (white 0 = 00110101, black 16 = 0000010111), each starting on a byte.
    TTiffLayout mh = Layout(16, 2, 1, 1, 0, 2);
    mh.strips = {{0xA8, 0x35, 0x05, 0xC0}};
    TTIFFGraphic g;
    LoadBytes(g, BuildTiff(mh));
    Bytes rgba = BitmapRGBA(g);
    EXPECT_EQ(rgba[0], 255);
    EXPECT_EQ(rgba[15 * 4], 255);
    EXPECT_EQ(rgba[16 * 4], 0);
    EXPECT_EQ(rgba[31 * 4], 0);

    // The same with coded rows padded to 16 bits (compression 32771).
    mh.compression = 32771;
    mh.strips = {{0xA8, 0x00, 0x35, 0x05, 0xC0, 0x00}};
    LoadBytes(g, BuildTiff(mh));
    EXPECT_EQ(BitmapRGBA(g), rgba);

    // ThunderScan, 4-bit gray: raw pixel codes (11 and the value).
    TTiffLayout thunder = Layout(4, 1, 4, 1, 1, 32809);
    thunder.strips = {{0xC1, 0xC5, 0xCA, 0xCF}};
    LoadBytes(g, BuildTiff(thunder));
    rgba = BitmapRGBA(g);
    EXPECT_EQ(rgba[0], 17);
    EXPECT_EQ(rgba[4], 85);
    EXPECT_EQ(rgba[8], 170);
    EXPECT_EQ(rgba[12], 255);
}

// ---- Tiles ----------------------------------------------------------------------------------

namespace {

// A 37 x 23 gray picture in 16 x 16 tiles: three across, two down, the right and bottom ones
// cropped.
TTiffLayout TiledGray(uint32_t compression = 1) {
    TTiffLayout s = Layout(37, 23, 8, 1, 1, compression);
    s.tileWidth = s.tileLength = 16;
    return s;
}

// Checks a gray 8-bit load against the layout's pixels; pixels inside the tiles listed in
// zeroTiles (numbered across, then down) must be 0.
void ExpectGrayTiles(const TBitmap& g, const TTiffLayout& s, const std::vector<int>& zeroTiles) {
    ASSERT_EQ(g.Width(), int(s.width));
    ASSERT_EQ(g.Height(), int(s.height));
    const Bytes rgba = BitmapRGBA(g);
    const uint32_t across = (s.width + s.tileWidth - 1) / s.tileWidth;
    int wrong = 0;
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t x = 0; x < s.width; ++x) {
            const int tile = int(y / s.tileLength * across + x / s.tileWidth);
            const bool zero =
                std::find(zeroTiles.begin(), zeroTiles.end(), tile) != zeroTiles.end();
            const uint8_t expected = zero ? 0 : s.pixels[y * s.width + x];
            wrong += rgba[(y * s.width + x) * 4] != expected;
        }
    EXPECT_EQ(wrong, 0);
}

// The values of a SHORT or LONG tag of the first directory, as stored.
std::vector<uint32_t> StoredTag(const Bytes& file, uint16_t tag, size_t* at = nullptr,
                                size_t* valueSize = nullptr) {
    TTIFFGraphic g;
    TMemoryStream stream(file.data(), int64_t(file.size()));
    if (!g.ReadProperties(stream, 0)) return {};
    const bool be = file[0] == 'M';
    for (const auto& e : g.Directory()) {
        if (e.Tag != tag) continue;
        const size_t size = e.Type == 3 ? 2 : 4;
        if (valueSize) *valueSize = size;
        std::vector<uint32_t> values;
        if (size * e.Count <= 4) {
            for (uint32_t i = 0; i < e.Count; ++i)
                values.push_back(size == 2 ? GetU16LE(e.Value + 2 * i) : GetU32LE(e.Value));
            if (at) *at = 0;
            return values;
        }
        const size_t offset = GetU32LE(e.Value);
        for (uint32_t i = 0; i < e.Count; ++i)
            values.push_back(size == 2 ? GetU16(file.data() + offset + 2 * i, be)
                                       : GetU32(file.data() + offset + 4 * i, be));
        if (at) *at = offset;
        return values;
    }
    return {};
}

Bytes RecompressWithTiffcp(const Bytes& file, const std::string& args) {
    const fs::path in = TempFile("tiffcp_in.tif"), out = TempFile("tiffcp_out.tif");
    WriteFile(in, file);
    bool ok = false;
    RunCommand("tiffcp " + args + " " + ShellQuote(in.string()) + " " + ShellQuote(out.string()) +
                   " >/dev/null 2>&1 && echo ok",
               ok);
    Bytes result = ok ? ReadFileBytes(out) : Bytes{};
    fs::remove(in);
    fs::remove(out);
    return result;
}

}  // namespace

TEST(TIFFGraphicTiles, HostileTileListsAndSizes) {
    using TPatch = std::function<void(std::vector<uint32_t>&, std::vector<uint32_t>&)>;
    struct TCase {
        const char* name;
        TTiffLayout layout;
        std::string expected;        // "no error" or the message
        std::vector<int> zeroTiles;  // tiles that stay zero when it loads
    };
    auto patched = [](uint32_t compression, TPatch patch) {
        TTiffLayout s = TiledGray(compression);
        s.patch = std::move(patch);
        return s;
    };
    auto sized = [](uint32_t w, uint32_t l) {
        TTiffLayout s = TiledGray(32773);
        s.tileWidth = w;
        s.tileLength = l;
        return s;
    };
    auto tags = [](std::vector<TTag> t) {
        TTiffLayout s = TiledGray();
        s.extra = std::move(t);
        return s;
    };
    const std::string ok = "no error";
    const TCase cases[] = {
        {"plain", TiledGray(), ok, {}},
        {"packbits", TiledGray(32773), ok, {}},
        {"offset beyond the file", patched(1, [](auto& o, auto&) { o[1] = 0x7FFFFFF0; }), ok, {1}},
        {"packed tile beyond the file",
         patched(32773, [](auto& o, auto&) { o[3] = 0xFFFFFFFF; }),
         ok,
         {3}},
        {"byte count beyond the file",
         patched(32773, [](auto&, auto& c) { c[4] = 0x7FFFFFFF; }),
         ok,
         {4}},
        {"byte count zero", patched(1, [](auto&, auto& c) { c[2] = 0; }), ok, {2}},
        {"an offset missing", patched(1, [](auto& o, auto&) { o.pop_back(); }), kInvalid, {}},
        {"an offset too many", patched(1, [](auto& o, auto&) { o.push_back(8); }), kInvalid, {}},
        {"no byte counts", patched(1, [](auto&, auto& c) { c.clear(); }), kInvalid, {}},
        {"tile width 0", tags({{322, 4, {0}}}), kInvalid, {}},
        {"tile length 0", tags({{323, 4, {0}}}), kInvalid, {}},
        {"tile 70000 x 70000", tags({{322, 4, {70000}}, {323, 4, {70000}}}), kInvalid, {}},
        {"tile 8192 wide on 37 pixels", sized(8192, 16), kInvalid, {}},
        {"tile 4096 wide on 37 pixels", sized(4096, 16), ok, {}},
        {"odd tiles of 7 x 5", sized(7, 5), ok, {}},
        {"tiles of one pixel", sized(1, 1), ok, {}},
        {"separate planes, tiles of one plane listed",
         With(Layout(37, 23, 8, 3, 2),
              [](TTiffLayout& s) {
                  s.planar = 2;
                  s.tileWidth = s.tileLength = 16;
                  s.patch = [](auto& o, auto& c) {
                      o.resize(6);
                      c.resize(6);
                  };
              }),
         kInvalid,
         {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = BuildTiff(c.layout);
        EXPECT_EQ(Error(file), c.expected);
        if (c.expected != ok || c.layout.spp != 1) continue;
        TTIFFGraphic g;
        LoadBytes(g, file);
        ExpectGrayTiles(g, c.layout, c.zeroTiles);
    }
}

// Tiles whose rows end inside a byte are put side by side bit by bit: the picture equals the
// same pixels stored in one strip.
TEST(TIFFGraphicTiles, OddTileWidthsOfPixelsSmallerThanAByte) {
    struct TCase {
        const char* name;
        TTiffLayout layout;
    };
    const TCase layouts[] = {
        {"gray1", Layout(37, 23, 1, 1, 1)},
        {"gray2, packbits", Layout(37, 23, 2, 1, 1, 32773)},
        {"gray4, deflate, big-endian", Layout(37, 23, 4, 1, 1, 8, true)},
        {"gray12", Layout(37, 23, 12, 1, 1)},
        {"palette4", With(Layout(37, 23, 4, 1, 3),
                          [](TTiffLayout& s) {
                              s.extra = {{320, 3, ColorMap(4)}};
                          })},
    };
    const std::pair<uint32_t, uint32_t> tiles[] = {{7, 5}, {3, 2}, {1, 23}, {37, 1}, {16, 16}};
    for (const TCase& c : layouts) {
        TTIFFGraphic strip;
        LoadBytes(strip, BuildTiff(c.layout));
        for (const auto& [w, l] : tiles) {
            SCOPED_TRACE(std::string(c.name) + ", tiles " + std::to_string(w) + " x " +
                         std::to_string(l));
            TTiffLayout s = c.layout;
            s.tileWidth = w;
            s.tileLength = l;
            TTIFFGraphic tiled;
            LoadBytes(tiled, BuildTiff(s));
            EXPECT_EQ(BitmapRGBA(tiled), BitmapRGBA(strip));
        }
    }
}

TEST(TIFFGraphicTiles, TileLargerThanThePixelLimitIsRefusedBeforeAllocation) {
    TPixelLimit limit(1000);
    TTiffLayout s = Layout(20, 20, 8, 1, 1);  // 400 pixels: inside the limit
    s.tileWidth = s.tileLength = 64;          // one tile of 4096 pixels: beyond
    TTIFFGraphic g;
    EXPECT_EQ(Error(BuildTiff(s)), kInvalid);
    s.tileWidth = s.tileLength = 16;
    EXPECT_EQ(Error(BuildTiff(s)), "no error");
}

// Layouts no reference tool writes tiled: subsampled YCbCr (compared with libtiff's RGBA
// interface) and ThunderScan (coded here).
TEST(TIFFGraphicTiles, SubsampledYCbCrAndThunderScanTiles) {
    // YCbCr 4:2:0 in 16 x 16 tiles of 8 x 8 data units of 6 bytes.
    TTiffLayout y = YCbCr(37, 23, 2, 2, 8);
    y.tileWidth = y.tileLength = 16;
    y.pixels.clear();
    for (int t = 0; t < 6; ++t) {
        Bytes tile = Pattern(64 * 6, 255, uint32_t(t));
        for (size_t u = 0; u < 64; ++u) {  // chroma near the middle keeps colours in range
            tile[u * 6 + 4] = uint8_t(100 + (u + t) % 50);
            tile[u * 6 + 5] = uint8_t(150 - (u * 3 + t) % 40);
        }
        y.strips.push_back(Deflate(tile));
    }
    const Bytes ycbcr = BuildTiff(y);
    TTIFFGraphic g;
    LoadBytes(g, ycbcr);
    if (HaveTool("tiff2rgba") && HaveTool("tifftopnm")) {
        const fs::path file = TempFile("tiled_ycbcr.tif");
        WriteFile(file, ycbcr);
        int w = 0, h = 0;
        const Bytes ref = ReferenceRGB(file, w, h);
        ASSERT_EQ(g.Width(), w);
        ASSERT_EQ(g.Height(), h);
        EXPECT_LE(MaxDifference(g, ref), 1);  // rounded table terms against floating point
        fs::remove(file);
    }

    // ThunderScan, 4-bit gray, 6 x 3 in 4 x 2 tiles: raw pixel codes (11 and the value).
    TTiffLayout t = Layout(6, 3, 4, 1, 1, 32809);
    t.tileWidth = 4;
    t.tileLength = 2;
    for (uint8_t tile = 0; tile < 4; ++tile) {
        Bytes codes;
        for (uint8_t i = 0; i < 8; ++i)
            codes.push_back(uint8_t(0xC0 | ((tile * 8 + i) & 15)));
        t.strips.push_back(codes);
    }
    LoadBytes(g, BuildTiff(t));
    const Bytes rgba = BitmapRGBA(g);
    for (uint32_t py = 0; py < 3; ++py)
        for (uint32_t px = 0; px < 6; ++px) {
            const uint32_t tile = py / 2 * 2 + px / 4, inside = py % 2 * 4 + px % 4;
            EXPECT_EQ(rgba[(py * 6 + px) * 4], ((tile * 8 + inside) & 15) * 17) << px << "," << py;
        }
}

TEST(TIFFGraphicTiles, ProgressOncePerRowOfTiles) {
    TTIFFGraphic g;
    std::vector<std::string> events;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        events.push_back(std::to_string(int(stage)) + ":" + std::to_string(percent) + ":" +
                         std::to_string(r.Top) + "-" + std::to_string(r.Bottom) + ":" + msg);
    };
    LoadBytes(g, BuildTiff(TiledGray(8)));
    const std::vector<std::string> expected = {
        "0:0:0-1:Preparing...", "2:0:0-1:",  "0:0:0-1:Transfering...", "1:0:0-16:",
        "1:69:16-23:",          "2:0:16-23:"};
    EXPECT_EQ(events, expected);
}

TEST(TIFFGraphicTiles, BrokenJPEGTilesFailCleanly) {
    if (!HaveTool("tiffcp")) GTEST_SKIP();
    const Bytes good =
        RecompressWithTiffcp(BuildTiff(Layout(37, 23, 8, 3, 2)), "-t -w 16 -l 16 -c jpeg");
    ASSERT_FALSE(good.empty());
    ASSERT_EQ(Error(good), "no error");
    size_t countsAt = 0, countSize = 0;
    const std::vector<uint32_t> offsets = StoredTag(good, 324);
    const std::vector<uint32_t> counts = StoredTag(good, 325, &countsAt, &countSize);
    ASSERT_EQ(offsets.size(), 6u);
    ASSERT_EQ(counts.size(), 6u);
    ASSERT_NE(countsAt, 0u);
    auto sof = [&](const Bytes& b) {  // the frame header of tile 4
        for (size_t i = offsets[4]; i + 9 < offsets[4] + counts[4]; ++i)
            if (b[i] == 0xFF && b[i + 1] == 0xC0) return i;
        return size_t(0);
    };
    ASSERT_NE(sof(good), 0u);
    struct TCase {
        const char* name;
        std::function<void(Bytes&)> change;
        std::string expected;  // "" for any imaging error
    };
    const TCase cases[] = {
        {"no start of image", [&](Bytes& b) { b[offsets[2]] = 0; }, ""},
        {"frame of another height", [&](Bytes& b) { b[sof(b) + 6] = 8; },
         "other: " + std::string(imsg::JPEGStripSize)},
        {"frame of another width", [&](Bytes& b) { b[sof(b) + 8] = 15; },
         "other: " + std::string(imsg::JPEGStripSize)},
        {"entropy data overwritten",
         [&](Bytes& b) {
             std::fill(b.begin() + offsets[1] + counts[1] / 2,
                       b.begin() + offsets[1] + counts[1] - 2, 0x55);
         },
         "no error"},
        {"tile cut to half its bytes",  // libjpeg finishes it with an end-of-image marker
         [&](Bytes& b) {
             for (size_t k = 0; k < countSize; ++k)  // little-endian, as tiffcp writes
                 b[countsAt + countSize * 3 + k] = uint8_t((counts[3] / 2) >> (8 * k));
         },
         "no error"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = good;
        c.change(file);
        const std::string message = Error(file);
        if (c.expected.empty())
            EXPECT_NE(message, "no error");
        else
            EXPECT_EQ(message, c.expected);
    }
}

// ---- Orientation ----------------------------------------------------------------------------

namespace {

// Keeps the stored layout for one scope.
struct TStoredOrientation {
    bool saved = TBitmap::AutoOrient();
    TStoredOrientation() { TBitmap::SetAutoOrient(false); }
    ~TStoredOrientation() { TBitmap::SetAutoOrient(saved); }
    TStoredOrientation(const TStoredOrientation&) = delete;
    TStoredOrientation& operator=(const TStoredOrientation&) = delete;
};

// The picture as meant to be seen, from the stored w x h RGB pixels and the Orientation value,
// by the TIFF 6.0 definitions of where stored row 0 and column 0 are shown (1 top, left; 2
// top, right; 3 bottom, right; 4 bottom, left; 5 left, top; 6 right, top; 7 right, bottom;
// 8 left, bottom). Other values show the picture as stored.
Bytes Turned(const Bytes& rgb, int w, int h, int orientation, int& shownW, int& shownH) {
    const bool swap = orientation >= 5 && orientation <= 8;
    shownW = swap ? h : w;
    shownH = swap ? w : h;
    Bytes out(rgb.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sx = x, sy = y;  // shown position of stored pixel (x, y)
            switch (orientation) {
                case 2:
                    sx = w - 1 - x;
                    break;
                case 3:
                    sx = w - 1 - x, sy = h - 1 - y;
                    break;
                case 4:
                    sy = h - 1 - y;
                    break;
                case 5:
                    sx = y, sy = x;
                    break;
                case 6:
                    sx = h - 1 - y, sy = x;
                    break;
                case 7:
                    sx = h - 1 - y, sy = w - 1 - x;
                    break;
                case 8:
                    sx = y, sy = w - 1 - x;
                    break;
                default:
                    break;
            }
            std::copy_n(rgb.begin() + (size_t(y) * w + x) * 3, 3,
                        out.begin() + (size_t(sy) * shownW + sx) * 3);
        }
    return out;
}

// Sets a SHORT tag that the file already has, in place.
void PatchShortTag(Bytes& file, uint16_t tag, uint16_t value) {
    const bool be = file[0] == 'M';
    const uint32_t ifd = GetU32(file.data() + 4, be);
    for (uint32_t i = 0, n = GetU16(file.data() + ifd, be); i < n; ++i) {
        uint8_t* e = file.data() + ifd + 2 + 12 * i;
        if (GetU16(e, be) != tag) continue;
        e[8] = uint8_t(be ? value >> 8 : value);
        e[9] = uint8_t(be ? value : value >> 8);
    }
}

}  // namespace

TEST(TIFFGraphicOrientation, TagTurnsThePictureUnlessSwitchedOff) {
    if (!HaveTool("tifftopnm") || !HaveTool("tiffset") || !HaveTool("tiffcp")) GTEST_SKIP();
    TTiffLayout palette = With(Layout(37, 23, 4, 1, 3), [](TTiffLayout& s) {
        s.extra = {{320, 3, ColorMap(4)}};
    });
    struct TBase {
        const char* name;
        TTiffLayout layout;
        std::string tiffcp;  // "" keeps the strips built here
        int tolerance;       // colour maps: the references keep the high byte, the reader v / 257
        // The stored picture: tifftopnm -orientraw reads row by row, which libtiff refuses for
        // tiles; ImageMagick keeps the stored layout unless asked to turn it.
        std::string stored;
    };
    const std::string raw = "tifftopnm -orientraw";
    const TBase bases[] = {
        {"strips, RGB", Layout(7, 5, 8, 3, 2), "", 0, raw},
        {"strips, 1-bit gray, big-endian", Layout(13, 5, 1, 1, 1, 1, true), "", 0, raw},
        {"tiles, RGB deflate", Layout(37, 23, 8, 3, 2), "-t -w 16 -l 16 -c zip", 0, "convert"},
        {"tiles, 4-bit palette", palette, "-t -w 16 -l 16 -c packbits", 1, "convert"},
    };
    for (const TBase& base : bases) {
        Bytes stored = BuildTiff(base.layout);
        if (!base.tiffcp.empty()) stored = RecompressWithTiffcp(stored, base.tiffcp);
        ASSERT_FALSE(stored.empty()) << base.name;
        for (int orientation = 0; orientation <= 9; ++orientation) {
            SCOPED_TRACE(std::string(base.name) + ", orientation " + std::to_string(orientation));
            const fs::path file = TempFile("oriented.tif");
            WriteFile(file, stored);
            bool ok = true;
            if (orientation >= 1 && orientation <= 8) {
                RunCommand("tiffset -s 274 " + std::to_string(orientation) + " " +
                               ShellQuote(file.string()) + " >/dev/null 2>&1 && echo ok",
                           ok);
            } else {  // libtiff refuses to write values outside 1-8: put the tag in, patch it
                RunCommand("tiffset -s 274 1 " + ShellQuote(file.string()) + " && echo ok", ok);
                Bytes bytes = ReadFileBytes(file);
                PatchShortTag(bytes, 274, uint16_t(orientation));
                WriteFile(file, bytes);
            }
            ASSERT_TRUE(ok);
            int w = 0, h = 0;
            const Bytes ref = ReferenceRGB(file, w, h, nullptr, base.stored);
            ASSERT_FALSE(ref.empty());

            TTIFFGraphic g;
            g.LoadFromFile(file.string());
            EXPECT_EQ(g.Orientation(), uint32_t(orientation));
            // The properties describe the picture as stored.
            EXPECT_EQ(g.ImageProperties().Width, uint32_t(w));
            EXPECT_EQ(g.ImageProperties().Height, uint32_t(h));
            int shownW = 0, shownH = 0;
            const Bytes shown = Turned(ref, w, h, orientation, shownW, shownH);
            ASSERT_EQ(g.Width(), shownW);
            ASSERT_EQ(g.Height(), shownH);
            EXPECT_LE(MaxDifference(g, shown), base.tolerance);

            // ImageMagick turns it the same way.
            if (orientation >= 1 && orientation <= 8 && HaveTool("convert")) {
                int mw = 0, mh = 0;
                const Bytes magick = ReferenceRGB(file, mw, mh, nullptr, "convert -auto-orient");
                ASSERT_EQ(mw, shownW);
                ASSERT_EQ(mh, shownH);
                EXPECT_LE(MaxDifference(g, magick), base.tolerance);
            }

            // velkaro-decode --no-orient: the stored layout.
            {
                TStoredOrientation keep;
                TTIFFGraphic s;
                s.LoadFromFile(file.string());
                ASSERT_EQ(s.Width(), w);
                ASSERT_EQ(s.Height(), h);
                EXPECT_LE(MaxDifference(s, ref), base.tolerance);
            }

            // The EPS preview is turned the same way.
            if (orientation == 6) {
                TEPSGraphic eps;
                LoadBytes(eps, EPS(ReadFileBytes(file)));
                EXPECT_EQ(BitmapRGBA(eps), BitmapRGBA(g));
            }
            fs::remove(file);
        }
    }
}

// Damaged LZW and Group 4 strips load without error; the rows before the damage and the other
// strips keep their pixels, rows not reached stay 0.
TEST(TIFFGraphic, DamagedLZWAndGroup4StripsKeepTheirValidRows) {
    // Gray 16 x 6 in two LZW strips of three rows.
    TTiffLayout lzw = Layout(16, 6, 8, 1, 1, 5);
    lzw.rowsPerStrip = 3;
    const Bytes& px = lzw.pixels;
    auto rows = [&](size_t from, size_t count) {
        return Bytes(px.begin() + long(from * 16), px.begin() + long((from + count) * 16));
    };
    Bytes longer = rows(0, 3);
    longer.insert(longer.end(), 100, 7);
    Bytes cut = lzwtest::Encode(rows(0, 3));
    cut.resize(cut.size() / 2);
    std::vector<uint32_t> pastTable = {256};
    for (uint8_t b : rows(0, 1))
        pastTable.push_back(b);
    pastTable.push_back(500);  // the table ends at 273
    pastTable.push_back(257);
    const Bytes second = lzwtest::Encode(rows(3, 3));

    // Bilevel 8 x 3, min-is-white, one Group 4 strip (codes as in the decoder tests).
    TTiffLayout g4 = Layout(8, 3, 1, 1, 0, 4);
    const std::string row1 = "001 0111 10 1";  // 00111000
    const std::string eofb = "000000000001 000000000001";

    struct TCase {
        const char* name;
        TTiffLayout layout;
        std::vector<Bytes> strips;
        Bytes expected;               // the decoded rows, as stored
        std::vector<size_t> certain;  // the rows that must match
    };
    const Bytes all = rows(0, 6);
    Bytes firstRowAndSecondStrip = rows(0, 1);
    firstRowAndSecondStrip.resize(48, 0);
    PutBytes(firstRowAndSecondStrip, rows(3, 3));
    Bytes secondStrip(48, 0);
    PutBytes(secondStrip, rows(3, 3));
    const TCase cases[] = {
        {"LZW strip longer than its rows",
         lzw,
         {lzwtest::Encode(longer), second},
         all,
         {0, 1, 2, 3, 4, 5}},
        {"LZW truncated strip", lzw, {cut, second}, firstRowAndSecondStrip, {0, 3, 4, 5}},
        {"LZW code past the table",
         lzw,
         {lzwtest::Codes(pastTable), second},
         firstRowAndSecondStrip,
         {0, 1, 2, 3, 4, 5}},
        {"LZW empty strip", lzw, {Bytes{}, second}, secondStrip, {0, 1, 2, 3, 4, 5}},
        {"LZW garbage", lzw, {Bytes(40, 0xFF), second}, secondStrip, {3, 4, 5}},
        // H white 3 black 10 is cut at the row end; V0 V0 repeats it.
        {"G4 runs past the row",
         g4,
         {lzwtest::BitString("001 1000 0000100 1 1" + eofb)},
         {0x1F, 0x1F, 0x00},
         {0, 1, 2}},
        {"G4 invalid mode",
         g4,
         {lzwtest::BitString(row1 + "0000001111 1")},
         {0x38, 0, 0},
         {0, 1, 2}},
        {"G4 truncated", g4, {lzwtest::BitString(row1 + "1")}, {0x38, 0, 0}, {0, 1, 2}},
        {"G4 garbage", g4, {Bytes(50, 0x5A)}, {0, 0, 0}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTiffLayout s = c.layout;
        s.strips = c.strips;
        ASSERT_EQ(Error(BuildTiff(s)), "no error");
        TTIFFGraphic g;
        LoadBytes(g, BuildTiff(s));
        // The stored rows back from the bitmap: gray levels, or bits (black = 1).
        const Bytes rgba = BitmapRGBA(g);
        Bytes stored;
        if (s.bits == 8) {
            for (size_t i = 0; i < rgba.size(); i += 4)
                stored.push_back(rgba[i]);
        } else {
            for (size_t i = 0; i < rgba.size(); i += 4) {
                if (i / 4 % s.width == 0) stored.push_back(0);
                if (rgba[i] == 0) stored.back() |= uint8_t(0x80 >> (i / 4 % s.width));
            }
        }
        ASSERT_EQ(stored.size(), c.expected.size());
        const size_t line = stored.size() / s.height;
        for (const size_t row : c.certain)
            EXPECT_TRUE(std::equal(stored.begin() + long(row * line),
                                   stored.begin() + long((row + 1) * line),
                                   c.expected.begin() + long(row * line)))
                << "row " << row;
    }
}
