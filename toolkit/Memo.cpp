#include "toolkit/Memo.h"

#include <sys/stat.h>
#include <QFile>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStringDecoder>

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "toolkit/FilterPane.h"
#include "toolkit/FindBar.h"
#include "toolkit/HighlightsDialog.h"

namespace {

constexpr size_t kSample = 64 * 1024;
constexpr int kFollowInterval = 500;
constexpr int kGoToInterval = 50;

}  // namespace

TMemo::TMemo(const QString& name, QWidget* parent) : TControl<TTextView>(parent) {
    setObjectName(name);
    color_ = clWindow;
    SetFont(TFont());
    SetColor(clWindow);
    ApplyWrap();
    Show(std::make_shared<TMemorySource>(std::string()), {});
    follow_.setInterval(kFollowInterval);
    connect(&follow_, &QTimer::timeout, this, &TMemo::CheckFile);
    goTo_.setInterval(kGoToInterval);
    connect(&goTo_, &QTimer::timeout, this, &TMemo::OnGoToTick);
    findBar_ = new TFindBar(this);
    findBar_->hide();
    connect(findBar_, &TFindBar::VisibilityChanged, this, &TMemo::PlaceFindBar);
    filterPane_ = new TFilterPane(this, this);
    filterPane_->hide();
    connect(findBar_, &TFindBar::ListRequested, this, &TMemo::ShowFilterPane);
    connect(findBar_, &TFindBar::SearchPrepared, this, [this] {
        if (FilterPaneShown()) RefreshFilter();
    });
    connect(filterPane_, &TFilterPane::CloseRequested, this, &TMemo::CloseFilterPane);
    connect(filterPane_, &TFilterPane::Chosen, this, [this] { setFocus(Qt::OtherFocusReason); });
    connect(filterPane_, &TFilterPane::HeightRequested, this, &TMemo::SetFilterHeight);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("StatusText"));
    status_->setContentsMargins(4, 1, 4, 1);
    status_->setAutoFillBackground(true);
    status_->setBackgroundRole(QPalette::Window);
    status_->setForegroundRole(QPalette::WindowText);
    connect(this, &TTextView::SelectionChanged, this, &TMemo::UpdateStatus);
    PlaceFindBar();
    UpdateStatus();
}

TMemo::~TMemo() = default;

void TMemo::SetWordWrap(bool value) {
    if (ChangeValue(wordWrap_, value)) ApplyWrap();
}

void TMemo::SetScrollBars(TScrollStyle value) {
    if (ChangeValue(scrollBars_, value)) ApplyWrap();
}

bool TMemo::Wrapping() const {
    return wordWrap_ && scrollBars_ != ssHorizontal && scrollBars_ != ssBoth;
}

void TMemo::ApplyWrap() {
    const bool horizontal = scrollBars_ == ssHorizontal || scrollBars_ == ssBoth;
    const bool vertical = scrollBars_ == ssVertical || scrollBars_ == ssBoth;
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    SetLineWrapping(Wrapping());
    if (findBar_) PlaceFindBar();
}

int TMemo::SelLength() const {
    const uint64_t bytes = SelEnd() - SelStart();
    if (bytes == 0) return 0;
    // Characters are counted on selections of up to 1 MiB; beyond, bytes stand in for them.
    if (bytes > (1u << 20)) return int(std::min<uint64_t>(bytes, INT32_MAX));
    return int(TextOf(SelStart(), SelEnd(), MaxCopy).size());
}

QString TMemo::Text() const {
    if (!Document()) return {};
    const uint64_t start = Document()->TextStart();
    uint64_t end = Document()->Size();
    if (end - start > MaxText) end = Document()->LineStartAt(start + MaxText);
    return TextOf(start, end, MaxText);
}

void TMemo::SetText(const QString& value) {
    if (value == Text()) return;
    follow_.stop();
    nativeName_.clear();
    Show(std::make_shared<TMemorySource>(value.toUtf8().toStdString()), {});
}

int TMemo::LineCount() const {
    return Document() ? int(std::min<uint64_t>(Document()->LineCount(), INT32_MAX)) : 0;
}

