// "Copy To Clipboard" in image mode: the picture goes on the clipboard at full size, also when
// it is clicked while a reduced first decode is shown, and other programs are offered PNG and
// BMP files that were encoded off the window's thread.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <memory>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "common/PictureWindowFixture.h"
#include "display/ClipboardPicture.h"
#include "display/DecodeService.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"
#include "toolkit/Application.h"

namespace {

class PictureCopyTest : public testhelp::TPictureWindowFixture {};

// Clicked while the reduced first decode is shown, the copy waits for the full picture.
TEST_F(PictureCopyTest, ACopyDuringTheReducedFirstDecodeIsOfTheFullPicture) {
    TMainWindow& f = *form_;
    const QString path = Jpeg("large.jpg", 2400, 1600);
    f.FitView->Click();
    QApplication::clipboard()->clear();
    bool clicked = false;
    QObject::connect(f.Decoder(), &TDecodeService::Decoded,
                     [&](quint64, const TDecodedPtr& picture) {
                         if (!(picture->preview || picture->reducedOnly) || clicked) return;
                         clicked = true;  // the window shows the preview now
                         f.CopyImage->Click();
                     });
    f.OpenPath(path);
    Wait([&] { return clicked && !f.PictureLoading(); });
    ASSERT_TRUE(clicked) << "no reduced first decode";
    Wait([] { return !QApplication::clipboard()->image().isNull(); });
    const QImage copied = QApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), QSize(2400, 1600));
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// Other programs find PNG and BMP files of the picture, encoded once and handed out as they are.
TEST_F(PictureCopyTest, OtherProgramsAreOfferedEncodedFiles) {
    TMainWindow& f = *form_;
    f.OpenPath(Jpeg("small.jpg", 64, 48));
    Wait([&] { return f.CopyImage->Enabled() && !f.PictureLoading(); });
    f.CopyImage->Click();
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(64, 48));  // at once, here
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    Wait([&] { return data->formats().size() == TClipboardPicture::EncodedFormats().size(); });
    for (const QString& format : TClipboardPicture::EncodedFormats()) {
        SCOPED_TRACE(format.toStdString());
        EXPECT_TRUE(data->formats().contains(format));
        const QByteArray bytes = data->data(format);
        EXPECT_EQ(bytes.constData(), data->data(format).constData());  // encoded once
        const QImage decoded = QImage::fromData(bytes);
        ASSERT_EQ(decoded.size(), QSize(64, 48));
        EXPECT_GT(decoded.pixelColor(8, 24).red(), 200);
        EXPECT_GT(decoded.pixelColor(56, 24).blue(), 200);
    }
    // Qt's own image type is left out: it would encode on the window's thread.
    EXPECT_FALSE(data->formats().contains("application/x-qt-image"));
}

}  // namespace
