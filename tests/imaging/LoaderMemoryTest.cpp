// Memory follows the file, not the header: every registered loader, given a tiny file whose
// header claims a large picture, stays within twice the bitmap plus the file plus 32 MiB of
// peak resident memory, measured in a child process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/Exceptions.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"

using namespace testhelp;

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define VELKARO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKARO_TEST_ASAN 1
#endif
#endif

constexpr uint32_t kSide = 8192;  // the claimed width and height

// Byte builders: values of 16 or 32 bits in either byte order, text, zeros, and joins.
using TValues = std::initializer_list<uint32_t>;
Bytes Values(TValues values, void (*put)(Bytes&, uint32_t)) {
    Bytes b;
    for (uint32_t v : values)
        put(b, v);
    return b;
}
const auto L16 = [](TValues v) { return Values(v, Put16LE); };
const auto L32 = [](TValues v) { return Values(v, Put32LE); };
const auto B16 = [](TValues v) { return Values(v, Put16BE); };
const auto B32 = [](TValues v) { return Values(v, Put32BE); };
const auto T = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
const auto Z = [](size_t n) { return Bytes(n, 0); };
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& part : parts)
        PutBytes(b, part);
    return b;
}

// A PNG chunk: length, type, data, CRC.
Bytes Chunk(const char* type, const Bytes& data) {
    const Bytes typed = Cat({T(type), data});
    return Cat({B32({uint32_t(data.size())}), typed,
                B32({uint32_t(crc32(0, typed.data(), uInt(typed.size())))})});
}

// A TIFF of 16-bit RGB in one strip or one tile, of which the file holds 6 bytes.
Bytes Tiff(uint32_t compression, bool tiled) {
    const uint32_t s = kSide;
    std::vector<std::array<uint32_t, 3>> tags = {
        {256, 4, s},           {257, 4, s}, {258, 3, 16},
        {259, 3, compression}, {262, 3, 2}, {277, 3, 3}};  // the loader sorts them
    if (tiled)
        tags.insert(tags.end(), {{322, 4, s}, {323, 4, s}, {324, 4, 8}, {325, 4, 6}});
    else
        tags.insert(tags.end(), {{273, 4, 8}, {279, 4, 6}});
    Bytes b = Cat({T("II"), L16({42}), L32({14}), Z(6), L16({uint32_t(tags.size())})});
    for (const auto& t : tags)
        PutBytes(b, Cat({L16({t[0], t[1]}), L32({1, t[2]})}));
    return Cat({b, Z(4)});
}

// A small JPEG whose frame header claims the large size, without its end marker.
Bytes Jpeg() {
    TBitmap small;
    small.SetPixelFormat(pf24bit);
    small.SetSize(16, 16);
    TJPEGImage jpeg;
    jpeg.Assign(small);
    TMemoryStream out;
    jpeg.SaveToStream(out);
    Bytes b(out.Memory(), out.Memory() + out.Size() - 2);
    for (size_t i = 2; i + 9 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0xC0) {
            b[i + 5] = b[i + 7] = uint8_t(kSide >> 8);
            b[i + 6] = b[i + 8] = uint8_t(kSide);
            break;
        }
    return b;
}

struct TClaim {
    std::string className;
    uint32_t width, height, bitmapBits;  // the bitmap the header asks for
    Bytes file;
};

// A small picture made by an encoder (empty when the tool is missing) whose image spatial
// extent box ("ispe") is made to claim the large size: HEIF and AVIF are too involved to build
// by hand.
Bytes ClaimingIspe(const std::string& tool, const std::string& arguments, const char* name) {
    if (!HaveTool(tool)) return {};
    const std::string dir = testing::TempDir();
    const std::string png = dir + "velkaro_claim.png", out = dir + name;
    Bytes rows(16 * 17, 0x80), packed(512);
    for (size_t y = 0; y < 16; ++y)
        rows[y * 17] = 0;  // filter: none
    uLongf packedSize = packed.size();
    compress(packed.data(), &packedSize, rows.data(), uLong(rows.size()));
    packed.resize(packedSize);
    WriteFileBytes(png, Cat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
                             Chunk("IHDR", Cat({B32({16, 16}), {8, 0, 0, 0, 0}})),
                             Chunk("IDAT", packed),
                             Chunk("IEND", {})}));
    bool ok = false;
    RunCommand(tool + " " + arguments + " " + ShellQuote(out) + " " + ShellQuote(png) +
                   " >/dev/null 2>&1; echo done",
               ok);
    Bytes file = ReadFileBytes(out);
    for (size_t i = 0; i + 16 <= file.size(); ++i)
        if (std::memcmp(&file[i], "ispe", 4) == 0)
            for (size_t k = 0; k < 8; ++k)
                file[i + 8 + k] = uint8_t((kSide >> (24 - 8 * (k % 4))) & 0xFF);
    return file;
}

