// Times filling the file list for a folder of 20,000 files with the text-mode and the image-mode
// mask lists, next to `ls -l` on the same folder. The list should take no more than twice as
// long as `ls -l`.
//
// Usage: bench_gui_filelist [file count] [runs]
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QAbstractItemView>

#include "bench/BenchClock.h"
#include "browse/FileListView.h"

namespace {

using namespace bench;

const char* const kTextMask =
    "*.txt;*.ini;*.sys;*.bat;*.inf;*.htm;*.css;*.js;*.pas;*.dpr;*.dpk;*.inc;*.rc;*.bpr;*.bpk;"
    "*.hpp;*.cpp;*.h;*.c;*.nfo;*.diz;*.upl;*.log;*.csv;*.1st;*.lst";
const char* const kImageMask =
    "*.jpg;*.jpe;*.png;*.psd;*.tga;*.bmp;*.rle;*.dib;*.pcx;*.pcd;*.sgi;*.tif;*.ico";

// Extensions of the generated files: text, image and other kinds mixed.
const char* const kExtensions[] = {"txt", "ini", "cpp", "h",   "log", "csv", "htm",  "pas",
                                   "jpg", "png", "bmp", "tif", "psd", "ico", "pcx",  "tga",
                                   "dat", "bin", "o",   "zip", "pdf", "md",  "json", "xml"};

bool MakeFolder(const QString& dir, int count) {
    const int kinds = static_cast<int>(sizeof(kExtensions) / sizeof(kExtensions[0]));
    for (int i = 0; i < count; ++i) {
        const QString name =
            QString("%1/file%2.%3").arg(dir).arg(i, 5, 10, QChar('0')).arg(kExtensions[i % kinds]);
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly)) return false;
        if (i % 7 == 0) f.write(QByteArray(100 + i % 3000, 'x'));
    }
    for (int i = 0; i < 20; ++i)
        if (!QDir(dir).mkdir(QString("folder%1").arg(i))) return false;
    return true;
}

double TimeLs(const QString& dir, int runs) {
    const QByteArray command = "ls -l '" + QFile::encodeName(dir) + "' > /dev/null";
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (std::system(command.constData()) != 0) return -1;
        times.push_back(Ms(start));
    }
    return Median(times);
}

// One fill as the program sees it: re-read the folder, refill the rows, lay out and paint the
// visible part.
double TimeFill(TFileListView& list, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        list.RebuildList();
        QApplication::processEvents();
        list.View()->viewport()->repaint();
        times.push_back(Ms(start));
    }
    return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    QTemporaryDir tmp;
    if (!tmp.isValid() || !MakeFolder(tmp.path(), count)) {
        std::fprintf(stderr, "cannot create the test folder\n");
        return 1;
    }
    const QString dir = tmp.path();
    const double ls = TimeLs(dir, runs);

    // Configured as the main window configures its list.
    TFileListView list;
    list.SetViewStyle(TFileListView::vsList);
    list.SetShowColumnHeaders(false);
    list.SetMultiSelect(false);
    list.SetReadOnly(true);
    list.SetColWidth_Name(150);
    list.SetColWidth_Size(0);
    list.SetColWidth_Type(0);
    list.SetColWidth_Mod(0);
    list.SetColWidth_Attr(0);
    list.resize(240, 400);
    list.show();
    QApplication::processEvents();

    list.SetMask(QString::fromLatin1(kTextMask));
    list.SetDirectory(dir);
    const double text = TimeFill(list, runs);
    const int textRows = list.ItemCount();
    list.SetMask(QString::fromLatin1(kImageMask));
    const double image = TimeFill(list, runs);
    const int imageRows = list.ItemCount();
    list.SetViewStyle(TFileListView::vsReport);
    list.SetMask(QStringLiteral("*.*"));
    const double all = TimeFill(list, runs);
    const int allRows = list.ItemCount();

    std::printf("folder of %d files, median of %d runs\n", count, runs);
    std::printf("  ls -l                     %8.1f ms\n", ls);
    std::printf("  list, text masks (26)     %8.1f ms  %6d rows  %.2fx ls -l\n", text, textRows,
                text / ls);
    std::printf("  list, image masks (13)    %8.1f ms  %6d rows  %.2fx ls -l\n", image, imageRows,
                image / ls);
    std::printf("  report style, *.*         %8.1f ms  %6d rows  %.2fx ls -l\n", all, allRows,
                all / ls);
    const bool ok = text <= 2 * ls && image <= 2 * ls;
    std::printf("%s: text and image fills %s twice the time of ls -l\n", ok ? "PASS" : "FAIL",
                ok ? "within" : "beyond");
    return ok ? 0 : 2;
}
