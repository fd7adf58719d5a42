#include "toolkit/Memo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QMouseEvent>
#include <QStringDecoder>
#include <QTextCursor>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

// Windows-1252 bytes 0x80..0x9F; the five unassigned bytes map to the C1 control of the same
// value, as the platform's own conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

}  // namespace

TMemo::TMemo(const QString& name, QWidget* parent) : TControl<QPlainTextEdit>(parent) {
    setObjectName(name);
    color_ = clWindow;
    SetFont(TFont());
    SetColor(clWindow);
    setReadOnly(true);
    // A read-only memo still lets the user select with mouse and keyboard.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    ApplyWrap();
    connect(this, &QPlainTextEdit::textChanged, this, &TMemo::OnChange);
}

void TMemo::SetWordWrap(bool value) {
    if (value == wordWrap_) return;
    wordWrap_ = value;
    ApplyWrap();
}

void TMemo::SetScrollBars(TScrollStyle value) {
    if (value == scrollBars_) return;
    scrollBars_ = value;
    ApplyWrap();
}

bool TMemo::Wrapping() const {
    return wordWrap_ && scrollBars_ != ssHorizontal && scrollBars_ != ssBoth;
}

void TMemo::ApplyWrap() {
    const bool horizontal = scrollBars_ == ssHorizontal || scrollBars_ == ssBoth;
    const bool vertical = scrollBars_ == ssVertical || scrollBars_ == ssBoth;
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setLineWrapMode(Wrapping() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

int TMemo::SelLength() const {
    const QTextCursor cursor = textCursor();
    return cursor.selectionEnd() - cursor.selectionStart();
}

void TMemo::SetText(const QString& value) {
    if (value == toPlainText()) return;
    setPlainText(value);
}

void TMemo::SetReadOnly(bool value) {
    setReadOnly(value);
    // The edit control drops keyboard selection when it turns read-only; a read-only memo keeps
    // it (and with it a visible caret), as read-only editors do.
    if (value) setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

QByteArray TMemo::ReadTextFile(const QByteArray& nativeName, const QString& shownName) {
    auto fail = [&](const char* what, const std::string& reason) {
        throw std::runtime_error(std::string(what) + " \"" + shownName.toStdString() + "\". " +
                                 reason);
    };
    // Non-blocking, so that a pipe nobody writes to cannot hold the window; the type is checked
    // on the descriptor that is read, so the name cannot be swapped in between.
    const int fd = ::open(nativeName.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        if (::stat(nativeName.constData(), &st) == 0 && !S_ISREG(st.st_mode))
            fail("Cannot open file", "It is not a regular file");
        fail("Cannot open file", std::strerror(error));
    }
    struct TCloser {
        int fd;
        ~TCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail("Cannot read file", std::strerror(errno));
    if (!S_ISREG(st.st_mode)) fail("Cannot open file", "It is not a regular file");
    if (st.st_size > MaxFileSize)
        fail("Cannot open file", "It is larger than " + std::to_string(MaxFileSize >> 20) +
                                     " MB, the most the reader shows");
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read file", std::strerror(errno));
        }
        if (got == 0) break;
        // A file that grows while it is read stops at the bound all the same.
        if (bytes.size() + got > MaxFileSize)
            fail("Cannot open file", "It is larger than " + std::to_string(MaxFileSize >> 20) +
                                         " MB, the most the reader shows");
        bytes.append(buffer, got);
    }
    return bytes;
}

void TMemo::LoadFromFile(const QString& fileName) {
    LoadFromNativeFile(QFile::encodeName(fileName), fileName);
}

void TMemo::LoadFromNativeFile(const QByteArray& nativeName, const QString& shownName) {
    setPlainText(DecodeText(ReadTextFile(nativeName, shownName)));
}

void TMemo::Clear() {
    clear();
}

void TMemo::CopyToClipboard() {
    copy();
}

QString TMemo::DecodeWindows1252(const QByteArray& bytes) {
    QString text;
    text.resize(bytes.size());
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[i] = (b >= 0x80 && b <= 0x9F) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
    }
    return text;
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
    QPlainTextEdit::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    emit OnMouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
}
