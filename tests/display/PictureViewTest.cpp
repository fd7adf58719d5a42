// The picture view: destination rectangle, painting (unscaled, centred, stretched, tiled),
// sizing, setter rules, opaque marking and the once-per-change conversion.
#include <QImage>
#include <QPainter>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "display/PictureView.h"
#include "imaging/formats/JPEGImage.h"
#include "render/BitmapToImage.h"

namespace {

const QRgb kBackground = qRgb(0, 200, 0);

// Pixel (x, y) of a test picture: red and green encode the position.
QRgb TileColor(int x, int y) {
    return qRgb(x * 8, y * 12, 100);
}

std::unique_ptr<TBitmap> MakePicture(int w, int h, TPixelFormat format = pf24bit) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(w, h);
    const int bytes = format == pf32bit ? 4 : 3;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b->ScanLine(y) + x * bytes;
            const QRgb c = TileColor(x, y);
            p[0] = qBlue(c), p[1] = qGreen(c), p[2] = qRed(c);
            if (bytes == 4) p[3] = 255;
        }
    return b;
}

void Show(TPictureView& view, std::unique_ptr<TGraphic> graphic) {
    view.Picture()->AdoptGraphic(std::move(graphic));
}

// What the control paints over a background of kBackground.
QImage Render(TPictureView& view) {
    QImage image(view.size(), QImage::Format_ARGB32);
    image.fill(kBackground);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// A graphic that is not a bitmap; its pixels are found through a lookup that counts its calls.
class TCountedGraphic : public TGraphic {
  public:
    static const TGraphicClass& ClassInfo() {
        static const TGraphicClass info{"TCountedGraphic", nullptr, nullptr, nullptr};
        return info;
    }
    const TGraphicClass& ClassType() const override { return ClassInfo(); }
    int Width() const override { return width; }
    int Height() const override { return height; }
    bool Empty() const override { return width == 0 || height == 0; }
    void LoadFromStream(TStream&) override {}

    int width = 0, height = 0;
    std::unique_ptr<TBitmap> pixels;
    mutable int lookups = 0;
};

}  // namespace

TEST(PictureView, NewControlDefaults) {
    TPictureView view(QStringLiteral("ViewImage"));
    EXPECT_EQ(view.size(), QSize(105, 105));
    EXPECT_EQ(view.objectName(), QStringLiteral("ViewImage"));
    EXPECT_EQ(view.Picture()->Graphic(), nullptr);
    EXPECT_FALSE(view.AutoSize() || view.Stretch() || view.Center() || view.Tiled() ||
                 view.Transparent() || view.IncrementalDisplay());
    EXPECT_FALSE(view.Opaque());
}

TEST(PictureView, PictureRectNaturalCentredAndStretched) {
    TPictureView view;
    view.resize(100, 50);
    Show(view, MakePicture(105, 55));
    EXPECT_EQ(view.PictureRect(), QRect(0, 0, 105, 55));
    view.SetCenter(true);
    EXPECT_EQ(view.PictureRect(), QRect(-2, -2, 105, 55));  // -5 / 2 truncates toward zero
    Show(view, MakePicture(30, 21));
    EXPECT_EQ(view.PictureRect(), QRect(35, 14, 30, 21));
    view.SetStretch(true);
    EXPECT_EQ(view.PictureRect(), QRect(0, 0, 100, 50));
}

TEST(PictureView, PaintsUnscaledCentredAndStretched) {
    TPictureView view;
    view.resize(40, 30);
    Show(view, MakePicture(20, 10));
    QImage out = Render(view);
    EXPECT_EQ(out.pixel(0, 0), TileColor(0, 0));
    EXPECT_EQ(out.pixel(19, 9), TileColor(19, 9));
    EXPECT_EQ(out.pixel(20, 0), kBackground);  // a smaller picture leaves the rest alone
    EXPECT_EQ(out.pixel(0, 10), kBackground);

    view.SetCenter(true);
    out = Render(view);
    EXPECT_EQ(out.pixel(10, 10), TileColor(0, 0));
    EXPECT_EQ(out.pixel(29, 19), TileColor(19, 9));
    EXPECT_EQ(out.pixel(9, 10), kBackground);

    view.SetStretch(true);
    out = Render(view);
    EXPECT_EQ(out.pixel(0, 0), TileColor(0, 0));
    EXPECT_EQ(out.pixel(39, 29), TileColor(19, 9));  // scaled by 2 x 3
    EXPECT_EQ(out.pixel(20, 15), TileColor(10, 5));
}

