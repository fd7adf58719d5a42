#pragma once
// TMemo: a read-only multi-line text view (QPlainTextEdit) with the memo's property names.
//
// Word wrap follows the platform edit control it stands in for: a memo with a horizontal scroll
// bar (ssHorizontal, ssBoth) does not wrap, whatever WordWrap says.
#include <QByteArray>
#include <QPlainTextEdit>
#include <QString>

#include "toolkit/Controls.h"

class TMemo : public TControl<QPlainTextEdit> {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(Toolkit::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(Toolkit::TScrollStyle ScrollBars READ ScrollBars WRITE SetScrollBars)
    Q_PROPERTY(int SelLength READ SelLength)
    Q_PROPERTY(QString Text READ Text WRITE SetText)

  public:
    explicit TMemo(const QString& name, QWidget* parent = nullptr);

    bool ReadOnly() const { return isReadOnly(); }
    // Read-only keeps selecting with the keyboard and a visible caret.
    void SetReadOnly(bool value);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    TScrollStyle ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollStyle value);
    // Whether lines are wrapped now (WordWrap and no horizontal scroll bar).
    bool Wrapping() const;
    // Number of selected characters.
    int SelLength() const;
    QString Text() const { return toPlainText(); }
    void SetText(const QString& value);
    int LineCount() const { return blockCount(); }

    // The largest file the memo reads (256 MiB); larger ones are refused.
    static constexpr qint64 MaxFileSize = qint64(256) << 20;

    // Replaces the text with a file's whole content, one line per line of text (CR LF, LF and CR
    // all end a line). Throws std::runtime_error with the system's reason when the file cannot
    // be read; the text is then left as it was. Only regular files are read: a pipe, device or
    // socket is refused ("... It is not a regular file") without waiting for data, and so is a
    // file larger than MaxFileSize.
    void LoadFromFile(const QString& fileName);
    // The same for a file named by its bytes as the file system holds them (a name that is not
    // valid in the locale's encoding); shownName is used in the messages.
    void LoadFromNativeFile(const QByteArray& nativeName, const QString& shownName);
    // A regular file's whole content under the rules of LoadFromFile.
    static QByteArray ReadTextFile(const QByteArray& nativeName, const QString& shownName);
    void Clear();
    void CopyToClipboard();
    void SetFocus() { setFocus(Qt::OtherFocusReason); }

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

  private:
    void ApplyWrap();

    bool wordWrap_ = true;
    TScrollStyle scrollBars_ = ssNone;
};
