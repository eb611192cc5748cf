#include "Watch.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ScanSession.h"
#include "WatchOutput.h"
#include "WatchRules.h"
#include "stdoutput.h"

namespace {

// The signal handler only writes a byte here; the event loop reads it and does the rest.
int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

// A pipe whose reader has gone: poll says so before anything is written, so a watch that
// sees no change for hours still ends when `| head` has what it wanted.
bool readerGone() {
    struct stat st{};
    if (::fstat(STDOUT_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode))
        return false;
    pollfd p{STDOUT_FILENO, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR);
}

// 0 for a pipe that was closed (its reader has what it wanted), else the write error's
// line and 2.
int writeFailed() {
    return errno == EPIPE ? 0 : stdoutput::failed("qlxsearch", errno);
}

}  // namespace

int runWatch(ScanSession& session, int seconds, int sortColumn, const std::string& format) {
    // A closed pipe then fails the write with EPIPE instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        sayError(std::string("cannot watch for signals: ") + std::strerror(errno));
        return 2;
    }
    struct sigaction stop{};
    stop.sa_handler = onStopSignal;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);

    bool stopping = false;
    QEventLoop* idle = nullptr;
    QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, [&] {
        char bytes[16];
        while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
        }
        // A run in progress goes on to its end; a wait for the next run ends now.
        stopping = true;
        if (idle)
            idle->quit();
    });

    if (const std::string header = watchHeader(format); !header.empty() && !stdoutput::write(header))
        return writeFailed();

    WatchRules rules([] { return std::chrono::steady_clock::now(); });
    bool heldSaid = false;
    while (!stopping) {
        const auto started = std::chrono::steady_clock::now();
        if (const std::string error = session.search(); !error.empty()) {
            if (!session.portHeld()) {
                sayError(error);
                return 2;
            }
            // A finder window's search, say: this run is left out, the next one tries again.
            if (!heldSaid)
                sayError(error + "。この回は飛ばし、次の回にまた試みます");
            heldSaid = true;
        } else {
            heldSaid = false;
            const std::string time = localTimeText(std::time(nullptr));
            for (const WatchEvent& event : rules.runEnded(session.listed(sortColumn)))
                if (!stdoutput::write(watchLine(event, time, format)))
                    return writeFailed();
        }
        if (stopping || readerGone())
            break;
        const auto next = started + std::chrono::seconds(seconds);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
        if (left.count() > 0) {
            QEventLoop wait;
            idle = &wait;
            QTimer::singleShot(static_cast<int>(left.count()), Qt::PreciseTimer, &wait, &QEventLoop::quit);
            wait.exec();
            idle = nullptr;
        }
    }
    return 0;
}