TEST(PictureView, TilesRepeatFromTheTopLeftAndClipAtTheEdges) {
    TPictureView view;
    view.resize(100, 50);
    view.SetCenter(true);  // no effect on tiling
    Show(view, MakePicture(30, 20));
    view.SetTiled(true);
    const QImage out = Render(view);
    // Tiles at x = 0, 30, 60, 90 and y = 0, 20, 40; the last column and row are cut.
    int wrong = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            if (out.pixel(x, y) != TileColor(x % 30, y % 20)) ++wrong;
    EXPECT_EQ(wrong, 0);
}

TEST(PictureView, TiledTransparentPictureShowsTheBackgroundThroughIt) {
    TPictureView view;
    view.resize(20, 10);
    auto picture = MakePicture(10, 5, pf32bit);
    picture->ScanLine(0)[3] = 0;  // pixel (0, 0) fully see-through
    Show(view, std::move(picture));
    view.SetTiled(true);
    EXPECT_FALSE(view.Opaque());
    const QImage out = Render(view);
    EXPECT_EQ(out.pixel(0, 0), kBackground);
    EXPECT_EQ(out.pixel(10, 5), kBackground);
    EXPECT_EQ(out.pixel(11, 5), TileColor(1, 0));
}

TEST(PictureView, ZeroSizedPictureTiledDrawsNothingAndReturns) {
    TPictureView view;
    view.resize(50, 50);
    view.SetTiled(true);
    Show(view, MakePicture(0, 20));
    EXPECT_EQ(Render(view).pixel(25, 25), kBackground);

    // A graphic claiming a width but no height.
    auto odd = std::make_unique<TCountedGraphic>();
    odd->width = 30;
    Show(view, std::move(odd));
    EXPECT_EQ(Render(view).pixel(25, 25), kBackground);
}

TEST(PictureView, AutoSizeTakesThePictureSizeButNotAnEmptyOne) {
    TPictureView view;
    view.move(7, 9);
    view.SetAutoSize(true);
    EXPECT_EQ(view.size(), QSize(105, 105));  // empty picture: unchanged
    Show(view, MakePicture(0, 40));
    EXPECT_EQ(view.size(), QSize(105, 105));
    Show(view, MakePicture(30, 20));
    EXPECT_EQ(view.geometry(), QRect(7, 9, 30, 20));
    view.SetPicture(nullptr);
    EXPECT_EQ(view.Picture()->Graphic(), nullptr);
    EXPECT_EQ(view.geometry(), QRect(7, 9, 30, 20));
}

TEST(PictureView, SettersRunTheChangeHandlingOnlyOnChangeExceptAutoSize) {
    TPictureView view;
    Show(view, MakePicture(30, 20));
    view.SetAutoSize(true);
    ASSERT_EQ(view.size(), QSize(30, 20));

    // The handling would size the control to the picture again; same values do not run it.
    view.resize(50, 50);
    view.SetStretch(false);
    view.SetCenter(false);
    view.SetTiled(false);
    view.SetTransparent(false);
    EXPECT_EQ(view.size(), QSize(50, 50));
    view.SetAutoSize(true);  // always runs
    EXPECT_EQ(view.size(), QSize(30, 20));

    for (auto set : {&TPictureView::SetStretch, &TPictureView::SetCenter, &TPictureView::SetTiled,
                     &TPictureView::SetTransparent}) {
        view.resize(50, 50);
        (view.*set)(true);
        EXPECT_EQ(view.size(), QSize(30, 20));
    }
    EXPECT_TRUE(view.Picture()->Graphic()->Transparent());  // passed on to the graphic
}

TEST(PictureView, OpaqueOnlyWhenASolidPictureCoversTheControl) {
    TPictureView view;
    view.resize(100, 100);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();  // a hidden widget learns of its new size only when shown
    EXPECT_FALSE(view.Opaque());
    Show(view, MakePicture(100, 120));
    EXPECT_TRUE(view.Opaque());
    view.resize(101, 100);  // now the picture no longer covers it
    EXPECT_FALSE(view.Opaque());
    view.SetStretch(true);
    EXPECT_TRUE(view.Opaque());
    view.SetTransparent(true);
    EXPECT_FALSE(view.Opaque());
    view.SetTransparent(false);
    EXPECT_TRUE(view.Opaque());

    Show(view, MakePicture(200, 200, pf32bit));  // alpha pixels may show the parent
    EXPECT_FALSE(view.Opaque());
    view.SetStretch(false);
    Show(view, MakePicture(50, 50));
    EXPECT_FALSE(view.Opaque());
    view.SetPicture(nullptr);
    EXPECT_FALSE(view.Opaque());
}