void TMemo::Show(std::shared_ptr<const TTextSource> source, const TEncodingChoice& encoding) {
    goTo_.stop();  // a line of the text shown before
    source_ = std::move(source);
    encoding_ = encoding;
    // A code page the conversions do not know shows as Windows-1252.
    if (encoding_.encoding == TTextEncoding::Legacy &&
        !QStringDecoder(encoding_.legacyName.c_str()).isValid())
        encoding_.encoding = TTextEncoding::Windows1252;
    SetHexMode(hexForced_ || encoding_.binary);
    SetDocument(std::make_shared<TTextDocument>(source_, encoding_));
    if (findBar_) findBar_->DocumentChanged();
    if (filterPane_) {
        filterPane_->DocumentChanged();
        if (FilterPaneShown()) RefreshFilter();
    }
    ApplyHighlights();
    if (status_) UpdateStatus();
    emit OnChange();
}

void TMemo::LoadFromFile(const QString& fileName) {
    LoadFromNativeFile(QFile::encodeName(fileName), fileName);
}

namespace {

TEncodingChoice DetectSourceEncoding(const TTextSource& source) {
    std::string sample(kSample, '\0');
    const size_t n = source.Read(0, sample.data(), sample.size());
    const bool whole = n == source.CurrentSize();
    return DetectEncoding(reinterpret_cast<const uint8_t*>(sample.data()), n, whole);
}

}  // namespace

void TMemo::LoadFromNativeFile(const QByteArray& nativeName, const QString& shownName) {
    auto source = std::make_shared<TFileSource>(nativeName.toStdString(), shownName.toStdString());
    const TEncodingChoice encoding = DetectSourceEncoding(*source);
    nativeName_ = nativeName;
    shownName_ = shownName;
    Show(std::move(source), encoding);
    follow_.start();
}

void TMemo::Clear() {
    follow_.stop();
    nativeName_.clear();
    Show(std::make_shared<TMemorySource>(std::string()), {});
}

void TMemo::CopyToClipboard() {
    QString error;
    if (!Copy(error)) throw std::runtime_error(error.toStdString());
}

void TMemo::SetEncoding(const TEncodingChoice& encoding) {
    if (!source_) return;
    const uint64_t top = TopOffset();
    TEncodingChoice chosen = encoding;
    chosen.binary = false;
    Show(source_, chosen);
    ScrollToOffset(std::max(top, Document()->TextStart()));
}

void TMemo::DetectEncodingAgain() {
    if (!source_) return;
    const uint64_t top = TopOffset();
    Show(source_, DetectSourceEncoding(*source_));
    ScrollToOffset(std::max(top, Document()->TextStart()));
}

void TMemo::FileRenamed(const QByteArray& nativeName, const QString& shownName) {
    if (nativeName_.isEmpty()) return;
    nativeName_ = nativeName;
    shownName_ = shownName;
}

QString TMemo::EncodingName(const TEncodingChoice& encoding) {
    if (encoding.encoding == TTextEncoding::Legacy) {
        const QString name = QString::fromStdString(encoding.legacyName);
        return name.startsWith(QLatin1String("WINDOWS-"), Qt::CaseInsensitive)
                   ? QStringLiteral("Windows-") + name.mid(8)
                   : name;
    }
    // By TTextEncoding, up to Windows1252.
    static const char* const kNames[] = {"UTF-8",     "UTF-16 LE", "UTF-16 BE",
                                         "UTF-32 LE", "UTF-32 BE", "Windows-1252"};
    const auto index = size_t(encoding.encoding);
    return index < std::size(kNames) ? QString::fromLatin1(kNames[index]) : QString();
}

