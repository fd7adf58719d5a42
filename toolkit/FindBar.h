#pragma once
// TFindBar: the find bar of a text view. Enter or F3 finds the next match after the caret,
// Shift+Enter or Shift+F3 the one before; Esc stops a running search, then closes the bar. The
// search runs on a worker thread and every match on screen is highlighted.
#include <QPointer>
#include <QWidget>

#include <memory>

#include "text/TextSearch.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class TTextView;

class TFindBar : public QWidget {
    Q_OBJECT

  public:
    explicit TFindBar(TTextView* view);
    ~TFindBar() override;

    void Open();
    void Close();
    // Searches from the caret; forward or backward.
    void Find(bool forward);
    // The search of the pattern and options shown, made when there is none yet (null, with the
    // reason shown, when the pattern is empty or does not compile).
    std::shared_ptr<TTextSearch> PrepareSearch();
    // Stops a running search.
    void Cancel();
    bool Running() const { return running_; }
    // The shown document changed: a running search stops and the highlight goes.
    void DocumentChanged();

    QLineEdit* Pattern() const { return pattern_; }
    QCheckBox* MatchCase() const { return matchCase_; }
    QCheckBox* WholeWords() const { return wholeWords_; }
    QCheckBox* Regex() const { return regex_; }
    QString Status() const;

  signals:
    void VisibilityChanged();
    // A search ended (found or not).
    void Finished(bool found);
    // A search for a new pattern or new options was made (PrepareSearch).
    void SearchPrepared();
    // The button that lists the matching lines was pressed.
    void ListRequested();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Shown and hidden: VisibilityChanged.
    bool event(QEvent* event) override;

  private:
    void Done(int generation, bool found, TSearchHit hit, bool wrapped, bool forward);

    TTextView* view_;
    QLineEdit* pattern_;
    QCheckBox* matchCase_;
    QCheckBox* wholeWords_;
    QCheckBox* regex_;
    QLabel* status_;
    std::shared_ptr<TTextSearch> search_;
    int generation_ = 0;
    bool running_ = false;
};
