// A large JPEG picture in Fit View is decoded no larger than the pane needs: the full-size decode
// waits until the picture is zoomed past what the reduced decode covers.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "common/PictureWindowFixture.h"
#include "display/DecodeService.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"
#include "toolkit/Application.h"

namespace {

class MainWindowReducedDecodeTest : public testhelp::TPictureWindowFixture {
  protected:
    QSize WindowSize() const override { return QSize(900, 700); }
};

TEST_F(MainWindowReducedDecodeTest, TheFullDecodeWaitsForAZoomPastTheReducedOne) {
    TMainWindow& f = *form_;
    if (!f.BrowseImageFiles->Checked()) f.BrowseTextFiles->Click();  // switches to image mode
    f.FitView->Click();
    // The pane 500 x 400: the 2400 x 1600 picture fits at 0.21, which a quarter
    // of it covers.
    for (int i = 0; i < 3; ++i) {  // the layout follows the window's size in a step or two
        const QSize pane = f.ScrollImage->viewport()->size();
        f.resize(f.width() + 500 - pane.width(), f.height() + 400 - pane.height());
        TAlignLayout::Realign(&f);
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(f.ScrollImage->viewport()->size(), QSize(500, 400));
    // The widths of the decodes the window shows (it has taken each when this runs).
    std::vector<int> decodedWidths;
    QObject::connect(f.Decoder(), &TDecodeService::Decoded,
                     [&] { decodedWidths.push_back(f.ViewImage->Picture()->Width()); });
    f.OpenPath(Jpeg("large.jpg", 2400, 1600));
    Wait([&] { return f.CopyImage->Enabled() && !f.PictureLoading(); });
    EXPECT_EQ(decodedWidths, std::vector<int>({600}));
    EXPECT_EQ(f.ViewImage->PictureSize(), QSize(2400, 1600));

    // The properties give the picture's size, not the reduced decode's.
    QString dimensions;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        for (QLabel* label : dialog->findChildren<QLabel*>())
            if (label->text().contains(QStringLiteral(" x "))) dimensions = label->text();
        dialog->reject();
    });
    f.PictureProperties->Click();
    EXPECT_EQ(dimensions.toStdString(), "2400 x 1600 pixels");

    struct TStep {
        double zoom;
        std::vector<int> decodedWidths;  // the decodes the zoom asked for
    };
    const TStep steps[] = {
        {0.24, {}},     // still covered by the quarter
        {0.4, {1200}},  // a half covers it
        {0.3, {}},      // zooming out keeps the larger decode
        {1.0, {2400}},  // full size at last
        {0.1, {}},      // and it stays
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.zoom);
        decodedWidths.clear();
        f.ViewImage->ZoomTo(step.zoom);
        Wait([&] { return !f.PictureLoading(); });
        EXPECT_EQ(decodedWidths, step.decodedWidths);
        EXPECT_EQ(f.ViewImage->PictureSize(), QSize(2400, 1600));
        EXPECT_EQ(f.ViewImage->View().scale, step.zoom);  // the view is kept across decodes
    }
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

}  // namespace
