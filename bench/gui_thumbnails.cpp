// Times the thumbnail service, each figure beside its peer in the same run:
//
//  1. a folder of photos (bench/thumbnails.sh passes 200 photo-like 4000 x 3000 JPEGs without
//     EXIF thumbnails), 256-pixel thumbnails with an empty cache: the first screen (24
//     thumbnails asked for as visible, the rest as around them) and all of them, wall and
//     processor time, beside vipsthumbnail -s 256 over the same files in two processes (one per
//     core, half the files each, VIPS_CONCURRENCY=1, output to a tmpfs) and djpeg -scale 1/8
//     (reading only, the same way: about the least a JPEG thumbnail can cost); the target is
//     at most half of vipsthumbnail's wall time;
//  2. the same folder again with the cache warm (a new service over the same cache);
//  3. browsing a folder of 2,000 (links to the photos) from top to bottom a screen at a time,
//     each screen waited for: the most memory the service's thumbnails held against its bound,
//     and the process's peak memory over the browse.
// Runs alternate between ours and vipsthumbnail (RUNS, 2 by default) and the medians are shown,
// since other work on the machine slows either.
//
// Usage: bench_gui_thumbnails PHOTO_FOLDER MANY_FOLDER
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "bench/BenchClock.h"
#include "imaging/Registration.h"
#include "thumbs/ThumbnailService.h"

using namespace bench;

namespace {

constexpr int kScreen = 24;

QList<QByteArray> Files(const QString& folder) {
    QList<QByteArray> files;
    for (const QString& name : QDir(folder).entryList({"*.jpg"}, QDir::Files, QDir::Name))
        files.append(QFile::encodeName(QDir(folder).filePath(name)));
    return files;
}

double ChildrenCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct TTimes {
    double firstScreen = 0, all = 0, cpu = 0;
    int failed = 0;
};

// Asks a new service over the cache in root for every file's thumbnail and waits for them all.
TTimes MakeAll(const QList<QByteArray>& files, const QString& root) {
    TTimes times;
    const double cpu = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const auto start = Clock::now();
    TThumbnailService service(nullptr, 2, TThumbnailCache(root));
    int ready = 0, visibleReady = 0;
    QObject::connect(&service, &TThumbnailService::Ready, [&](QByteArray path, QImage image) {
        ++ready;
        times.failed += image.isNull();
        if (files.indexOf(path) < kScreen && ++visibleReady == std::min(kScreen, int(files.size())))
            times.firstScreen = Ms(start);
    });
    service.Request(files.mid(0, kScreen), files.mid(kScreen));
    while (ready < files.size())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    times.all = Ms(start);
    times.cpu = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    return times;
}

// A peer over the files, one process per half (command, then the files); wall and processor
// time in ms, negative when it failed.
std::pair<double, double> Peer(const QList<QByteArray>& files, std::vector<std::string> command) {
    const double cpu = ChildrenCpuMs();
    const auto start = Clock::now();
    std::vector<pid_t> children;
    const qsizetype half = files.size() / 2;
    for (const QList<QByteArray>& part : {files.mid(0, half), files.mid(half)}) {
        std::vector<std::string> args = command;
        for (const QByteArray& file : part)
            args.push_back(file.toStdString());
        const pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            setenv("VIPS_CONCURRENCY", "1", 1);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        children.push_back(pid);
    }
    bool ok = true;
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!ok) return {-1, -1};
    return {Ms(start), ChildrenCpuMs() - cpu};
}

