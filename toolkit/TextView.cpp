#include "toolkit/TextView.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextLayout>

#include <algorithm>
#include <cstring>

#include "toolkit/Application.h"
#include "toolkit/Types.h"

namespace {

constexpr int kApproxSteps = 1 << 20;
constexpr int kMargin = 3;
// Matches highlighted on one screen at most.
constexpr size_t kMaxHighlights = 2000;
// Highlighting runs on the window's thread: longer expression matches are shown cut.
constexpr uint64_t kHighlightMatch = 1 << 20;
const QColor kFoundColor(255, 220, 80);
const QColor kMarkColor(205, 225, 255);

// Windows-1252 bytes 0x80..0x9F; the five unassigned bytes map to the C1 control of the same
// value, as the platform's own conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

void Put(QString& out, std::vector<uint32_t>* map, char32_t cp, size_t at) {
    if (cp == 0) cp = ' ';
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp >= 0x10000) {
        out.append(QChar(QChar::highSurrogate(cp)));
        out.append(QChar(QChar::lowSurrogate(cp)));
        if (map) map->insert(map->end(), 2, static_cast<uint32_t>(at));
    } else {
        out.append(QChar(static_cast<char16_t>(cp)));
        if (map) map->push_back(static_cast<uint32_t>(at));
    }
}

void DecodeUtf8(const uint8_t* p, size_t n, QString& out, std::vector<uint32_t>* map) {
    size_t i = 0;
    while (i < n) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            Put(out, map, c, i);
            ++i;
            continue;
        }
        size_t len = 0;
        char32_t cp = 0, min = 0;
        if ((c & 0xE0) == 0xC0)
            len = 2, cp = c & 0x1F, min = 0x80;
        else if ((c & 0xF0) == 0xE0)
            len = 3, cp = c & 0x0F, min = 0x800;
        else if ((c & 0xF8) == 0xF0)
            len = 4, cp = c & 0x07, min = 0x10000;
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            Put(out, map, 0xFFFD, i);  // one replacement per byte that is not a character
            ++i;
            continue;
        }
        Put(out, map, cp, i);
        i += len;
    }
}

void DecodeWide(const uint8_t* p, size_t n, int unit, bool little, QString& out,
                std::vector<uint32_t>* map) {
    const size_t u = static_cast<size_t>(unit);
    auto at = [&](size_t i) {
        uint32_t v = 0;
        for (size_t k = 0; k < u; ++k)
            v |= uint32_t(p[i + k]) << (8 * (little ? k : u - 1 - k));
        return v;
    };
    size_t i = 0;
    while (i + u <= n) {
        uint32_t v = at(i);
        if (u == 2 && v >= 0xD800 && v <= 0xDBFF && i + 4 <= n) {
            const uint32_t low = at(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                Put(out, map, 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00), i);
                i += 4;
                continue;
            }
        }
        Put(out, map, v, i);
        i += u;
    }
    if (i < n) Put(out, map, 0xFFFD, i);  // a cut code unit
}

void DecodeLegacy(const QByteArray& name, const uint8_t* p, size_t n, QString& out,
                  std::vector<uint32_t>* map) {
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid()) {
        for (size_t i = 0; i < n; ++i)
            Put(out, map, p[i] >= 0x80 && p[i] <= 0x9F ? kCp1252High[p[i] - 0x80] : p[i], i);
        return;
    }
    if (!map) {
        out = decoder.decode(QByteArrayView(reinterpret_cast<const char*>(p), qsizetype(n)));
        out.replace(QChar(0), QChar(' '));
        return;
    }
    // A byte at a time, so that each character is known by the byte it starts at.
    size_t charStart = 0;
    for (size_t i = 0; i < n; ++i) {
        const QString part =
            decoder.decode(QByteArrayView(reinterpret_cast<const char*>(p + i), 1));
        for (QChar ch : part) {
            out.append(ch.isNull() ? QChar(' ') : ch);
            map->push_back(static_cast<uint32_t>(charStart));
        }
        if (!part.isEmpty()) charStart = i + 1;
    }
}

bool WordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

}  // namespace

QString DecodeTextBytes(const TEncodingChoice& encoding, const uint8_t* data, size_t size,
                        std::vector<uint32_t>* map) {
    QString out;
    out.reserve(static_cast<qsizetype>(std::min<size_t>(size, 1 << 20)));
    if (map) {
        map->clear();
        map->reserve(size + 1);
    }
    switch (encoding.encoding) {
        case TTextEncoding::Utf8:
            DecodeUtf8(data, size, out, map);
            break;
        case TTextEncoding::Utf16LE:
        case TTextEncoding::Utf16BE:
        case TTextEncoding::Utf32LE:
        case TTextEncoding::Utf32BE:
            DecodeWide(data, size, UnitSize(encoding.encoding), LittleEndian(encoding.encoding),
                       out, map);
            break;
        case TTextEncoding::Windows1252:
            for (size_t i = 0; i < size; ++i)
                Put(out, map,
                    data[i] >= 0x80 && data[i] <= 0x9F ? kCp1252High[data[i] - 0x80] : data[i], i);
            break;
        case TTextEncoding::Legacy:
            DecodeLegacy(QByteArray::fromStdString(encoding.legacyName), data, size, out, map);
            break;
    }
    if (map) map->push_back(static_cast<uint32_t>(size));
    return out;
}

