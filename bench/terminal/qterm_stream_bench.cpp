// A loopback server streams 20 MB of 80-column text lines to the qterm window (offscreen).
// Prints MB/s from the first byte to the last line shown, the peak resident memory, and
// the longest gap between ticks of a 10 ms timer while it streams (event-loop stalls).
//   qterm_stream_bench [--eol crlf|lf] [--text ascii|kanji|colour] [--observe] [--log FILE] [--bare] [megabytes]
// --eol lf ends lines with a bare LF, as raw-socket consoles do; --text kanji sends lines
// of 40 double-byte characters in code page 932; --text colour sends 80 columns of words
// with an SGR colour change every two words (and a reset at the end); --observe hands every completed row to a
// line observer that writes them to /dev/null, one write() a chunk, as a session log would.
// --log FILE also writes the session log to FILE, as qterm --log does. --bare reads the
// same stream with a plain recv loop that writes it to /dev/null, for a baseline.
// The CPU time (all threads) holds up better than MB/s on a busy machine. Run it inside a
// private network namespace.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cp932.h"

#include "OutputView.h"
#include "loopback.h"
#include "mainform.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The history a connect records goes to a folder of the bench's own (left in /tmp).
    char dir[] = "/tmp/qterm-stream-bench-XXXXXX";
    if (::mkdtemp(dir))
        ::setenv("XDG_CONFIG_HOME", dir, 1);
    QApplication app(argc, argv);
    long long megabytes = 20;
    std::vector<std::string> options;
    bool bareLf = false, kanji = false, colour = false, observe = false, bare = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--eol") && hasValue)
            bareLf = !std::strcmp(argv[++i], "lf");
        else if (!std::strcmp(argv[i], "--text") && hasValue) {
            const char* text = argv[++i];
            kanji = !std::strcmp(text, "kanji");
            colour = !std::strcmp(text, "colour");
        }
        else if (!std::strcmp(argv[i], "--observe"))
            observe = true;
        else if (!std::strcmp(argv[i], "--bare"))
            bare = true;
        else if (!std::strcmp(argv[i], "--log") && hasValue)
            options.insert(options.end(), {"--log", argv[++i]});
        else
            megabytes = std::atoll(argv[i]);
    }
    const long long total = megabytes * 1000 * 1000;

    // 80 columns: printable ASCII, or 40 kanji of two bytes each.
    std::string line;
    if (kanji) {
        for (int i = 0; i < 4; ++i)
            line += cp932::sj("漢字表示試験日本語文");
    } else if (colour) {
        // 16 words of 4 letters and a blank: 80 columns, a colour every two words.
        for (int w = 0; w < 16; ++w) {
            if (w % 2 == 0)
                line += "\x1b[" + std::to_string(w % 4 == 0 ? 31 + w / 4 : 91 + w / 4) + "m";
            line += std::string(4, static_cast<char>('a' + w)) + " ";
        }
        line += "\x1b[0m";
    } else {
        for (int i = 0; i < 80; ++i)
            line += static_cast<char>('!' + i % 90);
    }
    line += bareLf ? "\n" : "\r\n";
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

    if (bare) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            std::perror("connect");
            return 1;
        }
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        char buf[8192];
        long long got = 0;
        QElapsedTimer t;
        qint64 first = -1;
        t.start();
        while (got < bytes) {
            const ssize_t n = ::recv(s, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            if (first < 0)
                first = t.nsecsElapsed();
            if (::write(devNull, buf, static_cast<std::size_t>(n)) != n)
                std::perror("write");
            got += n;
        }
        const double seconds = double(t.nsecsElapsed() - first) / 1e9;
        std::printf("bare recv loop to /dev/null (%s): %lld bytes, %.3f s, %.1f MB/s\n",
                    kanji ? "kanji" : colour ? "colour" : "ascii", got, seconds, double(got) / 1e6 / seconds);
        ::close(s);
        ::close(devNull);
        server.join();
        ::close(listener);
        return 0;
    }

    options.insert(options.end(), {"127.0.0.1", std::to_string(port)});
    TqTermMain w(options);
    int sink = -1;
    if (observe) {
        sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        w.Memo1->lines().setLineObserver([sink](std::string_view rows) {
            if (::write(sink, rows.data(), rows.size()) < 0)
                std::perror("write");
        });
    }
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
    std::printf("qterm stream (%s, %s): %lld bytes in %lld lines, %.3f s, %.1f MB/s\n",
                kanji ? "kanji" : colour ? "colour" : "ascii",
                bareLf ? "LF" : "CR LF", bytes, lines, seconds, double(bytes) / 1e6 / seconds);
    const double cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    std::printf("CPU time: %.3f s, %.1f MB per CPU second%s\n", cpu, double(bytes) / 1e6 / cpu,
                observe ? " (line observer on)" : "");
    std::printf("peak resident memory: %.1f MB\n", double(ru.ru_maxrss) / 1024.0);
    std::printf("longest gap between 10 ms timer ticks: %.1f ms\n", double(longestGap) / 1e6);
    std::printf("lines kept in the view: %d\n", w.Memo1->shownLines());
    w.telnet().CloseConnection();
    server.join();
    ::close(listener);
    if (sink >= 0)
        ::close(sink);
    return 0;
}
