// The reader thread's hand-off to the window thread through QtWindowDispatcher, with a Qt
// event loop on the test thread as the window thread, the way the terminal runs it. What the
// window-side handlers write is plain data: under the thread checker any hand-off that is not
// ordered shows up as a race.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "IdException.h"
#include "LoopbackServer.h"
#include "QtWindowDispatcher.h"
#include "TIdTelnet.h"

namespace {

using namespace std::chrono_literals;

// Catches what a handler raised, as the terminal's application does before its error box.
class CatchingApplication : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QCoreApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            errors.push_back(e.what());
            return true;
        }
    }
    std::vector<std::string> errors;
};

CatchingApplication& app() { return *static_cast<CatchingApplication*>(QCoreApplication::instance()); }

// Runs the window thread's loop until done() holds; false when the limit passed first.
bool RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QTimer tick;  // wakes the wait below now and then, so the limit is looked at
    tick.start(10);
    QDeadlineTimer deadline(limit.count());
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the loop for a while, for calls that must not come.
void RunLoopFor(std::chrono::milliseconds span) { RunLoopUntil([] { return false; }, span); }

// Knows when the reader's call is in the queue, so a test can act while it waits there.
class CountingDispatcher : public QtWindowDispatcher {
public:
    using QtWindowDispatcher::QtWindowDispatcher;
    void Post(std::function<void()> call) override {
        QtWindowDispatcher::Post(std::move(call));
        ++posted;
    }
    std::atomic<int> posted{0};
};

// The terminal window's wiring without widgets: each chunk's text appended on the window
// thread, the close that OnDisconnected asks for carried out on the window thread.
class Window : public QObject {
public:
    explicit Window(int port) {
        telnet.Host = "127.0.0.1";
        telnet.Port = port;
        telnet.SetDispatcher(&dispatcher);
        telnet.OnDataAvailable = [this](const std::string& text) {
            offWindowThread |= !dispatcher.OnWindowThread();
            received += text;
        };
        telnet.OnDisconnected = [this](TIdComponent*) {
            disconnectedOnWindowThread = dispatcher.OnWindowThread();
            ++disconnects;
            dispatcher.RunOrPost([this] {
                offWindowThread |= !dispatcher.OnWindowThread();
                closed = true;
                receivedAtClose = received.size();
            });
        };
    }

    // The rest of a round's state; window thread only.
    void Reset() {
        received.clear();
        closed = false;
        receivedAtClose = 0;
        disconnects = 0;
        dispatcher.posted = 0;
    }

    // What the handlers write, declared first so that it outlives the reader.
    std::string received;  // window thread only, as are the next three
    bool closed = false;
    std::size_t receivedAtClose = 0;
    bool offWindowThread = false;
    std::atomic<int> disconnects{0};
    std::atomic<bool> disconnectedOnWindowThread{false};

    CountingDispatcher dispatcher{this};
    TIdTelnet telnet;  // after the dispatcher, as in the window: its reader stops first
};

// Text without telnet commands, in chunks of uneven size.
std::vector<std::string> Chunks(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::vector<std::string> chunks;
    for (int i = 0; i < count; ++i) {
        std::string c(1 + random() % 3000, ' ');
        for (char& ch : c)
            ch = char('a' + random() % 26);
        chunks.push_back(c);
    }
    return chunks;
}

// Sends until the client has gone.
void Stream(int fd) {
    const std::string block(1024, 'x');
    while (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
    }
}

}  // namespace

TEST(ReaderHandoff, EveryChunkArrivesInOrderAndThePeerCloseClosesOnTheWindowThread) {
    constexpr int kRounds = 40;
    const std::vector<std::string> chunks = Chunks(3, 20);
    std::string all;
    for (const auto& c : chunks)
        all += c;
    LoopbackServer server(
        [&chunks](int fd) {
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                SendAll(fd, chunks[i]);
                // Some chunks reach the reader on their own, others together.
                if (i % 3 == 0)
                    std::this_thread::sleep_for(200us);
            }
        },
        kRounds);
    Window w(server.Port());
    for (int round = 0; round < kRounds; ++round) {
        w.Reset();
        w.telnet.OpenConnection();
        ASSERT_TRUE(RunLoopUntil([&] { return w.closed; }, 10s)) << "round " << round;
        EXPECT_EQ(w.received, all) << "round " << round;
        EXPECT_EQ(w.receivedAtClose, all.size()) << "the close came before the last text";
        EXPECT_EQ(w.disconnects.load(), 1);
        EXPECT_FALSE(w.disconnectedOnWindowThread.load()) << "the reader saw the close";
        ASSERT_TRUE(RunLoopUntil([&] { return !w.telnet.ReaderRunning(); }, 10s));
        if (HasFailure())
            break;
    }
    EXPECT_FALSE(w.offWindowThread);
}

