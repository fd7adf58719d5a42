#include "browse/SendToDialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "browse/MessageCatalogue.h"
#include "browse/ShellHelpers.h"

TSendToDialog::TSendToDialog(const QString& path, QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("SendToDialog"));
    setWindowTitle(MessageText(msgSendToCaption));
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    setFixedSize(333, 135);
    Label = new QLabel(MessageText(msgSendToLabel), this);
    Label->move(20, 12);
    Label->adjustSize();
    Edit = new QLineEdit(this);
    Edit->setGeometry(20, 32, 293, Edit->sizeHint().height());
    Edit->setMaxLength(285);
    Edit->setText(path);
    Edit->selectAll();
    OkButton = new QPushButton(QStringLiteral("OK"), this);
    OkButton->setGeometry(37, 80, 75, 25);
    OkButton->setDefault(true);
    CancelButton = new QPushButton(MessageText(msgCancel), this);
    CancelButton->setGeometry(129, 80, 75, 25);
    BrowseButton = new QPushButton(MessageText(msgBrowse), this);
    BrowseButton->setGeometry(221, 80, 75, 25);
    BrowseButton->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);  // Esc too
    connect(BrowseButton, &QPushButton::clicked, this, [this] { done(BrowseResult); });
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Edit->setFocus();
}

bool TSendToDialog::Execute(QString& path, QWidget* owner) {
    QString shown = path;
    for (;;) {
        TSendToDialog dialog(shown, owner);
        const int result = ExecHook ? ExecHook(dialog) : dialog.exec();
        if (result == QDialog::Accepted) {
            const QString text = dialog.Edit->text();
            if (text.isEmpty()) return false;
            path = text;
            return true;
        }
        if (result != BrowseResult) return false;
        QString picked;
        if (!PickFolder(owner, false, picked)) return false;
        shown = picked;
    }
}