std::vector<TClaim> Claims() {
    const uint32_t s = kSide, m = s - 1;
    Bytes rla = Z(740 + 16);  // window and active window, 3 channels, revision, "rgb", 8 bits
    for (size_t at : {2, 6, 10, 14})
        rla[at] = uint8_t(m >> 8), rla[at + 1] = uint8_t(m);
    rla[21] = 3, rla[26] = 0xFF, rla[27] = 0xFE, rla[659] = 8;
    std::memcpy(&rla[580], "rgb", 3);
    Bytes pcd = Z(3 * 2048 + 16);
    std::memcpy(&pcd[2048], "PCD_IPI", 7);
    Bytes rows(3 * s + 1, 0), packed(rows.size() + 64);
    uLongf n = packed.size();
    compress(packed.data(), &n, rows.data(), rows.size());
    packed.resize(n);
    const Bytes eps = Tiff(8, false);
    return {
        {"TBitmap", s, s, 24, Cat({T("BM"), L32({54, 0, 54, 40, s, s}), L16({1, 24}), Z(30)})},
        // The directory says 256 x 256, the bitmap inside claims more.
        {"TIcon", s, s, 32,
         Cat({L16({0, 1, 1, 0, 0, 1, 32}), L32({56, 22, 40, s, 2 * s}), L16({1, 32}), Z(40)})},
        {"TMetafile", 0, 0, 0,
         Cat({L32({0x9AC6CDD7}), L16({0, 0, 0, 32767, 32767, 1440, 0, 0, 0, 1, 9, 0x300}), Z(12)})},
        {"TJPEGImage", s, s, 24, Jpeg()},
        {"TSVGGraphic", s, s, 32, T("<svg width='8192' height='8192'/>")},
        {"TTargaGraphic", s, s, 24, Cat({Z(2), {2}, Z(9), L16({s, s}), {24, 0x20, 1, 2, 3}})},
        {"TTIFFGraphic", s, s, 24, Tiff(1, false)},
        {"TTIFFGraphic", s, s, 24, Tiff(5, true)},
        {"TEPSGraphic", s, s, 24,
         Cat({L32({0xC6D3D0C5, 0, 0, 0, 0, 30, uint32_t(eps.size())}), Z(2), eps})},
        {"TPCXGraphic", s, s, 24,
         Cat({{10, 5, 1, 8}, Z(4), L16({m, m}), Z(53), {3}, L16({s, 1}), Z(68)})},
        {"TRLAGraphic", s, s, 24, rla},
        {"TSGIGraphic", s, s, 24,
         Cat({B16({474}), {0, 1}, B16({3, s, s, 3}), B32({0, 255}), Z(508)})},
        {"TPSDGraphic", s, s, 24,
         Cat({T("8BPS"), B16({1}), Z(6), B16({3}), B32({s, s}), B16({8, 3}), Z(30)})},
        {"TPPMGraphic", s, s, 24, Cat({T("P6\n8192 8192\n255\n"), Z(16)})},
        {"TAutodeskGraphic", s, s, 8, Cat({L16({0x9119, s, s, 0, 0, 8}), Z(804)})},
        {"TPCDGraphic", 768, 512, 24, pcd},
        {"TCUTGraphic", s, s, 8, Cat({L16({s, s, 0, 4}), {0x81, 7, 0, 0}})},
        {"TPSPGraphic", s, s, 24,
         Cat({T("Paint Shop Pro Image File\n\x1a"), Z(5), L16({5, 0}), T("~BK"), Z(3),
              L32({46, 46, s, s}), Z(11), L16({24}), Z(21)})},
        {"TPNGGraphic", s, s, 24,
         Cat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
              Chunk("IHDR", Cat({B32({s, s}), {8, 2, 0, 0, 0}})),
              Chunk("IDAT", packed)})},
        {"TGIFGraphic", s, s, 32,
         Cat({T("GIF89a"),
              L16({s, s}),
              {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C},
              L16({0, 0, s, s}),
              {0, 2, 2, 0x44, 0x01, 0, 0x3B}})},
        {"TWebPGraphic", s, s, 32,
         Cat({T("RIFF"), L32({28}), T("WEBPVP8L"), L32({16}), {0x2F}, L32({m | m << 14}), Z(11)})},
        // A run chunk stands for 62 pixels at most: refused before the bitmap is made.
        {"TQOIGraphic", s, s, 32, Cat({T("qoif"), B32({s, s}), {4, 0, 0xFD}, Z(7), {1}})},
        // The main header (SIZ, COD, QCD) and a tile part that ends at its SOD.
        {"TJPEG2000Graphic", s, s, 24,
         Cat({B16({0xFF4F, 0xFF51, 47, 0}),
              B32({s, s, 0, 0, s, s, 0, 0}),
              B16({3}),
              {7, 1, 1, 7, 1, 1, 7, 1, 1},
              B16({0xFF52, 12}),
              {0, 0, 0, 1, 0, 5, 4, 4, 0, 1},
              B16({0xFF5C, 19}),
              {0x40},
              Z(16),
              B16({0xFF90, 10, 0, 0, 0, 1, 0xFF93})})},
        // Size header (8192 high, ratio 1:1) and default metadata, then nothing.
        {"TJPEGXLGraphic", s, s, 24, {0xFF, 0x0A, 0xFA, 0xFF, 0x09, 0, 0, 0}},
        {"THEIFGraphic", s, s, 32, ClaimingIspe("heif-enc", "-q 50 -o", "velkaro_claim.heic")},
        {"TAVIFGraphic", s, s, 32, ClaimingIspe("avifenc", "-s 10 -o", "velkaro_claim.avif")},
    };
}

