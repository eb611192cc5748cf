// The send queue without a socket: the test is the writer, taking what ready() offers in
// pieces of its choosing, with a clock of its own.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "SendQueue.h"

using namespace std::chrono_literals;
using Clock = SendQueue::Clock;

namespace {

const Clock::time_point t0 = Clock::time_point(1000s);

} // namespace

TEST(SendQueue, BoundCountsWhatWaits) {
    SendQueue q(10);
    EXPECT_TRUE(q.fits(10));
    EXPECT_FALSE(q.fits(11));
    q.push("abcd");
    EXPECT_TRUE(q.fits(6));
    EXPECT_FALSE(q.fits(7));
    EXPECT_FALSE(q.fits(std::size_t(-1)));  // no wrap-around
    q.taken(2, t0);
    EXPECT_TRUE(q.fits(8));
    EXPECT_EQ(q.size(), 2u);
    EXPECT_EQ(SendQueue().bound(), 64u * 1024 * 1024);
}

// A paced run offers one line at a time, the CR LF of a line with it; the next line is not
// offered before the gap has passed since the previous one was taken whole, but the rest of a
// line the socket took only part of is. Bytes queued behind wait for the run and its last gap.
TEST(SendQueue, PacedLinesGoOneAtATimeAfterTheirGap) {
    SendQueue q;
    q.pushLines("ab\r\ncd\rlast", 50ms);
    q.push("k");
    EXPECT_EQ(q.ready(t0), "ab\r\n");
    q.taken(3, t0);  // the socket took the CR, not the LF
    EXPECT_EQ(q.ready(t0), "\n");
    q.taken(1, t0);
    EXPECT_EQ(q.ready(t0), "");
    EXPECT_EQ(q.ready(t0 + 49ms), "");
    EXPECT_EQ(q.due(), t0 + 50ms);
    EXPECT_EQ(q.ready(t0 + 50ms), "cd\r");
    q.taken(1, t0 + 60ms);  // the socket took "c" only
    EXPECT_EQ(q.ready(t0 + 60ms), "d\r");
    q.taken(2, t0 + 70ms);
    EXPECT_EQ(q.ready(t0 + 119ms), "");
    EXPECT_EQ(q.ready(t0 + 120ms), "last");
    q.taken(4, t0 + 120ms);
    EXPECT_EQ(q.ready(t0 + 120ms), "") << "the key waits for the gap after the last line too";
    EXPECT_EQ(q.ready(t0 + 170ms), "k");
    q.taken(1, t0 + 170ms);
    EXPECT_TRUE(q.empty());

    // Without a gap it is a plain run; a cleared queue forgets the wait.
    q.pushLines("x\ry\r", 0ms);
    EXPECT_EQ(q.ready(t0 + 1s), "x\ry\r");
    q.clear();
    q.pushLines("1\r2\r", 1s);
    q.taken(2, t0);
    q.clear();
    q.pushLines("3\r", 1s);
    EXPECT_EQ(q.ready(t0), "3\r");
}

// Random pushes, paced or not, drained in random pieces on a clock that jumps about: what
// leaves is exactly what was queued, in order; the size is always what is left; and nothing
// that follows a paced line leaves before its gap after that line ended.
TEST(SendQueue, DrainsEverythingInOrderAndKeepsEveryGap) {
    std::mt19937 random(16);
    for (int round = 0; round < 200; ++round) {
        SendQueue q;
        std::string queued, sent;
        struct Line {
            std::size_t end;  // one past its last byte, in the queued stream
            Clock::duration gap;
        };
        std::vector<Line> paced;
        Clock::time_point now = t0;
        std::vector<Clock::time_point> at;  // when each sent byte went
        auto pushSome = [&] {
            std::string bytes;
            const int n = int(random() % 12);
            for (int i = 0; i < n; ++i)
                bytes += "ab\r\n"[random() % 4];
            const auto gap = std::chrono::milliseconds(random() % 3 == 0 ? 0 : 1 + random() % 20);
            if (gap > 0ms) {
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    const bool crlf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
                    const bool end = (bytes[i] == '\r' && !crlf) || i + 1 == bytes.size() ||
                                     (bytes[i] == '\n' && i > 0 && bytes[i - 1] == '\r');
                    if (end)
                        paced.push_back({queued.size() + i + 1, gap});
                }
                q.pushLines(bytes, gap);
            } else {
                q.push(bytes);
            }
            queued += bytes;
        };
        for (int step = 0; step < 60 || !q.empty(); ++step) {
            if (step < 60 && random() % 3 == 0)
                pushSome();
            now += std::chrono::milliseconds(random() % 8);
            const std::string_view offer = q.ready(now);
            if (offer.empty()) {
                if (!q.empty()) {
                    ASSERT_GT(q.due(), now) << "a queue that waits says until when";
                }
                continue;
            }
            const std::size_t take = 1 + random() % offer.size();
            sent.append(offer.substr(0, take));
            at.insert(at.end(), take, now);
            q.taken(take, now);
            ASSERT_EQ(q.size(), queued.size() - sent.size());
        }
        ASSERT_EQ(sent, queued) << "round " << round;
        // Whatever byte follows a paced line, paced or typed, goes its gap after that line.
        for (const Line& line : paced) {
            if (line.end < sent.size()) {
                ASSERT_GE(at[line.end], at[line.end - 1] + line.gap) << "round " << round << " at " << line.end;
            }
        }
    }
}
