#include <QApplication>
#include <QScreen>
#include <memory>

#include "app/Form1.h"
#include "display/MetafilePlayer.h"
#include "imaging/Registration.h"
#include "imaging/decoders/Decoder.h"
#include "imaging/formats/JPEGImage.h"
#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"

int main(int argc, char** argv) {
    // Every picture format is known before the window exists.
    RegisterImageFormats();
    int result = 0;
    {
        QApplication app(argc, argv);
        Application::SetTitle(QStringLiteral("Velkaro"));
        // Metafiles are played through Qt's painter.
        InstallMetafilePlayer();
        // JPEG pictures are dithered to a palette on screens of 8 bits or fewer.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            SetJpegScreenDepth(screen->depth());
        // Decoders report damage they can work around (a truncated strip) as a warning box.
        SetDecoderWarningHandler([](const std::string&, const std::string& text) {
            MessageDlg(QString::fromStdString(text), mtWarning, mbOK, QApplication::activeWindow());
        });
        // Creating the window can fail (the folder combo cannot watch for changes); say why
        // in the error box rather than ending without a word.
        std::unique_ptr<TForm1> form;
        if (!Application::HandleEvent([&] { form = std::make_unique<TForm1>(); })) {
            result = 1;
        } else {
            form->show();
            result = app.exec();
        }
    }
    SetDecoderWarningHandler(nullptr);
    UnregisterImageFormats();
    return result;
}
