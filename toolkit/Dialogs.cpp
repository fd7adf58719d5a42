#include "toolkit/Dialogs.h"

#include <QColorDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QPushButton>

#include "toolkit/Application.h"

namespace {
TMessageDlgHook& MessageHook() {
    static TMessageDlgHook hook;
    return hook;
}
}  // namespace

TFontDialog::TFontDialog(const QString& name, QObject* parent) : QObject(parent) {
    setObjectName(name);
}

bool TFontDialog::Execute(QWidget* parent) {
    if (ExecuteHook) return ExecuteHook(*this);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font_.ToQFont(), parent);
    if (ok) font_.AssignQFont(chosen);
    return ok;
}

TColorDialog::TColorDialog(const QString& name, QObject* parent) : QObject(parent) {
    setObjectName(name);
}

bool TColorDialog::Execute(QWidget* parent) {
    if (ExecuteHook) return ExecuteHook(*this);
    const QColor chosen = QColorDialog::getColor(ColorToQColor(color_), parent);
    if (!chosen.isValid()) return false;
    color_ = QColorToColor(chosen);
    return true;
}

void SetMessageDlgHook(TMessageDlgHook hook) {
    MessageHook() = std::move(hook);
}

TModalResult MessageDlg(const QString& message, TMsgDlgType type, TMsgDlgButtons buttons,
                        QWidget* parent) {
    if (MessageHook()) return MessageHook()(message, type, buttons);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption = Application::Title();
    switch (type) {
        case mtWarning:
            icon = QMessageBox::Warning;
            caption = QStringLiteral("Warning");
            break;
        case mtError:
            icon = QMessageBox::Critical;
            caption = QStringLiteral("Error");
            break;
        case mtInformation:
            icon = QMessageBox::Information;
            caption = QStringLiteral("Information");
            break;
        case mtConfirmation:
            icon = QMessageBox::Question;
            caption = QStringLiteral("Confirm");
            break;
        case mtCustom:
            break;
    }
    QMessageBox box(icon, caption, message, QMessageBox::NoButton, parent);
    if (buttons.testFlag(mbYes)) box.addButton(QMessageBox::Yes);
    if (buttons.testFlag(mbNo)) box.addButton(QMessageBox::No);
    if (buttons.testFlag(mbOK)) box.addButton(QMessageBox::Ok);
    if (buttons.testFlag(mbCancel)) box.addButton(QMessageBox::Cancel);
    if (buttons == TMsgDlgButtons()) box.addButton(QMessageBox::Ok);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return mrYes;
        case QMessageBox::No:
            return mrNo;
        case QMessageBox::Ok:
            return mrOk;
        default:
            return mrCancel;
    }
}
