// The picture view's zoom arithmetic: fitting, 1:1, zooming around a point, steps, turns.
#include <gtest/gtest.h>

#include <QColor>
#include <algorithm>
#include <cmath>

#include "display/ViewTransform.h"
#include "render/ReducedImage.h"

namespace {

TEST(ViewTransformTest, FitShowsTheWholePictureCentredAndNeverEnlarges) {
    struct Case {
        QSize picture;
        int turns;
        QSize pane;
        double scale;
        QPointF offset;
    };
    const Case cases[] = {
        {{6000, 4000}, 0, {1000, 700}, 1000.0 / 6000, {0, 16}},  // width limits
        {{4000, 6000}, 0, {1000, 700}, 700.0 / 6000, {266, 0}},  // height limits
        {{4000, 6000}, 1, {1000, 700}, 1000.0 / 6000, {0, 16}},  // turned: as 6000 x 4000
        {{200, 100}, 0, {1000, 700}, 1.0, {400, 300}},           // small: 1:1, centred
        {{100000, 10}, 0, {500, 500}, 0.01, {0, 249}},           // never below 1 %
    };
    for (const Case& c : cases) {
        TViewTransform view;
        view.picture = c.picture;
        view.quarterTurns = c.turns;
        view.Fit(c.pane);
        EXPECT_NEAR(view.scale, c.scale, 1e-9) << c.picture.width() << "x" << c.picture.height();
        EXPECT_EQ(view.offset, c.offset) << c.picture.width() << "x" << c.picture.height();
    }
}

TEST(ViewTransformTest, ZoomKeepsThePointUnderThePointer) {
    struct Case {
        double from, to;
        QPointF anchor;
    };
    const Case cases[] = {
        {0.5, 1.0, {100, 100}}, {1.0, 4.0, {900, 10}}, {2.0, 0.75, {500, 350}}, {1.0, 1.0, {0, 0}}};
    const QSize pane(1000, 700);
    for (const Case& c : cases) {
        TViewTransform view;
        view.picture = QSize(4000, 3000);
        view.scale = c.from;
        view.offset =
            QPointF((pane.width() - 4000 * c.from) / 2, (pane.height() - 3000 * c.from) / 2);
        const QPointF before = view.ToPane().inverted().map(c.anchor);
        view.ZoomAround(c.to, c.anchor, pane);
        EXPECT_DOUBLE_EQ(view.scale, c.to);
        const QPointF after = view.ToPane().inverted().map(c.anchor);
        // Within the rounding of the offset to whole pane pixels.
        EXPECT_NEAR(after.x(), before.x(), 1 / c.to) << c.from << " -> " << c.to;
        EXPECT_NEAR(after.y(), before.y(), 1 / c.to) << c.from << " -> " << c.to;
    }
}

TEST(ViewTransformTest, ZoomStaysWithinItsRangeAndPanStaysOnThePicture) {
    EXPECT_DOUBLE_EQ(TViewTransform::Step(1.0, 1), 1.5);
    EXPECT_DOUBLE_EQ(TViewTransform::Step(1.0, -1), 0.6667);
    EXPECT_DOUBLE_EQ(TViewTransform::Step(0.9, 1), 1.0);  // from a fit scale to the next step
    EXPECT_DOUBLE_EQ(TViewTransform::Step(32.0, 1), 32.0);
    EXPECT_DOUBLE_EQ(TViewTransform::Step(0.01, -1), 0.01);

    TViewTransform view;
    view.picture = QSize(2000, 1000);
    view.ZoomAround(100.0, QPointF(0, 0), QSize(500, 500));
    EXPECT_DOUBLE_EQ(view.scale, 32.0);
    view.PanBy(QPointF(1e9, -1e9), QSize(500, 500));  // as far as the edges allow
    EXPECT_EQ(view.offset, QPointF(0, 500 - 32000));
}

TEST(ViewTransformTest, TurnsAndFlipMapTheCornersAsTheViewShowsThem) {
    struct Case {
        int quarters;
        bool flip;
        QPointF topLeftGoesTo;
    };
    // A 40 x 20 picture at 1:1 in a pane that holds it whole (centred, so offsets vary).
    const Case cases[] = {{0, false, {30, 40}}, {1, false, {60, 30}}, {2, false, {70, 60}},
                          {3, false, {40, 70}}, {0, true, {70, 40}},  {1, true, {40, 30}}};
    for (const Case& c : cases) {
        TViewTransform view;
        view.picture = QSize(40, 20);
        view.Clamp(QSize(100, 100));
        view.Turn(c.quarters, QSize(100, 100));
        if (c.flip) view.Flip(QSize(100, 100));
        EXPECT_EQ(view.ToPane().map(QPointF(0, 0)), c.topLeftGoesTo)
            << c.quarters << (c.flip ? " flipped" : "");
    }
}

}  // namespace

