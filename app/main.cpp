#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QStringList>
#include <cstdio>
#include <memory>

#include <unistd.h>

#include "app/MainWindow.h"
#include "display/DecodeService.h"
#include "imaging/Registration.h"
#include "imaging/decoders/Decoder.h"
#include "imaging/formats/JPEGImage.h"
#include "render/MetafilePlayer.h"
#include "render/SvgRenderer.h"
#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"

namespace {

const char* const kUsage =
    "usage: velkaro [PATH]\n"
    "Shows the folder PATH, or the folder of the file PATH with that file displayed.\n"
    "Without PATH the reader starts in the folder it showed last.\n";

}  // namespace

int main(int argc, char** argv) {
    // A relative path on the command line names a file of the folder the program was started
    // in; it is resolved against that folder, taken before anything else runs.
    const QString startFolder = QDir::currentPath();
    // Every picture format is known before the window exists.
    RegisterImageFormats();
    int result = 0;
    {
        QApplication app(argc, argv);
        // What is left after Qt took its own options: --help, --version or one path.
        QStringList arguments = app.arguments().mid(1);
        if (arguments.contains(QStringLiteral("--help")) ||
            arguments.contains(QStringLiteral("-h"))) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arguments.contains(QStringLiteral("--version"))) {
            std::printf("velkaro %s\n", VELKARO_VERSION);
            return 0;
        }
        if (arguments.size() > 1 || (!arguments.isEmpty() && arguments[0].startsWith('-'))) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        Application::SetTitle(QStringLiteral("Velkaro"));
        // Metafiles are played through Qt's painter, SVG documents drawn through Qt Svg.
        InstallMetafilePlayer();
        InstallSvgRenderer();
        // JPEG pictures are dithered to a palette on screens of 8 bits or fewer.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            SetJpegScreenDepth(screen->depth());
        // Decoders report damage they can work around (a truncated strip) as a warning box.
        // Pictures decode on worker threads; the box is shown on the window's thread.
        SetDecoderWarningHandler([](const std::string&, const std::string& text) {
            const QString message = QString::fromStdString(text);
            QMetaObject::invokeMethod(qApp, [message] {
                MessageDlg(message, mtWarning, mbOK, QApplication::activeWindow());
            });
        });
        // Creating the window can fail (the folder combo cannot watch for changes); say why
        // in the error box rather than ending without a word.
        std::unique_ptr<TMainWindow> form;
        if (!Application::HandleEvent([&] { form = std::make_unique<TMainWindow>(); })) {
            result = 1;
        } else {
            form->show();
            // A path from the command line wins over the folder and mode the settings restored;
            // one that does not exist is reported and the reader starts as usual.
            if (!arguments.isEmpty()) {
                const QString path = arguments[0].isEmpty()
                                         ? arguments[0]
                                         : QDir(startFolder).absoluteFilePath(arguments[0]);
                Application::HandleEvent([&] { form->OpenPath(path); });
            }
            result = app.exec();
        }
    }
    // A decode worker still inside a call that cannot be cancelled would meet the formats and
    // libraries as they are torn down: the process ends now, without waiting for it.
    if (TDecodeService::DetachedWorkers() > 0) {
        std::fflush(nullptr);
        ::_exit(result);
    }
    SetDecoderWarningHandler(nullptr);
    UnregisterImageFormats();
    return result;
}
