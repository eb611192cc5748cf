#pragma once
// How a second start shows the first finder's window: the running finder listens on a
// local socket beside its lock, and a second start asks it there to come to the front.
//
// The lock decides who owns the socket path: only the lock holder removes and re-creates
// it, so a socket file left by a killed finder is simply replaced by the next one. Neither
// side uses a path that is a link, not a socket, or another user's, and each checks the
// peer's user id, so no other user can raise the window or answer in its place.
//
// The exchange: the second start sends "raise\n", the first brings its window to the
// front and answers "raised\n". Anything else is dropped unanswered.
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// The socket beside the lock: its path with ".lock" replaced by ".sock".
std::string raiseSocketPath(const std::string& lockPath);

// The first finder's side. Every socket is non-blocking: the window thread calls it when
// the listening socket or a connection is readable, and no call waits.
class RaiseListener {
public:
    // Removes a socket of ours left at the path and listens there. Anything else at the
    // path is left alone and problem() says why nothing listens. An empty path: nothing
    // listens and nothing is said (no lock of our own to claim a path with).
    explicit RaiseListener(const std::string& path);
    ~RaiseListener();
    RaiseListener(const RaiseListener&) = delete;
    RaiseListener& operator=(const RaiseListener&) = delete;

    bool listening() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // "socket PATH: why", or "" when listening or when nothing was tried.
    const std::string& problem() const { return problem_; }

    // Runs on a complete request, before the answer is sent.
    std::function<void()> OnRaise;

    // Connections whose readiness the caller watches from now on, and those it stops
    // watching (closed here). A number may be in both: unwatch first.
    struct Watch {
        std::vector<int> added, dropped;
    };
    // The listening socket is readable: takes every connection that waits.
    Watch acceptWaiting();
    // A watched connection is readable. True when it is done and closed: stop watching.
    bool readFrom(int connection);

    // At most this many connections wait for their request; a further one drops the oldest.
    static constexpr std::size_t kMaxWaiting = 4;

private:
    struct Waiting {
        int fd;
        std::string got;
    };
    bool readRequest(Waiting& w);
    void close(std::deque<Waiting>::iterator it);

    std::string path_, problem_;
    int fd_ = -1;
    unsigned long inode_ = 0;  // of the socket file made here, so only that one is removed
    std::deque<Waiting> waiting_;
};

// The second start's side: asks the finder listening at `path` to come to the front and
// waits for its answer, retrying while the first is still starting, for at most `budget`.
struct RaiseAnswer {
    bool raised = false;  // the first finder answered
    std::string problem;  // "socket PATH: why" when the path or its peer is not trusted
};
RaiseAnswer askToRaise(const std::string& path, std::chrono::milliseconds budget);
