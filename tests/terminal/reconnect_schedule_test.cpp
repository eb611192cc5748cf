// The timetable of reconnect attempts, run on a clock the test moves.
#include <gtest/gtest.h>

#include "ReconnectSchedule.h"

using namespace std::chrono_literals;
using State = ReconnectSchedule::State;

namespace {

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    ReconnectSchedule::Clock clock() {
        return [this] { return now; };
    }
};

} // namespace

// Each row is one event; the waits double from 1 s to 30 s and stay there, a connect starts
// them over, and a loss while already waiting changes nothing.
TEST(ReconnectSchedule, WaitsDoubleUpToThirtySecondsAndStartOverAfterAConnect) {
    enum class Event { Lost, Trying, Connected };
    struct Row {
        Event event;
        std::chrono::seconds wait;  // what lost() returns
        State after;
    };
    const Row rows[] = {
        {Event::Lost, 1s, State::Waiting},  // the host ended the session
        {Event::Trying, 0s, State::Trying},   {Event::Lost, 2s, State::Waiting},
        {Event::Trying, 0s, State::Trying},   {Event::Lost, 4s, State::Waiting},
        {Event::Trying, 0s, State::Trying},   {Event::Lost, 8s, State::Waiting},
        {Event::Trying, 0s, State::Trying},   {Event::Lost, 16s, State::Waiting},
        {Event::Trying, 0s, State::Trying},   {Event::Lost, 30s, State::Waiting},
        {Event::Trying, 0s, State::Trying},   {Event::Lost, 30s, State::Waiting},
        {Event::Lost, 30s, State::Waiting},  // no new wait while waiting
        {Event::Trying, 0s, State::Trying},   {Event::Connected, 0s, State::Idle},
        {Event::Lost, 1s, State::Waiting},  // the next session's end
        {Event::Trying, 0s, State::Trying},   {Event::Lost, 2s, State::Waiting},
    };
    FakeClock t;
    ReconnectSchedule s(t.clock());
    EXPECT_EQ(s.state(), State::Idle);
    int i = 0;
    for (const Row& r : rows) {
        switch (r.event) {
        case Event::Lost: EXPECT_EQ(s.lost(), r.wait) << "row " << i; break;
        case Event::Trying: s.trying(); break;
        case Event::Connected: s.connected(); break;
        }
        EXPECT_EQ(s.state(), r.after) << "row " << i;
        ++i;
    }
}

// The time left follows the clock, is never below zero, and is zero when not waiting.
TEST(ReconnectSchedule, TimeLeftFollowsTheClock) {
    FakeClock t;
    ReconnectSchedule s(t.clock());
    EXPECT_EQ(s.untilDue(), 0ms);
    s.lost();
    s.trying();
    EXPECT_EQ(s.lost(), 2s);
    EXPECT_EQ(s.untilDue(), 2000ms);
    t.now += 1500ms;
    EXPECT_EQ(s.untilDue(), 500ms);
    EXPECT_EQ(s.lost(), 1s);  // the wait left, rounded up
    EXPECT_EQ(s.wait(), 2s);
    t.now += 501ms;
    EXPECT_EQ(s.untilDue(), 0ms);
    s.trying();
    EXPECT_EQ(s.untilDue(), 0ms);
    EXPECT_EQ(s.wait(), 0s);
}
