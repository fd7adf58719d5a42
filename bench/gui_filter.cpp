// Times reading a large log as people do, each figure printed for the script that pairs it with
// `grep -n` in the same run (bench/filter_vs_grep.sh):
//
//  1. Ctrl+G to line 15,000,000 right after opening, while the line index is being built (the
//     wait), and again once it is complete (target 0.5 s);
//  2. the list of lines matching PATTERN, opened right after the file: first rows on screen, the
//     list complete (target 1.5x `grep -n`), and the longest the window's event loop went
//     without running (target 50 ms);
//  3. the process's peak memory (target 300 MB).
//
// Usage: bench_gui_filter FILE PATTERN
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

#include "BenchClock.h"
#include "toolkit/FilterPane.h"
#include "toolkit/FindBar.h"
#include "toolkit/Memo.h"

namespace {

double Ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Runs the event loop until `done` holds, noting the longest gap between 1 ms timer events.
template <class Done>
double RunUntil(Done done, double& longestGap) {
    QElapsedTimer t, gap;
    t.start();
    gap.start();
    longestGap = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, Ms(gap));
        gap.restart();
    });
    tick.start();
    while (!done()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        longestGap = std::max(longestGap, Ms(gap));
    }
    return Ms(t);
}

void GoToLine(TMemo& memo, const char* line) {
    TMemo::AskLineHook = [line](QString& text) {
        text = QString::fromLatin1(line);
        return true;
    };
    QKeyEvent ctrlG(QEvent::KeyPress, Qt::Key_G, Qt::ControlModifier);
    QApplication::sendEvent(&memo, &ctrlG);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE PATTERN\n", argv[0]);
        return 2;
    }
    std::printf("cpu %s\n", bench::CpuModel().c_str());
    const QString file = QString::fromLocal8Bit(argv[1]);
    TMemo memo("ReadText");
    memo.resize(1000, 700);
    memo.SetScrollBars(ssVertical);
    memo.SetShowLineNumbers(true);
    memo.show();
    QApplication::processEvents();
    double gap = 0;

    // 1. Go to a line the index has not reached yet, then once it is complete.
    memo.LoadFromFile(file);
    QElapsedTimer t;
    t.start();
    GoToLine(memo, "15000000");
    const double waited = RunUntil([&] { return !memo.GoToLinePending(); }, gap);
    std::printf("goto_while_indexing_ms %.0f (line %lld, longest stall %.1f ms)\n", waited,
                (long long)memo.Document()->FileLineAt(memo.Caret()) + 1, gap);
    RunUntil([&] { return memo.IndexComplete(); }, gap);
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier);
    QApplication::sendEvent(&memo, &home);
    t.restart();
    GoToLine(memo, "15000000");
    memo.viewport()->repaint();
    std::printf("goto_indexed_ms %.1f (line %lld)\n", Ms(t),
                (long long)memo.Document()->FileLineAt(memo.Caret()) + 1);

    // 2. The list of matching lines on the file opened afresh.
    memo.LoadFromFile(file);
    memo.FindBar()->Pattern()->setText(QString::fromLocal8Bit(argv[2]));
    TFilterPane* pane = memo.FilterPane();
    t.restart();
    memo.ShowFilterPane();
    const double first = RunUntil([&] { return pane->RowCount() > 0 || !pane->Filling(); }, gap);
    double longest = gap;
    const double rest = RunUntil([&] { return !pane->Filling(); }, gap);
    longest = std::max(longest, gap);
    std::printf("filter_first_rows_ms %.0f\n", first);
    std::printf("filter_ms %.0f rows %zu (longest stall %.1f ms)\n", first + rest,
                pane->RowCount(), longest);
    std::printf("peak_rss_mb %ld\n", bench::PeakRssKiB() / 1024);
    TMemo::AskLineHook = nullptr;
    return 0;
}
