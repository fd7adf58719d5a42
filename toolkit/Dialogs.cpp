#include "toolkit/Dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGridLayout>
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

int MessageBoxMinimumWidth(const QString& title) {
    QFont font = QApplication::font();
    font.setBold(true);  // window titles are often bold
    return QFontMetrics(font).horizontalAdvance(title) + 8 * QFontMetrics(font).height() + 40;
}

void SetMessageDlgHook(TMessageDlgHook hook) {
    MessageHook() = std::move(hook);
}

TModalResult MessageDlg(const QString& message, TMsgDlgType type, TMsgDlgButtons buttons,
                        QWidget* parent, TMsgDlgButtons defaultButton) {
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
    // A short message makes a box so narrow that the window frame cuts its title off: keep the
    // box as wide as the title with room for the frame's buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(MessageBoxMinimumWidth(caption), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    const std::pair<TMsgDlgBtn, QMessageBox::StandardButton> kinds[] = {
        {mbYes, QMessageBox::Yes},
        {mbNo, QMessageBox::No},
        {mbOK, QMessageBox::Ok},
        {mbCancel, QMessageBox::Cancel}};
    for (const auto& [flag, standard] : kinds) {
        if (!buttons.testFlag(flag)) continue;
        QPushButton* button = box.addButton(standard);
        if (defaultButton == flag) box.setDefaultButton(button);
    }
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
