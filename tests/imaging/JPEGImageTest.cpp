// TJPEGImage against the pictures djpeg (same libjpeg) made of our own JPEG fixtures; see
// tests/data/jpeg/make_fixtures.sh.
#include <gtest/gtest.h>
#include <atomic>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/JPEGImage.h"

namespace {

std::filesystem::path Fixture(const std::string& name) {
    return testdata::fixtures() / "jpeg" / name;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A binary PPM (P6) or PGM (P5) fixture with maxval 255 as 8-bit RGB triples.
struct TPnm {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

TPnm ReadPnm(const std::filesystem::path& path) {
    const testhelp::TPnm file = testhelp::ReadPnm(path);
    TPnm pnm{file.width, file.height, {}};
    for (size_t i = 0; i < file.samples.size(); i += size_t(file.depth))
        for (int k = 0; k < 3; ++k)
            pnm.rgb.push_back(uint8_t(file.samples[i + (file.depth == 3 ? size_t(k) : 0)]));
    return pnm;
}

// The bitmap as RGB triples (palette expanded).
std::vector<uint8_t> BitmapRGB(const TBitmap& bmp) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < bmp.Height(); ++y) {
        const uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < bmp.Width(); ++x) {
            if (bmp.PixelFormat() == pf8bit) {
                const TRGBQuad q = bmp.Palette().at(row[x]);
                rgb.insert(rgb.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
            } else {
                rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
            }
        }
    }
    return rgb;
}

void ExpectPixels(const TBitmap& bmp, const std::string& expected) {
    const TPnm pnm = ReadPnm(Fixture(expected));
    ASSERT_EQ(bmp.Width(), pnm.width);
    ASSERT_EQ(bmp.Height(), pnm.height);
    EXPECT_TRUE(BitmapRGB(bmp) == pnm.rgb) << expected;
}

void Load(TJPEGImage& jpeg, const std::string& name) {
    jpeg.LoadFromFile(Fixture(name).string());
}

void LoadBytes(TJPEGImage& jpeg, const std::vector<uint8_t>& bytes) {
    TMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    jpeg.LoadFromStream(stream);
}

// A library error by its number, or bytes that are no JPEG file said in words.
bool IsJpegError(const std::string& message) {
    return std::regex_match(message, std::regex("JPEG error #[0-9]+|Empty input file|Not a JPEG "
                                                "file: starts with 0x[0-9a-f]{2} 0x[0-9a-f]{2}"));
}

// A fake millisecond clock that moves 600 ms per reading, so every progress call passes the
// 500 ms pacing.
uint64_t gFakeTicks = 0;
uint64_t FakeTicks() {
    return gFakeTicks += 600;
}

struct TProgressRecord {
    TProgressStage stage;
    int percent;
    bool redraw;
    TRect rect;
};

}  // namespace

TEST(JPEGImage, HeaderOnlyUntilPixelsAreNeeded) {
    TJPEGImage jpeg;
    EXPECT_TRUE(jpeg.Empty());
    Load(jpeg, "colour.jpg");
    EXPECT_FALSE(jpeg.HasBitmap());
    EXPECT_EQ(jpeg.Width(), 67);
    EXPECT_EQ(jpeg.Height(), 45);
    EXPECT_FALSE(jpeg.Grayscale());
    EXPECT_FALSE(jpeg.Options().ProgressiveSave);
    EXPECT_FALSE(jpeg.HasBitmap());

    // Reduced scales: the library's rounded-up sizes, before any decoding.
    const int sizes[4][2] = {{67, 45}, {34, 23}, {17, 12}, {9, 6}};
    for (uint8_t n = 0; n < 4; ++n) {
        jpeg.SetScalePower(n);
        EXPECT_EQ(jpeg.Width(), sizes[n][0]) << int(n);
        EXPECT_EQ(jpeg.Height(), sizes[n][1]) << int(n);
    }
    EXPECT_FALSE(jpeg.HasBitmap());
    jpeg.SetScalePower(2);
    EXPECT_EQ(jpeg.Bitmap().Width(), 17);
    EXPECT_EQ(jpeg.Bitmap().Height(), 12);
}

