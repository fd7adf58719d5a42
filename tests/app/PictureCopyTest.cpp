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
#include "common/DecodeTestHelpers.h"
#include "display/ClipboardPicture.h"
#include "display/DecodeService.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"
#include "toolkit/Application.h"

namespace {

class PictureCopyTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(config_.isValid());
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        Application::SetErrorBoxHook([this](const QString& text) { errors_ << text; });
        RegisterImageFormats();
        form_ = std::make_unique<TMainWindow>();
        form_->resize(700, 500);
        form_->show();
    }
    void TearDown() override {
        form_.reset();
        QApplication::clipboard()->clear();
        UnregisterImageFormats();
        Application::SetErrorBoxHook(nullptr);
        qputenv("XDG_CONFIG_HOME", previousConfig_);
    }

    // A JPEG picture: left half red, right half blue.
    QString Jpeg(const char* name, int width, int height) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(width, height);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < width; ++x)
                row[3 * x + (x < width / 2 ? 2 : 0)] = 255;
        }
        TJPEGImage jpeg;
        jpeg.Assign(bitmap);
        const QString path = QDir(dir_.path()).filePath(name);
        TFileStream stream(QFile::encodeName(path).toStdString(), TFileStream::fmCreate);
        jpeg.SaveToStream(stream);
        return path;
    }

    static void Wait(const std::function<bool()>& done) { testhelp::WaitUntil(done, 20000); }

    QTemporaryDir dir_;
    QTemporaryDir config_;
    QByteArray previousConfig_;
    QStringList errors_;
    std::unique_ptr<TMainWindow> form_;
};

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
