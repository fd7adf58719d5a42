#pragma once
// TFilterPane: the lines of the text view's document that a search matches, with the file's line
// numbers, and the lines the user marked, in one list under the text. The list fills on a
// worker thread while it is read and follows a file that grows; it scrolls on its own, and
// Enter or a double click shows the line in the text view.
#include <QAbstractScrollArea>
#include <QTimer>

#include <memory>
#include <vector>

#include "text/LineFilter.h"

class QLabel;
class TTextView;

class TFilterPane : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit TFilterPane(TTextView* view, QWidget* parent = nullptr);
    ~TFilterPane() override;

    // Lists the lines `search` matches (null: the marked lines alone); `pattern` names it.
    void SetSearch(std::shared_ptr<const TTextSearch> search, const QString& pattern);
    const std::shared_ptr<const TTextSearch>& Search() const { return search_; }
    // The view shows another document: the list empties.
    void DocumentChanged();
    // The document grew: the filter goes on over the new text.
    void DocumentGrew();
    // The view's marks changed.
    void MarksChanged();

    struct TRow {
        uint64_t start = 0;
        int64_t number = -1;  // from 1; -1 while the line index has not reached a mark
        bool match = false;
        bool marked = false;
    };
    size_t RowCount() const;
    TRow Row(size_t index) const;
    int CurrentRow() const { return current_; }
    void SetCurrentRow(int row);
    // Whether the filter is still reading the document.
    bool Filling() const;
    QString Status() const;
    // Shows the current row's line in the text view.
    void ShowCurrent();

  signals:
    // A row was chosen to be shown (Enter, double click): the text view takes the focus.
    void Chosen();
    void CloseRequested();
    // Dragging the pane's top edge asks for this height.
    void HeightRequested(int height);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Restart();
    void OnTick();
    void Remerge();
    void UpdateScrollBar();
    void UpdateStatus();
    int RowHeight() const;
    int VisibleRows() const;
    int RowAt(int y) const;

    TTextView* view_;
    std::shared_ptr<const TTextSearch> search_;
    QString pattern_;
    std::unique_ptr<TLineFilter> filter_;
    // Marks with the row each takes in the list, and whether a match takes the same row.
    struct TMarkRow {
        uint64_t start = 0;
        size_t row = 0;
        bool match = false;
        size_t own = 0;  // marks up to this one that are no match
    };
    std::vector<TMarkRow> marks_;
    size_t extraRows_ = 0;  // marks that are no match
    size_t count_ = 0;      // filter lines merged so far
    int current_ = -1;
    QWidget* header_;
    QLabel* status_;
    QTimer tick_;
    int dragFrom_ = -1;  // the pane's height when a drag of its top edge began; -1 for none
    int dragY_ = 0;
};