TEST(JPEGImage, ColourProgressiveAndGrayMatchDjpeg) {
    {
        TJPEGImage jpeg;
        Load(jpeg, "colour.jpg");
        EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf24bit);
        ExpectPixels(jpeg.Bitmap(), "colour.ppm");
    }
    {
        TJPEGImage jpeg;
        Load(jpeg, "progressive.jpg");
        EXPECT_TRUE(jpeg.Options().ProgressiveSave);
        ExpectPixels(jpeg.Bitmap(), "progressive.ppm");
    }
    {
        // Gray files give 8-bit output with a grey palette even without EightBitOutput.
        TJPEGImage jpeg;
        Load(jpeg, "gray.jpg");
        EXPECT_TRUE(jpeg.Grayscale());
        const TBitmap& bmp = jpeg.Bitmap();
        EXPECT_EQ(bmp.PixelFormat(), pf8bit);
        EXPECT_LE(bmp.Palette().size(), 236u);
        EXPECT_GT(bmp.Palette().size(), 200u);
        for (const TRGBQuad& q : bmp.Palette()) {
            EXPECT_EQ(q.rgbRed, q.rgbGreen);
            EXPECT_EQ(q.rgbRed, q.rgbBlue);
        }
        ExpectPixels(bmp, "gray.pgm");
    }
}

TEST(JPEGImage, DecodingOptionsMatchDjpeg) {
    TJPEGImage jpeg;
    Load(jpeg, "colour.jpg");
    jpeg.SetScalePower(1);
    ExpectPixels(jpeg.Bitmap(), "colour_half.ppm");

    jpeg.SetScalePower(0);  // drops the bitmap: decoded again at full size
    EXPECT_FALSE(jpeg.HasBitmap());
    jpeg.SetFastDecode(true);
    ExpectPixels(jpeg.Bitmap(), "colour_fast.ppm");

    jpeg.SetFastDecode(false);
    jpeg.SetGrayOutput(true);
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf8bit);
    ExpectPixels(jpeg.Bitmap(), "colour_gray.pgm");
}

TEST(JPEGImage, ShowScansEndsWithTheFinalPicture) {
    TJPEGImage jpeg;
    jpeg.SetShowScans(true);
    Load(jpeg, "progressive.jpg");
    ExpectPixels(jpeg.Bitmap(), "progressive.ppm");
    // Eight-bit output: the early scans are quantized in one pass, the last one again with two.
    jpeg.SetEightBitOutput(true);
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf8bit);
    ExpectPixels(jpeg.Bitmap(), "progressive_236.ppm");
}

