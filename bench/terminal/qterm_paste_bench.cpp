// A paste of 20 MB of 80-column lines into the qterm window (offscreen), to a loopback host
// that echoes everything back. Prints MB/s from the paste to the last echoed byte shown, and
// the longest gap between ticks of a 10 ms timer meanwhile (the window's event loop stalls;
// the goal is none over 50 ms).
//   qterm_paste_bench [--buffer BYTES] [--limit SECONDS] [megabytes]
// --buffer gives the host's socket buffers that size and its segments Ethernet's 1460 bytes,
// as a small appliance has. A window that runs no event for --limit seconds (default 10) has
// frozen: the bench says so, with how far the paste got, and exits with status 3.
// Run it inside a private network namespace. Wall-clock figures need an idle machine.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "loopback.h"
#include "mainform.h"

namespace {

std::atomic<long long> hostReceived{0};
std::atomic<long long> echoShown{0};
std::atomic<long long> lastEventNs{0};

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    long long megabytes = 20;
    int buffer = 0;
    int limitSeconds = 10;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--buffer") && hasValue)
            buffer = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--limit") && hasValue)
            limitSeconds = std::atoi(argv[++i]);
        else
            megabytes = std::atoll(argv[i]);
    }

    // The paste goes without a question; the settings file's folder is the bench's own.
    char dir[] = "/tmp/qterm-paste-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    std::filesystem::create_directories(std::string(dir) + "/qterm");
    std::ofstream(std::string(dir) + "/qterm/qterm.ini") << "[paste]\nconfirm=never\n";
    ::setenv("XDG_CONFIG_HOME", dir, 1);
    QApplication app(argc, argv);

    std::string line;
    for (int i = 0; i < 79; ++i)
        line += static_cast<char>('!' + i % 90);
    const long long lines = megabytes * 1000 * 1000 / 80;
    QString text;
    text.reserve(int(lines * 80));
    const QString qline = QString::fromLatin1(line.c_str()) + "\n";
    for (long long i = 0; i < lines; ++i)
        text += qline;
    const long long wire = lines * 81;  // each line break goes as CR LF

    int port = 0;
    const int listener = listenOnLoopback(port);
    if (buffer > 0) {
        const int segment = 1460;
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        ::setsockopt(listener, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        ::setsockopt(listener, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    }
    std::thread host([&] {
        const int c = ::accept(listener, nullptr, nullptr);
        char b[65536];
        ssize_t n;
        while ((n = ::recv(c, b, sizeof b, 0)) > 0) {
            hostReceived += n;
            sendAll(c, std::string(b, std::size_t(n)));
        }
        ::close(c);
    });
    host.detach();  // a frozen window never lets it end

    TqTermMain w(std::vector<std::string>{"127.0.0.1", std::to_string(port)});
    w.confirmLargePaste = [](std::size_t) { return true; };
    w.telnet().OnDataAvailable = [&](const std::string& chunk) {
        echoShown += static_cast<long long>(chunk.size());
        w.IdTelnetDemoDataAvailable(chunk);
    };
    if (!w.FormShow()) {
        std::fprintf(stderr, "connect failed: %s\n", w.startError().c_str());
        return 1;
    }
    w.show();

    // The window thread cannot report its own freeze.
    lastEventNs = nowNs();
    std::thread watchdog([&] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const long long quiet = nowNs() - lastEventNs.load();
            if (quiet > limitSeconds * 1000000000LL) {
                std::printf("qterm paste (%lld MB, host buffers %s): the window froze: no event for %d s; the host "
                            "got %.1f MB of %.1f MB, the window %.1f MB of its echo\n",
                            megabytes, buffer > 0 ? std::to_string(buffer).c_str() : "default", limitSeconds,
                            double(hostReceived) / 1e6, double(wire) / 1e6, double(echoShown) / 1e6);
                std::fflush(stdout);
                std::_Exit(3);
            }
        }
    });
    watchdog.detach();

    QElapsedTimer clock;
    qint64 start = -1, pasteReturned = -1, done = -1, lastTick = -1, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        lastEventNs = nowNs();
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0 && start >= 0 && done < 0)
            longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        if (done < 0 && hostReceived >= wire && echoShown >= wire && !w.outputPending()) {
            done = now;
            app.quit();
        }
    });
    clock.start();
    ticker.start(10);
    QTimer::singleShot(50, &w, [&] {
        start = clock.nsecsElapsed();
        w.pasteText(text);
        pasteReturned = clock.nsecsElapsed();
    });
    app.exec();

    const double seconds = double(done - start) / 1e9;
    std::printf("qterm paste (%lld MB, host buffers %s): %lld bytes echoed and shown in %.3f s, %.1f MB/s\n", megabytes,
                buffer > 0 ? std::to_string(buffer).c_str() : "default", wire, seconds, double(wire) / 1e6 / seconds);
    std::printf("the paste call returned after %.1f ms\n", double(pasteReturned - start) / 1e6);
    std::printf("longest gap between 10 ms timer ticks: %.1f ms\n", double(longestGap) / 1e6);
    std::filesystem::remove_all(dir);
    std::fflush(stdout);
    std::_Exit(0);  // the host thread still waits on its connection
}
