// The connection driven from two threads as the terminal drives it: the test thread is the
// window thread, a ChunkReaderClient's reader waits on the socket.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "ChunkReaderClient.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "LoopbackServer.h"
#include "QueueDispatcher.h"

namespace {

using namespace std::chrono_literals;

constexpr int kRounds = 300;

// Waits (running the window queue) until the reader has ended.
void AwaitReaderEnd(TIdQueueDispatcher& window, ChunkReaderClient& c) {
  ASSERT_TRUE(window.RunUntil([&] { return !c.Reader().Running(); }, 10s))
      << "reader did not end";
  c.Reader().WaitForEnd();
}

}  // namespace

TEST(ReaderClose, ACloseFromTheWindowWakesTheWaitingReaderAndFiresOnce) {
  const int descriptorsBefore = OpenDescriptorCount();
  std::mt19937 random(7);
  LoopbackServer server([](int fd) { ReadUntilClosed(fd); }, kRounds);
  TIdQueueDispatcher window;
  ChunkReaderClient c(window);
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  for (int round = 0; round < kRounds; ++round) {
    c.Disconnects = 0;
    c.OpenConnection();
    // From at once to well inside the wait.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    c.CloseConnection();
    EXPECT_EQ(c.Disconnects.load(), 1) << "round " << round;
    EXPECT_EQ(c.DisconnectThread.load(), std::this_thread::get_id());
    AwaitReaderEnd(window, c);
    EXPECT_EQ(c.Disconnects.load(), 1) << "round " << round;
    if (HasFailure()) break;
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore + 1) << "only the listening socket stays";
}

TEST(ReaderClose, PeerAndWindowClosingTogetherDropTheSocketOnce) {
  std::mt19937 random(11);
  LoopbackServer server([](int fd) { SendAll(fd, "bye"); }, kRounds);
  TIdQueueDispatcher window;
  ChunkReaderClient c(window);
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  for (int round = 0; round < kRounds; ++round) {
    c.Disconnects = 0;
    c.OpenConnection();
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
    // The window looks before a keystroke while the reader sees the close.
    if (round % 2) c.IsConnected(); else c.CloseConnection();
    AwaitReaderEnd(window, c);
    c.CloseConnection();
    EXPECT_EQ(c.Disconnects.load(), 1) << "round " << round;
    if (HasFailure()) break;
  }
}

TEST(ReaderClose, DestroyingAComponentWithAnOpenConnectionStopsItsReaderFirst) {
  // Rounds alternate between a reader blocked in its wait and one blocked handing text to a
  // window thread that never runs its queue.
  for (int round = 0; round < 100; ++round) {
    bool sends = round % 2;
    LoopbackServer server([sends](int fd) {
      if (sends) SendAll(fd, "text");
      ReadUntilClosed(fd);
    });
    TIdQueueDispatcher window;
    std::atomic<int> disconnects{0};
    {
      auto c = std::make_unique<ChunkReaderClient>(window);
      c->Host = "127.0.0.1";
      c->Port = server.Port();
      c->OnDisconnected = [&](TIdComponent*) { ++disconnects; };
      c->OpenConnection();
      if (sends) std::this_thread::sleep_for(1ms);
      c.reset();  // must return: the reader ends before the component goes
    }
    EXPECT_EQ(disconnects.load(), 0) << "destruction fires no events";
    EXPECT_EQ(StackInstance(), nullptr);
    window.RunPending();  // calls left behind touch nothing that is gone
    if (HasFailure()) break;
  }
}

// The window thread writes without waiting while the host says goodbye and closes: whichever
// thread sees the close first drops the socket, once; the window's send either goes through or
// fails as a send on a closed connection does. A watcher's hold on the socket number keeps it
// from being closed (and handed to a new socket) until the watcher lets go, though the socket
// was released on the reader thread.
TEST(ReaderClose, SendingWithoutWaitingWhileThePeerCloses) {
  std::mt19937 random(16);
  LoopbackServer server([](int fd) { SendAll(fd, "bye"); }, kRounds);
  TIdQueueDispatcher window;
  ChunkReaderClient c(window);
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  for (int round = 0; round < kRounds; ++round) {
    c.Disconnects = 0;
    c.OpenConnection();
    std::shared_ptr<const int> held = c.Binding().KeepOpen();
    ASSERT_TRUE(held);
    const std::string block(1 + random() % 4096, 'x');
    for (int i = 0; i < 100; ++i) {
      try {
        if (c.SendSome(block.data(), int(block.size())) < 0) ADD_FAILURE() << "negative count";
      } catch (const EIdConnClosedGracefully&) {
        break;
      } catch (const EIdSocketError& e) {
        // The host's close came back as a reset for the bytes it never read.
        EXPECT_TRUE(e.ErrorCode() == WSAECONNRESET || e.ErrorCode() == WSAESHUTDOWN) << e.what();
        break;
      }
    }
    AwaitReaderEnd(window, c);
    c.CloseConnection();
    EXPECT_EQ(c.Disconnects.load(), 1) << "round " << round;
    EXPECT_NE(::fcntl(*held, F_GETFD), -1) << "the held number was closed";
    const int fd = *held;
    held.reset();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the socket stayed open after the hold ended";
    if (HasFailure()) break;
  }
}