// A progressive file hands out its first scan once, at the size of the finished picture, and
// finishes with the same pixels as without it; a baseline file and 8-bit output hand out none,
// nor does a progressive one at 1/8 (made from its DC scans at once). A cancel raised when the
// first scan arrives stops the reading of the other scans.
TEST(JPEGImage, AFirstScanIsHandedOutBeforeTheFinalPicture) {
    struct TCase {
        const char* file;
        uint8_t scalePower;
        bool eightBit;
        bool cancel;
        int firstScans;
        const char* expected;  // the finished picture, as djpeg made it (null: not compared)
    };
    const TCase cases[] = {
        {"progressive.jpg", 0, false, false, 1, "progressive.ppm"},
        {"progressive.jpg", 3, false, false, 0, nullptr},
        {"progressive.jpg", 0, true, false, 0, "progressive_236.ppm"},
        {"colour.jpg", 0, false, false, 0, "colour.ppm"},
        {"progressive.jpg", 0, false, true, 1, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " 1/" + std::to_string(1 << c.scalePower));
        std::atomic<bool> cancel{false};
        TJPEGImage plain;
        Load(plain, c.file);
        plain.SetScalePower(c.scalePower);
        TJPEGImage jpeg;
        jpeg.SetCancelFlag(&cancel);
        Load(jpeg, c.file);
        jpeg.SetScalePower(c.scalePower);
        jpeg.SetEightBitOutput(c.eightBit);
        int firstScans = 0;
        jpeg.OnFirstScan = [&](std::unique_ptr<TBitmap> first) {
            ++firstScans;
            ASSERT_NE(first, nullptr);
            EXPECT_EQ(first->Width(), plain.Width());
            EXPECT_EQ(first->Height(), plain.Height());
            cancel = c.cancel;
        };
        int endPercent = -1;
        jpeg.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                              const std::string&) {
            if (stage == psEnding) endPercent = percent;
        };
        jpeg.DIBNeeded();
        EXPECT_EQ(firstScans, c.firstScans);
        EXPECT_EQ(endPercent, c.cancel ? 0 : 100);
        if (c.expected != nullptr) ExpectPixels(jpeg.Bitmap(), c.expected);
        if (!c.cancel && !c.eightBit) {
            EXPECT_TRUE(BitmapRGB(jpeg.Bitmap()) == BitmapRGB(plain.Bitmap()));
        }
    }
}

TEST(JPEGImage, EightBitOutputQuantizesTo236ColoursOrToAGivenPalette) {
    TJPEGImage jpeg;
    jpeg.SetEightBitOutput(true);
    Load(jpeg, "colour.jpg");
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf8bit);
    EXPECT_EQ(jpeg.Bitmap().Palette().size(), 236u);
    ExpectPixels(jpeg.Bitmap(), "colour_236.ppm");
    jpeg.SetFastDecode(true);
    ExpectPixels(jpeg.Bitmap(), "colour_236_fast.ppm");

    // A given palette is what the pixels are mapped to.
    std::vector<TRGBQuad> palette;
    for (int i = 0; i < 8; ++i)
        palette.push_back(TRGBQuad{uint8_t(i & 1 ? 255 : 0), uint8_t(i & 2 ? 255 : 0),
                                   uint8_t(i & 4 ? 255 : 0), 0});
    jpeg.SetPalette(palette);
    EXPECT_FALSE(jpeg.HasBitmap());
    EXPECT_TRUE(jpeg.PaletteModified());
    const TBitmap& bmp = jpeg.Bitmap();
    EXPECT_EQ(bmp.Palette(), palette);
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            ASSERT_LT(bmp.ScanLine(y)[x], 8);
}

TEST(JPEGImage, PaletteRules) {
    TJPEGImage jpeg;
    Load(jpeg, "colour.jpg");
    EXPECT_TRUE(jpeg.Palette().empty());  // 24-bit output on a deep screen
    SetJpegScreenDepth(8);
    EXPECT_TRUE(DefaultJpegOptions.EightBitOutput);
    EXPECT_EQ(jpeg.Palette().size(), 216u);  // halftone palette for the 8-bit screen
    SetJpegScreenDepth(24);
    EXPECT_FALSE(DefaultJpegOptions.EightBitOutput);
    EXPECT_EQ(jpeg.Palette().size(), 216u);  // kept
    // 24-bit decoding drops the kept palette; the bitmap has none.
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf24bit);
    EXPECT_TRUE(jpeg.Palette().empty());
}

TEST(JPEGImage, ZeroLengthFileFailsOnceWhenDrawn) {
    TJPEGImage jpeg;
    LoadBytes(jpeg, {});
    EXPECT_FALSE(jpeg.Empty());
    EXPECT_EQ(jpeg.Width(), 0);
    EXPECT_EQ(jpeg.Height(), 0);
    try {
        jpeg.Bitmap();
        FAIL() << "no error";
    } catch (const EJPEG& e) {
        EXPECT_TRUE(IsJpegError(e.what())) << e.what();
    }
    // The bitmap made for the failed decoding stays; no second error.
    EXPECT_NO_THROW(jpeg.Bitmap());
    EXPECT_TRUE(jpeg.HasBitmap());
}