// Browses the folder from top to bottom a screen at a time, each screen waited for.
void Browse(const QList<QByteArray>& files) {
    QTemporaryDir root;
    TThumbnailService service(nullptr, 2, TThumbnailCache(root.path()));
    size_t most = 0;
    int made = 0;
    QObject::connect(&service, &TThumbnailService::Ready, [&](QByteArray, QImage) {
        ++made;
        most = std::max(most, service.MemoryBytes());
    });
    const long before = StatusKiB("VmRSS:");
    ResetPeakRss();
    const auto start = Clock::now();
    for (qsizetype top = 0; top < files.size(); top += kScreen) {
        const QList<QByteArray> visible = files.mid(top, kScreen);
        service.Request(visible, files.mid(top + kScreen, 2 * kScreen) +
                                     files.mid(std::max<qsizetype>(0, top - kScreen),
                                               std::min<qsizetype>(top, kScreen)));
        auto shown = [&] {
            for (const QByteArray& path : visible)
                if (service.Cached(path).isNull()) return false;
            return true;
        };
        while (!shown())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::printf(
        "browse %lld files (%d made) in %.1f s: thumbnails in memory at most %.1f MiB "
        "(bound %.0f MiB); process %.1f MiB before, peak %.1f MiB\n",
        qlonglong(files.size()), made, Ms(start) / 1e3, most / 1048576.0,
        service.MemoryBound() / 1048576.0, before / 1024.0, PeakRssKiB() / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "Usage: %s PHOTO_FOLDER MANY_FOLDER\n", argv[0]);
        return 2;
    }
    RegisterImageFormats();
    const QList<QByteArray> photos = Files(argv[1]);
    const int runs = std::max(1, std::getenv("RUNS") ? std::atoi(std::getenv("RUNS")) : 2);
    std::printf("CPU: %s, %ld cores; %lld photos, 256 px\n", CpuModel().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), qlonglong(photos.size()));
    std::vector<double> coldFirst, cold, coldCpu, warm, warmCpu, vips, vipsCpu, djpeg, djpegCpu;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir root;
        const TTimes made = MakeAll(photos, root.path());
        const TTimes again = MakeAll(photos, root.path());
        QTemporaryDir out(QStringLiteral("/dev/shm/velkaro-vips-XXXXXX"));
        const auto [vipsWall, vipsCpuMs] =
            Peer(photos, {"vipsthumbnail", "-s", "256", "-o",
                          QFile::encodeName(out.path()).toStdString() + "/%s.jpg"});
        // Every file read at 1/8 scale: about the least that reading JPEGs can cost.
        const auto [djpegWall, djpegCpuMs] = Peer(
            photos,
            {"sh", "-c", "for f; do djpeg -scale 1/8 \"$f\" >/dev/null || exit 1; done", "djpeg"});
        if (made.failed + again.failed > 0 || vipsWall < 0 || djpegWall < 0) {
            std::fprintf(stderr, "failed: ours %d, vipsthumbnail %.0f, djpeg %.0f\n",
                         made.failed + again.failed, vipsWall, djpegWall);
            return 1;
        }
        coldFirst.push_back(made.firstScreen);
        cold.push_back(made.all);
        coldCpu.push_back(made.cpu);
        warm.push_back(again.all);
        warmCpu.push_back(again.cpu);
        vips.push_back(vipsWall);
        vipsCpu.push_back(vipsCpuMs);
        djpeg.push_back(djpegWall);
        djpegCpu.push_back(djpegCpuMs);
    }
    std::printf("empty cache: first screen %.0f ms, all %.0f ms wall, %.0f ms CPU\n",
                Median(coldFirst), Median(cold), Median(coldCpu));
    std::printf("vipsthumbnail (2 processes): %.0f ms wall, %.0f ms CPU\n", Median(vips),
                Median(vipsCpu));
    std::printf("djpeg -scale 1/8 (2 processes, reading only): %.0f ms wall, %.0f ms CPU\n",
                Median(djpeg), Median(djpegCpu));
    std::printf("ours / vipsthumbnail wall: %.2f (target <= 0.50)\n", Median(cold) / Median(vips));
    std::printf("warm cache: all %.0f ms wall, %.0f ms CPU\n", Median(warm), Median(warmCpu));
    if (argc > 2) Browse(Files(argv[2]));
    return 0;
}
