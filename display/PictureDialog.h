#pragma once
// TPictureDialog: a non-visual dialog component that shows one picture in a small window
// sized exactly to the picture (the About box). TDialogBase is the base of the program's
// own dialogs: a language for the window captions, a sound played on showing, a help context
// and a font (both held, not used here).
//
// The window, TPictureDialogWindow, is built in code: a fixed dialog frame holding a TBevelPanel
// that holds a TPictureView. With BorderStyle bsSingle the panel draws a two-pixel sunken edge
// around the picture and the client area is the picture's size plus 4 in each direction.
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "display/BevelPanel.h"
#include "imaging/Picture.h"
#include "toolkit/Font.h"

class QLabel;
class QPushButton;
class TPictureView;
class TPictureDialogWindow;

namespace ProDlgs {
Q_NAMESPACE

enum TDialogLanguage {
    dlEnglish,
    dlRussian,
    dlUkranian,
    dlFrench,
    dlPortuguese,
    dlSpanish,
    dlGerman,
    dlDanish,
    dlItalian,
    dlSwedish,
    dlDutch,
    dlPolish,
    dlHungarian,
    dlTurkish,
    dlSlovak,
    dlKorean
};
Q_ENUM_NS(TDialogLanguage)

enum TSoundType {
    stNoSound,
    stStandart,
    stAsterisk,
    stExclamation,
    stSystemHand,
    stQuestion,
    stDefault
};
Q_ENUM_NS(TSoundType)

}  // namespace ProDlgs

using ProDlgs::TDialogLanguage;
using ProDlgs::TSoundType;
using enum ProDlgs::TDialogLanguage;
using enum ProDlgs::TSoundType;

// The string table of the dialog library: identifier 30516 is the English window caption, the
// other languages follow at 30546 + 30 * (language - 1).
int DialogCaptionId(TDialogLanguage language);
// The text of a string-table identifier; empty for an unknown one.
QString DialogString(int id);

class TDialogBase : public QObject {
    Q_OBJECT
    Q_PROPERTY(ProDlgs::TDialogLanguage Language READ Language WRITE SetLanguage)
    Q_PROPERTY(ProDlgs::TSoundType SoundType READ SoundType WRITE SetSoundType)
    Q_PROPERTY(int HelpContext READ HelpContext WRITE SetHelpContext)

  public:
    explicit TDialogBase(const QString& name = QString(), QObject* parent = nullptr);
    ~TDialogBase() override;

    TDialogLanguage Language() const { return language_; }
    void SetLanguage(TDialogLanguage value) { language_ = value; }
    TSoundType SoundType() const { return soundType_; }
    void SetSoundType(TSoundType value) { soundType_ = value; }
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int value) { helpContext_ = value; }
    TFont& Font() { return *font_; }

    // Plays the sound of SoundType (every kind but stNoSound is the desktop's beep here).
    void PlaySound() const;
    // Tests hear the sounds through this hook instead of the speaker.
    static inline std::function<void(TSoundType)> SoundHook;

  private:
    TDialogLanguage language_ = dlEnglish;
    TSoundType soundType_ = stNoSound;
    int helpContext_ = 0;
    std::unique_ptr<TFont> font_;
};

class TPictureDialog : public TDialogBase {
    Q_OBJECT
    Q_PROPERTY(ProCtrls::TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Modal READ Modal WRITE SetModal)
    Q_PROPERTY(QString Text READ Text WRITE SetText)

  public:
    explicit TPictureDialog(const QString& name = QString(), QObject* parent = nullptr);
    ~TPictureDialog() override;

    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle value) { borderStyle_ = value; }
    QString Caption() const { return caption_; }
    void SetCaption(const QString& value) { caption_ = value; }
    bool Modal() const { return modal_; }
    void SetModal(bool value) { modal_ = value; }
    // Text shown under the picture (rich text; links open in the browser) with a Close button;
    // empty (the default) shows the picture alone.
    QString Text() const { return text_; }
    void SetText(const QString& value) { text_ = value; }

    // The owned picture holder; assigning copies the given picture's graphic into it.
    TPicture* Picture() const { return picture_.get(); }
    void SetPicture(const TPicture* value);

    // Shows the picture in its window: modally (the call returns when the window has closed
    // and been freed) or not (the window frees itself when closed; a second call while it is
    // open only focuses it). Errors while building or filling the window free it and reach
    // the caller.
    void ShowPicture();

    // The open window, if any.
    TPictureDialogWindow* Form() const { return form_; }

  private:
    friend class TPictureDialogWindow;
    TBorderStyle borderStyle_ = bsNone;
    QString caption_;
    bool modal_ = true;
    QString text_;
    std::unique_ptr<TPicture> picture_;
    QPointer<TPictureDialogWindow> form_;
};

// The toolkit's form as the dialog library uses it (adds nothing).
class TCommonDialogForm : public QDialog {
    Q_OBJECT

  public:
    using QDialog::QDialog;
};

class TPictureDialogWindow : public TCommonDialogForm {
    Q_OBJECT

  public:
    // An empty dialog-framed window centred on the screen, captioned "Image View", with the
    // panel and the picture control inside.
    explicit TPictureDialogWindow(QWidget* owner = nullptr);
    ~TPictureDialogWindow() override;

    TBevelPanel* Panel = nullptr;
    TPictureView* Image = nullptr;

    // Puts a text and a Close button under the picture.
    void SetFooter(const QString& text);
    // The footer's text and Close button, or null without a footer.
    QLabel* FooterText() const { return footerText_; }
    QPushButton* CloseButton() const { return closeButton_; }

    // Sizes the client area to the picture (plus 4 in each direction with the 3-D bevel), and
    // the footer's height below it.
    void PictureChanged();
    // The form frees itself once closed (non-modal showing).
    void FormClose();
    // Clears the opening dialog's reference.
    void FormDestroy();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    friend class TPictureDialog;
    TPictureDialog* dialog_ = nullptr;
    bool freeOnClose_ = false;
    QWidget* footer_ = nullptr;
    QLabel* footerText_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};
