#pragma once
// The bytes waiting to go to the host, in the order they were queued. Plain data: the owner
// writes what ready() offers whenever the socket can take bytes and reports with taken() how
// much it took, so no send ever waits for the host.
//
// A paced run (pushLines) goes one line at a time: a line ends after a CR, or after the LF of
// a CR LF, and nothing starts sooner than the gap after a paced line was taken whole.
#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

class SendQueue {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kDefaultBound = 64 * 1024 * 1024;

    explicit SendQueue(std::size_t bound = kDefaultBound) : bound_(bound) {}

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t bound() const { return bound_; }
    // Whether count more bytes keep the queue within its bound. The pushes do not check it:
    // the caller refuses what does not fit (a paste), or lets a few typed bytes pass it.
    bool fits(std::size_t count) const { return count <= bound_ && size_ <= bound_ - count; }

    // Bytes that go as fast as the socket takes them.
    void push(std::string bytes);
    // Bytes that go one line at a time, each line at least gap after the previous one.
    void pushLines(std::string bytes, Clock::duration gap);

    // What may be written at now, from the front: empty when nothing waits or the front waits
    // for its time. Valid until the queue next changes.
    std::string_view ready(Clock::time_point now) const;
    // When the front may go, if it is a paced line waiting for its time.
    Clock::time_point due() const { return lineDue_; }
    // count bytes of what ready() offered have been written, at now.
    void taken(std::size_t count, Clock::time_point now);
    void clear();

private:
    struct Run {
        std::string bytes;
        std::size_t at = 0;       // bytes before it are gone
        Clock::duration gap{};    // zero: not paced
    };
    static std::size_t lineEnd(const Run& r);

    static constexpr std::size_t kJoinBelow = 64 * 1024;  // typed bytes join a small unpaced run
    std::size_t bound_;
    std::size_t size_ = 0;
    std::deque<Run> runs_;
    Clock::time_point lineDue_{};  // no paced line starts before this
};
