// Photo-CD loader: image and overview files built here with every rotation code, short and
// foreign files, and the public corpus against ImageMagick's Photo YCC samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/formats/PCDGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

constexpr size_t kW = 768, kH = 512, kSector = 2048;
constexpr size_t kDataBytes = kH / 2 * (2 * kW + kW);

// Full-size planes of luminance and the two chrominances, row by row.
struct TYcc {
    Bytes y, c1, c2;
};

// A picture with structure in every plane: half-size chrominance samples as stored.
TYcc StoredPlanes() {
    TYcc p{Bytes(kW * kH), Bytes(kW / 2 * kH / 2), Bytes(kW / 2 * kH / 2)};
    for (size_t r = 0; r < kH; ++r)
        for (size_t x = 0; x < kW; ++x)
            p.y[r * kW + x] = uint8_t((x * 3 + r * 5) / 4);
    for (size_t r = 0; r < kH / 2; ++r)
        for (size_t x = 0; x < kW / 2; ++x) {
            p.c1[r * kW / 2 + x] = uint8_t(100 + (x * 7 + r) % 120);
            p.c2[r * kW / 2 + x] = uint8_t(90 + (x + r * 3) % 110);
        }
    return p;
}

Bytes MakePcd(const TYcc& p, int rotation, bool overview) {
    const size_t dataSector = overview ? 5 : 96;
    Bytes b(dataSector * kSector, 0);
    if (overview) {
        std::memcpy(b.data(), "PCD_OPA", 7);
        b[11] = 3;  // image count
    } else {
        std::memcpy(b.data() + kSector, "PCD_IPI", 7);
    }
    b[3586] = uint8_t(0xFC | rotation);  // only the low two bits are the rotation
    for (size_t g = 0; g < kH / 2; ++g) {
        b.insert(b.end(), p.y.begin() + long(2 * g * kW), p.y.begin() + long((2 * g + 2) * kW));
        b.insert(b.end(), p.c1.begin() + long(g * kW / 2), p.c1.begin() + long((g + 1) * kW / 2));
        b.insert(b.end(), p.c2.begin() + long(g * kW / 2), p.c2.begin() + long((g + 1) * kW / 2));
    }
    return b;
}

// Half-size chrominance doubled as the loader does it (the doubling routine has its own test).
Bytes Doubled(const Bytes& half) {
    Bytes full(kW * kH);
    for (size_t r = 0; r < kH / 2; ++r)
        std::memcpy(full.data() + r * kW, half.data() + r * kW / 2, kW / 2);
    DoublePlane(int(kW / 2), int(kH / 2), int(kW), full.data(), full.size());
    return full;
}

// Photo YCC as this reader shows it: luminance unscaled, chrominance centred on 156 (C1) and
// 137 (C2), weights 0.2125, 0.7154, 0.0721, computed here in double precision.
std::array<int, 3> YccToRgb(int y, int c1, int c2) {
    const double kr = 0.2125, kg = 0.7154, kb = 0.0721;
    const double cr = 2 - 2 * kr, cb = 2 - 2 * kb, gr = kr * cr / kg, gb = kb * cb / kg;
    auto clamp = [](double v) { return int(std::clamp(v, 0.0, 255.0)); };
    const double e1 = c1 - 156, e2 = c2 - 137;
    return {clamp(y + std::nearbyint(cr * e2)),
            clamp(y - std::nearbyint(gb * e1) - std::nearbyint(gr * e2)),
            clamp(y + std::nearbyint(cb * e1))};
}

// Compares the bitmap with the unrotated planes turned by the rotation code. The table entries
// are rounded once each: red and blue may differ by 1 from the double-precision value of the
// test, green (two entries) by 2.
void ExpectPicture(const TBitmap& g, const Bytes& y, const Bytes& c1, const Bytes& c2,
                   int rotation) {
    const bool turned = rotation == 1 || rotation == 3;
    ASSERT_EQ(g.Width(), turned ? int(kH) : int(kW));
    ASSERT_EQ(g.Height(), turned ? int(kW) : int(kH));
    const Bytes rgba = testhelp::BitmapRGBA(g);
    const int tolerance[3] = {1, 2, 1};
    int failures = 0;
    for (size_t r = 0; r < kH; ++r)
        for (size_t x = 0; x < kW; ++x) {
            const size_t i = r * kW + x;
            const auto want = YccToRgb(y[i], c1[i], c2[i]);
            size_t tx = x, ty = r;
            if (rotation == 1) {
                tx = r;
                ty = kW - 1 - x;
            } else if (rotation == 3) {
                tx = kH - 1 - r;
                ty = x;
            }
            const uint8_t* got = &rgba[(ty * size_t(g.Width()) + tx) * 4];
            for (int k = 0; k < 3; ++k)
                if (std::abs(int(got[k]) - want[size_t(k)]) > tolerance[k] && ++failures < 5)
                    ADD_FAILURE() << "source pixel " << x << "," << r << " component " << k << ": "
                                  << int(got[k]) << " expected " << want[size_t(k)];
        }
    EXPECT_EQ(failures, 0);
}