int LineTextIndex(const TTextLine& line, const std::vector<uint32_t>& map, uint64_t offset) {
    const auto rel =
        uint32_t(std::clamp<uint64_t>(offset, line.start, line.contentEnd) - line.start);
    return int(std::lower_bound(map.begin(), map.end(), rel) - map.begin());
}

void AppendHitFormats(QList<QTextLayout::FormatRange>& formats, const std::vector<TSearchHit>& hits,
                      const TTextLine& line, const std::vector<uint32_t>& map,
                      const QTextCharFormat& format) {
    for (const TSearchHit& h : hits) {
        if (h.offset + h.length <= line.start || h.offset >= line.next) continue;
        const int a = LineTextIndex(line, map, h.offset);
        const int b = LineTextIndex(line, map, h.offset + h.length);
        if (b > a) formats.append({a, b - a, format});
    }
}

TTextView::TTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TTextView::OnVerticalValue);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        hscroll_ = value;
        viewport()->update();
    });
    indexTimer_.setInterval(200);
    connect(&indexTimer_, &QTimer::timeout, this, &TTextView::OnIndexTick);
}

TTextView::~TTextView() = default;

void TTextView::SetDocument(std::shared_ptr<TTextDocument> document) {
    document_ = std::move(document);
    highlight_.reset();
    const bool hadMarks = !marks_.empty();
    marks_.clear();
    if (hadMarks) emit MarksChanged();
    patterns_.clear();
    top_ = document_ && !hex_ ? document_->TextStart() : 0;
    topRow_ = 0;
    anchor_ = caret_ = top_;
    hscroll_ = 0;
    horizontalScrollBar()->setValue(0);
    Relayout();
    UpdateScrollBars();
    if (document_ && !document_->IndexComplete())
        indexTimer_.start();
    else
        indexTimer_.stop();
    viewport()->update();
    emit SelectionChanged();
}

void TTextView::DocumentGrew() {
    Relayout();
    UpdateScrollBars();
    if (document_ && !document_->IndexComplete()) indexTimer_.start();
    viewport()->update();
}

void TTextView::OnIndexTick() {
    if (!document_ || document_->IndexComplete()) indexTimer_.stop();
    UpdateScrollBars();
    if (lineNumbers_) viewport()->update();
}

void TTextView::SetLineWrapping(bool value) {
    if (!ChangeValue(wrap_, value)) return;
    topRow_ = 0;
    hscroll_ = 0;
    horizontalScrollBar()->setValue(0);
    Relayout();
    UpdateScrollBars();
    viewport()->update();
}

void TTextView::SetHexMode(bool value) {
    if (!ChangeValue(hex_, value)) return;
    const uint64_t at = top_;
    topRow_ = 0;
    if (document_) {
        top_ = hex_ ? at / 16 * 16 : document_->LineStartAt(std::max(at, document_->TextStart()));
    }
    Relayout();
    UpdateScrollBars();
    viewport()->update();
}

void TTextView::SetLineNumbers(bool value) {
    if (!ChangeValue(lineNumbers_, value)) return;
    Relayout();
    viewport()->update();
}

void TTextView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        Relayout();
        UpdateScrollBars();
    }
    QAbstractScrollArea::changeEvent(event);
}

void TTextView::focusInEvent(QFocusEvent* event) {
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void TTextView::focusOutEvent(QFocusEvent* event) {
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}

int TTextView::LineHeight() const {
    return std::max(1, QFontMetrics(font()).lineSpacing());
}

int TTextView::VisibleRows() const {
    return std::max(1, viewport()->height() / LineHeight());
}

int TTextView::GutterWidth() const {
    if (!lineNumbers_ || hex_ || !document_) return 0;
    int digits = 1;
    for (uint64_t n = document_->LineCount(); n >= 10; n /= 10)
        ++digits;
    return QFontMetrics(font()).horizontalAdvance(QLatin1Char('9')) * std::max(digits, 3) +
           2 * kMargin + 1;
}

int TTextView::TextLeft() const {
    return GutterWidth() + kMargin;
}

std::shared_ptr<QTextLayout> TTextView::LayoutLine(const QString& text) const {
    auto layout = std::make_shared<QTextLayout>(text, font());
    QTextOption option;
    option.setWrapMode(wrap_ ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setTabStopDistance(QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' ')) * 8);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    const qreal width = std::max(20, viewport()->width() - TextLeft() - kMargin);
    layout->beginLayout();
    qreal y = 0;
    for (;;) {
        QTextLine row = layout->createLine();
        if (!row.isValid()) break;
        if (wrap_) row.setLineWidth(width);
        row.setPosition(QPointF(0, y));
        y += LineHeight();
    }
    layout->endLayout();
    return layout;
}