namespace {

// A one-pixel checkerboard reduced by odd and even factors is an even grey, not a pattern.
TEST(ViewTransformTest, ReductionsAverageInsteadOfAliasing) {
    QImage board(600, 400, QImage::Format_RGB32);
    for (int y = 0; y < board.height(); ++y)
        for (int x = 0; x < board.width(); ++x)
            board.setPixel(x, y, (x + y) % 2 != 0 ? 0xFFFFFFFF : 0xFF000000);
    for (const QSize size : {QSize(300, 200), QSize(197, 131), QSize(61, 41)}) {
        const QImage reduced = ReducedImage(board, size);
        ASSERT_EQ(reduced.size(), size);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                ASSERT_NEAR(qGray(reduced.pixel(x, y)), 128, 24) << x << "," << y;
    }
}

// A zone plate (rings whose frequency grows from nothing at the centre to the finest the pixels
// hold at the edges) reduced to a quarter: where the rings are finer than the reduced picture can
// hold they must fade to an even grey, not come back as coarse ghost rings, while the coarse
// rings at the centre keep their contrast. The spread (standard deviation) over the fine part is
// 0.5 for ImageMagick's Lanczos reduction and was 8.5 for halving by 2 x 2 averages.
TEST(ViewTransformTest, ReductionsOfAZonePlateShowNoGhostRings) {
    constexpr int kSide = 1024;
    QImage plate(kSide, kSide, QImage::Format_RGB32);
    auto radius = [](double x, double y, double side) {
        return std::hypot(x + 0.5 - side / 2, y + 0.5 - side / 2);
    };
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            // Local frequency r / kSide cycles a pixel: a half at the middle of each edge.
            const double r = radius(x, y, kSide);
            const int v = int(std::lround(127.5 + 127.5 * std::cos(M_PI * r * r / kSide)));
            plate.setPixel(x, y, qRgb(v, v, v));
        }
    for (const bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "with alpha" : "opaque");
        const QImage source = alpha ? plate.convertToFormat(QImage::Format_ARGB32) : plate;
        const int side = kSide / 4;
        const QImage reduced = ReducedImage(source, QSize(side, side));
        ASSERT_EQ(reduced.size(), QSize(side, side));
        // Rings of 2 to 4 times the reduced picture's finest frequency, and rings of less than
        // half of it.
        double sum = 0, squares = 0;
        int n = 0, darkest = 255, lightest = 0;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const double r = radius(x, y, side) * 4;
                const int v = qGray(reduced.pixel(x, y));
                if (r >= kSide / 4.0 && r < kSide / 2.0) {
                    sum += v;
                    squares += double(v) * v;
                    ++n;
                } else if (r < kSide / 16.0) {
                    darkest = std::min(darkest, v);
                    lightest = std::max(lightest, v);
                }
            }
        const double mean = sum / n;
        const double spread = std::sqrt(std::max(0.0, squares / n - mean * mean));
        EXPECT_LE(spread, 2.0);
        EXPECT_NEAR(mean, 127.5, 2.0);
        EXPECT_GE(lightest - darkest, 230);
    }
}

}  // namespace
