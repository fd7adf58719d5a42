// The zoomed picture view paints a vector picture drawn again at the shown scale, not its
// natural-size bitmap enlarged.
#include <QImage>
#include <QPainter>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/ImagingTestHelpers.h"
#include "display/PictureView.h"
#include "imaging/formats/SVGGraphic.h"
#include "render/SvgRenderer.h"
#include "render/VectorPicture.h"

using namespace testhelp;

namespace {

class PictureViewVectorTest : public testing::Test {
  protected:
    void SetUp() override { InstallSvgRenderer(); }
    void TearDown() override { TSVGGraphic::SetRenderer(nullptr); }
};

TEST_F(PictureViewVectorTest, TheZoomedViewPaintsTheRedrawnVectors) {
    const std::string text =
        "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='10'><ellipse cx='10' cy='5' "
        "rx='9' ry='4' fill='#06c'/></svg>";
    auto svg = std::make_unique<TSVGGraphic>();
    LoadBytes(*svg, Bytes(text.begin(), text.end()));
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
    EXPECT_EQ(painted.copy(shown), expected);
}

}  // namespace
