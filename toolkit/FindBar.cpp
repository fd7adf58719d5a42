#include "toolkit/FindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "toolkit/Highlights.h"
#include "toolkit/TextView.h"

TFindBar::TFindBar(TTextView* view) : QWidget(view), view_(view) {
    setObjectName(QStringLiteral("FindBar"));
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    auto* label = new QLabel(tr("&Find:"), this);
    pattern_ = new QLineEdit(this);
    label->setBuddy(pattern_);
    matchCase_ = new QCheckBox(tr("Match &case"), this);
    wholeWords_ = new QCheckBox(tr("&Whole words"), this);
    regex_ = new QCheckBox(tr("Regular e&xpression"), this);
    auto* previous = new QPushButton(tr("&Previous"), this);
    auto* next = new QPushButton(tr("&Next"), this);
    auto* list = new QPushButton(tr("&Lines"), this);
    list->setObjectName(QStringLiteral("ListLines"));
    list->setToolTip(tr("List the matching lines (Ctrl+Shift+F)"));
    status_ = new QLabel(this);
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("\u2715"));
    close->setToolTip(tr("Close (Esc)"));
    for (QWidget* w : std::initializer_list<QWidget*>{label, pattern_, matchCase_, wholeWords_,
                                                      regex_, previous, next, list, status_, close})
        layout->addWidget(w);
    layout->setStretchFactor(pattern_, 1);
    connect(pattern_, &QLineEdit::returnPressed, this, [this] { Find(true); });
    connect(next, &QPushButton::clicked, this, [this] { Find(true); });
    connect(previous, &QPushButton::clicked, this, [this] { Find(false); });
    connect(close, &QToolButton::clicked, this, &TFindBar::Close);
    connect(list, &QPushButton::clicked, this, &TFindBar::ListRequested);
    // A changed query highlights anew on the next search.
    auto reset = [this] {
        Cancel();
        search_.reset();
        view_->SetHighlight(nullptr);
    };
    connect(pattern_, &QLineEdit::textChanged, this, reset);
    for (QCheckBox* box : {matchCase_, wholeWords_, regex_})
        connect(box, &QCheckBox::toggled, this, reset);
}

TFindBar::~TFindBar() {
    Cancel();
}

void TFindBar::Open() {
    show();
    pattern_->setFocus(Qt::ShortcutFocusReason);
    pattern_->selectAll();
}

void TFindBar::Close() {
    Cancel();
    search_.reset();
    view_->SetHighlight(nullptr);
    hide();
    view_->setFocus(Qt::OtherFocusReason);
}

bool TFindBar::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) emit VisibilityChanged();
    return handled;
}

QString TFindBar::Status() const {
    return status_->text();
}

void TFindBar::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event->key() == Qt::Key_Escape) {
        if (running_)
            Cancel();
        else
            Close();
        return;
    }
    if (event->key() == Qt::Key_F3 ||
        ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && shift)) {
        Find(!shift);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFindBar::Cancel() {
    ++generation_;
    if (search_) search_->Cancel();
    if (running_) status_->setText(tr("Stopped"));
    running_ = false;
}

void TFindBar::DocumentChanged() {
    Cancel();
    search_.reset();
    view_->SetHighlight(nullptr);
    status_->clear();
}

void TFindBar::Find(bool forward) {
    const std::shared_ptr<TTextDocument>& document = view_->Document();
    if (!document || pattern_->text().isEmpty()) {
        if (!isVisible()) Open();
        return;
    }
    Cancel();
    if (!PrepareSearch()) return;
    const uint64_t from = forward ? view_->SelEnd() : view_->SelStart();
    const int generation = ++generation_;
    running_ = true;
    status_->setText(tr("Searching..."));
    QPointer<TFindBar> self(this);
    auto progress = [self, generation](double share) {
        QMetaObject::invokeMethod(
            self,
            [self, generation, share] {
                if (self && self->generation_ == generation && self->running_)
                    self->status_->setText(tr("Searching... %1%").arg(int(share * 100)));
            },
            Qt::QueuedConnection);
    };
    auto done = [self, generation, forward](bool wrapped) {
        return [self, generation, forward, wrapped](bool found, TSearchHit hit) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, found, hit, wrapped, forward] {
                    if (self) self->Done(generation, found, hit, wrapped, forward);
                },
                Qt::QueuedConnection);
        };
    };
    search_->Start(from, forward, done(false), progress);
}

std::shared_ptr<TTextSearch> TFindBar::PrepareSearch() {
    if (search_) return search_;
    if (!view_->Document() || pattern_->text().isEmpty()) return nullptr;
    TSearchQuery query;
    query.pattern = EncodeSearchPattern(pattern_->text(), view_->Document()->Encoding());
    query.matchCase = matchCase_->isChecked();
    query.wholeWords = wholeWords_->isChecked();
    query.regex = regex_->isChecked();
    search_ = std::make_shared<TTextSearch>(view_->Document(), query);
    if (!search_->Error().empty()) {
        status_->setText(QString::fromStdString(search_->Error()));
        search_.reset();
        return nullptr;
    }
    view_->SetHighlight(search_);
    emit SearchPrepared();
    return search_;
}

void TFindBar::Done(int generation, bool found, TSearchHit hit, bool wrapped, bool forward) {
    if (generation != generation_ || !search_) return;
    const std::shared_ptr<TTextDocument>& document = view_->Document();
    if (!found && !wrapped && document) {
        // Once round: from the other end of the text.
        const uint64_t from = forward ? document->TextStart() : document->Size();
        QPointer<TFindBar> self(this);
        search_->Start(from, forward, [self, generation, forward](bool f, TSearchHit h) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, f, h, forward] {
                    if (self) self->Done(generation, f, h, true, forward);
                },
                Qt::QueuedConnection);
        });
        return;
    }
    running_ = false;
    if (found) {
        view_->Select(hit.offset, hit.offset + hit.length);
        view_->ScrollToOffset(hit.offset);
        status_->setText(wrapped ? tr("Found from the other end") : QString());
    } else {
        status_->setText(tr("Not found"));
    }
    emit Finished(found);
}