int TTextView::RowsOf(uint64_t lineStart) const {
    if (!wrap_ || !document_) return 1;
    const TTextLine line = document_->LineAt(lineStart);
    std::vector<uint8_t> bytes(static_cast<size_t>(line.contentEnd - line.start));
    const size_t n = document_->Source().Read(line.start, bytes.data(), bytes.size());
    return std::max(
        1, LayoutLine(DecodeTextBytes(document_->Encoding(), bytes.data(), n))->lineCount());
}

void TTextView::BuildVisible() {
    if (!dirty_) return;
    dirty_ = false;
    visible_.clear();
    widest_ = 0;
    if (!document_ || hex_) return;
    const int lineHeight = LineHeight();
    int y = -topRow_ * lineHeight;
    uint64_t at = top_;
    std::vector<uint8_t> bytes;
    for (int guard = 0; y < viewport()->height() && guard < 10000; ++guard) {
        TVisibleLine v;
        v.line = document_->LineAt(at);
        bytes.resize(static_cast<size_t>(v.line.contentEnd - v.line.start));
        const size_t n = document_->Source().Read(v.line.start, bytes.data(), bytes.size());
        v.text = DecodeTextBytes(document_->Encoding(), bytes.data(), n, &v.map);
        v.layout = LayoutLine(v.text);
        v.y = y;
        v.height = std::max(1, v.layout->lineCount()) * lineHeight;
        for (int i = 0; i < v.layout->lineCount(); ++i)
            widest_ = std::max(widest_, int(v.layout->lineAt(i).naturalTextWidth()) + 1);
        y += v.height;
        const bool last = v.line.last || v.line.next <= at;
        at = v.line.next;
        visible_.push_back(std::move(v));
        if (last) break;
    }
}

void TTextView::UpdateScrollBars() {
    QScrollBar* bar = verticalScrollBar();
    settingBar_ = true;
    if (!document_) {
        bar->setRange(0, 0);
    } else if (hex_) {
        const uint64_t rows = HexRows();
        const uint64_t max = rows > uint64_t(VisibleRows()) ? rows - VisibleRows() : 0;
        if (max < uint64_t(INT32_MAX)) {
            bar->setRange(0, int(max));
            bar->setPageStep(VisibleRows());
            bar->setValue(int(top_ / 16));
        } else {
            bar->setRange(0, kApproxSteps);
            bar->setValue(int(double(top_ / 16) / double(max) * kApproxSteps));
        }
    } else if (document_->IndexComplete() && document_->LineCount() < uint64_t(INT32_MAX)) {
        bar->setRange(0, int(document_->LineCount() - 1));
        bar->setPageStep(VisibleRows());
        const int64_t line = document_->LineNumberAt(top_);
        bar->setValue(int(std::max<int64_t>(line, 0)));
    } else {
        const uint64_t start = document_->TextStart();
        const uint64_t span = std::max<uint64_t>(document_->Size() - start, 1);
        bar->setRange(0, kApproxSteps);
        bar->setPageStep(kApproxSteps / 100);
        bar->setValue(int(double(top_ - std::min(top_, start)) / double(span) * kApproxSteps));
    }
    settingBar_ = false;
    QScrollBar* h = horizontalScrollBar();
    BuildVisible();
    const int room = viewport()->width() - TextLeft() - kMargin;
    h->setRange(0, wrap_ || hex_ ? 0 : std::max(0, widest_ - room));
    h->setPageStep(std::max(1, room));
    h->setSingleStep(std::max(1, QFontMetrics(font()).averageCharWidth()));
}

void TTextView::OnVerticalValue(int value) {
    if (settingBar_ || !document_) return;
    QScrollBar* bar = verticalScrollBar();
    topRow_ = 0;
    if (hex_) {
        const uint64_t rows = HexRows();
        uint64_t row = uint64_t(value);
        if (bar->maximum() == kApproxSteps && rows > uint64_t(INT32_MAX))
            row = uint64_t(double(value) / kApproxSteps * double(rows));
        top_ = std::min(row, rows ? rows - 1 : 0) * 16;
    } else if (bar->maximum() != kApproxSteps || document_->IndexComplete()) {
        top_ = document_->LineStart(uint64_t(value));
    } else if (value >= bar->maximum()) {
        ScrollToEnd();
        return;
    } else {
        const uint64_t start = document_->TextStart();
        const uint64_t span = document_->Size() - std::min(document_->Size(), start);
        top_ =
            document_->LineStartAt(start + uint64_t(double(value) / kApproxSteps * double(span)));
    }
    Relayout();
    viewport()->update();
}

void TTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
    UpdateScrollBars();
}