TEST(PictureView, ConvertsOncePerPictureChangeOrReadsTheRowsInPlace) {
    RegisterBitmapLookup([](const TGraphic& g) -> const TBitmap* {
        const auto* counted = dynamic_cast<const TCountedGraphic*>(&g);
        return counted ? counted->pixels.get() : nullptr;
    });
    TPictureView view;
    view.resize(20, 20);
    // 15-bit pixels are converted: the copy is kept until the graphic reports a change.
    auto graphic = std::make_unique<TCountedGraphic>();
    graphic->width = graphic->height = 10;
    graphic->pixels = std::make_unique<TBitmap>();
    graphic->pixels->SetPixelFormat(pf15bit);
    graphic->pixels->SetSize(10, 10);
    TCountedGraphic* g = graphic.get();
    Show(view, std::move(graphic));
    view.SetCenter(true);  // a setting, not a new picture
    EXPECT_EQ(Render(view).pixel(5, 5), qRgb(0, 0, 0));
    g->pixels->ScanLine(0)[0] = 0x1F;  // blue, not yet reported
    EXPECT_EQ(Render(view).pixel(5, 5), qRgb(0, 0, 0));
    g->Changed();
    EXPECT_EQ(Render(view).pixel(5, 5), qRgb(0, 0, 255));
    ClearBitmapLookups();

    // 24-bit rows are painted where they are, so a picture being filled shows at once; a
    // reallocated bitmap is noticed even without a change report.
    auto bitmap = MakePicture(10, 10);
    TBitmap* b = bitmap.get();
    Show(view, std::move(bitmap));
    EXPECT_EQ(Render(view).pixel(5, 5), TileColor(0, 0));
    b->ScanLine(0)[0] = 255;
    EXPECT_EQ(Render(view).pixel(5, 5), qRgb(0, 0, 255));
    const TNotifyEvent hook = b->OnChange;
    b->OnChange = nullptr;
    b->SetSize(12, 12);  // new, zeroed rows
    b->OnChange = hook;
    EXPECT_EQ(Render(view).pixel(5, 5), qRgb(0, 0, 0));
}

TEST(PictureView, ProgressIsForwardedUnchanged) {
    TPictureView view;
    Show(view, MakePicture(4, 4));
    TGraphic* seenSender = nullptr;
    int seenPercent = -1;
    TRect seenRect;
    std::string seenMessage;
    view.OnProgress = [&](TGraphic* sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                          const TRect& rect, const std::string& msg) {
        seenSender = sender;
        seenPercent = stage == psRunning && redrawNow ? percent : -2;
        seenRect = rect;
        seenMessage = msg;
    };
    view.SetIncrementalDisplay(true);
    TGraphic* graphic = view.Picture()->Graphic();
    graphic->Progress(psRunning, 40, true, TRect{0, 1, 4, 2}, "Loading data...");
    EXPECT_EQ(seenSender, graphic);
    EXPECT_EQ(seenPercent, 40);
    EXPECT_EQ(seenRect, (TRect{0, 1, 4, 2}));
    EXPECT_EQ(seenMessage, "Loading data...");
}

TEST(PictureView, SetPictureCopiesAndPropertiesWorkByName) {
    TPicture source;
    source.AdoptGraphic(MakePicture(8, 6));
    TPictureView view;
    view.SetPicture(&source);
    ASSERT_NE(view.Picture()->Graphic(), nullptr);
    EXPECT_NE(view.Picture()->Graphic(), source.Graphic());
    EXPECT_EQ(view.Picture()->Width(), 8);

    // The settings store writes these by name.
    EXPECT_TRUE(view.setProperty("Align", QVariant::fromValue(alClient)));
    EXPECT_TRUE(view.setProperty("AutoSize", true));
    EXPECT_TRUE(view.setProperty("Stretch", true));
    EXPECT_TRUE(view.setProperty("Tiled", true));
    EXPECT_EQ(view.Align(), alClient);
    EXPECT_TRUE(view.AutoSize() && view.Stretch() && view.Tiled());
    EXPECT_EQ(view.property("Align").value<TAlign>(), alClient);
}

