// Memory follows the file, not the header: every registered loader, given a tiny file whose
// header claims a large picture, stays within twice the bitmap plus the file plus 32 MiB of
// peak resident memory, measured in a child process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
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

struct TClaim {
    const char* className;
    uint32_t width, height, bitmapBits;  // the bitmap the header asks for
    std::function<Bytes()> file;
};

Bytes Zeros(size_t n) {
    return Bytes(n, 0);
}

// The pieces of a PNG chunk: length, type, data, CRC.
void PutChunk(Bytes& b, const char* type, const Bytes& data) {
    Put32BE(b, uint32_t(data.size()));
    Bytes typed(type, type + 4);
    PutBytes(typed, data);
    PutBytes(b, typed);
    Put32BE(b, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

// A TIFF of 16-bit RGB in one strip or one tile, of which the file holds 6 bytes.
Bytes Tiff(uint32_t compression, bool tiled) {
    Bytes b;
    PutText(b, "II");
    Put16LE(b, 42);
    Put32LE(b, 14);
    PutBytes(b, Zeros(6));
    // The loader sorts the directory.
    std::vector<std::vector<uint32_t>> tags = {{256, 4, kSide},       {257, 4, kSide}, {258, 3, 16},
                                               {259, 3, compression}, {262, 3, 2},     {277, 3, 3}};
    if (tiled)
        tags.insert(tags.end(), {{322, 4, kSide}, {323, 4, kSide}, {324, 4, 8}, {325, 4, 6}});
    else
        tags.insert(tags.end(), {{273, 4, 8}, {279, 4, 6}});
    Put16LE(b, uint32_t(tags.size()));
    for (const auto& t : tags) {
        Put16LE(b, t[0]);
        Put16LE(b, t[1]);
        Put32LE(b, 1);
        Put32LE(b, t[2]);
    }
    Put32LE(b, 0);
    return b;
}

std::vector<TClaim> Claims() {
    const uint32_t s = kSide;
    return {
        {"TBitmap", s, s, 24,
         [s] {
             Bytes b;
             PutText(b, "BM");
             for (uint32_t v : {54u, 0u, 54u, 40u, s, s})
                 Put32LE(b, v);
             Put16LE(b, 1);
             Put16LE(b, 24);
             PutBytes(b, Zeros(30));
             return b;
         }},
        {"TIcon", 256, 256, 32,
         [] {
             Bytes b;
             for (uint32_t v : {0u, 1u, 1u, 0u, 0u, 1u, 32u})
                 Put16LE(b, v);
             for (uint32_t v : {56u, 22u, 40u, kSide, 2 * kSide})
                 Put32LE(b, v);
             Put16LE(b, 1);
             Put16LE(b, 32);
             PutBytes(b, Zeros(40));
             return b;
         }},
        {"TMetafile", 0, 0, 0,
         [] {
             Bytes b;
             Put32LE(b, 0x9AC6CDD7);
             for (uint32_t v : {0u, 0u, 0u, 32767u, 32767u, 1440u, 0u, 0u, 0u, 1u, 9u, 0x300u})
                 Put16LE(b, v);
             PutBytes(b, Zeros(12));
             return b;
         }},
        {"TJPEGImage", s, s, 24,
         [s] {
             // A small JPEG whose frame header is made to claim the large size.
             TBitmap small;
             small.SetPixelFormat(pf24bit);
             small.SetSize(16, 16);
             TJPEGImage jpeg;
             jpeg.Assign(small);
             TMemoryStream out;
             jpeg.SaveToStream(out);
             Bytes b(out.Memory(), out.Memory() + out.Size());
             for (size_t i = 2; i + 9 < b.size(); ++i)
                 if (b[i] == 0xFF && b[i + 1] == 0xC0) {
                     b[i + 5] = b[i + 7] = uint8_t(s >> 8);
                     b[i + 6] = b[i + 8] = uint8_t(s);
                     break;
                 }
             b.resize(b.size() - 2);  // no end marker
             return b;
         }},
        {"TTargaGraphic", s, s, 24,
         [s] {
             Bytes b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
             Put16LE(b, s);
             Put16LE(b, s);
             PutBytes(b, {24, 0x20, 1, 2, 3});
             return b;
         }},
        {"TTIFFGraphic", s, s, 24, [] { return Tiff(1, false); }},
        {"TTIFFGraphic", s, s, 24, [] { return Tiff(5, true); }},
        {"TEPSGraphic", s, s, 24,
         [] {
             const Bytes tiff = Tiff(8, false);
             Bytes b;
             for (uint32_t v : {0xC6D3D0C5u, 0u, 0u, 0u, 0u, 30u, uint32_t(tiff.size())})
                 Put32LE(b, v);
             Put16LE(b, 0xFFFF);
             PutBytes(b, tiff);
             return b;
         }},
        {"TPCXGraphic", s, s, 24,
         [s] {
             Bytes b = {10, 5, 1, 8, 0, 0, 0, 0};
             Put16LE(b, s - 1);
             Put16LE(b, s - 1);
             PutBytes(b, Zeros(53));
             Put8(b, 3);
             Put16LE(b, s);
             Put16LE(b, 1);
             PutBytes(b, Zeros(60 + 8));
             return b;
         }},
        {"TRLAGraphic", s, s, 24,
         [s] {
             Bytes b = Zeros(740 + 16);
             for (size_t at : {size_t(2), size_t(10)}) {
                 b[at] = uint8_t((s - 1) >> 8);
                 b[at + 1] = uint8_t(s - 1);
                 b[at + 4] = uint8_t((s - 1) >> 8);
                 b[at + 5] = uint8_t(s - 1);
             }
             b[21] = 3;                   // channels
             b[26] = 0xFF, b[27] = 0xFE;  // revision
             std::memcpy(&b[580], "rgb", 3);
             b[659] = 8;  // bits
             return b;
         }},
        {"TSGIGraphic", s, s, 24,
         [s] {
             Bytes b;
             Put16BE(b, 474);
             PutBytes(b, {0, 1});
             for (uint32_t v : {3u, s, s, 3u})
                 Put16BE(b, v);
             Put32BE(b, 0);
             Put32BE(b, 255);
             PutBytes(b, Zeros(512 - 20 + 16));
             return b;
         }},
        {"TPSDGraphic", s, s, 24,
         [s] {
             Bytes b;
             PutText(b, "8BPS");
             Put16BE(b, 1);
             PutBytes(b, Zeros(6));
             Put16BE(b, 3);
             Put32BE(b, s);
             Put32BE(b, s);
             Put16BE(b, 8);
             Put16BE(b, 3);
             PutBytes(b, Zeros(12 + 2 + 16));
             return b;
         }},
        {"TPPMGraphic", s, s, 24,
         [] {
             Bytes b;
             PutText(b, "P6\n8192 8192\n255\n");
             PutBytes(b, Zeros(16));
             return b;
         }},
        {"TAutodeskGraphic", s, s, 8,
         [s] {
             Bytes b;
             for (uint32_t v : {0x9119u, s, s, 0u, 0u, 8u})
                 Put16LE(b, v);
             PutBytes(b, Zeros(20 + 768 + 16));
             return b;
         }},
        {"TPCDGraphic", 768, 512, 24,
         [] {
             Bytes b = Zeros(3 * 2048 + 16);
             std::memcpy(&b[2048], "PCD_IPI", 7);
             return b;
         }},
        {"TCUTGraphic", s, s, 8,
         [s] {
             Bytes b;
             for (uint32_t v : {s, s, 0u, 4u})
                 Put16LE(b, v);
             PutBytes(b, {0x81, 7, 0, 0});
             return b;
         }},
        {"TPSPGraphic", s, s, 24,
         [s] {
             Bytes b;
             PutText(b, "Paint Shop Pro Image File\n\x1a");
             PutBytes(b, Zeros(5));
             Put16LE(b, 5);
             Put16LE(b, 0);
             PutText(b, "~BK");
             PutBytes(b, Zeros(3));
             Put32LE(b, 46);
             Put32LE(b, 46);
             Put32LE(b, s);
             Put32LE(b, s);
             PutBytes(b, Zeros(11));
             Put16LE(b, 24);  // bits at 19
             PutBytes(b, Zeros(21));
             return b;
         }},
        {"TPNGGraphic", s, s, 24,
         [s] {
             Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
             Bytes header;
             Put32BE(header, s);
             Put32BE(header, s);
             PutBytes(header, {8, 2, 0, 0, 0});
             PutChunk(b, "IHDR", header);
             Bytes rows(3 * s + 1, 0), packed(rows.size() + 64);
             uLongf n = packed.size();
             compress(packed.data(), &n, rows.data(), rows.size());
             packed.resize(n);
             PutChunk(b, "IDAT", packed);
             return b;
         }},
        {"TGIFGraphic", s, s, 32,
         [s] {
             Bytes b;
             PutText(b, "GIF89a");
             Put16LE(b, s);
             Put16LE(b, s);
             PutBytes(b, {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C});
             for (uint32_t v : {0u, 0u, s, s})
                 Put16LE(b, v);
             PutBytes(b, {0, 2, 2, 0x44, 0x01, 0, 0x3B});
             return b;
         }},
        {"TWebPGraphic", s, s, 32,
         [s] {
             Bytes b;
             PutText(b, "RIFF");
             Put32LE(b, 4 + 8 + 16);
             PutText(b, "WEBPVP8L");
             Put32LE(b, 16);
             Put8(b, 0x2F);
             Put32LE(b, (s - 1) | (s - 1) << 14);
             PutBytes(b, Zeros(11));
             return b;
         }},
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
    const TFileFormatList& list = *FileFormatList();
    const std::vector<TClaim> claims = Claims();
    for (int i = 0; i < list.ClassCount(); ++i) {
        const char* name = list.ClassRecord(i).GraphicClass->ClassName;
        EXPECT_TRUE(
            std::any_of(claims.begin(), claims.end(),
                        [&](const TClaim& c) { return std::strcmp(c.className, name) == 0; }))
            << name << " needs a file here";
    }
    for (const TClaim& claim : claims) {
        SCOPED_TRACE(claim.className);
        const TGraphicClass* graphicClass = nullptr;
        for (int i = 0; i < list.ClassCount(); ++i)
            if (std::strcmp(list.ClassRecord(i).GraphicClass->ClassName, claim.className) == 0)
                graphicClass = list.ClassRecord(i).GraphicClass;
        ASSERT_NE(graphicClass, nullptr) << "not registered";
        const Bytes file = claim.file();
        uint64_t growth = 0;
        EXPECT_EQ(PeakGrowth(*graphicClass, file, growth), "");
        const uint64_t bitmap = uint64_t(claim.width) * claim.height * claim.bitmapBits / 8;
        EXPECT_LE(growth, 2 * bitmap + file.size() + (uint64_t(32) << 20))
            << file.size() << "-byte file";
    }
    if (!registered) UnregisterImageFormats();
}