void TTextView::ScrollLines(int64_t lines) {
    if (!document_) return;
    if (hex_) {
        const uint64_t rows = HexRows();
        const uint64_t maxTop = rows > uint64_t(VisibleRows()) ? rows - VisibleRows() : 0;
        int64_t row = int64_t(top_ / 16) + lines;
        row = std::clamp<int64_t>(row, 0, int64_t(maxTop));
        top_ = uint64_t(row) * 16;
    } else {
        for (; lines > 0; --lines) {
            if (wrap_ && topRow_ + 1 < RowsOf(top_)) {
                ++topRow_;
                continue;
            }
            const TTextLine line = document_->LineAt(top_);
            if (line.last || line.next <= top_) break;
            top_ = line.next;
            topRow_ = 0;
        }
        for (; lines < 0; ++lines) {
            if (topRow_ > 0) {
                --topRow_;
                continue;
            }
            if (top_ <= document_->TextStart()) break;
            top_ = document_->PreviousLineStart(top_);
            topRow_ = wrap_ ? RowsOf(top_) - 1 : 0;
        }
        ClampTop();
    }
    Relayout();
    UpdateScrollBars();
    viewport()->update();
}

// Keeps the screen full: the top goes no further than the end leaves room for.
void TTextView::ClampTop() {
    Relayout();
    BuildVisible();
    if (visible_.empty()) return;
    const TVisibleLine& last = visible_.back();
    const bool endShown = last.line.last || last.line.next >= document_->Size();
    if (endShown && last.y + last.height < viewport()->height() &&
        (top_ > document_->TextStart() || topRow_ > 0))
        ScrollToEnd();
}

void TTextView::ScrollToEnd() {
    if (!document_) return;
    if (hex_) {
        const uint64_t rows = HexRows();
        top_ = (rows > uint64_t(VisibleRows()) ? rows - VisibleRows() : 0) * 16;
    } else {
        // From the last line upwards until the screen is full.
        uint64_t at = document_->LineStartAt(document_->Size());
        int rows = RowsOf(at);
        const int room = VisibleRows();
        while (rows < room && at > document_->TextStart()) {
            const uint64_t previous = document_->PreviousLineStart(at);
            if (previous >= at) break;
            at = previous;
            rows += RowsOf(at);
        }
        top_ = at;
        topRow_ = std::max(0, rows - room);
    }
    Relayout();
    UpdateScrollBars();
    viewport()->update();
}

void TTextView::ScrollToOffset(uint64_t offset) {
    if (!document_) return;
    top_ = hex_ ? offset / 16 * 16 : document_->LineStartAt(offset);
    topRow_ = 0;
    if (!hex_) ClampTop();
    Relayout();
    UpdateScrollBars();
    viewport()->update();
}

bool TTextView::GoToLine(const TLineTarget& target) {
    uint64_t start = 0;
    if (!document_ || !document_->TargetLineStart(target, start)) return false;
    Select(start, start);
    ScrollToOffset(start);
    return true;
}

void TTextView::ShowAt(uint64_t offset, uint64_t length) {
    if (!document_) return;
    Select(offset, offset + length);
    ScrollToOffset(offset);
    // Some lines of what came before, unless they would push the line off the screen.
    if (!hex_) ScrollLines(-std::min(3, VisibleRows() / 4));
}

QColor TTextView::FoundColor() {
    return kFoundColor;
}

QColor TTextView::MarkColor() {
    return kMarkColor;
}

void TTextView::SetMarks(std::vector<uint64_t> marks) {
    std::sort(marks.begin(), marks.end());
    marks.erase(std::unique(marks.begin(), marks.end()), marks.end());
    if (marks == marks_) return;
    marks_ = std::move(marks);
    viewport()->update();
    emit MarksChanged();
}

void TTextView::ToggleMark(uint64_t offset) {
    if (!document_ || hex_) return;
    const uint64_t start = document_->LineStartAt(std::min(offset, document_->Size()));
    const auto at = std::lower_bound(marks_.begin(), marks_.end(), start);
    if (at != marks_.end() && *at == start)
        marks_.erase(at);
    else
        marks_.insert(at, start);
    viewport()->update();
    emit MarksChanged();
}

bool TTextView::GoToMark(bool forward) {
    if (!document_ || hex_ || marks_.empty()) return false;
    const uint64_t line = document_->LineStartAt(caret_);
    uint64_t to = 0;
    if (forward) {
        const auto next = std::upper_bound(marks_.begin(), marks_.end(), line);
        to = next != marks_.end() ? *next : marks_.front();
    } else {
        const auto next = std::lower_bound(marks_.begin(), marks_.end(), line);
        to = next != marks_.begin() ? *(next - 1) : marks_.back();
    }
    Select(to, to);
    EnsureCaretVisible();
    viewport()->update();
    return true;
}

bool TTextView::AtEnd() {
    if (!document_) return true;
    if (hex_) return top_ / 16 + uint64_t(VisibleRows()) >= HexRows();
    BuildVisible();
    if (visible_.empty()) return true;
    const TVisibleLine& last = visible_.back();
    return (last.line.last || last.line.next >= document_->Size()) &&
           last.y + last.height <= viewport()->height() + LineHeight();
}

void TTextView::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    ScrollLines(-delta / 40);
    event->accept();
}

