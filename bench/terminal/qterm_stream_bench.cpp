// A loopback server streams 20 MB of 80-column text lines to the qterm window (offscreen).
// Prints MB/s from the first byte to the last line shown, the peak resident memory, and
// the longest gap between ticks of a 10 ms timer while it streams (event-loop stalls).
//   qterm_stream_bench [--log FILE] [megabytes]   (run it inside a private network namespace)
// With --log the window also writes the session log to FILE, as qterm --log does.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "OutputView.h"
#include "loopback.h"
#include "mainform.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<std::string> options;
    if (argc > 2 && std::string(argv[1]) == "--log") {
        options = {"--log", argv[2]};
        argv += 2;
        argc -= 2;
    }
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 20;
    const long long total = megabytes * 1000 * 1000;

    // 80 printable columns and CR LF; the last line carries a marker.
    std::string line;
    for (int i = 0; i < 80; ++i)
        line += static_cast<char>('!' + i % 90);
    line += "\r\n";
    const long long lines = total / static_cast<long long>(line.size());
    const long long bytes = lines * static_cast<long long>(line.size());

    int port = 0;
    int listener = listenOnLoopback(port);
    std::thread server([&] {
        int c = ::accept(listener, nullptr, nullptr);
        std::string block;
        for (int i = 0; i < 1000; ++i)
            block += line;
        long long left = lines;
        while (left > 0) {
            long long n = std::min<long long>(left, 1000);
            sendAll(c, n == 1000 ? block : block.substr(0, std::size_t(n) * line.size()));
            left -= n;
        }
        // Keep the connection until the client closes it, so the window stays open.
        char b;
        while (::recv(c, &b, 1, 0) > 0) {
        }
        ::close(c);
    });

    options.insert(options.end(), {"127.0.0.1", std::to_string(port)});
    TqTermMain w(options);
    QElapsedTimer clock;
    long long received = 0;
    qint64 firstByte = -1, lastShown = -1;
    qint64 lastTick = -1, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0 && firstByte >= 0 && lastShown < 0)
            longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    // Measure around the window's own handler.
    w.telnet().OnDataAvailable = [&](const std::string& chunk) {
        if (firstByte < 0 && !chunk.empty())
            firstByte = clock.nsecsElapsed();
        w.IdTelnetDemoDataAvailable(chunk);
        received += static_cast<long long>(chunk.size());
    };
    // The last line is shown once all bytes are in and the view has caught up.
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (received >= bytes && !w.outputPending() && lastShown < 0) {
            lastShown = clock.nsecsElapsed();
            app.quit();
        }
    });
    done.start(1);
    clock.start();
    ticker.start(10);
    if (!w.FormShow()) {
        std::fprintf(stderr, "connect failed: %s\n", w.startError().c_str());
        return 1;
    }
    w.show();
    app.exec();

    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    const double seconds = double(lastShown - firstByte) / 1e9;
    std::printf("qterm stream: %lld bytes in %lld lines, %.3f s, %.1f MB/s\n", bytes, lines, seconds,
                double(bytes) / 1e6 / seconds);
    std::printf("peak resident memory: %.1f MB\n", double(ru.ru_maxrss) / 1024.0);
    std::printf("longest gap between 10 ms timer ticks: %.1f ms\n", double(longestGap) / 1e6);
    std::printf("lines kept in the view: %d\n", w.Memo1->shownLines());
    w.telnet().CloseConnection();
    server.join();
    ::close(listener);
    return 0;
}
