// The text views over the engine: following a growing file, the find bar, the status line, hex
// mode and copying.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "text/TextTestHelpers.h"
#include "toolkit/Application.h"
#include "toolkit/FilterPane.h"
#include "toolkit/FindBar.h"
#include "toolkit/Memo.h"
#include "toolkit/TextView.h"

namespace {

// Writes a file into `dir` and returns its path.
QString WriteFile(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
}

}  // namespace

TEST(TextFollow, AppendFollowsTheEndAndTruncationReloads) {
    QTemporaryDir dir;
    const QString path = dir.filePath("grow.log");
    auto write = [&](const QByteArray& bytes, QIODevice::OpenMode mode) {
        QFile f(path);
        ASSERT_TRUE(f.open(mode));
        f.write(bytes);
    };
    QByteArray lines;
    for (int i = 0; i < 200; ++i)
        lines += "line " + QByteArray::number(i) + "\n";
    write(lines, QIODevice::WriteOnly);
    TMemo memo("ReadText");
    memo.resize(300, 200);
    memo.LoadFromFile(path);
    memo.ScrollToEnd();
    ASSERT_TRUE(memo.AtEnd());
    const uint64_t top = memo.TopOffset();
    write("appended\n", QIODevice::Append);
    memo.CheckFile();
    EXPECT_EQ(memo.LineCount(), 202);
    EXPECT_GT(memo.TopOffset(), top);  // followed
    EXPECT_TRUE(memo.AtEnd());
    // Not at the end: the view stays where it is.
    memo.ScrollToOffset(0);
    write("more\n", QIODevice::Append);
    memo.CheckFile();
    EXPECT_EQ(memo.TopOffset(), 0u);
    EXPECT_EQ(memo.LineCount(), 203);
    // Truncated: shown again from the new content.
    write("short\n", QIODevice::WriteOnly | QIODevice::Truncate);
    memo.CheckFile();
    EXPECT_EQ(memo.Text(), "short\n");
}

TEST(TextFind, CtrlFOpensTheBarAndF3StepsThroughMatches) {
    TMemo memo("ReadText");
    memo.resize(400, 300);
    memo.show();
    memo.SetText("one two\ntwo three\nthree two\n");
    QKeyEvent ctrlF(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier);
    QApplication::sendEvent(&memo, &ctrlF);
    TFindBar* bar = memo.FindBar();
    ASSERT_TRUE(bar->isVisible());
    bar->Pattern()->setText("two");
    auto find = [&](Qt::KeyboardModifiers modifiers) {
        QEventLoop loop;
        bool finished = false;
        auto c = QObject::connect(bar, &TFindBar::Finished, [&] { finished = true, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        QKeyEvent f3(QEvent::KeyPress, Qt::Key_F3, modifiers);
        QApplication::sendEvent(&memo, &f3);
        if (!finished) loop.exec();
        QObject::disconnect(c);
        EXPECT_TRUE(finished);
        return std::make_pair(memo.SelStart(), memo.SelEnd());
    };
    const std::pair<uint64_t, uint64_t> first{4, 7}, second{8, 11}, third{24, 27};
    EXPECT_EQ(find(Qt::NoModifier), first);
    EXPECT_EQ(find(Qt::NoModifier), second);
    EXPECT_EQ(find(Qt::NoModifier), third);
    EXPECT_EQ(find(Qt::NoModifier), first);  // once round from the start
    EXPECT_EQ(find(Qt::ShiftModifier), third);
    bar->Regex()->setChecked(true);
    bar->Pattern()->setText("(");
    bar->Find(true);
    EXPECT_FALSE(bar->Status().isEmpty());  // the expression's error, at once
}

TEST(TextFind, WideTextsFindAnyCaseAndTheHexViewMarksHits) {
    QTemporaryDir dir;
    QFile f(dir.filePath("wide.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromStdString(
        texttest::Bom(TTextEncoding::Utf16BE) +
        texttest::Encode(u"Maß und MASS, maß\n", TTextEncoding::Utf16BE)));
    f.close();
    TMemo memo("ReadText");
    memo.resize(700, 300);
    memo.show();
    memo.LoadFromFile(f.fileName());
    TFindBar* bar = memo.FindBar();
    bar->Open();
    bar->Pattern()->setText("MAß");
    bar->MatchCase()->setChecked(false);
    auto find = [&] {
        QEventLoop loop;
        bool finished = false;
        auto c = QObject::connect(bar, &TFindBar::Finished, [&] { finished = true, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        bar->Find(true);
        if (!finished) loop.exec();
        QObject::disconnect(c);
        return std::make_pair(memo.SelStart(), memo.SelEnd());
    };
    EXPECT_EQ(find(), (std::pair<uint64_t, uint64_t>{2, 8}));
    EXPECT_EQ(find(), (std::pair<uint64_t, uint64_t>{30, 36}));
    // The hex view marks the hits in the colour the text view uses.
    memo.SetHexForced(true);
    const QImage shot = memo.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int marked = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            marked += shot.pixel(x, y) == qRgb(255, 220, 80);
    EXPECT_GT(marked, 0);
}

// Under the text: the encoding in use and the caret's line and column (of the file's lines).
TEST(TextView, StatusLineShowsTheEncodingAndTheCaret) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
        QByteArray caretBefore;  // the caret is put before the first of these bytes
        const char* status;
    } cases[] = {
        {"latin.txt", "one\r\ntwo caf\xE9 \xE9t\xE9", "t\xE9", "Windows-1252   Line 2, Column 11"},
        {"utf8.txt", "a\rb\n\xC3\xA9t\xC3\xA9", "t", "UTF-8   Line 3, Column 2"},
        {"wide.txt", QByteArray("\xFF\xFEh\0\n\0i\0", 8), QByteArray("i", 1),
         "UTF-16 LE   Line 2, Column 1"},
    };
    TMemo memo("ReadText");
    memo.resize(400, 300);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        memo.LoadFromFile(WriteFile(dir, c.name, c.bytes));
        const qsizetype at = c.bytes.lastIndexOf(c.caretBefore);
        memo.Select(uint64_t(at), uint64_t(at));
        const auto* status = memo.findChild<QLabel*>("StatusText");
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->text(), c.status);
    }
}