// --- Selection and caret -------------------------------------------------------------------------

void TTextView::Select(uint64_t anchor, uint64_t caret) {
    const uint64_t size = document_ ? document_->Size() : 0;
    anchor_ = std::min(anchor, size);
    caret_ = std::min(caret, size);
    viewport()->update();
    emit SelectionChanged();
}

void TTextView::SelectAll() {
    if (!document_) return;
    Select(document_->TextStart(), document_->Size());
}

QString TTextView::TextOf(uint64_t from, uint64_t to, uint64_t limit) const {
    QString text;
    if (!document_ || to <= from || to - from > limit) return text;
    std::vector<uint8_t> bytes;
    uint64_t at = document_->LineStartAt(from);
    while (at < to) {
        const TTextLine line = document_->LineAt(at);
        const uint64_t a = std::max(from, line.start), b = std::min(to, line.contentEnd);
        if (b > a) {
            bytes.resize(static_cast<size_t>(b - a));
            const size_t n = document_->Source().Read(a, bytes.data(), bytes.size());
            text += DecodeTextBytes(document_->Encoding(), bytes.data(), n);
        }
        if (line.next > line.contentEnd && line.next <= to && !line.last) text += QLatin1Char('\n');
        if (line.last || line.next <= at) break;
        at = line.next;
    }
    return text;
}

bool TTextView::SelectedText(QString& text, QString& error) const {
    text.clear();
    if (SelEnd() - SelStart() > MaxCopy) {
        error = QStringLiteral(
                    "The selection is larger than %1 MB, the most that is copied. "
                    "Select a smaller part.")
                    .arg(MaxCopy >> 20);
        return false;
    }
    if (hex_) {
        std::vector<uint8_t> bytes(static_cast<size_t>(SelEnd() - SelStart()));
        const size_t n =
            document_ ? document_->Source().Read(SelStart(), bytes.data(), bytes.size()) : 0;
        for (size_t i = 0; i < n; ++i)
            text += QStringLiteral("%1 ").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
        text.chop(1);
        return true;
    }
    text = TextOf(SelStart(), SelEnd(), MaxCopy);
    return true;
}

bool TTextView::Copy(QString& error) {
    QString text;
    if (!SelectedText(text, error)) return false;
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
    return true;
}

uint64_t TTextView::HitTest(const QPoint& point) {
    BuildVisible();
    if (visible_.empty()) return document_ ? document_->TextStart() : 0;
    const TVisibleLine* hit = &visible_.back();
    if (point.y() < visible_.front().y) hit = &visible_.front();
    for (const TVisibleLine& v : visible_)
        if (point.y() >= v.y && point.y() < v.y + v.height) hit = &v;
    const int row = std::clamp((point.y() - hit->y) / LineHeight(), 0,
                               std::max(0, hit->layout->lineCount() - 1));
    int index = 0;
    if (hit->layout->lineCount() > 0) {
        const QTextLine line = hit->layout->lineAt(row);
        index = line.xToCursor(point.x() - TextLeft() + hscroll_);
    }
    index = std::clamp(index, 0, int(hit->map.size()) - 1);
    return hit->line.start + hit->map[size_t(index)];
}

uint64_t TTextView::CharStep(uint64_t offset, bool forward) const {
    const TTextLine line = document_->LineAt(document_->LineStartAt(offset));
    if (forward && offset >= line.contentEnd) return line.last ? offset : line.next;
    if (!forward && offset <= line.start)
        return offset <= document_->TextStart()
                   ? offset
                   : document_->LineAt(document_->PreviousLineStart(line.start)).contentEnd;
    std::vector<uint8_t> bytes(static_cast<size_t>(line.contentEnd - line.start));
    const size_t n = document_->Source().Read(line.start, bytes.data(), bytes.size());
    std::vector<uint32_t> map;
    DecodeTextBytes(document_->Encoding(), bytes.data(), n, &map);
    // The position of the caret's character, then the next one that starts at a new byte.
    const uint32_t rel = static_cast<uint32_t>(offset - line.start);
    auto it = std::lower_bound(map.begin(), map.end(), rel);
    if (forward) {
        it = std::upper_bound(map.begin(), map.end(), rel);
        return line.start + (it == map.end() ? map.back() : *it);
    }
    if (it == map.begin()) return line.start;
    return line.start + *std::prev(it);
}

void TTextView::MoveCaret(uint64_t offset, bool extend) {
    caret_ = std::min(offset, document_->Size());
    if (!extend) anchor_ = caret_;
    EnsureCaretVisible();
    viewport()->update();
    emit SelectionChanged();
}

