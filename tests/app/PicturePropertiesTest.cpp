// Alt+Enter: in the picture pane it opens the shown picture's properties, in the file list the
// list's own properties of the selected file. Keys go through the window's shortcut map as a
// real key press does.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "browse/ShellHelpers.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"

// Qt's own entry to the shortcut map for synthesised key presses (what QTest uses).
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k,
                                               Qt::KeyboardModifiers mods, const QString& text,
                                               bool autorep, ushort count);

namespace {

void PressKey(QWidget* target, int key, Qt::KeyboardModifiers mods) {
    if (qt_sendShortcutOverrideEvent(target, 0, key, mods, QString(), false, 1)) return;
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(target, &press);
}

// The rows of the modal dialog open now as "Label value" lines, then closes it with Esc.
QStringList ReadAndEscape(QString& name, bool& closed) {
    QStringList rows;
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return rows;
    name = dialog->objectName();
    if (auto* form = dialog->findChild<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            auto* label = form->itemAt(row, QFormLayout::LabelRole);
            auto* field = form->itemAt(row, QFormLayout::FieldRole);
            if (label == nullptr || field == nullptr) continue;
            auto* l = qobject_cast<QLabel*>(label->widget());
            auto* f = qobject_cast<QLabel*>(field->widget());
            if (l != nullptr && f != nullptr) rows << l->text() + ' ' + f->text();
        }
    }
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog, &esc);
    closed = !dialog->isVisible();
    if (!closed) dialog->reject();
    return rows;
}

TEST(PictureProperties, AltEnterOpensEachDialog) {
    QTemporaryDir dir, config;
    ASSERT_TRUE(dir.isValid() && config.isValid());
    const QString root = QDir(dir.path()).canonicalPath() + '/';
    {
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(3, 2);
        TFileStream stream(QFile::encodeName(root + "picture.bmp").toStdString(),
                           TFileStream::fmCreate);
        bitmap.SaveToStream(stream);
    }
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(root);
    RegisterImageFormats();
    QByteArray listShown;
    SetPropertiesHook([&](const QByteArray& path) { listShown = path; });
    {
        auto form = std::make_unique<TMainWindow>();
        form->show();
        form->activateWindow();
        QApplication::processEvents();
        EXPECT_FALSE(form->PictureProperties->Enabled());

        form->OpenPath(root + "picture.bmp");
        QElapsedTimer timer;
        timer.start();
        while (form->PictureLoading() && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_TRUE(form->PictureProperties->Enabled());

        struct TRound {
            QWidget* target;
            const char* dialog;     // the picture's dialog opens, or none ("")
            QByteArray listDialog;  // the list's dialog opens for this file, or none
        } const rounds[] = {
            {form->ScrollImage, "PictureProperties", QByteArray()},
            {form->BrowseFiles->View(), "", QFile::encodeName(root + "picture.bmp")},
        };
        for (const TRound& round : rounds) {
            SCOPED_TRACE(round.dialog);
            listShown.clear();
            QString name;
            bool closed = false;
            QStringList rows;
            QTimer::singleShot(0, [&] { rows = ReadAndEscape(name, closed); });
            round.target->setFocus();
            PressKey(round.target, Qt::Key_Return, Qt::AltModifier);
            QApplication::processEvents();
            EXPECT_EQ(name, round.dialog);
            EXPECT_EQ(listShown, round.listDialog);
            if (name.isEmpty()) continue;
            EXPECT_TRUE(closed);
            EXPECT_TRUE(rows.contains("File name: picture.bmp")) << rows.join('\n').toStdString();
            EXPECT_TRUE(rows.contains("Format: Windows bitmap"));
            EXPECT_TRUE(rows.contains("Dimensions: 3 x 2 pixels"));
        }
    }
    SetPropertiesHook(nullptr);
    UnregisterImageFormats();
    QDir::setCurrent(previous);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}

}  // namespace
