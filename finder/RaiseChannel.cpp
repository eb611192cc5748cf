#include "RaiseChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::string_view kRequest = "raise\n";
constexpr std::string_view kReply = "raised\n";
constexpr int kBacklog = 8;
// A flood of connections is taken in slices, so the window thread gets its turn between them.
constexpr int kAcceptsPerCall = 16;
constexpr auto kRetry = std::chrono::milliseconds(25);

std::string problemWith(const std::string& path, const std::string& why) { return "socket " + path + ": " + why; }

bool addressOf(const std::string& path, sockaddr_un& addr) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

enum class Found { Nothing, OurSocket, Untrusted };

// What sits at the path, by the lock's rules: no link is followed, only a socket of our
// own user counts. `why` says what is wrong with anything else.
Found inspect(const std::string& path, std::string& why, struct stat& st) {
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return Found::Nothing;
        why = std::strerror(errno);
    } else if (S_ISLNK(st.st_mode)) {
        why = "a symbolic link";
    } else if (!S_ISSOCK(st.st_mode)) {
        why = "not a socket";
    } else if (st.st_uid != ::geteuid()) {
        why = "owned by another user";
    } else {
        return Found::OurSocket;
    }
    return Found::Untrusted;
}

bool peerIsUs(int fd) {
    ucred cred {};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::geteuid();
}

}  // namespace

std::string raiseSocketPath(const std::string& lockPath) {
    constexpr std::string_view ext = ".lock";
    if (lockPath.size() >= ext.size() && lockPath.compare(lockPath.size() - ext.size(), ext.size(), ext) == 0)
        return lockPath.substr(0, lockPath.size() - ext.size()) + ".sock";
    return lockPath + ".sock";
}

RaiseListener::RaiseListener(const std::string& path) : path_(path) {
    if (path.empty())
        return;
    sockaddr_un addr;
    if (!addressOf(path, addr)) {
        problem_ = problemWith(path, "path too long for a socket");
        return;
    }
    std::string why;
    struct stat st {};
    switch (inspect(path, why, st)) {
    case Found::Untrusted:
        problem_ = problemWith(path, why);
        return;
    case Found::OurSocket:
        // Left by a finder that ended without removing it; we hold the lock, so it is no one's.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            problem_ = problemWith(path, std::strerror(errno));
            return;
        }
        break;
    case Found::Nothing:
        break;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem_ = problemWith(path, std::strerror(errno));
        return;
    }
    // The file is made 0600 as it is bound. The umask is the process's: the finder makes
    // its listener before any other thread starts.
    const mode_t mask = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int bindErrno = errno;
    ::umask(mask);
    if (bound != 0 || ::listen(fd, kBacklog) != 0) {
        problem_ = problemWith(path, std::strerror(bound != 0 ? bindErrno : errno));
        ::close(fd);
        return;
    }
    if (::lstat(path.c_str(), &st) == 0)
        inode_ = st.st_ino;
    fd_ = fd;
}

RaiseListener::~RaiseListener() {
    for (const Waiting& w : waiting_)
        ::close(w.fd);
    if (fd_ < 0)
        return;
    ::close(fd_);
    // Still the lock holder here: the file is removed when it is still the one made here.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == inode_)
        ::unlink(path_.c_str());
}

RaiseListener::Watch RaiseListener::acceptWaiting() {
    Watch watch;
    for (int n = 0; fd_ >= 0 && n < kAcceptsPerCall; ++n) {
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break;  // none left (or no room for one now: the next readiness tries again)
        }
        Waiting w{c, {}};
        if (!peerIsUs(c) || readRequest(w)) {
            ::close(c);
            continue;
        }
        if (waiting_.size() >= kMaxWaiting) {
            const int oldest = waiting_.front().fd;
            auto it = std::find(watch.added.begin(), watch.added.end(), oldest);
            if (it != watch.added.end())
                watch.added.erase(it);
            else
                watch.dropped.push_back(oldest);
            close(waiting_.begin());
        }
        waiting_.push_back(std::move(w));
        watch.added.push_back(c);
    }
    return watch;
}

bool RaiseListener::readFrom(int connection) {
    auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& w) { return w.fd == connection; });
    if (it == waiting_.end())
        return true;
    if (!readRequest(*it))
        return false;
    close(it);
    return true;
}

// Reads no more than the rest of the request. True when the connection is done: the
// request was answered, or it was something else, or the peer went.
bool RaiseListener::readRequest(Waiting& w) {
    char buf[kRequest.size()];
    const ssize_t n = ::recv(w.fd, buf, kRequest.size() - w.got.size(), 0);
    if (n < 0)
        return !(errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    if (n == 0)
        return true;
    w.got.append(buf, static_cast<std::size_t>(n));
    if (kRequest.compare(0, w.got.size(), w.got) != 0)
        return true;
    if (w.got.size() < kRequest.size())
        return false;
    if (OnRaise)
        OnRaise();
    // The answer fits any socket buffer; a peer that has gone only loses it.
    (void)::send(w.fd, kReply.data(), kReply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return true;
}

void RaiseListener::close(std::deque<Waiting>::iterator it) {
    ::close(it->fd);
    waiting_.erase(it);
}

namespace {

// Sends the request and waits for the answer until the deadline.
bool exchange(int fd, std::chrono::steady_clock::time_point deadline) {
    if (::send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kRequest.size()))
        return false;
    std::string got;
    while (got.size() < kReply.size()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        char buf[kReply.size()];
        const ssize_t n = ::recv(fd, buf, kReply.size() - got.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got == kReply;
}

}  // namespace

RaiseAnswer askToRaise(const std::string& path, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    RaiseAnswer answer;
    sockaddr_un addr;
    if (!addressOf(path, addr)) {
        answer.problem = problemWith(path, "path too long for a socket");
        return answer;
    }
    for (;;) {
        std::string why;
        struct stat st {};
        const Found found = inspect(path, why, st);
        if (found == Found::Untrusted) {
            answer.problem = problemWith(path, why);
            return answer;
        }
        if (found == Found::OurSocket) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return answer;
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
                // The path may have changed since it was looked at: the peer itself must be us.
                if (!peerIsUs(fd))
                    answer.problem = problemWith(path, "answered by another user");
                else
                    answer.raised = exchange(fd, deadline);
                ::close(fd);
                return answer;
            }
            const int err = errno;
            ::close(fd);
            // Refused: a stale file the starting finder has not replaced yet. Again: its queue is full.
            if (err != ECONNREFUSED && err != EAGAIN && err != ENOENT)
                return answer;
        }
        // Nothing there yet: the first finder may still be starting.
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return answer;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kRetry, left));
    }
}
