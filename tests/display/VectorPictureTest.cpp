// Vector pictures drawn at the shown scale: SVG documents against rsvg-convert (at their natural
// size and zoomed), a part drawn alone equal to the same part of the whole, metafiles redrawn
// sharp when enlarged, and the zoomed picture view painting the redrawn vectors.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cmath>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/ImagingTestHelpers.h"
#include "display/BitmapToImage.h"
#include "display/MetafilePlayer.h"
#include "display/PictureView.h"
#include "display/SvgRenderer.h"
#include "display/VectorPicture.h"
#include "imaging/formats/Metafile.h"
#include "imaging/formats/SVGGraphic.h"

using namespace testhelp;

namespace {

// Antialiasing differs between Qt Svg and librsvg along every edge: an average difference of 3
// per channel (premultiplied, over the whole picture) still fails a wrong size, placement,
// colour, gradient or opacity.
constexpr double kTolerance = 3.0;

constexpr const char* kNs = "xmlns='http://www.w3.org/2000/svg'";

std::unique_ptr<TSVGGraphic> LoadSvg(const std::string& text) {
    auto svg = std::make_unique<TSVGGraphic>();
    LoadBytes(*svg, Bytes(text.begin(), text.end()));
    return svg;
}

// The largest per-channel mean absolute difference of two images, both premultiplied.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (x.size() != y.size()) return 1e9;
    double sum[4] = {};
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const uint8_t*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const uint8_t*>(y.constScanLine(row));
        for (int i = 0; i < x.width() * 4; ++i)
            sum[i % 4] += std::abs(int(p[i]) - int(q[i]));
    }
    const double n = double(x.width()) * x.height();
    return std::max({sum[0], sum[1], sum[2], sum[3]}) / n;
}

class VectorPictureTest : public testing::Test {
  protected:
    void SetUp() override { InstallSvgRenderer(); }
    void TearDown() override { TSVGGraphic::SetRenderer(nullptr); }
};

TEST_F(VectorPictureTest, SvgMatchesRsvgConvertAtNaturalSizeAndZoomed) {
    if (!HaveTool("rsvg-convert")) GTEST_SKIP() << "rsvg-convert is not installed";
    const std::string ns = kNs;
    const struct {
        const char* name;
        std::string body;  // the root's attributes, then its content
        int zoom;
    } cases[] = {
        {"shapes",
         "width='64' height='48'><rect x='4' y='4' width='30' height='20' fill='#c03'/>"
         "<circle cx='44' cy='28' r='14' fill='none' stroke='#036' stroke-width='3'/>"
         "<path d='M4 44 C 14 30, 24 30, 34 44 Z' fill='#393'/>",
         1},
        {"gradients",
         "width='60' height='40'><defs><linearGradient id='l' x2='1'><stop offset='0' "
         "stop-color='#f00'/><stop offset='1' stop-color='#00f'/></linearGradient>"
         "<radialGradient id='r' cx='45' cy='20' r='15' gradientUnits='userSpaceOnUse'>"
         "<stop offset='0' stop-color='#ff0'/><stop offset='1' stop-color='#080'/>"
         "</radialGradient></defs><rect width='30' height='40' fill='url(#l)'/>"
         "<rect x='30' width='30' height='40' fill='url(#r)'/>",
         1},
        {"transparency",
         "width='50' height='50'><rect width='50' height='25' fill='#00f' fill-opacity='0.4'/>"
         "<circle cx='25' cy='30' r='15' fill='#0c0' opacity='0.6'/>",
         1},
        {"viewBox meet",
         "width='80' height='40' viewBox='0 0 10 10'><rect width='10' "
         "height='10' fill='#963'/><circle cx='5' cy='5' r='4' fill='#fff'/>",
         1},
        {"viewBox slice",
         "width='40' height='60' viewBox='0 0 20 20' preserveAspectRatio="
         "'xMinYMax slice'><rect width='20' height='20' fill='#369'/>"
         "<rect x='10' y='10' width='10' height='10' fill='#fc0'/>",
         1},
        {"stretched",
         "width='60' height='20' viewBox='0 0 10 10' preserveAspectRatio='none'>"
         "<circle cx='5' cy='5' r='5' fill='#a0a'/>",
         1},
        {"inches, no viewBox",
         "width='0.5in' height='0.25in'><rect x='8' y='4' width='32' "
         "height='12' fill='#0aa' transform='rotate(10 24 10)'/>",
         1},
        {"zoomed",
         "width='24' height='16'><circle cx='12' cy='8' r='6' fill='#333'/>"
         "<path d='M2 14 L22 2' stroke='#e60' stroke-width='1.5'/>",
         6},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = "<svg " + ns + " " + c.body + "</svg>";
        const QString source = dir.filePath("in.svg"), png = dir.filePath("ref.png");
        WriteFileBytes(source.toStdString(), Bytes(text.begin(), text.end()));
        bool ok = false;
        RunCommand("rsvg-convert -z " + std::to_string(c.zoom) + " " +
                       ShellQuote(source.toStdString()) + " -o " + ShellQuote(png.toStdString()) +
                       " && echo ok",
                   ok);
        ASSERT_TRUE(ok);
        const QImage reference(png);
        std::unique_ptr<TSVGGraphic> svg = LoadSvg(text);
        QImage ours;
        if (c.zoom == 1) {
            ours = BitmapToImage(svg->Bitmap(), false);
        } else {
            const QSize size(svg->Width() * c.zoom, svg->Height() * c.zoom);
            ours = TVectorPicture::For(*svg)->Render(QSizeF(size), QRect(QPoint(), size));
        }
        ASSERT_EQ(ours.size(), reference.size());
        EXPECT_LE(MeanDifference(ours, reference), kTolerance);
    }
}

