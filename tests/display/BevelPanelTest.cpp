// The bevelled panel: rings on chosen sides, the 3-D look, the border ring, child layout inside
// the rings and the caption's vertical placement.
#include <QImage>
#include <QMetaEnum>
#include <QPainter>
#include <utility>

#include <gtest/gtest.h>

#include "display/BevelPanel.h"

namespace {

const TColor kFace = 0x0000FF;  // red, as 0x00BBGGRR

QRgb Rgb(TColor color, const QWidget& w) {
    return ColorToQColor(color, w.palette()).rgb();
}

QImage Render(QWidget& w) {
    QImage image(w.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    w.render(&image);
    return image;
}

}  // namespace

TEST(BevelPanel, Defaults) {
    TBevelPanel panel(QStringLiteral("Frame"));
    EXPECT_TRUE(panel.Caption().isEmpty());
    EXPECT_EQ(panel.BevelSides(), TSides(sdLeft | sdTop | sdRight | sdBottom));
    EXPECT_EQ(panel.BorderColor(), clBtnFace);
    EXPECT_EQ(panel.VerticalAlignment(), vaCenter);
    EXPECT_EQ(panel.BevelOuter(), bvRaised);
    EXPECT_EQ(panel.BevelInner(), bvNone);
    EXPECT_EQ(panel.BevelWidth(), 1);
    EXPECT_FALSE(panel.BevelCtl3D());
    // Enumerations are written and read by identifier.
    const QMetaEnum sides = QMetaEnum::fromType<TSides>();
    EXPECT_EQ(QByteArray(sides.valueToKeys(int(sdTop | sdBottom))), QByteArray("sdTop|sdBottom"));
    EXPECT_TRUE(panel.setProperty("VerticalAlignment", QVariant::fromValue(vaBottom)));
    EXPECT_EQ(panel.VerticalAlignment(), vaBottom);
}

TEST(BevelPanel, RaisedRingOnAllSides) {
    TBevelPanel panel;
    panel.resize(20, 10);
    panel.SetColor(kFace);
    const QImage out = Render(panel);
    const QRgb light = Rgb(clBtnHighlight, panel), dark = Rgb(clBtnShadow, panel);
    const QRgb face = Rgb(kFace, panel);
    EXPECT_EQ(out.pixel(0, 0), light);
    EXPECT_EQ(out.pixel(0, 8), light);
    EXPECT_EQ(out.pixel(18, 0), light);
    EXPECT_EQ(out.pixel(19, 0), dark);  // right and bottom lines are drawn last
    EXPECT_EQ(out.pixel(0, 9), dark);
    EXPECT_EQ(out.pixel(19, 9), dark);
    EXPECT_EQ(out.pixel(1, 1), face);
    EXPECT_EQ(out.pixel(18, 8), face);
}

TEST(BevelPanel, TopSideOnlyDrawsOneLineAndShrinksOnlyThere) {
    TBevelPanel panel;
    panel.resize(20, 10);
    panel.SetColor(kFace);
    panel.SetBevelSides(TSides(sdTop));
    panel.SetBevelWidth(2);
    const QImage out = Render(panel);
    const QRgb light = Rgb(clBtnHighlight, panel), face = Rgb(kFace, panel);
    for (int x = 0; x < 20; ++x) {
        EXPECT_EQ(out.pixel(x, 0), light) << x;
        EXPECT_EQ(out.pixel(x, 1), light) << x;
        EXPECT_EQ(out.pixel(x, 2), face) << x;
        EXPECT_EQ(out.pixel(x, 9), face) << x;
    }
    for (int y = 2; y < 10; ++y) {
        EXPECT_EQ(out.pixel(0, y), face) << y;
        EXPECT_EQ(out.pixel(19, y), face) << y;
    }
}

TEST(BevelPanel, DrawRingReturnsTheRectangleLeftInside) {
    QImage image(10, 10, QImage::Format_RGB32);
    QPainter painter(&image);
    EXPECT_EQ(TCustomBevelPanel::DrawRing(painter, QRect(0, 0, 10, 10), 2, Qt::white, Qt::black,
                                          TSides(sdTop)),
              QRect(0, 2, 10, 8));
    EXPECT_EQ(TCustomBevelPanel::DrawRing(painter, QRect(0, 0, 10, 10), 3, Qt::white, Qt::black,
                                          TSides(sdLeft | sdRight | sdBottom)),
              QRect(3, 0, 4, 7));
    // A ring wider than the rectangle stops when nothing is left.
    EXPECT_EQ(TCustomBevelPanel::DrawRing(painter, QRect(0, 0, 4, 10), 9, Qt::white, Qt::black,
                                          TSides(sdLeft | sdTop | sdRight | sdBottom)),
              QRect(2, 2, 0, 6));
}

TEST(BevelPanel, Ctl3DDrawsTwoRingsAndLaysChildrenOutInsideThem) {
    TBevelPanel panel;
    panel.resize(20, 10);
    panel.SetColor(kFace);
    panel.SetBevelCtl3D(true);
    EXPECT_EQ(panel.BevelWidth(), 2);
    const QImage out = Render(panel);
    EXPECT_EQ(out.pixel(0, 0), Rgb(clBtnHighlight, panel));
    EXPECT_EQ(out.pixel(19, 9), Rgb(clBtnText, panel));
    EXPECT_EQ(out.pixel(1, 1), Rgb(cl3DLight, panel));
    EXPECT_EQ(out.pixel(18, 8), Rgb(clBtnShadow, panel));
    EXPECT_EQ(out.pixel(2, 2), Rgb(kFace, panel));

    panel.SetBorderWidth(1);
    QWidget* child = new QWidget(&panel);
    TAlignLayout::SetAlign(child, alClient);
    EXPECT_EQ(child->geometry(), QRect(3, 3, 14, 4));
    panel.SetBevelCtl3D(false);
    EXPECT_EQ(panel.BevelWidth(), 1);
    EXPECT_EQ(child->geometry(), QRect(2, 2, 16, 6));
}

TEST(BevelPanel, BorderRingInItsOwnColourBetweenTheBevels) {
    TBevelPanel panel;
    panel.resize(20, 12);
    panel.SetColor(kFace);
    panel.SetBevelOuter(bvNone);
    panel.SetBevelInner(bvLowered);
    panel.SetBorderWidth(2);
    panel.SetBorderColor(0xFF0000);  // blue
    const QImage out = Render(panel);
    EXPECT_EQ(out.pixel(0, 5), qRgb(0, 0, 255));
    EXPECT_EQ(out.pixel(1, 5), qRgb(0, 0, 255));
    EXPECT_EQ(out.pixel(2, 5), Rgb(clBtnShadow, panel));
    EXPECT_EQ(out.pixel(17, 5), Rgb(clBtnHighlight, panel));
    EXPECT_EQ(out.pixel(3, 5), Rgb(kFace, panel));
}

TEST(BevelPanel, CaptionFollowsTheVerticalAlignment) {
    TBevelPanel panel;
    panel.resize(120, 90);
    panel.SetColor(clWhite);
    panel.SetBevelOuter(bvNone);
    panel.SetCaption(QStringLiteral("Velkaro"));
    // Rows that hold caption pixels.
    auto rows = [&panel]() {
        const QImage out = Render(panel);
        int first = -1, last = -1;
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x)
                if (out.pixel(x, y) != qRgb(255, 255, 255)) {
                    if (first < 0) first = y;
                    last = y;
                    break;
                }
        return std::pair(first, last);
    };
    panel.SetVerticalAlignment(vaTop);
    const auto top = rows();
    if (top.first < 0) GTEST_SKIP() << "no font to draw with";
    EXPECT_LT(top.first, 10);
    panel.SetVerticalAlignment(vaBottom);
    EXPECT_GT(rows().second, 80);
    panel.SetVerticalAlignment(vaCenter);
    const auto centre = rows();
    EXPECT_NEAR((centre.first + centre.second) / 2, 45, 8);
}
