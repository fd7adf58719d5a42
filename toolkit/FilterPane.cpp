#include "toolkit/FilterPane.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QToolButton>

#include <algorithm>

#include "toolkit/TextView.h"

namespace {

constexpr int kTick = 30;
constexpr int kMargin = 3;
// Bytes of a line the list shows; the text view shows the rest.
constexpr uint64_t kShownBytes = 4096;
constexpr int kMinHeight = 40;

}  // namespace

TFilterPane::TFilterPane(TTextView* view, QWidget* parent)
    : QAbstractScrollArea(parent), view_(view) {
    setObjectName(QStringLiteral("FilterPane"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The scroll bar runs the pane's full height: always there, the header stays left of it.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    header_ = new QWidget(this);
    header_->setAutoFillBackground(true);
    header_->setCursor(Qt::SplitVCursor);
    header_->installEventFilter(this);
    auto* layout = new QHBoxLayout(header_);
    layout->setContentsMargins(4, 1, 2, 1);
    status_ = new QLabel(header_);
    status_->setCursor(Qt::SplitVCursor);
    auto* close = new QToolButton(header_);
    close->setText(QStringLiteral("\u2715"));
    close->setToolTip(tr("Close the list of matching lines"));
    close->setAutoRaise(true);
    close->setCursor(Qt::ArrowCursor);
    layout->addWidget(status_, 1);
    layout->addWidget(close);
    connect(close, &QToolButton::clicked, this, &TFilterPane::CloseRequested);
    setViewportMargins(0, header_->sizeHint().height(), 0, 0);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    tick_.setInterval(kTick);
    connect(&tick_, &QTimer::timeout, this, &TFilterPane::OnTick);
    connect(view_, &TTextView::MarksChanged, this, &TFilterPane::MarksChanged);
    UpdateStatus();
}

TFilterPane::~TFilterPane() = default;

void TFilterPane::SetSearch(std::shared_ptr<const TTextSearch> search, const QString& pattern) {
    search_ = std::move(search);
    pattern_ = pattern;
    Restart();
}

void TFilterPane::DocumentChanged() {
    search_.reset();
    pattern_.clear();
    Restart();
}

void TFilterPane::Restart() {
    filter_.reset();
    count_ = 0;
    current_ = -1;
    verticalScrollBar()->setValue(0);
    if (search_ && view_->Document()) {
        filter_ = std::make_unique<TLineFilter>(view_->Document(), search_);
        filter_->Start();
        tick_.start();
    } else {
        tick_.stop();
    }
    Remerge();
    viewport()->update();
}

void TFilterPane::DocumentGrew() {
    if (!filter_ || filter_->Running()) {
        // A running pass is followed by another over the new text when it ends.
        if (filter_) tick_.start();
        return;
    }
    filter_->Start();
    tick_.start();
}

void TFilterPane::MarksChanged() {
    Remerge();
    viewport()->update();
}

bool TFilterPane::Filling() const {
    return tick_.isActive();
}

void TFilterPane::OnTick() {
    const std::shared_ptr<TTextDocument>& document = view_->Document();
    if (!filter_ || !document) {
        tick_.stop();
        return;
    }
    const bool running = filter_->Running();
    const bool behind = filter_->FilteredTo() < document->Size() && !filter_->Truncated();
    if (!running && behind) filter_->Start();  // the file grew while the last pass ran
    if (!running && !behind) tick_.stop();
    const size_t before = count_;
    if (filter_->Count() != count_ || !running)
        Remerge();
    else
        UpdateStatus();
    // Rows added below the screen change only the scroll bar.
    if (before != count_) {
        const size_t first = size_t(verticalScrollBar()->value());
        if (before <= first + size_t(VisibleRows())) viewport()->update();
    }
}

// Marks take the rows between the matches by their offsets; a marked line that matches is one
// row.
void TFilterPane::Remerge() {
    count_ = filter_ ? filter_->Count() : 0;
    marks_.clear();
    extraRows_ = 0;
    for (const uint64_t start : view_->Marks()) {
        const size_t k = filter_ ? filter_->LowerBound(start) : 0;
        const bool match = k < count_ && filter_->At(k).start == start;
        if (!match) ++extraRows_;
        marks_.push_back({start, k + extraRows_ - !match, match, extraRows_});
    }
    UpdateScrollBar();
    UpdateStatus();
}

size_t TFilterPane::RowCount() const {
    return count_ + extraRows_;
}

TFilterPane::TRow TFilterPane::Row(size_t index) const {
    TRow row;
    if (index >= RowCount()) return row;
    // The last mark at or before the row, and the marks before it that took rows of their own.
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), index,
                                        [](size_t i, const TMarkRow& m) { return i < m.row; });
    size_t own = 0;  // rows before this one taken by marks that are no match
    if (after != marks_.begin()) {
        const TMarkRow& mark = *(after - 1);
        own = mark.own;
        if (mark.row == index) {
            row.start = mark.start;
            row.marked = true;
            row.match = mark.match;
            const TTextDocument* document = view_->Document().get();
            const int64_t number = document ? document->FileLineAt(mark.start) : -1;
            row.number = number >= 0 ? number + 1 : -1;
            return row;
        }
    }
    const TFilterLine line = filter_ ? filter_->At(index - own) : TFilterLine{};
    row.start = line.start;
    row.number = int64_t(line.number);
    row.match = true;
    return row;
}

