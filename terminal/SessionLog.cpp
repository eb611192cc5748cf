#include "SessionLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

SessionLogError::SessionLogError(bool opening_, std::string path_, int err)
    : std::runtime_error(std::string(opening_ ? "cannot open log file " : "cannot write log file ") +
                         path_ + ": " + std::strerror(err)),
      opening(opening_), path(std::move(path_)), reason(std::strerror(err)) {}

std::string logTimestamp(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch());
    // Floor division, so times before the epoch still get a millisecond part 0..999.
    auto secs = duration_cast<seconds>(ms);
    if (secs > ms)
        secs -= seconds(1);
    const std::time_t tt = static_cast<std::time_t>(secs.count());
    std::tm tm{};
    ::localtime_r(&tt, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "[%04d-%02d-%02d %02d:%02d:%02d.%03d] ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>((ms - secs).count()));
    return buf;
}

namespace {

// path with "-n" before its extension (or at its end when it has none).
std::string numbered(const std::string& path, int n) {
    if (n == 1)
        return path;
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        dot = path.size();
    return path.substr(0, dot) + "-" + std::to_string(n) + path.substr(dot);
}

constexpr int kMaxNumbered = 1000;

} // namespace

SessionLog::SessionLog(std::string path, bool timestamps, Clock clock, Open how)
    : path_(std::move(path)), timestamps_(timestamps),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::system_clock::now(); })) {
    if (how == Open::Append) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd_ < 0)
            throw SessionLogError(true, path_, errno);
        return;
    }
    const std::string base = path_;
    for (int n = 1; n <= kMaxNumbered; ++n) {
        path_ = numbered(base, n);
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0600);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        throw SessionLogError(true, path_, errno);
}

SessionLog::~SessionLog() {
    if (fd_ >= 0)
        ::close(fd_);
}

void SessionLog::append(std::string& out, std::string_view line) const {
    if (timestamps_)
        out += logTimestamp(clock_());
    // NUL bytes are rare: copy the runs between them whole.
    while (!line.empty()) {
        const std::size_t nul = line.find('\0');
        out.append(line.substr(0, nul));
        if (nul == std::string_view::npos)
            break;
        line.remove_prefix(nul + 1);
    }
    out += '\n';
}

void SessionLog::lines(const std::vector<std::string>& utf8Lines) {
    lineViews(std::vector<std::string_view>(utf8Lines.begin(), utf8Lines.end()));
}

void SessionLog::lineViews(const std::vector<std::string_view>& utf8Lines) {
    if (fd_ < 0 || utf8Lines.empty())
        return;
    std::string out;
    std::size_t size = 0;
    for (std::string_view l : utf8Lines)
        size += l.size() + 1 + (timestamps_ ? 32 : 0);
    out.reserve(size);
    for (std::string_view l : utf8Lines)
        append(out, l);
    writeAll(out);
}

void SessionLog::finish(const std::string& currentLineUtf8) {
    if (fd_ < 0)
        return;
    std::string out;
    if (currentLineUtf8.find_first_not_of('\0') != std::string::npos)
        append(out, currentLineUtf8);
    const int fd = fd_;
    try {
        if (!out.empty())
            writeAll(out);
    } catch (...) {
        fd_ = -1;
        ::close(fd);
        throw;
    }
    fd_ = -1;
    if (::close(fd) != 0)
        throw SessionLogError(false, path_, errno);
}

void SessionLog::writeAll(const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw SessionLogError(false, path_, n < 0 ? errno : ENOSPC);
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}