// Ctrl+C of a selection larger than the clipboard takes says so (the clipboard keeps its text).
TEST(TextView, CopyingTooLargeASelectionSaysSo) {
    QStringList errors;
    Application::SetErrorBoxHook([&](const QString& text) { errors << text; });
    QApplication::clipboard()->setText("before");
    TMemo memo("ReadText");
    memo.SetText(QString(int(TTextView::MaxCopy) + 16, QChar('x')));
    memo.SelectAll();
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(&memo, &copy);
    Application::SetErrorBoxHook(nullptr);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("larger than")) << errors[0].toStdString();
    EXPECT_EQ(QApplication::clipboard()->text(), "before");
}

TEST(TextView, BinaryShowsAsHexAndLargeCopiesAreRefused) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
        bool hex;
    } cases[] = {
        {"binary.dat",
         QByteArray("\x7F"
                    "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0",
                    16),
         true},
        {"wide.txt", QByteArray("\xFF\xFEh\0i\0", 6), false},
        {"plain.txt", "plain\n", false},
    };
    TMemo memo("ReadText");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        memo.LoadFromFile(WriteFile(dir, c.name, c.bytes));
        EXPECT_EQ(memo.HexMode(), c.hex);
        memo.SetHexForced(true);  // the Hex View check shows any file so
        EXPECT_TRUE(memo.HexMode());
        memo.SetHexForced(false);
        EXPECT_EQ(memo.HexMode(), c.hex);
    }
    // A chosen encoding shows a binary file as text.
    memo.LoadFromFile(dir.filePath("binary.dat"));
    memo.SetEncoding({TTextEncoding::Windows1252, 0, {}, false});
    EXPECT_FALSE(memo.HexMode());

    memo.SetText(QString(int(TTextView::MaxCopy) + 16, QChar('x')));
    memo.SelectAll();
    EXPECT_THROW(memo.CopyToClipboard(), std::runtime_error);
    memo.Select(0, 5);
    EXPECT_NO_THROW(memo.CopyToClipboard());
    EXPECT_EQ(QApplication::clipboard()->text(), "xxxxx");
}

// Ctrl+G on a file larger than is indexed at once: a line the index has not reached is waited
// for, then shown; Cancel keeps the caret; past the end is the last line.
TEST(TextView, CtrlGGoesToALineOnceIndexed) {
    constexpr int kLines = 3000000;  // 8 bytes each
    QByteArray bytes(kLines * 8, '\n');
    for (int i = 0; i < kLines; ++i)
        std::memcpy(bytes.data() + i * 8, QByteArray::number(i).rightJustified(7, '0').data(), 7);
    QTemporaryDir dir;
    TMemo memo("ReadText");
    memo.resize(300, 200);
    memo.show();
    memo.LoadFromFile(WriteFile(dir, "large.log", bytes));
    // Esc gives up waiting for a line the index has not reached.
    memo.GoToLineWhenIndexed({2999990, false});
    ASSERT_TRUE(memo.GoToLinePending());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&memo, &escape);
    EXPECT_FALSE(memo.GoToLinePending());
    EXPECT_EQ(memo.Caret(), 0u);
    const struct {
        const char* answer;  // null for Cancel
        const char* offered;
        uint64_t caret;
    } steps[] = {
        {"2999990", "1", 2999989 * 8},
        {nullptr, "2999990", 2999989 * 8},
        {"99999999", "2999990", kLines * 8},
        {"25%", "3000001", kLines * 2},
    };
    for (const auto& step : steps) {
        QString offered;
        TMemo::AskLineHook = [&](QString& text) {
            offered = text;
            if (step.answer) text = QString::fromLatin1(step.answer);
            return step.answer != nullptr;
        };
        QKeyEvent ctrlG(QEvent::KeyPress, Qt::Key_G, Qt::ControlModifier);
        QApplication::sendEvent(&memo, &ctrlG);
        for (int i = 0; i < 1000 && memo.GoToLinePending(); ++i) {
            QEventLoop wait;
            QTimer::singleShot(10, &wait, &QEventLoop::quit);
            wait.exec();
        }
        EXPECT_FALSE(memo.GoToLinePending());
        EXPECT_EQ(offered, QString::fromLatin1(step.offered));
        EXPECT_EQ(memo.Caret(), step.caret) << (step.answer ? step.answer : "Cancel");
        // On screen: at the top, or the last lines filling it.
        EXPECT_LE(memo.TopOffset(), memo.Caret());
        EXPECT_LT(memo.Caret() - memo.TopOffset(), 8u * 40);
    }
    TMemo::AskLineHook = nullptr;
}

