#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/FormatGraphic.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/Metafile.h"
#include "imaging/formats/TargaGraphic.h"

namespace {

// A format with a signature "SIG" whose loader throws half-way, to see the stream binding go.
class TSigGraphic : public TFormatGraphic {
  public:
    static bool ProbeStream(TStream& stream) {
        const int64_t pos = stream.Position();
        char sig[3] = {};
        const bool ok = stream.Read(sig, 3) == 3 && std::memcmp(sig, "SIG", 3) == 0;
        stream.SetPosition(pos);
        return ok;
    }
    static const TGraphicClass& ClassInfo() {
        static const TGraphicClass info{"TSigGraphic",
                                        [] { return std::make_unique<TSigGraphic>(); },
                                        &TSigGraphic::ProbeStream, &TFormatGraphic::ClassInfo()};
        return info;
    }
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    void LoadFromStream(TStream& stream) override {
        TLoadScope scope(*this, stream);
        seenStream = Stream();
        seenStart = StartPosition();
        RaiseInvalidGraphicFmt(imsg::InvalidImage, "SIG");
    }
    TStream* seenStream = nullptr;
    int64_t seenStart = -1;
};

TImageProperties FilledProperties() {
    TImageProperties p;
    p.Version = 42;
    p.Options = optBigEndian | optTiled;
    p.Width = 640;
    p.Height = 480;
    p.ColorScheme = schemeRGB;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.BitsPerPixel = 24;
    p.Compression = compLZW;
    p.Gamma = 0.45f;
    p.XResolution = 72;
    p.Interlaced = true;
    p.RowsPerStrip = {16, 16, 8};
    p.YCbCrSubsampling = {2, 1};
    p.JPEGTables = {0xFF, 0xD8};
    p.JPEGTablesMode = 3;
    p.PCDImageCount = 7;
    p.PNGFilterMode = 1;
    return p;
}

}  // namespace

TEST(FormatGraphic, ReadPropertiesOfTheBaseResetsTheRecord) {
    TFormatGraphic graphic;
    graphic.ImageProperties() = FilledProperties();
    TMemoryStream stream;
    EXPECT_FALSE(graphic.ReadProperties(stream, 0));
    const TImageProperties& p = graphic.ImageProperties();
    EXPECT_EQ(p, TImageProperties{});
    EXPECT_EQ(p.Gamma, 1.0f);
    EXPECT_EQ(p.Width, 0u);
    EXPECT_EQ(p.Options, 0);
    EXPECT_TRUE(p.RowsPerStrip.empty());
    EXPECT_TRUE(p.YCbCrSubsampling.empty());
    EXPECT_TRUE(p.JPEGTables.empty());
    EXPECT_EQ(p.JPEGTablesMode, 0u);
}

TEST(FormatGraphic, AssignTakesPropertiesOnlyFromFormatGraphics) {
    TFormatGraphic target;
    const TImageProperties original = FilledProperties();
    target.ImageProperties() = original;

    TBitmap plain;
    plain.SetSize(4, 3);
    target.Assign(plain);
    EXPECT_EQ(target.ImageProperties(), original);
    EXPECT_EQ(target.Width(), 4);
    EXPECT_EQ(target.Height(), 3);

    TSigGraphic other;
    other.SetPixelFormat(pf8bit);
    other.SetSize(2, 5);
    other.ImageProperties().Version = 7;
    other.ImageProperties().RowsPerStrip = {5};
    target.Assign(other);
    EXPECT_EQ(target.ImageProperties(), other.ImageProperties());
    EXPECT_EQ(target.Width(), 2);
    EXPECT_EQ(target.PixelFormat(), pf8bit);

    // A graphic that is not a bitmap and cannot give one is refused and changes nothing.
    struct TOther : TGraphic {
        const TGraphicClass& ClassType() const override { return TMetafile::ClassInfo(); }
        int Width() const override { return 1; }
        int Height() const override { return 1; }
        bool Empty() const override { return false; }
        void LoadFromStream(TStream&) override {}
    } other2;
    EXPECT_THROW(target.Assign(other2), EInvalidGraphic);
    EXPECT_EQ(target.ImageProperties().Version, 7u);
}

