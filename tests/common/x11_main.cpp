// Test main for tests that need a real X server shared with other programs (the clipboard
// between processes): starts a private Xvfb, runs the tests on the xcb platform and stops the
// server. Without Xvfb the tests run on the offscreen platform and skip themselves.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <string>

#include <gtest/gtest.h>

namespace {

pid_t server = -1;

// Starts Xvfb on a free display it picks itself and sets DISPLAY; false when it cannot run.
bool StartXvfb() {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return false;
    server = ::fork();
    if (server == 0) {
        ::close(pipeFds[0]);
        const std::string fd = std::to_string(pipeFds[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                 "640x480x24", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string display;
    pollfd wait{pipeFds[0], POLLIN, 0};
    char c;
    while (server > 0 && ::poll(&wait, 1, 10000) == 1 && ::read(pipeFds[0], &c, 1) == 1 &&
           c != '\n')
        display += c;
    ::close(pipeFds[0]);
    if (display.empty()) {
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
        server = -1;
        return false;
    }
    ::setenv("DISPLAY", (':' + display).c_str(), 1);
    return true;
}

}  // namespace

bool X11TestServerRunning() {
    return server > 0;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", StartXvfb() ? "xcb" : "offscreen");
    int result;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    return result;
}