void TFilterPane::SetCurrentRow(int row) {
    if (RowCount() == 0) return;
    current_ = std::clamp(row, 0, int(std::min<size_t>(RowCount(), INT32_MAX) - 1));
    QScrollBar* bar = verticalScrollBar();
    if (current_ < bar->value()) bar->setValue(current_);
    if (current_ >= bar->value() + VisibleRows()) bar->setValue(current_ - VisibleRows() + 1);
    viewport()->update();
}

void TFilterPane::ShowCurrent() {
    if (current_ < 0 || size_t(current_) >= RowCount() || !view_->Document()) return;
    const TRow row = Row(size_t(current_));
    // The first match in the line is selected; a marked line shows from its start.
    TSearchHit hit{row.start, 0};
    if (search_ && row.match) {
        const TTextLine line = view_->Document()->LineAt(row.start);
        const std::vector<TSearchHit> hits = search_->FindAll(row.start, line.next, 1, 1 << 20);
        if (!hits.empty()) hit = hits.front();
    }
    view_->ShowAt(hit.offset, hit.length);
}

QString TFilterPane::Status() const {
    return status_->text();
}

void TFilterPane::UpdateStatus() {
    QString text = pattern_.isEmpty() ? tr("Marked lines: %1").arg(RowCount())
                                      : tr("Lines matching \"%1\": %2").arg(pattern_).arg(count_);
    if (!pattern_.isEmpty() && extraRows_ > 0) text += tr(", and %1 marked").arg(extraRows_);
    if (filter_ && filter_->Truncated())
        text += tr(" (the first %1 only)").arg(TLineFilter::MaxLines);
    else if (Filling() && view_->Document())
        text += tr(" (searching %1%)")
                    .arg(filter_->FilteredTo() * 100 /
                         std::max<uint64_t>(view_->Document()->Size(), 1));
    status_->setText(text);
}

int TFilterPane::RowHeight() const {
    return std::max(1, QFontMetrics(font()).lineSpacing());
}

int TFilterPane::VisibleRows() const {
    return std::max(1, viewport()->height() / RowHeight());
}

int TFilterPane::RowAt(int y) const {
    const int64_t row = int64_t(verticalScrollBar()->value()) + y / RowHeight();
    return row < int64_t(RowCount()) ? int(row) : -1;
}

void TFilterPane::UpdateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    const int64_t rows = int64_t(std::min<size_t>(RowCount(), INT32_MAX));
    bar->setRange(0, int(std::max<int64_t>(0, rows - VisibleRows())));
    bar->setPageStep(VisibleRows());
    bar->setSingleStep(1);
}

void TFilterPane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const int h = header_->sizeHint().height();
    setViewportMargins(0, h, 0, 0);
    const QRect r = contentsRect();
    header_->setGeometry(r.left(), r.top(), r.width() - verticalScrollBar()->sizeHint().width(), h);
    UpdateScrollBar();
}