TEST(FormatGraphic, DescriptorsProbesAndStreamBinding) {
    EXPECT_EQ(TFormatGraphic::ClassInfo().Parent, &TBitmap::ClassInfo());
    EXPECT_TRUE(TSigGraphic::ClassInfo().InheritsFrom(&TBitmap::ClassInfo()));
    TFormatGraphic base;
    EXPECT_EQ(base.ColorManager().SourceScheme(), schemeRGB);
    EXPECT_EQ(base.Stream(), nullptr);

    const auto file = std::filesystem::temp_directory_path() / "velkaro_probe_test.sig";
    std::ofstream(file, std::ios::binary) << "SIG and more";
    EXPECT_TRUE(TFormatGraphic::ProbeFile(file.string(), TSigGraphic::ClassInfo()));
    EXPECT_FALSE(TFormatGraphic::ProbeFile(file.string()));
    std::filesystem::remove(file);
    EXPECT_THROW(TFormatGraphic::ProbeFile(file.string(), TSigGraphic::ClassInfo()), EFOpenError);

    const uint8_t bytes[] = {'x', 'S', 'I', 'G'};
    TMemoryStream stream(bytes, sizeof bytes);
    stream.SetPosition(1);
    EXPECT_TRUE(TSigGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 1);

    TSigGraphic graphic;
    try {
        graphic.LoadFromStream(stream);
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. Invalid or unexpected SIG image format.");
    }
    EXPECT_EQ(graphic.seenStream, &stream);
    EXPECT_EQ(graphic.seenStart, 1);
    EXPECT_EQ(graphic.Stream(), nullptr);
}

namespace {

// Plane doubling computed out of place, straight from its definition.
std::vector<uint8_t> DoubledReference(const std::vector<uint8_t>& in, int w, int h) {
    auto mean = [](int a, int b) { return uint8_t((a + b + 1) / 2); };
    std::vector<uint8_t> out(size_t(4 * w * h));
    auto at = [&](int r, int c) -> uint8_t& { return out[size_t(r * 2 * w + c)]; };
    for (int r = 0; r < h; ++r)
        for (int i = 0; i < w; ++i) {
            at(2 * r, 2 * i) = in[size_t(r * w + i)];
            at(2 * r, 2 * i + 1) = i + 1 < w
                                       ? mean(in[size_t(r * w + i)], in[size_t(r * w + i + 1)])
                                       : in[size_t(r * w + i)];
        }
    for (int r = 0; r + 1 < h; ++r)
        for (int c = 0; c < 2 * w; ++c) {
            const int a = at(2 * r, c), b = at(2 * r + 2, c);
            if (c % 2 == 0 || c == 2 * w - 1)
                at(2 * r + 1, c) = mean(a, b);
            else
                at(2 * r + 1, c) = uint8_t((at(2 * r, c - 1) + at(2 * r, c + 1) +
                                            at(2 * r + 2, c - 1) + at(2 * r + 2, c + 1) + 2) /
                                           4);
        }
    for (int c = 0; c < 2 * w; ++c)
        at(2 * h - 1, c) = at(2 * h - 2, c);
    return out;
}

}  // namespace

// A loader stand-in that reports row progress the way the format loaders do.
class TRowLoader : public TFormatGraphic {
  public:
    void LoadFromStream(TStream&) override {
        StartRowProgress(5, imsg::Transfering);
        TProgressGuard progress(*this);
        for (uint32_t y = 0; y < rows; ++y)
            RowProgress(y, 4);
        if (rows < 4) throw EInvalidGraphic("cut short");
        progress.End();  // reported once: the guard is silent after it
    }
    uint32_t rows = 4;
};