TEST(PCDGraphic, EveryRotationAndOverview) {
    const TYcc p = StoredPlanes();
    const Bytes c1 = Doubled(p.c1), c2 = Doubled(p.c2);
    for (int rotation = 0; rotation < 4; ++rotation)
        for (bool overview : {false, true}) {
            SCOPED_TRACE("rotation " + std::to_string(rotation) + (overview ? " overview" : ""));
            const Bytes file = MakePcd(p, rotation, overview);
            TPCDGraphic g;
            testhelp::LoadBytes(g, file);
            ExpectPicture(g, p.y, c1, c2, rotation);
            const TImageProperties& props = g.ImageProperties();
            EXPECT_EQ(props.PCDRotation, rotation);
            EXPECT_EQ(props.PCDOverview, overview);
            EXPECT_EQ(props.PCDImageCount, overview ? 3 : 0);
            EXPECT_EQ(g.PixelFormat(), pf24bit);
        }
}

TEST(PCDGraphic, PropertiesOfEachResolution) {
    const Bytes file = MakePcd(StoredPlanes(), 1, false);
    for (uint32_t index : {0u, 2u, 3u, 5u, 9u}) {
        TPCDGraphic g;
        TMemoryStream s(file.data(), int64_t(file.size()));
        ASSERT_TRUE(g.ReadProperties(s, index));
        const uint32_t r = std::min(index, 5u);
        // Rotation code 1 exchanges width and height.
        EXPECT_EQ(g.ImageProperties().Width, 128u << r);
        EXPECT_EQ(g.ImageProperties().Height, 192u << r);
        EXPECT_EQ(g.ImageProperties().Compression, r > 2 ? compPCDHuffman : compNone);
        EXPECT_EQ(g.ImageProperties().ColorScheme, schemePhotoYCC);
    }
}

TEST(PCDGraphic, ProbeShortAndForeignFiles) {
    const Bytes file = MakePcd(StoredPlanes(), 0, false);
    auto probe = [](const Bytes& b) {
        TMemoryStream s(b.data(), int64_t(b.size()));
        const bool r = TPCDGraphic::ProbeStream(s);
        EXPECT_EQ(s.Position(), 0);
        return r;
    };
    EXPECT_TRUE(probe(file));
    EXPECT_TRUE(probe(Bytes(file.begin(), file.begin() + 6145)));
    EXPECT_FALSE(probe(Bytes(file.begin(), file.begin() + 6144)));
    Bytes foreign = file;
    foreign[kSector] = 'X';
    EXPECT_FALSE(probe(foreign));
    // A file that is no Photo-CD file is refused with a message rather than shown empty.
    EXPECT_EQ(testhelp::LoadError<TPCDGraphic>(foreign),
              "Cannot load image. Invalid or unexpected PCD image format.");

    // Files that end before the base image is complete: the stream's read error, and nothing
    // is allocated for the planes.
    for (size_t n : {size_t(0), size_t(100), size_t(6143), size_t(6144), size_t(96 * kSector),
                     96 * kSector + kDataBytes / 2, file.size() - 1}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(testhelp::LoadError<TPCDGraphic>(Bytes(file.begin(), file.begin() + long(n))),
                  "other: Stream read error");
    }
}

TEST(PCDGraphic, ProgressStages) {
    TPCDGraphic g;
    std::vector<std::string> messages;
    int rows = 0;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                       const std::string& msg) {
        if (!msg.empty()) messages.push_back(msg);
        if (stage == psRunning && messages.back() == "Transfering...") {
            EXPECT_EQ(percent, rows * 100 / 512);
            ++rows;
        }
    };
    testhelp::LoadBytes(g, MakePcd(StoredPlanes(), 0, false));
    const std::vector<std::string> expected = {"Preparing...", "Loading data...", "Upsampling...",
                                               "Transfering..."};
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(rows, 512);
}

// hopper.pcd against ImageMagick: with the colour space left as stored, ImageMagick writes
// the luminance and its doubled chrominance samples; the Photo YCC conversion of this reader
// is then applied here (tolerances as for the built files).
TEST(PCDGraphic, CorpusConformance) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    const fs::path path = root / "hopper.pcd";
    if (!fs::exists(path)) GTEST_SKIP() << "hopper.pcd absent";
    TPCDGraphic g;
    g.LoadFromFile(path.string());
    if (!testhelp::HaveTool("convert")) GTEST_SKIP() << "ImageMagick absent";
    bool ok = false;
    const testhelp::TPnm pnm = testhelp::ParsePnm(
        testhelp::RunCommand("convert " + testhelp::ShellQuote(path.string()) +
                                 " -set colorspace sRGB -depth 8 pam:- 2>/dev/null",
                             ok));
    if (!ok || !pnm.valid) GTEST_SKIP() << "ImageMagick cannot read Photo-CD files here";
    ASSERT_EQ(pnm.width, int(kW));
    ASSERT_EQ(pnm.height, int(kH));
    Bytes y(kW * kH), c1(kW * kH), c2(kW * kH);
    for (size_t r = 0; r < kH; ++r)
        for (size_t x = 0; x < kW; ++x) {
            y[r * kW + x] = uint8_t(pnm.Sample(int(x), int(r), 0));
            c1[r * kW + x] = uint8_t(pnm.Sample(int(x), int(r), 1));
            c2[r * kW + x] = uint8_t(pnm.Sample(int(x), int(r), 2));
        }
    ExpectPicture(g, y, c1, c2, g.ImageProperties().PCDRotation);
}

}  // namespace
