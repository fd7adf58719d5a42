// velkaro-thumbnailer: the desktop's thumbnailer for every picture Velkaro reads. File managers
// run it through share/thumbnailers/velkaro.thumbnailer as
//   velkaro-thumbnailer -s SIZE INPUT OUTPUT
// where INPUT is a path or a file:// URI; it writes a PNG of at most SIZE pixels on its longer
// side to OUTPUT. The desktop runs it on whatever lies in a folder, so it gives up after a few
// seconds and within a memory cap; it needs no display (Qt paints off screen).
#include <sys/resource.h>
#include <unistd.h>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imaging/Registration.h"
#include "thumbs/ThumbnailMaker.h"

namespace {

constexpr unsigned kWallSeconds = 10;              // a whole run, decode and writing
constexpr rlim_t kCpuSeconds = 10;                 // all threads together
constexpr rlim_t kAddressBytes = rlim_t(3) << 30;  // Qt, the decoders and one large picture

int Usage() {
    std::fputs(
        "usage: velkaro-thumbnailer -s SIZE INPUT OUTPUT\n"
        "Writes a PNG thumbnail of INPUT (a path or a file:// URI), at most SIZE pixels\n"
        "on its longer side, to OUTPUT.\n",
        stderr);
    return 2;
}

int Fail(const char* input, const std::string& why) {
    std::fprintf(stderr, "velkaro-thumbnailer: %s: %s\n", input, why.c_str());
    return 1;
}

// The run's own runtime folder (see TRuntimeFolder), for the timeout to remove too.
char runtimeFolder[4096] = {};

void OnTimeout(int) {
    static const char kMessage[] = "velkaro-thumbnailer: gave up: the picture takes too long\n";
    (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    if (runtimeFolder[0] != '\0') rmdir(runtimeFolder);
    _exit(3);
}

// A hostile file ends the run: after kWallSeconds of wall time, kCpuSeconds of processor time,
// or at an allocation past the address-space cap (which the decoders report as an error); the
// imaging library's own pixel limit bounds each picture too.
void LimitResources() {
    std::signal(SIGALRM, OnTimeout);
    std::signal(SIGXCPU, OnTimeout);
    alarm(kWallSeconds);
    const rlimit cpu{kCpuSeconds, kCpuSeconds + 2};
    setrlimit(RLIMIT_CPU, &cpu);
    rlimit address{};
    if (getrlimit(RLIMIT_AS, &address) == 0 &&
        (address.rlim_cur == RLIM_INFINITY || address.rlim_cur > kAddressBytes)) {
        address.rlim_cur = kAddressBytes;
        setrlimit(RLIMIT_AS, &address);
    }
}

// The local path a file:// URI names, from its escaped bytes (names that are not UTF-8
// included); any other argument is a path already. Empty for URIs of other schemes.
std::string LocalPath(const char* argument) {
    const QByteArray text(argument);
    if (!text.contains("://")) return argument;
    if (!text.startsWith("file://")) return std::string();
    QByteArray rest = text.mid(7);
    // file://host/path: only this machine's files (no host, or localhost) can be read.
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0) return std::string();
    const QByteArray host = rest.left(slash);
    if (!host.isEmpty() && host != "localhost") return std::string();
    return QByteArray::fromPercentEncoding(rest.mid(slash)).toStdString();
}

// Qt wants a runtime folder and makes TMPDIR/runtime-USER without XDG_RUNTIME_DIR; the desktop
// runs thumbnailers in a sandbox whose temporary folder must be left as it was found, so a
// folder of the run's own stands in, removed at the end.
struct TRuntimeFolder {
    std::string path;
    TRuntimeFolder() {
        if (std::getenv("XDG_RUNTIME_DIR") != nullptr) return;
        const char* temp = std::getenv("TMPDIR");
        std::string name = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") +
                           "/velkaro-thumbnailer-XXXXXX";
        if (name.size() >= sizeof runtimeFolder || mkdtemp(name.data()) == nullptr) return;
        path = name;
        setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
        std::memcpy(runtimeFolder, path.c_str(), path.size() + 1);
    }
    ~TRuntimeFolder() {
        if (path.empty()) return;
        runtimeFolder[0] = '\0';
        rmdir(path.c_str());
    }
};

}  // namespace

int main(int argc, char** argv) {
    int size = 0;
    int argument = 1;
    if (argc == 5 && std::strcmp(argv[1], "-s") == 0) {
        char* end = nullptr;
        const long value = std::strtol(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || value < 1 || value > 4096) return Usage();
        size = int(value);
        argument = 3;
    } else {
        return Usage();
    }
    const char* input = argv[argument];
    const char* output = argv[argument + 1];
    const std::string path = LocalPath(input);
    if (path.empty()) return Fail(input, "not a local file");

    LimitResources();
    const TRuntimeFolder runtime;
    // Metafiles and SVG are drawn with Qt's painter and fonts, off screen: no window is shown.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's notes (no runtime folder, features Qt Svg leaves out) are no failure of the run; the
    // thumbnailer says what failed itself.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    // No renderer is installed for metafiles and SVG: they load without drawing their natural
    // size, and the thumbnail maker draws them at the thumbnail's size only.
    RegisterImageFormats();

    const TThumbnail thumbnail = MakeThumbnail(path, size);
    if (thumbnail.image.isNull())
        return Fail(input, thumbnail.error.isEmpty() ? std::string("no thumbnail")
                                                     : thumbnail.error.toStdString());
    QImageWriter writer(QString::fromLocal8Bit(output), "png");
    // zlib's fastest level: the desktop stores the thumbnail again in its own cache.
    writer.setQuality(80);
    if (!writer.write(thumbnail.image)) return Fail(output, writer.errorString().toStdString());
    return 0;
}
