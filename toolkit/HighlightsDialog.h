#pragma once
// THighlightsDialog: the highlight patterns in eight rows, each a pattern, "Match case",
// "Regular expression" and a colour button. An expression that does not compile is named under
// the rows and OK stays refused until it is fixed or emptied; Cancel (Esc) changes nothing.
#include <QColor>
#include <QDialog>

#include <array>
#include <vector>

#include "toolkit/Highlights.h"

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

class THighlightsDialog : public QDialog {
    Q_OBJECT

  public:
    explicit THighlightsDialog(const std::vector<THighlightPattern>& patterns,
                               QWidget* parent = nullptr);

    // The rows with a pattern, in order.
    std::vector<THighlightPattern> Patterns() const;

    QLineEdit* PatternEdit(int row) const { return rows_[size_t(row)].pattern; }
    QCheckBox* MatchCase(int row) const { return rows_[size_t(row)].matchCase; }
    QCheckBox* Regex(int row) const { return rows_[size_t(row)].regex; }
    QPushButton* ColorButton(int row) const { return rows_[size_t(row)].colorButton; }
    QPushButton* OkButton() const;
    QString ErrorText() const;

    void accept() override;

  private:
    struct TRow {
        QLineEdit* pattern = nullptr;
        QCheckBox* matchCase = nullptr;
        QCheckBox* regex = nullptr;
        QPushButton* colorButton = nullptr;
        QColor color;
    };

    THighlightPattern PatternOf(const TRow& row) const;
    // Shows the first expression that does not compile; false when there is one.
    bool Check();
    void ChooseColor(int row);
    void ShowColor(TRow& row);

    std::array<TRow, MaxHighlights> rows_;
    QLabel* error_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};
