#include "toolkit/HighlightsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "toolkit/Dialogs.h"

THighlightsDialog::THighlightsDialog(const std::vector<THighlightPattern>& patterns,
                                     QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("HighlightsDialog"));
    setWindowTitle(tr("Highlights"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    grid->addWidget(new QLabel(tr("Pattern"), this), 0, 1);
    grid->setColumnStretch(1, 1);
    for (int i = 0; i < MaxHighlights; ++i) {
        TRow& row = rows_[size_t(i)];
        const bool given = size_t(i) < patterns.size();
        // Alt and the row's number goes to its pattern.
        auto* label = new QLabel(QStringLiteral("&%1").arg(i + 1), this);
        row.pattern = new QLineEdit(given ? patterns[size_t(i)].pattern : QString(), this);
        row.pattern->setMinimumWidth(260);
        label->setBuddy(row.pattern);
        row.matchCase = new QCheckBox(tr("Match case"), this);
        row.regex = new QCheckBox(tr("Regular expression"), this);
        row.colorButton = new QPushButton(tr("Colour..."), this);
        row.colorButton->setAutoDefault(false);
        row.color = given && patterns[size_t(i)].color.isValid() ? patterns[size_t(i)].color
                                                                 : DefaultHighlightColor(i);
        if (given) {
            row.matchCase->setChecked(patterns[size_t(i)].matchCase);
            row.regex->setChecked(patterns[size_t(i)].regex);
        }
        const QString number = QString::number(i + 1);
        row.pattern->setAccessibleName(tr("Pattern %1").arg(number));
        row.matchCase->setAccessibleName(tr("Match case %1").arg(number));
        row.regex->setAccessibleName(tr("Regular expression %1").arg(number));
        row.colorButton->setAccessibleName(tr("Colour %1").arg(number));
        ShowColor(row);
        int column = 0;
        for (QWidget* w : std::initializer_list<QWidget*>{label, row.pattern, row.matchCase,
                                                          row.regex, row.colorButton})
            grid->addWidget(w, i + 1, column++);
        connect(row.pattern, &QLineEdit::textChanged, this, &THighlightsDialog::Check);
        connect(row.regex, &QCheckBox::toggled, this, &THighlightsDialog::Check);
        connect(row.matchCase, &QCheckBox::toggled, this, &THighlightsDialog::Check);
        connect(row.colorButton, &QPushButton::clicked, this, [this, i] { ChooseColor(i); });
    }
    error_ = new QLabel(this);
    error_->setWordWrap(true);
    QPalette red = error_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    error_->setPalette(red);
    layout->addWidget(error_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &THighlightsDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &THighlightsDialog::reject);
    Check();
}

QPushButton* THighlightsDialog::OkButton() const {
    return buttons_->button(QDialogButtonBox::Ok);
}

QString THighlightsDialog::ErrorText() const {
    return error_->text();
}

THighlightPattern THighlightsDialog::PatternOf(const TRow& row) const {
    THighlightPattern p;
    p.pattern = row.pattern->text();
    p.color = row.color;
    p.matchCase = row.matchCase->isChecked();
    p.regex = row.regex->isChecked();
    return p;
}

std::vector<THighlightPattern> THighlightsDialog::Patterns() const {
    std::vector<THighlightPattern> patterns;
    for (const TRow& row : rows_)
        if (!row.pattern->text().isEmpty()) patterns.push_back(PatternOf(row));
    return patterns;
}

bool THighlightsDialog::Check() {
    QString error;
    for (size_t i = 0; i < rows_.size() && error.isEmpty(); ++i) {
        const QString why = HighlightError(PatternOf(rows_[i]));
        if (!why.isEmpty()) error = tr("Pattern %1: %2").arg(i + 1).arg(why);
    }
    error_->setText(error);
    error_->setVisible(!error.isEmpty());
    OkButton()->setEnabled(error.isEmpty());
    return error.isEmpty();
}

void THighlightsDialog::accept() {
    if (Check()) QDialog::accept();
}

void THighlightsDialog::ChooseColor(int row) {
    TRow& r = rows_[size_t(row)];
    TColorDialog chooser(QStringLiteral("HighlightColor"), this);
    chooser.SetColor(QColorToColor(r.color));
    if (!chooser.Execute(this)) return;
    r.color = ColorToQColor(chooser.Color());
    ShowColor(r);
}

void THighlightsDialog::ShowColor(TRow& row) {
    // The pattern on its colour, as the text shows it, and a swatch on the button.
    QPalette palette = row.pattern->palette();
    palette.setColor(QPalette::Base, row.color);
    palette.setColor(QPalette::Text, Qt::black);
    row.pattern->setPalette(palette);
    QPixmap swatch(16, 16);
    swatch.fill(row.color);
    QPainter(&swatch).drawRect(0, 0, 15, 15);
    row.colorButton->setIcon(QIcon(swatch));
}
