#pragma once
// When qterm tries again after the host has ended a session: 1, 2, 4, 8 and 16 s after the
// end or the last failed attempt, then every 30 s, until an attempt connects, which starts the
// schedule over. Plain logic with its clock injected; the window runs the timer.
#include <chrono>
#include <functional>

class ReconnectSchedule {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Seconds = std::chrono::seconds;
    static constexpr Seconds kFirstWait{1};
    static constexpr Seconds kLongestWait{30};

    // Without a clock, the steady clock.
    explicit ReconnectSchedule(Clock clock = nullptr);

    // Idle: no session to take up (connected, or none yet).
    enum class State { Idle, Waiting, Trying };
    State state() const { return state_; }

    // The session ended (Idle) or the attempt failed (Trying): waiting from now for the
    // returned time. While already waiting, nothing changes and the wait left is returned.
    Seconds lost();
    // An attempt starts: the wait is over, or the user would not wait. Its failure (lost())
    // waits the next step of the schedule, its success (connected()) starts it over.
    void trying();
    void connected();

    // While waiting: how long until the next attempt is due (zero once it is), and the wait's
    // own length. Zero otherwise.
    std::chrono::milliseconds untilDue() const;
    Seconds wait() const { return state_ == State::Waiting ? wait_ : Seconds{0}; }

private:
    std::chrono::steady_clock::time_point now() const;

    Clock clock_;
    State state_ = State::Idle;
    int lostInARow_ = 0;  // ends and failed attempts since the last connect
    Seconds wait_{0};
    std::chrono::steady_clock::time_point due_{};
};
