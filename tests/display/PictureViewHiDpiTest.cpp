// The picture view on a screen scaled to 200 %: with DevicePixels on, 100 % shows one picture
// pixel per device pixel in Full View and when zoomed, and Fit View fits the picture to the
// pane's device pixels; off, the picture keeps its size in control pixels. The test runs itself
// again with QT_SCALE_FACTOR=2, where it paints at device-pixel ratio 2.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "display/PictureView.h"
#include "imaging/Bitmap.h"

namespace {

constexpr const char* kChild = "VELKARO_TEST_SCALED_SCREEN";

// A picture of one-pixel black and white squares.
std::unique_ptr<TBitmap> Checkerboard(int w, int h) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::fill_n(b->ScanLine(y) + 3 * x, 3, uint8_t((x + y) % 2 != 0 ? 255 : 0));
    return b;
}

// Pixels of row y in [from, to) that differ from their left neighbour.
int Changes(const QImage& image, int y, int from, int to) {
    int changes = 0;
    for (int x = from; x < to; ++x)
        changes += image.pixel(x, y) != image.pixel(x - 1, y);
    return changes;
}

}  // namespace

TEST(PictureViewScaledScreen, ShowsOnePicturePixelPerDevicePixel) {
    if (qgetenv(kChild).isEmpty()) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChild, "1");
        env.insert("QT_SCALE_FACTOR", "2");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=PictureViewScaledScreen.*"});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        return;
    }
    TPictureView view;
    ASSERT_EQ(view.devicePixelRatioF(), 2.0);
    // Off, the picture takes its size in control pixels, as a dialog's picture does.
    view.SetAutoSize(true);
    view.Picture()->AdoptGraphic(Checkerboard(40, 30));
    EXPECT_EQ(view.size(), QSize(40, 30));
    view.SetDevicePixels(true);

    // Full View: the control takes the picture's size in device pixels.
    EXPECT_EQ(view.size(), QSize(20, 15));
    QImage shown = view.grab().toImage();
    ASSERT_EQ(shown.size(), QSize(40, 30));
    EXPECT_EQ(Changes(shown, 10, 1, 40), 39);

    // 100 % in zoom mode, the picture centred in a 50 x 50 control (100 x 100 device pixels).
    view.SetAutoSize(false);
    view.resize(50, 50);
    view.ZoomTo(1.0);
    shown = view.grab().toImage();
    ASSERT_EQ(shown.size(), QSize(100, 100));
    EXPECT_EQ(Changes(shown, 50, 31, 70), 39);
    EXPECT_NE(shown.pixel(35, 50), shown.pixel(35, 51));

    // Fit View fits the 400 x 300 picture to 200 x 150 device pixels: 50 %.
    view.resize(100, 75);
    view.Picture()->AdoptGraphic(Checkerboard(400, 300));
    view.ZoomToFit();
    EXPECT_DOUBLE_EQ(view.View().scale, 0.5);
    shown = view.grab().toImage();
    EXPECT_EQ(shown.size(), QSize(200, 150));
}