void TFilterPane::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette pal = palette();
    painter.fillRect(viewport()->rect(), pal.color(QPalette::Base));
    const std::shared_ptr<TTextDocument>& document = view_->Document();
    if (!document) return;
    const QFontMetrics fm(font());
    const int h = RowHeight();
    int digits = 1;
    for (uint64_t n = document->LineCount(); n >= 10; n /= 10)
        ++digits;
    const int gutter = fm.horizontalAdvance(QLatin1Char('9')) * std::max(digits, 3) + 2 * kMargin;
    painter.fillRect(QRect(0, 0, gutter, viewport()->height()), pal.color(QPalette::Window));
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(fm.horizontalAdvance(QLatin1Char(' ')) * 8);
    const size_t first = size_t(verticalScrollBar()->value());
    for (int r = 0; r <= VisibleRows(); ++r) {
        const size_t index = first + size_t(r);
        if (index >= RowCount()) break;
        const TRow row = Row(index);
        const int y = r * h;
        const bool current = int(index) == current_;
        if (current)
            painter.fillRect(QRect(gutter, y, viewport()->width() - gutter, h),
                             pal.brush(hasFocus() ? QPalette::Highlight : QPalette::AlternateBase));
        if (row.marked) painter.fillRect(QRect(0, y, gutter, h), TTextView::MarkColor());
        painter.setPen(pal.color(QPalette::PlaceholderText));
        painter.drawText(QRect(0, y, gutter - kMargin, h), Qt::AlignRight | Qt::AlignVCenter,
                         row.number >= 0 ? QString::number(row.number) : QStringLiteral("?"));
        const TTextLine line = document->LineAt(row.start);
        const uint64_t end = std::min(line.contentEnd, line.start + kShownBytes);
        std::vector<uint8_t> bytes(size_t(end - line.start));
        bytes.resize(document->Source().Read(line.start, bytes.data(), bytes.size()));
        std::vector<uint32_t> map;
        const QString text =
            DecodeTextBytes(document->Encoding(), bytes.data(), bytes.size(), &map);
        map.push_back(uint32_t(bytes.size()));
        TTextLine shown = line;
        shown.contentEnd = end;
        // Highlighted as in the text view.
        QList<QTextLayout::FormatRange> formats;
        for (const TTextView::THitLayer& layer : view_->HitLayers(line.start, end)) {
            QTextCharFormat format;
            format.setBackground(layer.color);
            format.setForeground(Qt::black);
            AppendHitFormats(formats, layer.hits, shown, map, format);
        }
        QTextLayout layout(text, font());
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine textLine = layout.createLine();
        layout.endLayout();
        if (!textLine.isValid()) continue;
        painter.setPen(current && hasFocus() ? pal.color(QPalette::HighlightedText)
                                             : pal.color(QPalette::Text));
        layout.draw(&painter, QPointF(gutter + kMargin, y), formats);
    }
}

void TFilterPane::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        // The current row's line, as the text holds it.
        if (current_ >= 0 && size_t(current_) < RowCount() && view_->Document()) {
            const TTextLine line = view_->Document()->LineAt(Row(size_t(current_)).start);
            QApplication::clipboard()->setText(
                view_->TextOf(line.start, line.contentEnd, TTextView::MaxCopy));
        }
        return;
    }
    const int page = std::max(1, VisibleRows() - 1);
    const int current = std::max(current_, 0);
    switch (event->key()) {
        case Qt::Key_Up:
            SetCurrentRow(current_ < 0 ? 0 : current - 1);
            return;
        case Qt::Key_Down:
            SetCurrentRow(current_ < 0 ? 0 : current + 1);
            return;
        case Qt::Key_PageUp:
            SetCurrentRow(current - page);
            return;
        case Qt::Key_PageDown:
            SetCurrentRow(current + page);
            return;
        case Qt::Key_Home:
            SetCurrentRow(0);
            return;
        case Qt::Key_End:
            SetCurrentRow(int(std::min<size_t>(RowCount(), INT32_MAX)) - 1);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            ShowCurrent();
            emit Chosen();
            return;
        case Qt::Key_Escape:
            emit CloseRequested();
            return;
        default:
            QAbstractScrollArea::keyPressEvent(event);
    }
}

void TFilterPane::mousePressEvent(QMouseEvent* event) {
    const int row = RowAt(event->position().toPoint().y());
    if (event->button() == Qt::LeftButton && row >= 0) {
        SetCurrentRow(row);
        ShowCurrent();
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TFilterPane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && RowAt(event->position().toPoint().y()) >= 0) {
        ShowCurrent();
        emit Chosen();
    }
}

// The header is the pane's top edge: dragging it sets the pane's height.
bool TFilterPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched != header_) return QAbstractScrollArea::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (mouse->button() == Qt::LeftButton) {
                dragFrom_ = height();
                dragY_ = int(mouse->globalPosition().y());
                return true;
            }
            break;
        case QEvent::MouseMove:
            if (dragFrom_ >= 0) {
                const int h = dragFrom_ - (int(mouse->globalPosition().y()) - dragY_);
                emit HeightRequested(std::max(kMinHeight, h));
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            dragFrom_ = -1;
            break;
        default:
            break;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}
