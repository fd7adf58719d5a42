#pragma once
// TTextView: a read-only view over a TTextDocument of any size. It lays out and paints only the
// lines on screen; its position is the byte offset of the top line, so it can show any part of a
// file before the line index has reached it. The vertical scroll bar follows the byte offset
// until the index is complete and the line number after.
//
// Selection and caret are byte offsets into the document; copying is bounded by MaxCopy.
// A hex mode shows the same bytes as rows of 16.
#include <QAbstractScrollArea>
#include <QColor>
#include <QString>
#include <QTextLayout>
#include <QTimer>

#include <memory>
#include <vector>

#include "text/TextDocument.h"
#include "text/TextSearch.h"
#include "toolkit/Highlights.h"

// The text of `size` bytes in an encoding. NUL shows as a blank. `map`, when given, receives for
// every UTF-16 unit of the result the offset of the byte its character starts at, and `size`
// last.
QString DecodeTextBytes(const TEncodingChoice& encoding, const uint8_t* data, size_t size,
                        std::vector<uint32_t>* map = nullptr);

// The UTF-16 index in a line's text of the character at byte `offset` (kept within the line's
// content), `map` being what DecodeTextBytes gives for the line's content.
int LineTextIndex(const TTextLine& line, const std::vector<uint32_t>& map, uint64_t offset);
// Appends a range in `format` for every hit that overlaps the line.
void AppendHitFormats(QList<QTextLayout::FormatRange>& formats, const std::vector<TSearchHit>& hits,
                      const TTextLine& line, const std::vector<uint32_t>& map,
                      const QTextCharFormat& format);

class TTextView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    static constexpr uint64_t MaxCopy = uint64_t(64) << 20;

    explicit TTextView(QWidget* parent = nullptr);
    ~TTextView() override;

    void SetDocument(std::shared_ptr<TTextDocument> document);
    const std::shared_ptr<TTextDocument>& Document() const { return document_; }
    // The document grew (a followed file): scroll bar and screen catch up.
    void DocumentGrew();

    bool LineWrapping() const { return wrap_; }
    void SetLineWrapping(bool value);
    bool HexMode() const { return hex_; }
    void SetHexMode(bool value);
    bool LineNumbers() const { return lineNumbers_; }
    void SetLineNumbers(bool value);

    uint64_t TopOffset() const { return top_; }
    void ScrollToOffset(uint64_t offset);
    void ScrollToEnd();
    // Whether the end of the document is on screen.
    bool AtEnd();
    void ScrollLines(int64_t lines);
    // Puts the caret at the start of the line `target` names, at the top of the screen. False,
    // with nothing changed, while the index has not reached that line.
    bool GoToLine(const TLineTarget& target);

    uint64_t SelStart() const { return std::min(anchor_, caret_); }
    uint64_t SelEnd() const { return std::max(anchor_, caret_); }
    uint64_t Caret() const { return caret_; }
    void Select(uint64_t anchor, uint64_t caret);
    void SelectAll();
    // The text of [from, to) with one "\n" per line end; empty when larger than `limit` bytes.
    QString TextOf(uint64_t from, uint64_t to, uint64_t limit) const;
    // The selected text; false with a message when it is larger than MaxCopy.
    bool SelectedText(QString& text, QString& error) const;
    // Copies the selection; false with a message when it cannot.
    bool Copy(QString& error);

    // Matches to highlight on screen (none for null).
    void SetHighlight(std::shared_ptr<TTextSearch> search);
    // The background of the current search's matches, here and in the lists of matching lines.
    static QColor FoundColor();
    static QColor MarkColor();
    // The highlighted hits in [from, to), a layer per colour, the one to paint on top last: the
    // highlight patterns (the first over the others), then the search's matches.
    struct THitLayer {
        QColor color;
        std::vector<TSearchHit> hits;
    };
    std::vector<THitLayer> HitLayers(uint64_t from, uint64_t to) const;

    // Marked lines, by their starts in ascending order; another document starts without any.
    const std::vector<uint64_t>& Marks() const { return marks_; }
    void SetMarks(std::vector<uint64_t> marks);
    // Marks the line holding `offset`, or unmarks it when it is marked.
    void ToggleMark(uint64_t offset);
    // Moves the caret to the next marked line after the caret's line (or before it), going on
    // from the other end; false when there is no mark.
    bool GoToMark(bool forward);
    // Puts the caret at `offset` (selecting `length` bytes) and scrolls its line on screen with
    // a few lines above it.
    void ShowAt(uint64_t offset, uint64_t length = 0);
    // Further patterns shown each in its colour, under the search's matches and the selection
    // (the first pattern over the others). A new document drops them.
    void SetPatternHighlights(std::vector<TPatternHighlight> patterns);
    const std::vector<TPatternHighlight>& PatternHighlights() const { return patterns_; }

  signals:
    void SelectionChanged();
    void MarksChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    struct TVisibleLine {
        TTextLine line;
        QString text;
        std::vector<uint32_t> map;
        std::shared_ptr<QTextLayout> layout;
        int y = 0;       // top of the first row drawn, in viewport pixels
        int height = 0;  // of all its rows
    };

    void Relayout() { dirty_ = true; }
    void BuildVisible();
    std::shared_ptr<QTextLayout> LayoutLine(const QString& text) const;
    int RowsOf(uint64_t lineStart) const;
    int VisibleRows() const;
    int LineHeight() const;
    int GutterWidth() const;
    int TextLeft() const;
    void UpdateScrollBars();
    void OnVerticalValue(int value);
    void OnIndexTick();
    uint64_t HitTest(const QPoint& point);
    void MoveCaret(uint64_t offset, bool extend);
    void EnsureCaretVisible();
    uint64_t CharStep(uint64_t offset, bool forward) const;
    void ClampTop();
    void PaintHex(QPainter& painter);
    void KeyHex(QKeyEvent* event);
    uint64_t HexRows() const;

    std::shared_ptr<TTextDocument> document_;
    std::shared_ptr<TTextSearch> highlight_;
    std::vector<uint64_t> marks_;
    std::vector<TPatternHighlight> patterns_;
    uint64_t top_ = 0;  // line start (text) or row offset (hex) at the top
    int topRow_ = 0;    // wrapped rows of the top line scrolled away
    uint64_t anchor_ = 0, caret_ = 0;
    bool wrap_ = true, hex_ = false, lineNumbers_ = false;
    bool dirty_ = true;
    bool settingBar_ = false;
    bool selecting_ = false;
    int hscroll_ = 0;
    int widest_ = 0;
    std::vector<TVisibleLine> visible_;
    QTimer indexTimer_;
};
