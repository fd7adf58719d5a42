// Times the text view on a large file, each figure printed for the script that pairs it with a
// baseline in the same run (bench/text_vs_grep.sh):
//
//  1. open to first paint (target 300 ms for 1.5 GB) and the process's peak memory (target
//     300 MB resident) once the line index is complete;
//  2. Ctrl+End to its paint, and the scroll bar dragged to the middle to its paint, both before
//     the index is complete (target: within a frame);
//  3. counting every hit of WORD over the file with the view's search (compare `grep -c`).
//
// Usage: bench_gui_text FILE WORD
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <chrono>
#include <cstdio>
#include <thread>

#include "toolkit/Memo.h"

namespace {

double Ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

long PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE WORD\n", argv[0]);
        return 2;
    }
    TMemo memo("ReadText");
    memo.resize(1000, 700);
    memo.SetScrollBars(ssVertical);
    memo.show();
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    memo.LoadFromFile(QString::fromLocal8Bit(argv[1]));
    memo.viewport()->repaint();
    std::printf("first_screen_ms %.1f\n", Ms(t));
    std::printf("index_complete_at_first_screen %d\n", memo.IndexComplete() ? 1 : 0);

    t.restart();
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    QApplication::sendEvent(&memo, &end);
    memo.viewport()->repaint();
    std::printf("ctrl_end_ms %.1f (index complete: %d)\n", Ms(t), memo.IndexComplete() ? 1 : 0);

    t.restart();
    memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum() / 2);
    memo.viewport()->repaint();
    std::printf("drag_middle_ms %.1f\n", Ms(t));

    t.restart();
    while (!memo.IndexComplete())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::printf("index_rest_ms %.0f lines %d\n", Ms(t), memo.LineCount());
    t.restart();
    QApplication::sendEvent(&memo, &end);
    memo.viewport()->repaint();
    std::printf("ctrl_end_indexed_ms %.1f\n", Ms(t));

    TSearchQuery query;
    query.pattern = argv[2];
    TTextSearch search(memo.Document(), query);
    t.restart();
    const size_t hits = search.FindAll(0, memo.Document()->Size(), SIZE_MAX).size();
    const double ms = Ms(t);
    std::printf("find_ms %.0f hits %zu (%.2f GB/s)\n", ms, hits,
                double(memo.Document()->Size()) / (ms / 1000) / 1e9);
    std::printf("peak_rss_mb %ld\n", PeakRssMb());
    return 0;
}
