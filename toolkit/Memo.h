#pragma once
// TMemo: the read-only text view of a file of any size with the memo's property names. The file
// is read in pieces as they are shown (TTextDocument); nothing is loaded whole.
//
// Word wrap follows the platform edit control it stands in for: a memo with a horizontal scroll
// bar (ssHorizontal, ssBoth) does not wrap, whatever WordWrap says.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

#include "toolkit/Controls.h"
#include "toolkit/Highlights.h"
#include "toolkit/TextView.h"

class QLabel;
class TFilterPane;
class TFindBar;

class TMemo : public TControl<TTextView> {
    Q_OBJECT
    TCONTROL_ALIGN_PROPERTIES
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(Toolkit::TScrollStyle ScrollBars READ ScrollBars WRITE SetScrollBars)
    Q_PROPERTY(int SelLength READ SelLength)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(int FilterHeight READ FilterHeight WRITE SetFilterHeight)
    Q_PROPERTY(QStringList Highlights READ Highlights WRITE SetHighlights)

  public:
    // Text() gives at most this many bytes of a document's start.
    static constexpr uint64_t MaxText = uint64_t(64) << 20;

    explicit TMemo(const QString& name, QWidget* parent = nullptr);
    ~TMemo() override;

    // The memo only shows text; the flag is kept for the property.
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }
    Qt::TextInteractionFlags textInteractionFlags() const {
        return Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
    }
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    TScrollStyle ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollStyle value);
    // Whether lines are wrapped now (WordWrap and no horizontal scroll bar).
    bool Wrapping() const;
    // Number of selected characters (bytes for a selection beyond 1 MiB).
    int SelLength() const;
    QString Text() const;
    void SetText(const QString& value);
    // Lines indexed so far: all of them once IndexComplete().
    int LineCount() const;
    bool IndexComplete() const { return !Document() || Document()->IndexComplete(); }

    // Shows a regular file of any size, one line per line of text (CR LF, LF and CR all end a
    // line). Throws std::runtime_error with the system's reason when the file cannot be opened;
    // the text is then left as it was. A pipe, device or socket is refused ("... It is not a
    // regular file") without waiting for data. A file that grows is followed; one truncated or
    // replaced is shown again.
    void LoadFromFile(const QString& fileName);
    // The same for a file named by its bytes as the file system holds them (a name that is not
    // valid in the locale's encoding); shownName is used in the messages.
    void LoadFromNativeFile(const QByteArray& nativeName, const QString& shownName);
    void Clear();
    // Throws std::runtime_error when the selection is too large to copy.
    void CopyToClipboard();
    void SetFocus() { setFocus(Qt::OtherFocusReason); }

    // The encoding shown; SetEncoding overrides the detected one for the file shown.
    const TEncodingChoice& Encoding() const { return encoding_; }
    void SetEncoding(const TEncodingChoice& encoding);
    // Shows the file in the encoding detected from its bytes again.
    void DetectEncodingAgain();
    // The encoding's name as the status line shows it ("UTF-8", "Windows-1252", "KOI8-R").
    static QString EncodingName(const TEncodingChoice& encoding);
    // The file shown (empty for text that is no file).
    QByteArray NativeFileName() const { return nativeName_; }
    QString FileName() const { return shownName_; }
    // The file shown was renamed: it goes on being shown (and followed) under its new name.
    void FileRenamed(const QByteArray& nativeName, const QString& shownName);
    // The small status line under the text: the encoding, and the caret's line and column.
    QString StatusText() const;
    // Hex rows instead of text: chosen for binary files, or forced for every file.
    bool HexForced() const { return hexForced_; }
    void SetHexForced(bool value);
    void SetShowLineNumbers(bool value) { SetLineNumbers(value); }
    // Looks at the shown file now (the follow timer does it twice a second).
    void CheckFile();

    // Find: shows the find bar (Ctrl+F), searches forward/backward from the caret.
    void ShowFindBar();
    TFindBar* FindBar() const { return findBar_; }

    // The list of matching lines under the text (Ctrl+Shift+F, or the find bar's button): the
    // lines the find bar's pattern matches, and the marked lines. Without a pattern the find bar
    // opens for one, and the list shows the marks until it is given.
    void ShowFilterPane();
    void CloseFilterPane();
    TFilterPane* FilterPane() const { return filterPane_; }
    bool FilterPaneShown() const;
    // The list's height in pixels; 0 for the default (a third of the memo).
    int FilterHeight() const { return filterHeight_; }
    void SetFilterHeight(int value);
    // Highlights: patterns painted in their colours wherever they occur in every file shown,
    // as the entries HighlightsToList writes. EditHighlights lets the user choose them.
    QStringList Highlights() const { return HighlightsToList(highlights_); }
    void SetHighlights(const QStringList& value);
    void EditHighlights();

    // Go to line (Ctrl+G): asks for a line number or a percentage, the caret's line offered, and
    // shows that line. A line the index has not reached yet is waited for, with the progress in
    // the status line, until it is shown or Esc cancels.
    void AskGoToLine();
    void GoToLineWhenIndexed(const TLineTarget& target);
    bool GoToLinePending() const { return goTo_.isActive(); }
    void CancelGoToLine();
    // When set, AskGoToLine calls the hook with the offered text instead of showing the dialog;
    // true with the text to go to, false for Cancel.
    static inline std::function<bool(QString& text)> AskLineHook;

    // The text of a file's bytes: valid UTF-8 (a leading byte order mark dropped) as UTF-8,
    // anything else as Windows-1252. NUL bytes become blanks.
    static QString DecodeText(const QByteArray& bytes);
    static QString DecodeWindows1252(const QByteArray& bytes);

  signals:
    void OnChange();
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

  protected:
    QPalette::ColorRole ColorRole() const override { return QPalette::Base; }
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ApplyWrap();
    void Show(std::shared_ptr<const TTextSource> source, const TEncodingChoice& encoding);
    void PlaceFindBar();
    // Gives the list the find bar's search over the document shown.
    void RefreshFilter();
    void UpdateStatus();
    void OnGoToTick();
    void ApplyHighlights();

    bool readOnly_ = true;
    bool wordWrap_ = true;
    bool hexForced_ = false;
    TScrollStyle scrollBars_ = ssNone;
    TEncodingChoice encoding_;
    std::shared_ptr<const TTextSource> source_;
    QByteArray nativeName_;
    QString shownName_;
    QTimer follow_;
    TFindBar* findBar_ = nullptr;
    TFilterPane* filterPane_ = nullptr;
    int filterHeight_ = 0;
    QTimer goTo_;
    TLineTarget goToTarget_;
    QLabel* status_ = nullptr;
    std::vector<THighlightPattern> highlights_;
};
