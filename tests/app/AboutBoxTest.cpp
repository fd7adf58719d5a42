// The About box: the picture kept in the resources is a 300 x 300 baseline JPEG, and the
// window shows it framed (304 x 304) under "About ...", newly built on every showing.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
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
        auto form = std::make_unique<TMainWindow>();
        TPictureDialog* about = form->AboutImage;
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

        // Under the picture: the version, the licence line, the libraries with their versions
        // and a Close button. The menu item, F1, Close and Esc each open or close it.
        enum TClose { byCloseButton, byEsc };
        const struct {
            std::function<void()> open;
            TClose close;
        } rounds[] = {
            {[&] { form->AboutItem->Click(); }, byCloseButton},
            {[&] {
                 for (QShortcut* key : form->findChildren<QShortcut*>())
                     if (key->key() == QKeySequence(Qt::Key_F1)) emit key->activated();
             },
             byEsc},
        };
        for (const auto& round : rounds) {
            QSize picture;
            QString title, text;
            bool modal = false, hasClose = false, closed = false;
            QTimer::singleShot(0, [&] {
                TPictureDialogWindow* window = about->Form();
                if (window == nullptr) return;
                picture = window->Panel->size();
                title = window->windowTitle();
                modal = window->isModal();
                text = window->FooterText() ? window->FooterText()->text() : QString();
                hasClose = window->CloseButton() != nullptr;
                if (round.close == byCloseButton && hasClose) window->CloseButton()->click();
                if (round.close == byEsc) {
                    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                    QApplication::sendEvent(window, &esc);
                }
                closed = !window->isVisible();
                if (!closed) window->done(0);
            });
            round.open();
            EXPECT_EQ(picture, QSize(304, 304));
            EXPECT_EQ(title, "About ...");
            EXPECT_TRUE(modal);
            EXPECT_TRUE(hasClose);
            EXPECT_TRUE(closed) << round.close;
            for (const char* part : {"Velkaro " VELKARO_VERSION, "Licence", "Qt ", "zlib ",
                                     "libjpeg", "libwebp ", "giflib ", "libdeflate "})
                EXPECT_TRUE(text.contains(part)) << part;
            EXPECT_EQ(about->Form(), nullptr);
        }
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    Application::SetErrorBoxHook(nullptr);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}