// A placeable WMF, 16 x 16 pixels at 96 dots per inch, filling a red ellipse without outline.
Bytes EllipseWmf() {
    Bytes records;
    auto rec = [&](uint16_t function, std::initializer_list<int> words) {
        Put32LE(records, uint32_t(3 + words.size()));
        Put16LE(records, function);
        for (int w : words)
            Put16LE(records, uint32_t(w));
    };
    rec(0x02FC, {0, 0x00FF, 0, 0});  // CreateBrushIndirect: solid red
    rec(0x012D, {0});                // SelectObject
    rec(0x02FA, {5, 0, 0, 0, 0});    // CreatePenIndirect: no outline
    rec(0x012D, {1});
    rec(0x0418, {14, 14, 2, 2});  // Ellipse: bottom, right, top, left
    rec(0x0000, {});
    Bytes v;
    Put32LE(v, 0x9AC6CDD7);
    for (int x : {0, 0, 0, 16, 16, 96})
        Put16LE(v, uint32_t(x));
    Put32LE(v, 0);
    Put16LE(v, 0);
    for (int x : {1, 9, 0x300})
        Put16LE(v, uint32_t(x));
    Put32LE(v, uint32_t((18 + records.size()) / 2));
    Put16LE(v, 2);
    Put32LE(v, 8);
    Put16LE(v, 0);
    PutBytes(v, records);
    return v;
}

TEST_F(VectorPictureTest, APartDrawnAloneEqualsThatPartOfTheWhole) {
    TMetafile metafile;
    LoadBytes(metafile, EllipseWmf());
    std::unique_ptr<TSVGGraphic> svg =
        LoadSvg("<svg " + std::string(kNs) +
                " width='16' height='16'><circle cx='8' cy='8' r='6' fill='#f00'/></svg>");
    for (const TGraphic* graphic :
         {static_cast<const TGraphic*>(&metafile), static_cast<const TGraphic*>(svg.get())}) {
        SCOPED_TRACE(graphic->ClassType().ClassName);
        std::unique_ptr<TVectorPicture> picture = TVectorPicture::For(*graphic);
        ASSERT_NE(picture, nullptr);
        const QSizeF scaled(16 * 7.5, 16 * 5);
        const QImage whole = picture->Render(scaled, QRect(0, 0, 120, 80));
        const QRect part(37, 21, 50, 33);
        EXPECT_EQ(picture->Render(scaled, part), whole.copy(part));
        // Drawn again, not enlarged: along the curved edge the enlarged natural-size picture
        // has steps 7.5 pixels wide, the redrawn one does not.
        const QImage natural = picture->Render(QSizeF(16, 16), QRect(0, 0, 16, 16));
        const QImage enlarged =
            natural.scaled(120, 80, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        EXPECT_GT(MeanDifference(whole, enlarged), 1.0);
        EXPECT_EQ(QColor::fromRgba(whole.pixel(60, 40)).red(), 255);  // the centre is filled
        EXPECT_EQ(qAlpha(whole.pixel(2, 2)), 0);                      // the corner is not
    }
    EXPECT_THROW(
        TVectorPicture::For(metafile)->Render(QSizeF(1e6, 1e6), QRect(0, 0, 1 << 14, 1 << 14)),
        EInvalidGraphic);
}

TEST_F(VectorPictureTest, TheZoomedViewPaintsTheRedrawnVectors) {
    std::unique_ptr<TSVGGraphic> svg = LoadSvg(
        "<svg " + std::string(kNs) +
        " width='20' height='10'><ellipse cx='10' cy='5' rx='9' ry='4' fill='#06c'/></svg>");
    std::unique_ptr<TVectorPicture> picture = TVectorPicture::For(*svg);
    const QImage expected = picture->Render(QSizeF(80, 40), QRect(0, 0, 80, 40));
    TPictureView view;
    view.resize(200, 150);
    view.Picture()->AdoptGraphic(std::move(svg));
    view.ZoomTo(4.0);
    const QRect shown = view.View().ToPane().mapRect(QRectF(0, 0, 20, 10)).toAlignedRect();
    ASSERT_EQ(shown.size(), QSize(80, 40));
    QImage painted(view.size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    view.render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(MeanDifference(painted.copy(shown), expected), 0.0);
}

}  // namespace
