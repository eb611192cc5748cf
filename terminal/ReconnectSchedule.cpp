#include "ReconnectSchedule.h"

#include <algorithm>

ReconnectSchedule::ReconnectSchedule(Clock clock) : clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point ReconnectSchedule::now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

ReconnectSchedule::Seconds ReconnectSchedule::lost() {
    if (state_ == State::Waiting)
        return std::chrono::ceil<Seconds>(untilDue());
    // Doubling stops at the longest wait; the shift stays far below overflow.
    const int step = std::min(lostInARow_, 5);
    wait_ = std::min(kFirstWait * (1 << step), kLongestWait);
    ++lostInARow_;
    due_ = now() + wait_;
    state_ = State::Waiting;
    return wait_;
}

void ReconnectSchedule::trying() { state_ = State::Trying; }

void ReconnectSchedule::connected() {
    state_ = State::Idle;
    lostInARow_ = 0;
}

std::chrono::milliseconds ReconnectSchedule::untilDue() const {
    if (state_ != State::Waiting)
        return std::chrono::milliseconds{0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - now());
    return std::max(left, std::chrono::milliseconds{0});
}