TEST(ReaderHandoff, AUserCloseWhileTheHostStreamsEndsTheDeliveries) {
    constexpr int kRounds = 30;
    LoopbackServer server(Stream, kRounds);
    Window w(server.Port());
    std::mt19937 random(5);
    for (int round = 0; round < kRounds; ++round) {
        w.Reset();
        w.telnet.OpenConnection();
        const std::size_t want = 1 + random() % 20000;
        ASSERT_TRUE(RunLoopUntil([&] { return w.received.size() >= want; }, 10s));
        w.telnet.CloseConnection();  // as the Disconnect item does
        EXPECT_TRUE(w.closed) << "a close on the window thread is carried out at once";
        EXPECT_TRUE(w.disconnectedOnWindowThread.load());
        const std::size_t atClose = w.received.size();
        ASSERT_TRUE(RunLoopUntil([&] { return !w.telnet.ReaderRunning(); }, 10s));
        RunLoopFor(20ms);
        EXPECT_EQ(w.received.size(), atClose) << "text delivered after the close, round " << round;
        EXPECT_EQ(w.disconnects.load(), 1);
        if (HasFailure())
            break;
    }
    EXPECT_FALSE(w.offWindowThread);
}

// The reader has handed its text over and waits; the window has not run the call yet.
TEST(ReaderHandoff, AReaderStoppedWithItsCallQueuedNeverHasItRun) {
    struct Case {
        const char* name;
        bool destroyWindow;  // else the user closes the connection
    };
    for (const Case& c : {Case{"window destroyed", true}, Case{"connection closed", false}}) {
        constexpr int kRounds = 40;
        LoopbackServer server(
            [](int fd) {
                SendAll(fd, "text");
                ReadUntilClosed(fd);
            },
            kRounds);
        for (int round = 0; round < kRounds; ++round) {
            auto w = std::make_unique<Window>(server.Port());
            int deliveries = 0;
            w->telnet.OnDataAvailable = [&deliveries](const std::string&) { ++deliveries; };
            w->telnet.OpenConnection();
            const auto limit = std::chrono::steady_clock::now() + 10s;
            while (w->dispatcher.posted.load() == 0 && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(1ms);
            ASSERT_EQ(w->dispatcher.posted.load(), 1) << c.name;
            if (c.destroyWindow) {
                w.reset();  // the reader is stopped and gone before the dispatcher
            } else {
                w->telnet.CloseConnection();
                ASSERT_TRUE(RunLoopUntil([&] { return !w->telnet.ReaderRunning(); }, 10s));
                EXPECT_EQ(w->telnet.ReaderMessage(), EIdThreadCallWithdrawn().what());
            }
            RunLoopFor(5ms);
            EXPECT_EQ(deliveries, 0) << c.name << ", round " << round;
            if (HasFailure())
                return;
        }
    }
}

TEST(QtWindowDispatcher, CallsFromManyThreadsRunOnTheWindowThreadEachInItsOrder) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 2000;
    QObject context;
    QtWindowDispatcher d(&context);
    std::vector<std::vector<int>> seen(kThreads);  // window thread only
    bool offWindowThread = false;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i)
                d.Post([&, t, i] {
                    offWindowThread |= !d.OnWindowThread();
                    seen[t].push_back(i);
                });
        });
    auto allRan = [&] {
        for (const auto& s : seen)
            if (s.size() < kCalls)
                return false;
        return true;
    };
    const bool ran = RunLoopUntil(allRan, 20s);
    for (auto& p : posters)
        p.join();
    ASSERT_TRUE(ran);
    for (int t = 0; t < kThreads; ++t) {
        std::vector<int> want(kCalls);
        for (int i = 0; i < kCalls; ++i)
            want[i] = i;
        EXPECT_EQ(seen[t], want) << "thread " << t;
    }
    EXPECT_FALSE(offWindowThread);
}

TEST(QtWindowDispatcher, CallsQueuedWhenItsDispatcherOrContextGoesAreFreedUnrun) {
    auto token = std::make_shared<int>(0);
    int runs = 0;
    {
        QObject context;
        QtWindowDispatcher d(&context);
        std::thread([&] {
            for (int i = 0; i < 3; ++i)
                d.Post([&runs, token] { ++runs; });
        }).join();
        EXPECT_EQ(token.use_count(), 4);
    }
    RunLoopFor(10ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(token.use_count(), 1) << "the queued calls were not freed";

    auto context = std::make_unique<QObject>();
    QtWindowDispatcher d(context.get());
    d.Post([&runs] { ++runs; });
    context.reset();
    d.Post([&runs] { ++runs; });
    RunLoopFor(20ms);
    EXPECT_EQ(runs, 0) << "a call ran after its context had gone";
}

TEST(QtWindowDispatcher, AnErrorOfOneCallReachesTheLoopAndTheNextStillRun) {
    QObject context;
    QtWindowDispatcher d(&context);
    std::vector<int> ran;
    app().errors.clear();
    std::thread([&] {
        d.Post([&ran] { ran.push_back(1); });
        d.Post([] { throw std::runtime_error("from the window thread"); });
        d.Post([&ran] { ran.push_back(3); });
    }).join();
    ASSERT_TRUE(RunLoopUntil([&] { return ran.size() == 2 && !app().errors.empty(); }, 5s));
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    EXPECT_EQ(app().errors, std::vector<std::string>{"from the window thread"});

    // A call on the window thread itself runs at once, not after the queue.
    d.Post([&ran] { ran.push_back(5); });
    d.RunOrPost([&ran] { ran.push_back(4); });
    EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
    ASSERT_TRUE(RunLoopUntil([&] { return ran.size() == 4; }, 5s));
    EXPECT_EQ(ran.back(), 5);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CatchingApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
