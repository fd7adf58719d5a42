#include <QApplication>
#include <memory>

#include "app/Form1.h"
#include "imaging/Registration.h"
#include "toolkit/Application.h"

int main(int argc, char** argv) {
    // Every picture format is known before the window exists.
    RegisterImageFormats();
    int result = 0;
    {
        QApplication app(argc, argv);
        Application::SetTitle(QStringLiteral("Velkaro"));
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
    UnregisterImageFormats();
    return result;
}
