// Times the file list's Thumbnails view in the main window (image mode, 256-pixel thumbnails,
// the browser pane 820 pixels wide), with whatever thumbnail service the program links:
//
//  1. the first screen: from opening a folder of 200 4000 x 3000 photos until every thumbnail
//     shown is painted, with the thumbnail cache empty (target 1000 ms) and again in a new
//     window with the cache as the first left it (target 150 ms);
//  2. the same for a folder of 2,000 pictures, and scrolling it from top to bottom a page every
//     30 ms: the largest gap between 5 ms timer ticks of the window's event loop (target 50 ms);
//  3. the process's peak memory while browsing the 2,000 pictures, beside the service's own
//     memory and its bound.
//
// The thumbnail cache lives in a temporary XDG_CACHE_HOME. The folders are hard links of PHOTO
// (a 4000 x 3000 JPEG, bench/thumbnails_window.sh makes it with bench/make_photo.py and cjpeg)
// and of SMALL (any smaller JPEG; PHOTO when not given).
//
// Usage: bench_gui_thumbnails PHOTO [SMALL]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/MainWindow.h"
#include "bench/BenchClock.h"
#include "imaging/Registration.h"
#include "thumbs/ThumbnailService.h"

namespace {

using namespace bench;

// A folder of count hard links (copies where links fail) of picture.
bool MakeFolder(const QString& folder, const QString& picture, int count) {
    if (!QDir().mkpath(folder)) return false;
    const std::string from = QFile::encodeName(picture).toStdString();
    for (int i = 0; i < count; ++i) {
        const QString name = QString("%1/picture%2.jpg").arg(folder).arg(i, 4, 10, QChar('0'));
        std::error_code linked;
        std::filesystem::create_hard_link(from, QFile::encodeName(name).toStdString(), linked);
        if (linked && !QFile::copy(picture, name)) return false;
    }
    return true;
}

// Runs the event loop until done, sleeping between events; a 2 ms timer wakes it to look.
bool Spin(const std::function<bool()>& done, int timeoutMs) {
    QTimer tick;
    tick.start(2);
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Whether every file row shown has its thumbnail.
bool FirstScreenReady(TFileListView& list) {
    const auto [first, last] = list.ShownRows();
    if (last <= first) return false;
    for (int row = first; row < last; ++row)
        if (list.ItemSubItem(row, 5) == QLatin1String(TFileListView::KindFile) &&
            list.Thumbnail(row).isNull())
            return false;
    return true;
}

// A new main window in the Thumbnails view, showing an empty folder (not the folder the last
// window stored, whose thumbnails would be painted before the timing starts).
std::unique_ptr<TMainWindow> Window() {
    static QTemporaryDir empty;
    auto form = std::make_unique<TMainWindow>();
    form->show();
    QCoreApplication::processEvents();
    form->OpenPath(empty.path());
    QCoreApplication::processEvents();
    if (!form->BrowseImageFiles->Checked()) form->BrowseTextFiles->Click();
    if (!form->ThumbnailsMenu->Checked()) form->ThumbnailsMenu->Click();
    form->BrowseFiles->SetThumbnailSize(256);
    form->resize(1300, 820);
    form->PanelLeft->SetWidth(820);
    TAlignLayout::Realign(form.get());
    QCoreApplication::processEvents();
    return form;
}

// Opens folder in the window; the time until the first screen of thumbnails is painted, -1 when
// it is not within 60 s.
double FirstScreen(TMainWindow& form, const QString& folder) {
    const auto start = Clock::now();
    form.OpenPath(folder);
    if (!Spin([&] { return FirstScreenReady(*form.BrowseFiles); }, 60000)) return -1;
    form.BrowseFiles->View()->viewport()->repaint();
    return Ms(start);
}

// Scrolls the list from top to bottom a page every 30 ms; the largest gap between the ticks of
// a 5 ms timer meanwhile, and the time taken.
std::pair<double, double> ScrollThrough(TMainWindow& form) {
    QScrollBar* bar = form.BrowseFiles->View()->verticalScrollBar();
    bar->setValue(0);
    QCoreApplication::processEvents();
    double largest = 0;
    QElapsedTimer gap;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        largest = std::max(largest, double(gap.nsecsElapsed()) / 1e6);
        gap.restart();
    });
    QTimer pager;
    QObject::connect(&pager, &QTimer::timeout,
                     [&] { bar->setValue(bar->value() + bar->pageStep()); });
    const auto start = Clock::now();
    gap.start();
    ticker.start(5);
    pager.start(30);
    Spin([&] { return bar->value() >= bar->maximum(); }, 120000);
    pager.stop();
    // The last screen as well.
    Spin([&] { return FirstScreenReady(*form.BrowseFiles); }, 10000);
    ticker.stop();
    return {largest, Ms(start)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PHOTO [SMALL]\n", argv[0]);
        return 2;
    }
    QTemporaryDir cache, work;
    if (!cache.isValid() || !work.isValid()) return 2;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.path() + "/config"));
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    RegisterImageFormats();
    QApplication app(argc, argv);
    const QString photo = QFile::decodeName(argv[1]);
    const QString small = QFile::decodeName(argc > 2 ? argv[2] : argv[1]);
    const QString photos = work.path() + "/photos", many = work.path() + "/many";
    if (!MakeFolder(photos, photo, 200) || !MakeFolder(many, small, 2000)) {
        std::fprintf(stderr, "cannot make the folders\n");
        return 2;
    }

    std::printf("CPU: %s\n", CpuModel().c_str());
    {
        auto form = Window();
        const QSize list = form->BrowseFiles->View()->viewport()->size();
        std::printf("first screen of 256-pixel thumbnails, list %d x %d:\n", list.width(),
                    list.height());
    }
    const auto figure = [](const char* what, double ms, double target) {
        if (ms < 0)
            std::printf("  %-40s not within 60 s\n", what);
        else
            std::printf("  %-40s %8.1f ms  (target %.0f)\n", what, ms, target);
    };
    int shown = 0;
    {
        auto form = Window();
        figure("200 photos, cache empty:", FirstScreen(*form, photos), 1000);
        const auto [first, last] = form->BrowseFiles->ShownRows();
        shown = last - first;
    }
    {
        auto form = Window();
        figure("200 photos again (new window):", FirstScreen(*form, photos), 150);
    }
    ResetPeakRss();
    const long before = PeakRssKiB();
    {
        auto form = Window();
        figure("2,000 pictures, cache empty:", FirstScreen(*form, many), 1000);
        const auto [gap, ms] = ScrollThrough(*form);
        std::printf(
            "scrolling the 2,000 pictures top to bottom (%.1f s), largest event-loop gap:"
            " %.1f ms  (target 50)\n",
            ms / 1000, gap);
        std::printf(
            "memory while browsing them: process peak %.1f MiB (%.1f MiB more than before the"
            " window opened), service %.1f MiB, bound %.1f MiB\n",
            double(PeakRssKiB()) / 1024, double(PeakRssKiB() - before) / 1024,
            double(form->Thumbnails()->MemoryBytes()) / (1 << 20),
            double(form->Thumbnails()->MemoryBound()) / (1 << 20));
    }
    {
        auto form = Window();
        figure("2,000 pictures again (new window):", FirstScreen(*form, many), 150);
    }
    std::printf("(%d thumbnails on the first screen)\n", shown);
    return 0;
}
