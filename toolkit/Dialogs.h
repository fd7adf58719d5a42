#pragma once
// Common dialogs: font and colour choosers, message dialogs. Each has a hook that tests set to
// answer in place of the modal dialog.
#include <QFont>
#include <QObject>
#include <QString>
#include <functional>

#include "toolkit/Colors.h"
#include "toolkit/Font.h"
#include "toolkit/Types.h"

class QWidget;

// Font chooser: Execute shows the dialog with Font and, when the user confirms, stores the
// chosen font in Font (colour and character set kept) and returns true.
class TFontDialog : public QObject {
    Q_OBJECT
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)

  public:
    explicit TFontDialog(const QString& name, QObject* parent = nullptr);

    TFont Font() const { return font_; }
    void SetFont(const TFont& value) { font_ = value; }

    bool Execute(QWidget* parent = nullptr);

    // When set, Execute calls the hook instead of showing a dialog and returns its answer.
    static inline std::function<bool(TFontDialog&)> ExecuteHook;

  private:
    TFont font_;
};

// The font the font chooser starts from: the font's family where it is installed (else the
// family it is drawn with), in the style that matches its bold and italic marks (the regular
// one for neither).
QFont FontDialogStart(const TFont& font);
// The chooser's font after the user picked another family: the new family in the style that
// matches the previous choice (a regular font stays regular), not the family's first style.
QFont FontDialogFamilyChanged(const QFont& previous, const QFont& current);

// Colour chooser: Execute shows the dialog with Color and, when the user confirms, stores the
// chosen direct colour in Color and returns true.
class TColorDialog : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Color READ Color WRITE SetColor)

  public:
    explicit TColorDialog(const QString& name, QObject* parent = nullptr);

    TColor Color() const { return color_; }
    void SetColor(TColor value) { color_ = value; }

    bool Execute(QWidget* parent = nullptr);

    static inline std::function<bool(TColorDialog&)> ExecuteHook;

  private:
    TColor color_ = clBlack;
};

// A modal message box: warning or error with OK, confirmation with Yes and No, and so on.
// Returns the button pressed (mrCancel when the box is closed otherwise). defaultButton, when
// one of the buttons, is the one Enter presses (else the first).
TModalResult MessageDlg(const QString& message, TMsgDlgType type, TMsgDlgButtons buttons,
                        QWidget* parent = nullptr, TMsgDlgButtons defaultButton = {});

// The least width of a message box with that title: the title and the window frame's buttons.
int MessageBoxMinimumWidth(const QString& title);

// When set, MessageDlg calls the hook instead of showing a box.
using TMessageDlgHook =
    std::function<TModalResult(const QString& message, TMsgDlgType type, TMsgDlgButtons buttons)>;
void SetMessageDlgHook(TMessageDlgHook hook);