QString TMemo::StatusText() const {
    if (!Document() || (nativeName_.isEmpty() && Document()->Size() == 0)) return {};
    QString text = EncodingName(encoding_);
    if (HexMode()) return text + QStringLiteral("   Offset %1").arg(Caret());
    const TTextDocument& document = *Document();
    const int64_t line = document.FileLineAt(Caret());
    if (line < 0) return text;
    // The column counts characters from the start of the file's line, over the pieces of a
    // long line (up to a bound, past which it is left out).
    uint64_t start = document.LineStartAt(Caret());
    bool continues = false;
    for (int pieces = 0; document.FileLineAt(start, &continues) >= 0 && continues; ++pieces) {
        if (pieces >= 64) return text + QStringLiteral("   Line %1").arg(line + 1);
        start = document.PreviousLineStart(start);
    }
    const QString before = TextOf(start, Caret(), MaxCopy);
    qsizetype column = 0;
    for (const QChar c : before)
        column += !c.isLowSurrogate();
    return text + QStringLiteral("   Line %1, Column %2").arg(line + 1).arg(column + 1);
}

void TMemo::UpdateStatus() {
    status_->setText(StatusText());
}

void TMemo::SetHexForced(bool value) {
    if (!ChangeValue(hexForced_, value)) return;
    SetHexMode(hexForced_ || encoding_.binary);
    UpdateStatus();
}

void TMemo::CheckFile() {
    auto* file = dynamic_cast<const TFileSource*>(source_.get());
    if (!file || nativeName_.isEmpty() || !Document()) return;
    struct stat st {};
    const bool present = ::stat(nativeName_.constData(), &st) == 0;
    const bool replaced =
        present && (uint64_t(st.st_ino) != file->Inode() || uint64_t(st.st_dev) != file->Device());
    const uint64_t now = file->CurrentSize();
    const uint64_t shown = Document()->Size();
    if (replaced || now < shown) {
        const bool end = AtEnd();
        const uint64_t top = TopOffset();
        std::vector<uint64_t> marks = Marks();
        try {
            LoadFromNativeFile(nativeName_, shownName_);
        } catch (const std::exception&) {
            return;  // gone for now: the text stays
        }
        // The marks stay with the file while it is shown, on the lines still there.
        std::vector<uint64_t> kept;
        for (const uint64_t mark : marks)
            if (mark < Document()->Size()) kept.push_back(Document()->LineStartAt(mark));
        SetMarks(std::move(kept));
        if (end)
            ScrollToEnd();
        else
            ScrollToOffset(std::min(top, Document()->Size()));
    } else if (now > shown) {
        const bool end = AtEnd();
        Document()->Grow(now);
        DocumentGrew();
        filterPane_->DocumentGrew();
        if (end) ScrollToEnd();
    }
}

void TMemo::ShowFindBar() {
    findBar_->Open();
}

void TMemo::ShowFilterPane() {
    if (!Document() || HexMode()) return;
    const bool shown = FilterPaneShown();
    filterPane_->show();
    if (!shown) PlaceFindBar();
    RefreshFilter();
    if (!filterPane_->Search()) {
        findBar_->Open();
    } else {
        filterPane_->setFocus(Qt::ShortcutFocusReason);
    }
}

void TMemo::RefreshFilter() {
    std::shared_ptr<TTextSearch> search = findBar_->PrepareSearch();
    if (search == filterPane_->Search() && search) return;
    filterPane_->SetSearch(search, search ? findBar_->Pattern()->text() : QString());
}

void TMemo::CloseFilterPane() {
    const bool focused = filterPane_->hasFocus();
    filterPane_->SetSearch(nullptr, QString());
    filterPane_->hide();
    PlaceFindBar();
    if (focused) setFocus(Qt::OtherFocusReason);
}

bool TMemo::FilterPaneShown() const {
    return filterPane_ && !filterPane_->isHidden();
}

void TMemo::SetFilterHeight(int value) {
    filterHeight_ = std::max(0, value);
    PlaceFindBar();
}

void TMemo::SetHighlights(const QStringList& value) {
    highlights_ = HighlightsFromList(value);
    ApplyHighlights();
}

