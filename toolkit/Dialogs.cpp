#include "toolkit/Dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <iterator>

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

namespace {

// Whether a style slants: italic or oblique (QFontDatabase::italic() says false for oblique
// styles, which is how a regular font turned oblique).
bool Slanted(const QString& family, const QString& style) {
    return QFontDatabase::italic(family, style) ||
           QFontDatabase::font(family, style, 10).style() != QFont::StyleNormal ||
           style.contains(QLatin1String("Oblique"), Qt::CaseInsensitive) ||
           style.contains(QLatin1String("Italic"), Qt::CaseInsensitive);
}

// The family's style that slants (or stands upright) as asked, with the weight nearest to the
// one asked; empty when the family has no styles.
QString MatchingStyle(const QString& family, int weight, bool italic) {
    QString best;
    int bestDistance = 0;
    for (const QString& style : QFontDatabase::styles(family)) {
        const int distance = std::abs(QFontDatabase::weight(family, style) - weight) +
                             (Slanted(family, style) != italic ? 10000 : 0);
        if (best.isEmpty() || distance < bestDistance) {
            best = style;
            bestDistance = distance;
        }
    }
    return best;
}

QFont InStyle(QFont font, const QString& family, int weight, bool italic) {
    font.setFamily(family);
    const QString style = MatchingStyle(family, weight, italic);
    if (!style.isEmpty()) {
        font.setStyleName(style);
        font.setWeight(QFont::Weight(QFontDatabase::weight(family, style)));
        font.setItalic(Slanted(family, style));
    }
    return font;
}

}  // namespace

QFont FontDialogStart(const TFont& font) {
    const QFont wanted = font.ToQFont();
    const QString family =
        QFontDatabase::hasFamily(wanted.family()) ? wanted.family() : QFontInfo(wanted).family();
    return InStyle(wanted, family, wanted.bold() ? QFont::Bold : QFont::Normal, wanted.italic());
}

QFont FontDialogFamilyChanged(const QFont& previous, const QFont& current) {
    const QString style = QFontDatabase::styleString(previous);
    const int weight = QFontDatabase::styles(previous.family()).contains(style)
                           ? QFontDatabase::weight(previous.family(), style)
                           : previous.weight();
    const bool italic = QFontDatabase::styles(previous.family()).contains(style)
                            ? Slanted(previous.family(), style)
                            : previous.italic();
    return InStyle(current, current.family(), weight, italic);
}

bool TFontDialog::Execute(QWidget* parent) {
    if (ExecuteHook) return ExecuteHook(*this);
    QFontDialog dialog(FontDialogStart(font_), parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    // Picking another family keeps the kind of style chosen: the dialog by itself selects the
    // new family's first style (an oblique one, for some families) when the style's name is
    // not among the new family's.
    QFont last = dialog.currentFont();
    QObject::connect(&dialog, &QFontDialog::currentFontChanged, &dialog, [&](const QFont& font) {
        if (font.family() == last.family()) {
            last = font;
            return;
        }
        const QFont fixed = FontDialogFamilyChanged(last, font);
        last = fixed;
        if (QFontDatabase::styleString(fixed) != QFontDatabase::styleString(font))
            dialog.setCurrentFont(fixed);
    });
    if (dialog.exec() != QDialog::Accepted) return false;
    font_.AssignQFont(dialog.selectedFont());
    return true;
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
    // Icon and caption by TMsgDlgType; a custom dialog has no icon and the program's title.
    struct Look {
        QMessageBox::Icon icon;
        const char* caption;
    };
    static constexpr Look kLooks[] = {{QMessageBox::Warning, "Warning"},
                                      {QMessageBox::Critical, "Error"},
                                      {QMessageBox::Information, "Information"},
                                      {QMessageBox::Question, "Confirm"}};
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption = Application::Title();
    if (unsigned(type) < std::size(kLooks)) {
        icon = kLooks[type].icon;
        caption = QString::fromLatin1(kLooks[type].caption);
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