// A value of /proc/self/status in bytes (its lines read "Name:   123 kB").
uint64_t StatusBytes(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(name);
    while (std::getline(status, line))
        if (line.compare(0, n, name) == 0 && line.size() > n && line[n] == ':')
            return std::stoull(line.substr(n + 1)) * 1024;
    return 0;
}

// Loads the file with a graphic of the class in a child process; returns the growth of peak
// resident memory in bytes, or a message why the child failed.
std::string PeakGrowth(const TGraphicClass& graphicClass, const Bytes& file, uint64_t& growth) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(60);
        // Resets the peak to what is resident now (the parent's pages the child shares).
        std::ofstream("/proc/self/clear_refs") << "5";
        const uint64_t before = StatusBytes("VmRSS");
        uint64_t result[2] = {0, 0};
        try {
            std::unique_ptr<TGraphic> graphic = graphicClass.Create();
            TMemoryStream stream(file.data(), int64_t(file.size()));
            graphic->LoadFromStream(stream);
            if (auto* jpeg = dynamic_cast<TJPEGImage*>(graphic.get())) jpeg->Bitmap();
        } catch (const EImagingError&) {
        } catch (...) {
            result[1] = 1;  // anything else is a fault of its own
        }
        result[0] = StatusBytes("VmHWM") - before;
        const bool ok = write(fds[1], result, sizeof result) == sizeof result;
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    uint64_t result[2] = {0, 0};
    const bool read_ok = read(fds[0], result, sizeof result) == sizeof result;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!read_ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child failed";
    if (result[1] != 0) return "an error other than an imaging error";
    growth = result[0];
    return "";
}

}  // namespace

TEST(LoaderMemory, TinyFilesClaimingLargePicturesStayWithinTheBound) {
#ifdef VELKARO_TEST_ASAN
    GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine make resident memory "
                    "meaningless";
#endif
    const bool registered = FileFormatList() != nullptr;
    if (!registered) RegisterImageFormats();
    std::map<std::string, const TGraphicClass*> classes;
    for (int i = 0; i < FileFormatList()->ClassCount(); ++i) {
        const TGraphicClass* graphicClass = FileFormatList()->ClassRecord(i).GraphicClass;
        classes[graphicClass->ClassName] = graphicClass;
    }
    const std::vector<TClaim> claims = Claims();
    for (const auto& [name, graphicClass] : classes)
        EXPECT_TRUE(std::any_of(claims.begin(), claims.end(),
                                [&](const TClaim& c) { return c.className == name; }))
            << name << " needs a file here";
    for (const TClaim& claim : claims) {
        SCOPED_TRACE(claim.className);
        ASSERT_TRUE(classes.count(claim.className)) << "not registered";
        uint64_t growth = 0;
        EXPECT_EQ(PeakGrowth(*classes[claim.className], claim.file, growth), "");
        const uint64_t bitmap = uint64_t(claim.width) * claim.height * claim.bitmapBits / 8;
        EXPECT_LE(growth, 2 * bitmap + claim.file.size() + (uint64_t(32) << 20))
            << claim.file.size() << "-byte file";
    }
    if (!registered) UnregisterImageFormats();
}
