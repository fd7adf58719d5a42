// The About box: the picture kept in the resources is a 300 x 300 baseline JPEG, and the
// window shows it framed (304 x 304) under "About ...", newly built on every showing.
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include <gtest/gtest.h>

#include "app/Form1.h"
#include "imaging/formats/JPEGImage.h"
#include "toolkit/Application.h"

TEST(AboutBox, ShowsTheResourcePictureFramedAndModal) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStringList errors;
    Application::SetErrorBoxHook([&](const QString& text) { errors << text; });
    {
        auto form = std::make_unique<TForm1>();
        TProImageViewDialog* about = form->AboutImage;
        EXPECT_EQ(about->objectName(), "AboutImage");
        EXPECT_EQ(about->BorderStyle(), bsSingle);
        EXPECT_EQ(about->Caption(), "About ...");
        EXPECT_TRUE(about->Modal());
        auto* jpeg = dynamic_cast<TJPEGImage*>(about->Picture()->Graphic());
        ASSERT_NE(jpeg, nullptr);
        EXPECT_EQ(jpeg->Width(), 300);
        EXPECT_EQ(jpeg->Height(), 300);

        // Baseline (SOF0), 8 bits, 300 x 300, three components.
        QFile resource(":/about.jpg");
        ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
        const QByteArray bytes = resource.readAll();
        const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
        ASSERT_GT(sof, 0);
        EXPECT_EQ(bytes.indexOf(QByteArray("\xFF\xC2", 2)), -1);
        EXPECT_EQ(bytes.mid(sof + 4, 6), QByteArray("\x08\x01\x2C\x01\x2C\x03", 6));

        for (int round = 0; round < 2; ++round) {
            QSize size;
            QString title;
            bool modal = false;
            QTimer::singleShot(0, [&] {
                QWidget* window = QApplication::activeModalWidget();
                if (window == nullptr) window = about->Form();
                if (window == nullptr) return;
                size = window->size();
                title = window->windowTitle();
                modal = window->isModal();
                window->close();
            });
            form->AboutVelkaro1->Click();
            EXPECT_EQ(size, QSize(304, 304));
            EXPECT_EQ(title, "About ...");
            EXPECT_TRUE(modal);
            EXPECT_EQ(about->Form(), nullptr);
        }
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    Application::SetErrorBoxHook(nullptr);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}