TEST(FormatGraphic, RowProgressMovesDownAndEndsAlsoOnFailure) {
    for (uint32_t rows : {4u, 2u}) {
        TRowLoader g;
        g.rows = rows;
        std::vector<std::string> events;
        g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                           const std::string& msg) {
            events.push_back(std::to_string(int(stage)) + " " + std::to_string(percent) + " " +
                             std::to_string(r.Top) + "-" + std::to_string(r.Bottom) + " " +
                             std::to_string(r.Right) + " " + msg);
        };
        TMemoryStream none;
        if (rows == 4) {
            g.LoadFromStream(none);
            EXPECT_EQ(events, (std::vector<std::string>{"0 0 0-1 5 Transfering...", "1 0 0-1 5 ",
                                                        "1 25 1-2 5 ", "1 50 2-3 5 ", "1 75 3-4 5 ",
                                                        "2 0 4-5 5 "}));
        } else {
            EXPECT_THROW(g.LoadFromStream(none), EInvalidGraphic);
            ASSERT_EQ(events.size(), 4u);
            EXPECT_EQ(events.back(), "2 0 2-3 5 ");
        }
    }
}

TEST(ImagingRoutines, ByteOrderReaders) {
    const uint8_t b[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(GetU16LE(b), 0x3412);
    EXPECT_EQ(GetU16BE(b), 0x1234);
    EXPECT_EQ(GetU32LE(b), 0x78563412u);
    EXPECT_EQ(GetU32BE(b), 0x12345678u);
    EXPECT_EQ(GetU32(b, true), GetU32BE(b));
    EXPECT_EQ(GetU16(b, false), GetU16LE(b));
}

TEST(ImagingRoutines, DoublePlaneSmallExample) {
    // Rows (10, 20) and (30, 40), stride 4, four rows of room.
    std::vector<uint8_t> buffer = {10, 20, 0, 0, 30, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    DoublePlane(2, 2, 4, buffer.data(), buffer.size());
    EXPECT_EQ(buffer, (std::vector<uint8_t>{10, 15, 20, 20, 20, 25, 30, 30, 30, 35, 40, 40, 30, 35,
                                            40, 40}));
}

TEST(ImagingRoutines, DoublePlaneInPlaceMatchesTheDefinition) {
    std::mt19937 random(7);
    for (auto [w, h, stride] : {std::tuple{5, 4, 12}, std::tuple{3, 7, 6}, std::tuple{1, 1, 2}}) {
        std::vector<uint8_t> plane(size_t(w * h));
        for (uint8_t& v : plane)
            v = uint8_t(random());
        std::vector<uint8_t> buffer(size_t(2 * h * stride), 0xEE);
        for (int r = 0; r < h; ++r)
            std::memcpy(&buffer[size_t(r * stride)], &plane[size_t(r * w)], size_t(w));
        DoublePlane(w, h, stride, buffer.data(), buffer.size());
        const std::vector<uint8_t> expected = DoubledReference(plane, w, h);
        for (int r = 0; r < 2 * h; ++r)
            for (int c = 0; c < stride; ++c) {
                const uint8_t want = c < 2 * w ? expected[size_t(r * 2 * w + c)] : 0xEE;
                ASSERT_EQ(buffer[size_t(r * stride + c)], want)
                    << w << "x" << h << " r" << r << " c" << c;
            }
    }
    std::vector<uint8_t> small(15);
    EXPECT_THROW(DoublePlane(2, 2, 4, small.data(), small.size()), std::invalid_argument);
    EXPECT_THROW(DoublePlane(3, 2, 5, small.data(), 100), std::invalid_argument);
}

TEST(ImagingRoutines, UndoDifferencing) {
    std::vector<uint8_t> gray = {1, 1, 1, 1, 200, 100, 9};
    UndoDifferencing1(gray.data(), 5);
    EXPECT_EQ(gray, (std::vector<uint8_t>{1, 2, 3, 4, 204, 48, 9}));

    std::vector<uint8_t> rgb = {10, 20, 30, 1, 2, 3, 250, 250, 250, 7, 7, 7};
    UndoDifferencing3(rgb.data(), 2);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{10, 20, 30, 11, 22, 33, 5, 16, 27, 7, 7, 7}));

    // Sums that wrap must not carry into the next sample.
    std::vector<uint8_t> rgba = {1, 2, 255, 128, 1, 255, 1, 128, 9};
    UndoDifferencing4(rgba.data(), 1);
    EXPECT_EQ(rgba, (std::vector<uint8_t>{1, 2, 255, 128, 2, 1, 0, 0, 9}));

    UndoDifferencing1(gray.data(), 0);  // one pixel: nothing to undo
    EXPECT_EQ(gray[1], 2);
}