// The list of matching lines with the marks among them, on a file that grows while it is shown.
TEST(TextFilter, ListsMatchesAndMarksAndFollowsAGrowingFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("app.log");
    auto append = [&](int from, int to) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        for (int i = from; i < to; ++i)
            f.write("line " + QByteArray::number(i) + (i % 10 == 3 ? " ERR\n" : " ok\n"));
    };
    append(0, 1000);
    TMemo memo("ReadText");
    memo.resize(500, 400);
    memo.show();
    memo.SetShowLineNumbers(true);
    memo.LoadFromFile(path);
    TFilterPane* pane = memo.FilterPane();
    auto settle = [&] {
        for (int i = 0; i < 500 && (pane->Filling() || memo.GoToLinePending()); ++i) {
            QEventLoop wait;
            QTimer::singleShot(10, &wait, &QEventLoop::quit);
            wait.exec();
        }
        QEventLoop wait;
        QTimer::singleShot(50, &wait, &QEventLoop::quit);
        wait.exec();
    };
    auto key = [&](QWidget* to, int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, k, modifiers);
        QApplication::sendEvent(to, &event);
    };
    // Without a pattern the find bar opens for one; Enter in it fills the list.
    key(&memo, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(memo.FilterPaneShown());
    ASSERT_TRUE(memo.FindBar()->isVisible());
    memo.FindBar()->Pattern()->setText("ERR");
    key(memo.FindBar()->Pattern(), Qt::Key_Return);
    settle();
    ASSERT_EQ(pane->RowCount(), 100u);
    EXPECT_EQ(pane->Status(), "Lines matching \"ERR\": 100");
    EXPECT_EQ(pane->Row(0).number, 4);
    EXPECT_EQ(pane->Row(99).number, 994);
    // Marks: Ctrl+M on line 6, a click on line 1's number; both join the list in line order.
    memo.setFocus();
    memo.Select(memo.Text().indexOf("line 5 "), memo.Text().indexOf("line 5 "));
    key(&memo, Qt::Key_M, Qt::ControlModifier);
    memo.ScrollToOffset(0);
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(memo.viewport(), &click);
    ASSERT_EQ(memo.Marks().size(), 2u);
    ASSERT_EQ(pane->RowCount(), 102u);
    const int64_t numbers[] = {1, 4, 6, 14};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(pane->Row(i).number, numbers[i]) << i;
    EXPECT_TRUE(pane->Row(0).marked && !pane->Row(0).match && pane->Row(1).match);
    // The file grows: the list goes on, the marks stay, its new lines can be gone to.
    append(1000, 1100);
    memo.CheckFile();
    memo.GoToLineWhenIndexed({1050, false});
    settle();
    EXPECT_EQ(pane->RowCount(), 112u);
    EXPECT_EQ(pane->Row(111).number, 1094);
    EXPECT_EQ(memo.Marks().size(), 2u);
    EXPECT_EQ(memo.Document()->FileLineAt(memo.Caret()), 1049);
    // F9 goes round the marks; Enter on a row selects the match in the text.
    key(&memo, Qt::Key_F9);
    EXPECT_EQ(memo.Caret(), memo.Marks()[0]);
    key(&memo, Qt::Key_F9, Qt::ControlModifier);
    EXPECT_EQ(memo.Caret(), memo.Marks()[1]);
    pane->SetCurrentRow(111);
    key(pane, Qt::Key_Return);
    EXPECT_EQ(memo.TextOf(memo.SelStart(), memo.SelEnd(), 10), "ERR");
    EXPECT_EQ(memo.Document()->FileLineAt(memo.Caret()), 1093);
    key(pane, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "line 1093 ERR");
    key(pane, Qt::Key_Escape);
    EXPECT_FALSE(memo.FilterPaneShown());
}
