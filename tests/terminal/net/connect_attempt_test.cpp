// A connect made on a thread of its own and handed to the client that goes on with it: what
// a reconnect does while the window keeps showing the scrollback.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "IdConnectAttempt.h"
#include "IdException.h"
#include "IdStack.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"

namespace {

using namespace std::chrono_literals;

// The attempt's finished call, seen from the test thread. The wait's limit only keeps a
// broken build from hanging.
struct Finished {
  std::mutex m;
  std::condition_variable cv;
  int calls = 0;
  std::function<void()> callback() {
    return [this] {
      std::lock_guard<std::mutex> l(m);
      ++calls;
      cv.notify_all();
    };
  }
  bool wait() {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, 20s, [&] { return calls > 0; });
  }
};

}  // namespace

// A connect that succeeds gives its socket to the client that adopts it, which then talks to
// the host; one that is refused gives the stack's error text and nothing to adopt.
TEST(ConnectAttempt, HandsTheConnectionOverOrSaysWhyNot) {
  std::promise<std::string> heard;
  LoopbackServer host([&](int fd) {
    SendAll(fd, "hello");
    heard.set_value(ReadUntilClosed(fd));
  });
  struct Case {
    int port;
    std::string error;
  };
  const Case cases[] = {
      {host.Port(), ""},
      {UnusedPort(), "Socket Error # 10061\r\nConnection refused."},
  };
  for (const Case& c : cases) {
    Finished finished;
    TIdConnectAttempt attempt("127.0.0.1", c.port, 5000, finished.callback());
    ASSERT_TRUE(finished.wait());
    EXPECT_EQ(attempt.Error(), c.error);
    TIdTCPClient* connected = attempt.Connected();
    if (!c.error.empty()) {
      EXPECT_EQ(connected, nullptr);
      continue;
    }
    ASSERT_NE(connected, nullptr);
    TIdTCPClient client;
    int connectedEvents = 0;
    client.OnConnected = [&](TIdComponent*) { ++connectedEvents; };
    client.AdoptConnection(*connected);
    EXPECT_EQ(connectedEvents, 1);
    EXPECT_TRUE(client.IsConnected());
    EXPECT_FALSE(connected->Binding().HasSocket());
    EXPECT_EQ(client.Host, "127.0.0.1");
    EXPECT_EQ(client.Port, c.port);
    EXPECT_EQ(client.Binding().RemotePort(), c.port);
    std::string got;
    while (got.size() < 5 && client.ReceiveChunk(false, 5000, true) > 0)
      got += client.ExtractBytes(client.InputBuffer().Size());
    EXPECT_EQ(got, "hello");
    client.SendText("typed");
    client.CloseConnection();
    EXPECT_EQ(heard.get_future().get(), "typed");
  }
}

// Taking over refuses an open connection and a socket that is gone; nothing changes.
TEST(ConnectAttempt, AdoptingNeedsAClosedClientAndAnOpenSocket) {
  LoopbackServer host([](int fd) { ReadUntilClosed(fd); }, 2);
  TIdTCPClient gone;  // never connected
  TIdTCPClient client;
  EXPECT_THROW(client.AdoptConnection(gone), EIdConnClosedGracefully);
  EXPECT_FALSE(client.Binding().HasSocket());
  client.Host = "127.0.0.1";
  client.Port = host.Port();
  client.OpenConnection();
  TIdTCPClient other;
  other.Host = "127.0.0.1";
  other.Port = host.Port();
  other.OpenConnection();
  EXPECT_THROW(client.AdoptConnection(other), EIdAlreadyConnected);
  EXPECT_TRUE(other.Binding().HasSocket());
  other.CloseConnection();
  client.CloseConnection();
}

// Cancelling a connect that hangs (no limit: the kernel would retry for minutes) breaks it
// off: its socket is let go, and the finished call never comes.
TEST(ConnectAttempt, CancelBreaksOffAHangingConnect) {
  UnansweredListener silent;
  Finished finished;
  TIdTCPClient keepsTheStack;  // the stack is shared; its users are counted below
  const int before = OpenDescriptorCount();
  {
    TIdConnectAttempt attempt("127.0.0.1", silent.Port(), WaitForever, finished.callback());
    // The connect is under way once its socket exists.
    for (int i = 0; i < 2000 && OpenDescriptorCount() == before; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_GT(OpenDescriptorCount(), before);
    attempt.Cancel();
  }
  for (int i = 0; i < 5000 && (OpenDescriptorCount() > before || StackUsers() > 1); ++i)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_EQ(StackUsers(), 1) << "the attempt's thread still holds its client";
  std::lock_guard<std::mutex> l(finished.m);
  EXPECT_EQ(finished.calls, 0);
}