TEST(JPEGImage, TruncatedFileShowsWhatWasDecoded) {
    TJPEGImage jpeg;
    Load(jpeg, "truncated.jpg");
    EXPECT_NO_THROW(ExpectPixels(jpeg.Bitmap(), "truncated.ppm"));
}

TEST(JPEGImage, LongMarkersAreSkippedAcrossPieces) {
    // An application marker of 10,000 bytes after the start-of-image marker: the library skips
    // it across several 4,096-byte pieces of the source.
    const std::vector<uint8_t> file = ReadFile(Fixture("colour.jpg"));
    std::vector<uint8_t> padded(file.begin(), file.begin() + 2);
    const int length = 10000;
    padded.insert(padded.end(), {0xFF, 0xEF, uint8_t(length >> 8), uint8_t(length & 0xFF)});
    for (int i = 0; i < length - 2; ++i)
        padded.push_back(uint8_t(i * 7));
    padded.insert(padded.end(), file.begin() + 2, file.end());
    TJPEGImage jpeg;
    LoadBytes(jpeg, padded);
    ExpectPixels(jpeg.Bitmap(), "colour.ppm");

    // A marker that claims more bytes than the file holds ends in the supplied end-of-image
    // marker: an error about the missing image, not a read beyond the bytes.
    padded.resize(2 + 4 + 5000);
    EXPECT_THROW(LoadBytes(jpeg, padded), EJPEG);
}

TEST(JPEGImage, NotAJpegFailsAtLoad) {
    const std::vector<uint8_t> notJpeg = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
    TJPEGImage jpeg;
    try {
        LoadBytes(jpeg, notJpeg);
        FAIL() << "no error";
    } catch (const EJPEG& e) {
        EXPECT_STREQ(e.what(), "Not a JPEG file: starts with 0x47 0x49");
    }
    // A JPEG whose header is cut off in the middle fails the same way.
    std::vector<uint8_t> head = ReadFile(Fixture("colour.jpg"));
    head.resize(100);
    EXPECT_THROW(LoadBytes(jpeg, head), EJPEG);
}

TEST(JPEGImage, PixelLimitIsCheckedBeforeDecoding) {
    const uint64_t saved = TBitmap::MaxPixels();
    TBitmap::SetMaxPixels(1000);
    TJPEGImage jpeg;
    EXPECT_THROW(Load(jpeg, "colour.jpg"), EInvalidGraphic);
    TBitmap::SetMaxPixels(saved);
}

TEST(JPEGImage, StreamedFormRoundTrips) {
    TJPEGImage jpeg;
    Load(jpeg, "gray.jpg");
    TMemoryStream stream;
    jpeg.WriteData(stream);
    EXPECT_EQ(stream.Size(), 4 + 1112);
    stream.SetPosition(0);
    TJPEGImage copy;
    copy.ReadData(stream);
    EXPECT_EQ(copy.Data(), jpeg.Data());
    EXPECT_EQ(copy.Width(), 67);

    // A count beyond the bytes present is a read error, not an allocation.
    const std::vector<uint8_t> bogus = {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xD8};
    TMemoryStream bad(bogus.data(), static_cast<int64_t>(bogus.size()));
    EXPECT_THROW(copy.ReadData(bad), EReadError);

    TJPEGImage empty;
    TMemoryStream out;
    empty.WriteData(out);
    EXPECT_EQ(out.Size(), 4);
}

TEST(JPEGImage, AssignSharesBytesAndCopiesBitmap) {
    TJPEGImage a;
    Load(a, "colour.jpg");
    a.DIBNeeded();
    TJPEGImage b;
    b.Assign(a);
    EXPECT_TRUE(b.Equals(a));
    EXPECT_TRUE(b.HasBitmap());
    EXPECT_EQ(&b.Data(), &a.Data());
    Load(b, "colour.jpg");
    EXPECT_FALSE(b.Equals(a));

    // A bitmap takes the decoded picture.
    TBitmap bmp;
    bmp.Assign(a);
    ExpectPixels(bmp, "colour.ppm");

    EXPECT_THROW(a.SetWidth(10), EInvalidGraphic);
    try {
        a.SetHeight(10);
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot change the size of a JPEG image");
    }
}