TEST(PictureView, PaintsIndexedAndKeyedPictures) {
    TPictureView view;
    view.resize(10, 2);
    auto mono = std::make_unique<TBitmap>();
    mono->SetPixelFormat(pf1bit);
    mono->SetSize(10, 2);
    mono->SetPalette({{0, 0, 255, 0}, {255, 0, 0, 0}});  // red, blue
    mono->ScanLine(0)[0] = 0x80;
    Show(view, std::move(mono));
    QImage out = Render(view);
    EXPECT_EQ(out.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(out.pixel(1, 0), qRgb(255, 0, 0));

    // Transparent: the bottom-left pixel's colour (red here) lets the background through.
    view.SetTransparent(true);
    out = Render(view);
    EXPECT_EQ(out.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(out.pixel(1, 0), kBackground);
}

// A photo whose EXIF orientation turns it a quarter: the view sizes itself to the turned
// picture before anything is decoded and paints the decoded picture the right way up.
TEST(PictureView, TurnedJpegSizesAndPaintsAsShown) {
    // 16 x 8 stored: a red left half and a blue right half, written by the JPEG encoder.
    auto stored = std::make_unique<TBitmap>();
    stored->SetPixelFormat(pf24bit);
    stored->SetSize(16, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t* p = stored->ScanLine(y) + x * 3;
            p[0] = x < 8 ? 0 : 255, p[1] = 0, p[2] = x < 8 ? 255 : 0;
        }
    TJPEGImage encoder;
    encoder.Assign(*stored);
    TMemoryStream plain;
    encoder.SaveToStream(plain);
    // An APP1 EXIF segment (little-endian, IFD0 with Orientation 6) after start-of-image.
    const std::vector<uint8_t> exif = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0,    0,    'I', 'I',
                                       42,   0,    8, 0,  0,   0,   1,   0,   0x12, 0x01, 3,   0,
                                       1,    0,    0, 0,  6,   0,   0,   0,   0,    0,    0,   0};
    const uint8_t* bytes = static_cast<const uint8_t*>(plain.Memory());
    std::vector<uint8_t> file(bytes, bytes + 2);
    file.insert(file.end(), exif.begin(), exif.end());
    file.insert(file.end(), bytes + 2, bytes + plain.Size());
    auto jpeg = std::make_unique<TJPEGImage>();
    TMemoryStream in(file.data(), static_cast<int64_t>(file.size()));
    jpeg->LoadFromStream(in);

    TPictureView view;
    view.SetAutoSize(true);
    Show(view, std::move(jpeg));
    EXPECT_EQ(view.size(), QSize(8, 16));
    // Turned a quarter clockwise: the red half on top, the blue half below.
    const QImage out = Render(view);
    EXPECT_GT(qRed(out.pixel(4, 3)), 200);
    EXPECT_LT(qBlue(out.pixel(4, 3)), 60);
    EXPECT_GT(qBlue(out.pixel(4, 12)), 200);
    EXPECT_LT(qRed(out.pixel(4, 12)), 60);
    EXPECT_EQ(view.size(), QSize(8, 16));
}

// With the checkerboard on, transparent parts of the picture show light and lighter grey
// squares while the background stays around the picture: unscaled, tiled and zoomed.
TEST(PictureView, CheckerboardUnderTransparentPartsOnly) {
    struct TCase {
        const char* name;
        std::function<void(TPictureView&)> set;
        QPoint inside, outside;
    };
    const std::vector<TCase> cases = {
        {"unscaled", [](TPictureView&) {}, QPoint(3, 3), QPoint(30, 30)},
        {"tiled", [](TPictureView& v) { v.SetTiled(true); }, QPoint(23, 23), QPoint(-1, -1)},
        {"zoomed", [](TPictureView& v) { v.ZoomTo(1.0); }, QPoint(13, 13), QPoint(2, 2)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TPictureView view;
        view.resize(40, 40);
        view.setAutoFillBackground(false);
        auto picture = MakePicture(20, 20, pf32bit);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 10; ++x)
                picture->ScanLine(y)[4 * x + 3] = 0;  // the left half transparent
        Show(view, std::move(picture));
        c.set(view);
        EXPECT_EQ(Render(view).pixel(c.inside), kBackground);
        view.SetCheckerboard(true);
        const QImage shown = Render(view);
        const QRgb square = shown.pixel(c.inside);
        EXPECT_TRUE(square == qRgb(0xFF, 0xFF, 0xFF) || square == qRgb(0xCC, 0xCC, 0xCC));
        if (c.outside.x() >= 0) {
            EXPECT_EQ(shown.pixel(c.outside), kBackground);
        }
    }
}
