#include "toolkit/Application.h"

#include <QApplication>
#include <QMessageBox>
#include <QToolTip>

namespace {

QString& TitleStorage() {
    static QString title;
    return title;
}

Application::TErrorBoxHook& ErrorHook() {
    static Application::TErrorBoxHook hook;
    return hook;
}

Application::THintSettings& HintStorage() {
    static Application::THintSettings settings;
    return settings;
}

}  // namespace

namespace Application {

THintSettings HintSettings() {
    return HintStorage();
}

void SetHintSettings(const THintSettings& value) {
    HintStorage() = value;
    QPalette palette = QToolTip::palette();
    palette.setColor(QPalette::ToolTipBase, ColorToQColor(value.Color));
    QToolTip::setPalette(palette);
}

QString Title() {
    if (!TitleStorage().isEmpty()) return TitleStorage();
    return QCoreApplication::applicationName();
}

void SetTitle(const QString& title) {
    TitleStorage() = title;
    QCoreApplication::setApplicationName(title);
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar('.')) return message + QLatin1Char('.');
    return message;
}

void SetErrorBoxHook(TErrorBoxHook hook) {
    ErrorHook() = std::move(hook);
}

void ShowException(const QString& message) {
    const QString text = ErrorBoxText(message);
    if (ErrorHook()) {
        ErrorHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, Title(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void ShowException(const std::exception& error) {
    ShowException(QString::fromUtf8(error.what()));
}

}  // namespace Application

THourglass::THourglass() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

THourglass::~THourglass() {
    QApplication::restoreOverrideCursor();
}