TEST(JPEGImage, BitmapIsEncodedWhenSaved) {
    TJPEGImage source;
    Load(source, "colour.jpg");
    const char* const expected[3] = {"encoded.jpg", "encoded_progressive.jpg", "encoded_gray.jpg"};
    for (int variant = 0; variant < 3; ++variant) {
        TJPEGImage jpeg;
        jpeg.Assign(source.Bitmap());
        EXPECT_FALSE(jpeg.HasData());
        EXPECT_FALSE(jpeg.Empty());
        EXPECT_EQ(jpeg.Width(), 67);
        jpeg.SetProgressiveSave(variant == 1);
        jpeg.SetGrayOutput(variant == 2);
        TMemoryStream saved;
        jpeg.SaveToStream(saved);
        EXPECT_TRUE(jpeg.HasData());
        EXPECT_EQ(jpeg.Grayscale(), variant == 2);
        // The library's defaults at quality 90 write exactly what cjpeg writes.
        const std::vector<uint8_t> want = ReadFile(Fixture(expected[variant]));
        const std::vector<uint8_t> got(saved.Memory(), saved.Memory() + saved.Size());
        EXPECT_TRUE(got == want) << expected[variant];

        saved.SetPosition(0);
        TJPEGImage again;
        again.LoadFromStream(saved);
        EXPECT_EQ(again.Options().ProgressiveSave, variant == 1);
        EXPECT_EQ(again.Grayscale(), variant == 2);
    }

    // An 8-bit bitmap is converted for the encoder.
    TBitmap indexed;
    indexed.SetPixelFormat(pf8bit);
    indexed.SetSize(5, 3);
    indexed.SetPalette({TRGBQuad{0, 0, 255, 0}});
    TJPEGImage jpeg;
    jpeg.Assign(indexed);
    TMemoryStream saved;
    jpeg.SaveToStream(saved);
    saved.SetPosition(0);
    TJPEGImage again;
    again.LoadFromStream(saved);
    const uint8_t* px = again.Bitmap().ScanLine(1);
    EXPECT_NEAR(px[2], 255, 3);  // red
    EXPECT_NEAR(px[0], 0, 3);
}

TEST(JPEGImage, ProgressIsPacedAndAbortKeepsThePicture) {
    gFakeTicks = 0;
    TJPEGImage::SetTickSource(FakeTicks);
    std::vector<TProgressRecord> events;
    TJPEGImage jpeg;
    jpeg.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool redraw,
                          const TRect& rect, const std::string& msg) {
        EXPECT_TRUE(msg.empty());
        events.push_back({stage, percent, redraw, rect});
    };
    Load(jpeg, "progressive.jpg");
    jpeg.DIBNeeded();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().stage, psStarting);
    EXPECT_EQ(events.back().stage, psEnding);
    EXPECT_EQ(events.back().percent, 100);
    int last = 0;
    for (size_t i = 1; i + 1 < events.size(); ++i) {
        const TProgressRecord& e = events[i];
        EXPECT_EQ(e.stage, psRunning);
        EXPECT_GT(e.percent, last);
        last = e.percent;
        EXPECT_GE(e.rect.Top, 0);
        EXPECT_LE(e.rect.Bottom, 45);
        EXPECT_EQ(e.redraw, e.rect.Bottom - e.rect.Top >= 4);
    }

    // A handler that cancels: no error, the bitmap stays, the ending report says 0.
    events.clear();
    TJPEGImage cancelled;
    cancelled.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool redraw,
                               const TRect& rect, const std::string&) {
        events.push_back({stage, percent, redraw, rect});
        if (stage == psRunning) throw EAbort();
    };
    Load(cancelled, "colour.jpg");
    EXPECT_NO_THROW(cancelled.DIBNeeded());
    EXPECT_TRUE(cancelled.HasBitmap());
    EXPECT_EQ(cancelled.Bitmap().Width(), 67);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().stage, psEnding);
    EXPECT_EQ(events.back().percent, 0);

    // Any other error from the handler leaves the decoding once.
    TJPEGImage failing;
    failing.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t, bool, const TRect&,
                             const std::string&) {
        if (stage == psRunning) throw std::runtime_error("handler failed");
    };
    Load(failing, "colour.jpg");
    EXPECT_THROW(failing.DIBNeeded(), std::runtime_error);
    EXPECT_NO_THROW(failing.DIBNeeded());
    TJPEGImage::SetTickSource(nullptr);
}