void TTextView::EnsureCaretVisible() {
    if (!document_) return;
    if (hex_) {
        const uint64_t row = caret_ / 16;
        if (row < top_ / 16)
            top_ = row * 16;
        else if (row >= top_ / 16 + uint64_t(VisibleRows()))
            top_ = (row + 1 - uint64_t(VisibleRows())) * 16;
        Relayout();
        UpdateScrollBars();
        return;
    }
    const uint64_t line = document_->LineStartAt(caret_);
    if (line < top_ || (line == top_ && topRow_ > 0)) {
        top_ = line;
        topRow_ = 0;
    } else {
        BuildVisible();
        bool shown = false;
        for (const TVisibleLine& v : visible_)
            if (v.line.start == line && v.y + v.height <= viewport()->height()) shown = true;
        if (!shown) {
            // The caret's line becomes the last on screen.
            top_ = line;
            topRow_ = 0;
            int rows = RowsOf(line);
            while (rows < VisibleRows() && top_ > document_->TextStart()) {
                top_ = document_->PreviousLineStart(top_);
                rows += RowsOf(top_);
            }
            topRow_ = std::max(0, rows - VisibleRows());
        }
    }
    Relayout();
    UpdateScrollBars();
}

void TTextView::keyPressEvent(QKeyEvent* event) {
    if (!document_) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        // A selection too large to copy is said so: the clipboard keeps what it held, and a
        // paste would otherwise paste something else without a word.
        QString error;
        if (!Copy(error)) Application::ShowException(error);
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    if (hex_) {
        KeyHex(event);
        return;
    }
    if (event->key() == Qt::Key_M && event->modifiers() == Qt::ControlModifier) {
        ToggleMark(caret_);
        return;
    }
    if (event->key() == Qt::Key_F9 && (event->modifiers() & ~Qt::ControlModifier) == 0) {
        GoToMark(!(event->modifiers() & Qt::ControlModifier));
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const uint64_t lineStart = document_->LineStartAt(caret_);
    auto column = [&](uint64_t from) {
        // The caret's character index in its line, carried to line `from`.
        const TTextLine here = document_->LineAt(lineStart);
        const TTextLine there = document_->LineAt(from);
        std::vector<uint8_t> a(size_t(here.contentEnd - here.start));
        std::vector<uint32_t> map;
        document_->Source().Read(here.start, a.data(), a.size());
        DecodeTextBytes(document_->Encoding(), a.data(), a.size(), &map);
        const size_t index = size_t(
            std::lower_bound(map.begin(), map.end(), uint32_t(caret_ - here.start)) - map.begin());
        std::vector<uint8_t> b(size_t(there.contentEnd - there.start));
        document_->Source().Read(there.start, b.data(), b.size());
        DecodeTextBytes(document_->Encoding(), b.data(), b.size(), &map);
        return there.start + map[std::min(index, map.size() - 1)];
    };
    auto linesDown = [&](uint64_t from, int count) {
        for (int i = 0; i < count; ++i) {
            const TTextLine line = document_->LineAt(from);
            if (line.last || line.next <= from) break;
            from = line.next;
        }
        return from;
    };
    auto linesUp = [&](uint64_t from, int count) {
        for (int i = 0; i < count && from > document_->TextStart(); ++i)
            from = document_->PreviousLineStart(from);
        return from;
    };
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right: {
            // Without Shift a selection collapses to its end on that side; else one character.
            const bool forward = event->key() == Qt::Key_Right;
            if (!extend && anchor_ != caret_)
                MoveCaret(forward ? SelEnd() : SelStart(), false);
            else
                MoveCaret(CharStep(caret_, forward), extend);
            return;
        }
        case Qt::Key_Up:
            if (control) {
                ScrollLines(-1);
                return;
            }
            MoveCaret(column(linesUp(lineStart, 1)), extend);
            return;
        case Qt::Key_Down:
            if (control) {
                ScrollLines(1);
                return;
            }
            MoveCaret(column(linesDown(lineStart, 1)), extend);
            return;
        case Qt::Key_PageUp: {
            const int page = std::max(1, VisibleRows() - 1);
            ScrollLines(-page);
            MoveCaret(column(linesUp(lineStart, page)), extend);
            return;
        }
        case Qt::Key_PageDown: {
            const int page = std::max(1, VisibleRows() - 1);
            ScrollLines(page);
            MoveCaret(column(linesDown(lineStart, page)), extend);
            return;
        }
        case Qt::Key_Home:
            MoveCaret(control ? document_->TextStart() : lineStart, extend);
            return;
        case Qt::Key_End:
            if (control) {
                caret_ = document_->Size();
                if (!extend) anchor_ = caret_;
                ScrollToEnd();
                emit SelectionChanged();
                return;
            }
            MoveCaret(document_->LineAt(lineStart).contentEnd, extend);
            return;
        default:
            break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TTextView::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && document_ && !hex_ && point.x() < GutterWidth()) {
        // A click on a line number marks the line, or unmarks it.
        ToggleMark(HitTest(QPoint(TextLeft(), point.y())));
        return;
    }
    if (event->button() == Qt::LeftButton && document_) {
        const uint64_t at = hex_ ? caret_ : HitTest(event->position().toPoint());
        caret_ = at;
        if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = at;
        selecting_ = true;
        viewport()->update();
        emit SelectionChanged();
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TTextView::mouseMoveEvent(QMouseEvent* event) {
    if (selecting_ && (event->buttons() & Qt::LeftButton) && document_ && !hex_) {
        const QPoint p = event->position().toPoint();
        if (p.y() < 0) ScrollLines(-1);
        if (p.y() > viewport()->height()) ScrollLines(1);
        caret_ = HitTest(p);
        viewport()->update();
        emit SelectionChanged();
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TTextView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !document_ || hex_) return;
    const QPoint p = event->position().toPoint();
    const uint64_t at = HitTest(p);
    for (const TVisibleLine& v : visible_) {
        if (at < v.line.start || at > v.line.contentEnd) continue;
        const auto index =
            qsizetype(std::lower_bound(v.map.begin(), v.map.end(), uint32_t(at - v.line.start)) -
                      v.map.begin());
        qsizetype a = std::min(index, v.text.size()), b = a;
        while (a > 0 && WordChar(v.text[a - 1]))
            --a;
        while (b < v.text.size() && WordChar(v.text[b]))
            ++b;
        Select(v.line.start + v.map[size_t(a)], v.line.start + v.map[size_t(b)]);
        return;
    }
}

// --- Painting ------------------------------------------------------------------------------------

void TTextView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette pal = palette();
    painter.fillRect(viewport()->rect(), pal.color(QPalette::Base));
    if (!document_) return;
    if (hex_) {
        PaintHex(painter);
        return;
    }
    BuildVisible();
    if (visible_.empty()) return;
    const uint64_t selA = SelStart(), selB = SelEnd();
    const std::vector<THitLayer> layers =
        HitLayers(visible_.front().line.start, visible_.back().line.next + 1);
    QTextCharFormat selected;
    selected.setBackground(pal.brush(QPalette::Highlight));
    selected.setForeground(pal.brush(QPalette::HighlightedText));
    std::vector<QTextCharFormat> layerFormats(layers.size());
    for (size_t i = 0; i < layers.size(); ++i) {
        layerFormats[i].setBackground(layers[i].color);
        layerFormats[i].setForeground(Qt::black);
    }
    auto indexOf = [](const TVisibleLine& v, uint64_t offset) {
        return LineTextIndex(v.line, v.map, offset);
    };
    const int left = TextLeft();
    painter.setPen(pal.color(QPalette::Text));
    for (const TVisibleLine& v : visible_) {
        if (std::binary_search(marks_.begin(), marks_.end(), v.line.start))
            painter.fillRect(QRect(0, v.y, viewport()->width(), v.height), kMarkColor);
        QList<QTextLayout::FormatRange> formats;
        for (size_t i = 0; i < layers.size(); ++i)
            AppendHitFormats(formats, layers[i].hits, v.line, v.map, layerFormats[i]);
        if (selB > selA && selA < v.line.next && selB > v.line.start) {
            const int a = indexOf(v, selA), b = indexOf(v, selB);
            if (b > a) formats.append({a, b - a, selected});
        }
        v.layout->draw(&painter, QPointF(left - hscroll_, v.y), formats);
        if (selB > v.line.contentEnd && selA <= v.line.contentEnd &&
            v.line.next > v.line.contentEnd && !v.line.last) {
            // The selected line end shows as a blank.
            const QTextLine row = v.layout->lineAt(std::max(0, v.layout->lineCount() - 1));
            painter.fillRect(QRectF(left - hscroll_ + row.naturalTextWidth(), v.y + row.y(),
                                    QFontMetrics(font()).averageCharWidth(), row.height()),
                             pal.brush(QPalette::Highlight));
        }
        if (hasFocus() && caret_ >= v.line.start &&
            (caret_ < v.line.next || (v.line.last && caret_ <= v.line.next)))
            v.layout->drawCursor(&painter, QPointF(left - hscroll_, v.y), indexOf(v, caret_));
    }
    if (lineNumbers_) {
        const int gutter = GutterWidth();
        painter.fillRect(QRect(0, 0, gutter, viewport()->height()), pal.color(QPalette::Window));
        painter.setPen(pal.color(QPalette::PlaceholderText));
        for (const TVisibleLine& v : visible_) {
            // The file's own line numbers: the further pieces of a long line carry none.
            bool continues = false;
            const int64_t number = document_->FileLineAt(v.line.start, &continues);
            if (std::binary_search(marks_.begin(), marks_.end(), v.line.start))
                painter.fillRect(QRect(0, v.y, gutter, v.height), kMarkColor.darker(130));
            if (number < 0 || continues) continue;
            painter.drawText(QRect(0, v.y, gutter - kMargin, LineHeight()),
                             Qt::AlignRight | Qt::AlignVCenter, QString::number(number + 1));
        }
    }
}

uint64_t TTextView::HexRows() const {
    return document_ ? std::max<uint64_t>(1, (document_->Size() + 15) / 16) : 0;
}

void TTextView::PaintHex(QPainter& painter) {
    QFont mono = font();
    if (!QFontInfo(mono).fixedPitch()) {
        const int size = mono.pointSize();
        mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (size > 0) mono.setPointSize(size);
    }
    painter.setFont(mono);
    const QFontMetrics fm(mono);
    const int lineHeight = LineHeight();
    const uint64_t size = document_->Size();
    const uint64_t selA = SelStart(), selB = SelEnd();
    const int rows = VisibleRows() + 1;
    std::vector<uint8_t> bytes(size_t(rows) * 16);
    const size_t n = document_->Source().Read(top_, bytes.data(), bytes.size());
    const int digits = size > 0xFFFFFFFFull ? 10 : 8;
    // Text is laid out at fractional advances: a rounded width would drift along the row.
    const qreal charWidth = QFontMetricsF(mono).horizontalAdvance(QLatin1Char('0'));
    const std::vector<THitLayer> layers = HitLayers(top_, top_ + bytes.size());
    // Marks bytes [a, b) of the row at `y` in the hex digits and in the characters.
    auto mark = [&](int y, uint64_t offset, uint64_t a0, uint64_t b0, const QBrush& brush) {
        if (b0 <= a0 || a0 >= offset + 16 || b0 <= offset) return;
        const int a = int(std::max(a0, offset) - offset),
                  b = int(std::min(b0, offset + 16) - offset);
        auto hexX = [&](int i) { return kMargin + charWidth * (digits + 2 + i * 3 + (i > 7)); };
        painter.fillRect(QRectF(hexX(a) - hscroll_, y, hexX(b) - hexX(a), lineHeight), brush);
        const qreal charsX = kMargin + charWidth * (digits + 2 + 16 * 3 + 2);
        painter.fillRect(
            QRectF(charsX + a * charWidth - hscroll_, y, (b - a) * charWidth, lineHeight), brush);
    };
    for (int r = 0; r < rows && size_t(r) * 16 < std::max<size_t>(n, 1); ++r) {
        const uint64_t offset = top_ + uint64_t(r) * 16;
        QString line = QStringLiteral("%1  ").arg(offset, digits, 16, QLatin1Char('0')).toUpper();
        QString chars;
        for (int i = 0; i < 16; ++i) {
            const size_t k = size_t(r) * 16 + size_t(i);
            if (k < n) {
                line += QStringLiteral("%1 ").arg(bytes[k], 2, 16, QLatin1Char('0')).toUpper();
                const uint8_t b = bytes[k];
                chars += b >= 0x20 && b < 0x7F ? QChar(b) : QChar('.');
            } else {
                line += QStringLiteral("   ");
            }
            if (i == 7) line += QLatin1Char(' ');
        }
        line += QStringLiteral(" ") + chars;
        const int y = r * lineHeight;
        for (const THitLayer& layer : layers)
            for (const TSearchHit& h : layer.hits)
                mark(y, offset, h.offset, h.offset + h.length, QBrush(layer.color));
        mark(y, offset, selA, selB, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QPoint(kMargin - hscroll_, y + fm.ascent()), line);
    }
}

void TTextView::KeyHex(QKeyEvent* event) {
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const uint64_t size = document_->Size();
    const uint64_t page = uint64_t(std::max(1, VisibleRows() - 1)) * 16;
    uint64_t to = caret_;
    switch (event->key()) {
        case Qt::Key_Left:
            to = caret_ ? caret_ - 1 : 0;
            break;
        case Qt::Key_Right:
            to = std::min(size, caret_ + 1);
            break;
        case Qt::Key_Up:
            to = caret_ >= 16 ? caret_ - 16 : caret_;
            break;
        case Qt::Key_Down:
            to = std::min(size, caret_ + 16);
            break;
        case Qt::Key_PageUp:
            to = caret_ >= page ? caret_ - page : 0;
            break;
        case Qt::Key_PageDown:
            to = std::min(size, caret_ + page);
            break;
        case Qt::Key_Home:
            to = control ? 0 : caret_ / 16 * 16;
            break;
        case Qt::Key_End:
            to = control ? size : std::min(size, caret_ / 16 * 16 + 15);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    MoveCaret(to, extend);
    viewport()->update();
}

void TTextView::SetHighlight(std::shared_ptr<TTextSearch> search) {
    highlight_ = std::move(search);
    viewport()->update();
}

void TTextView::SetPatternHighlights(std::vector<TPatternHighlight> patterns) {
    patterns_ = std::move(patterns);
    viewport()->update();
}

std::vector<TTextView::THitLayer> TTextView::HitLayers(uint64_t from, uint64_t to) const {
    // A later layer is painted over an earlier one: the first pattern over the other patterns,
    // the search's matches over all of them.
    std::vector<THitLayer> layers;
    for (auto p = patterns_.rbegin(); p != patterns_.rend(); ++p)
        layers.push_back({p->color, p->search->FindAll(from, to, kMaxHighlights, kHighlightMatch)});
    if (highlight_)
        layers.push_back(
            {kFoundColor, highlight_->FindAll(from, to, kMaxHighlights, kHighlightMatch)});
    return layers;
}