void TMemo::EditHighlights() {
    THighlightsDialog dialog(highlights_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    highlights_ = dialog.Patterns();
    ApplyHighlights();
}

void TMemo::ApplyHighlights() {
    SetPatternHighlights(CompileHighlights(highlights_, Document()));
    if (filterPane_) filterPane_->viewport()->update();
}

void TMemo::AskGoToLine() {
    if (!Document() || HexMode()) return;
    const int64_t line = Document()->FileLineAt(Caret());
    QString text = line >= 0 ? QString::number(line + 1) : QString();
    bool ok = false;
    if (AskLineHook)
        ok = AskLineHook(text);
    else
        text = QInputDialog::getText(this, tr("Go to line"), tr("Line number or percentage (50%):"),
                                     QLineEdit::Normal, text, &ok);
    TLineTarget target;
    if (ok && ParseLineTarget(text.toStdString(), target)) GoToLineWhenIndexed(target);
}

void TMemo::GoToLineWhenIndexed(const TLineTarget& target) {
    goToTarget_ = target;
    goTo_.stop();
    if (GoToLine(target)) return;
    goTo_.start();
    OnGoToTick();
}

void TMemo::OnGoToTick() {
    if (GoToLine(goToTarget_) || !Document()) {
        goTo_.stop();
        UpdateStatus();
        return;
    }
    const uint64_t size = std::max<uint64_t>(Document()->Size(), 1);
    status_->setText(tr("Going to line %1: %2% read (Esc cancels)")
                         .arg(goToTarget_.value)
                         .arg(Document()->IndexedBytes() * 100 / size));
}

void TMemo::CancelGoToLine() {
    goTo_.stop();
    UpdateStatus();
}

void TMemo::PlaceFindBar() {
    // The list of matching lines, the find bar and the status line, in this order under the text;
    // the list leaves the text at least a few lines.
    const int h = findBar_->isVisible() ? findBar_->sizeHint().height() : 0;
    const int s = status_ ? status_->sizeHint().height() : 0;
    QRect r = contentsRect();
    // The vertical scroll bar runs the memo's full height: the bars stay left of it.
    if (verticalScrollBar()->isVisibleTo(this))
        r.setWidth(r.width() - verticalScrollBar()->width());
    int f = 0;
    if (FilterPaneShown()) {
        const int wanted = filterHeight_ > 0 ? filterHeight_ : r.height() / 3;
        const int room = r.height() - h - s - 4 * QFontMetrics(font()).lineSpacing();
        f = std::max(0, std::min(wanted, room));
        filterPane_->setGeometry(r.left(), r.bottom() + 1 - f - h - s, r.width(), f);
    }
    setViewportMargins(0, 0, 0, f + h + s);
    findBar_->setGeometry(r.left(), r.bottom() + 1 - h - s, r.width(), h);
    if (status_) status_->setGeometry(r.left(), r.bottom() + 1 - s, r.width(), s);
}

void TMemo::resizeEvent(QResizeEvent* event) {
    TTextView::resizeEvent(event);
    if (findBar_) PlaceFindBar();
}

void TMemo::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Find)) {
        ShowFindBar();
        return;
    }
    if (event->key() == Qt::Key_F &&
        event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
        ShowFilterPane();
        return;
    }
    if (event->key() == Qt::Key_G && event->modifiers() == Qt::ControlModifier) {
        AskGoToLine();
        return;
    }
    if (event->key() == Qt::Key_Escape && GoToLinePending()) {
        CancelGoToLine();
        return;
    }
    if (event->key() == Qt::Key_F3) {
        findBar_->Find(!(event->modifiers() & Qt::ShiftModifier));
        return;
    }
    TTextView::keyPressEvent(event);
}

QString TMemo::DecodeWindows1252(const QByteArray& bytes) {
    TEncodingChoice c;
    c.encoding = TTextEncoding::Windows1252;
    return DecodeTextBytes(c, reinterpret_cast<const uint8_t*>(bytes.constData()),
                           size_t(bytes.size()));
}

QString TMemo::DecodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = DecodeWindows1252(bytes);
    else if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    // One line per line of text, whatever the line ends; NUL would end the text early in the
    // view, so it shows as a blank.
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    text.replace(QChar(0), QChar(' '));
    return text;
}

void TMemo::mousePressEvent(QMouseEvent* event) {
    TTextView::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    emit OnMouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
}