TEST(JPEGImage, RegisteredForTheJpegExtensions) {
    RegisterImageFormats();
    for (const char* ext : {"jpg", "JPEG", "jpe", "jfif"})
        EXPECT_EQ(TPicture::FindGraphicClass(ext), &TJPEGImage::ClassInfo()) << ext;
    TPicture picture;
    picture.LoadFromFile(Fixture("colour.jpg").string());
    auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic());
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(picture.Width(), 67);
    UnregisterImageFormats();

    TMemoryStream stream(ReadFile(Fixture("gray.jpg")));
    EXPECT_TRUE(TJPEGImage::ClassInfo().ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
}

TEST(JPEGImage, CorpusFilesDecodeOrFailCleanly) {
    const std::filesystem::path dir = testdata::corpus("pillow");
    if (dir.empty()) GTEST_SKIP() << "conformance corpus absent";
    int decoded = 0, failed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".jpg" && ext != ".jpeg" && ext != ".JPG") continue;
        TJPEGImage jpeg;
        try {
            jpeg.LoadFromFile(entry.path().string());
            const TBitmap& bmp = jpeg.Bitmap();
            EXPECT_EQ(bmp.Width(), jpeg.Width());
            ++decoded;
        } catch (const EJPEG& e) {
            EXPECT_TRUE(IsJpegError(e.what())) << entry.path() << ": " << e.what();
            ++failed;
        } catch (const EInvalidGraphic& e) {
            ++failed;  // beyond the pixel limit
        }
    }
    EXPECT_GT(decoded, 20);
    // The one good file of the corpus whose pixels we can check: gray hopper decodes to an
    // 8-bit grey picture of the size its header gives.
    TJPEGImage gray;
    gray.LoadFromFile((dir / "hopper_gray.jpg").string());
    EXPECT_EQ(gray.Bitmap().PixelFormat(), pf8bit);
    EXPECT_EQ(gray.Bitmap().Width(), 128);
    (void)failed;
}

// A cancel flag raised while a decode runs stops it at libjpeg's next progress call, not at the
// next paced report; the decode ends as failed (0 %) and keeps what it has.
TEST(JPEGImage, ACancelFlagStopsTheDecodeAtOnce) {
    TBitmap source;
    source.SetPixelFormat(pf24bit);
    source.SetSize(256, 256);
    TJPEGImage encoder;
    encoder.Assign(source);
    TMemoryStream stream;
    encoder.SaveToStream(stream);
    stream.SetPosition(0);
    for (const bool cancelled : {false, true}) {
        TJPEGImage jpeg;
        jpeg.LoadFromStream(stream);
        stream.SetPosition(0);
        std::atomic<bool> cancel{false};
        jpeg.SetCancelFlag(&cancel);
        int endPercent = -1;
        jpeg.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                              const std::string&) {
            if (stage == psStarting) cancel = cancelled;
            if (stage == psEnding) endPercent = percent;
        };
        jpeg.DIBNeeded();
        EXPECT_EQ(endPercent, cancelled ? 0 : 100);
    }
}