TEST(ImagingRoutines, SwapsAndRaising) {
    uint8_t words[7] = {0, 1, 2, 3, 4, 5, 6};
    SwapWords(words + 1, 3);  // not aligned
    EXPECT_EQ(std::vector<uint8_t>(words, words + 7), (std::vector<uint8_t>{0, 2, 1, 4, 3, 6, 5}));
    uint8_t dwords[9] = {9, 1, 2, 3, 4, 5, 6, 7, 8};
    SwapDWords(dwords + 1, 2);
    EXPECT_EQ(std::vector<uint8_t>(dwords, dwords + 9),
              (std::vector<uint8_t>{9, 4, 3, 2, 1, 8, 7, 6, 5}));
    static_assert(SwapDWord(0x11223344u) == 0x44332211u);
    EXPECT_EQ(SwapDWord(0xA0B0C0D0u), 0xD0C0B0A0u);

    try {
        RaiseInvalidGraphicFmt(imsg::UnsupportedFeature, imsg::CompressionScheme, "TIFF");
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(),
                     "Cannot load image. The compression scheme is not supported for TIFF files.");
    }
    EXPECT_THROW(RaiseInvalidGraphic("plain"), EInvalidGraphic);
    EXPECT_EQ(FormatMessage(imsg::RegistrationError, "png"), "Attempt to register png twice.");
}

// No registered loader writes another format under its name: those that cannot write their own
// refuse, naming the format, and leave an existing file untouched; Targa writes Targa.
TEST(FormatGraphic, LoadersThatCannotWriteRefuseToSave) {
    namespace fs = std::filesystem;
    RegisterImageFormats();
    const fs::path file = fs::temp_directory_path() / "velkaro_save_refusal.bin";
    int refused = 0;
    for (int i = 0; i < FileFormatList()->ClassCount(); ++i) {
        const TGraphicClass& info = *FileFormatList()->ClassRecord(i).GraphicClass;
        if (!info.InheritsFrom(&TFormatGraphic::ClassInfo())) continue;
        SCOPED_TRACE(info.ClassName);
        std::unique_ptr<TGraphic> graphic = info.Create();
        auto& bitmap = dynamic_cast<TFormatGraphic&>(*graphic);
        bitmap.SetSize(3, 2);
        std::ofstream(file, std::ios::binary) << "keep";
        if (&info == &TTargaGraphic::ClassInfo()) {
            bitmap.SaveToFile(file.string());
            TFileStream saved(file.string());
            EXPECT_TRUE(TTargaGraphic::ProbeStream(saved));
            continue;
        }
        const std::string name = bitmap.FormatName();
        EXPECT_EQ("T" + name + "Graphic", info.ClassName);  // "PCX", "PSD", "PNG", ...
        try {
            bitmap.SaveToFile(file.string());
            ADD_FAILURE() << "saved";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot save image. Writing " + name + " files is not supported.");
        }
        EXPECT_EQ(fs::file_size(file), 4u);
        ++refused;
    }
    EXPECT_GE(refused, 10);
    fs::remove(file);
    UnregisterImageFormats();
}
