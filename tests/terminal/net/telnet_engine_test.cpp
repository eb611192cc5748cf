// The telnet component against scripted servers on loopback, with the test thread as the
// window thread.
#include "TIdTelnet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IdSocketErrors.h"
#include "LoopbackServer.h"
#include "QueueDispatcher.h"

using namespace std::chrono_literals;

namespace {

std::string bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

const std::string kTtReply = bytes({255, 250, 24, 0, 'd', 'u', 'm', 'b', 255, 240});

// A component wired the way the terminal wires it, recording what reaches the window.
struct TelnetEngine : ::testing::Test {
  TIdQueueDispatcher window;
  TIdTelnet telnet;
  std::thread::id windowThread = std::this_thread::get_id();
  std::mutex lock;
  std::vector<std::string> events;  // in the order they fired
  std::vector<std::string> chunks;  // what OnDataAvailable got
  std::atomic<bool> disconnected{false};
  std::atomic<bool> disconnectedOnReader{false};

  void log(const std::string& e) {
    std::lock_guard<std::mutex> g(lock);
    events.push_back(e);
  }

  TelnetEngine() {
    telnet.SetRecvBufferSize(8192);
    telnet.Host = "127.0.0.1";
    telnet.SetDispatcher(&window);
    telnet.OnConnect = [this] { log("connect"); };
    telnet.OnConnected = [this](TIdComponent*) { log("connected"); };
    telnet.OnDisconnect = [this] { log("disconnect"); };
    telnet.OnDisconnected = [this](TIdComponent*) {
      log("disconnected");
      disconnectedOnReader = std::this_thread::get_id() != windowThread;
      disconnected = true;
    };
    telnet.OnDataAvailable = [this](const std::string& b) {
      EXPECT_EQ(std::this_thread::get_id(), windowThread);
      chunks.push_back(b);
    };
  }

  std::string text() const {
    std::string all;
    for (const auto& c : chunks) all += c;
    return all;
  }
  bool pumpUntil(const std::function<bool()>& done) { return window.RunUntil(done, 5s); }
};

} // namespace

// A whole negotiation: each request answered with its three bytes (the TERMINAL-TYPE
// answer with "dumb"), the echo notice on the reader thread before its reply, the text
// delivered without commands, then the peer's close: data first, one empty delivery last.
TEST_F(TelnetEngine, NegotiatesDeliversAndEndsOnPeerClose) {
  std::promise<std::string> replies;
  LoopbackServer server([&](int fd) {
    SendAll(fd, bytes({255, 253, 24}));
    std::string got = ReadExactly(fd, 3);
    SendAll(fd, bytes({255, 250, 24, 1, 255, 240}) + "hel" + bytes({255, 255}) + "lo\r\n");
    got += ReadExactly(fd, kTtReply.size());
    SendAll(fd, bytes({255, 251, 1, 255, 251, 3, 255, 253, 31}) + "bye");
    got += ReadExactly(fd, 9);
    replies.set_value(got);
  });
  std::atomic<bool> noticeBeforeReply{false};
  std::thread::id noticeThread;
  telnet.OnTelnetCommand = [&](TIdTelnet* sender, TTelnetCommand c) {
    EXPECT_EQ(sender, &telnet);
    EXPECT_EQ(c, TTelnetCommand::ServerWillEcho);
    noticeThread = std::this_thread::get_id();
    noticeBeforeReply = true;
  };
  telnet.Port = server.Port();
  telnet.OpenConnection();
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "connected"}));

  auto got = replies.get_future();
  ASSERT_TRUE(pumpUntil([&] { return got.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(got.get(), bytes({255, 251, 24}) + kTtReply + bytes({255, 253, 1, 255, 254, 3, 255, 252, 31}));
  EXPECT_TRUE(noticeBeforeReply);
  EXPECT_NE(noticeThread, windowThread);

  ASSERT_TRUE(pumpUntil([&] { return !telnet.ReaderRunning(); }));
  EXPECT_EQ(text(), "hel\xfflo\r\nbye");
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(chunks.back(), "");
  EXPECT_TRUE(disconnected);
  EXPECT_TRUE(disconnectedOnReader);
  EXPECT_FALSE(telnet.IsConnected());
  // The peer's close does not fire OnDisconnect.
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "connected", "disconnected"}));
}

// CR goes as CR LF to a plain server, as CR alone once an IAC came, and as CR LF again on
// the next connection after CloseConnection. A typed 255 is one byte.
TEST_F(TelnetEngine, CarriageReturnRuleAcrossConnections) {
  std::promise<std::string> first, second;
  std::promise<void> plainSeen;
  LoopbackServer server(
      [&, n = 0](int fd) mutable {
        if (n++ == 0) {
          std::string got = ReadExactly(fd, 2);  // CR LF before any command
          SendAll(fd, bytes({255, 241}));        // a NOP shows a telnet server
          got += ReadExactly(fd, 3);             // CR, 255, 'x'
          first.set_value(got);
        } else {
          second.set_value(ReadExactly(fd, 2));
        }
        ReadUntilClosed(fd);
      },
      2);
  telnet.Port = server.Port();
  telnet.OpenConnection();
  telnet.SendChar('\r');
  ASSERT_TRUE(pumpUntil([&] { return telnet.ServerIsTelnet(); }));
  telnet.SendChar('\r');
  telnet.SendChar('\xff');
  telnet.SendChar('x');
  auto f = first.get_future();
  ASSERT_TRUE(pumpUntil([&] { return f.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(f.get(), "\r\n\r\xffx");

  telnet.CloseConnection();
  EXPECT_FALSE(telnet.ServerIsTelnet());
  telnet.OpenConnection();
  telnet.SendChar('\r');
  telnet.SendChar('\r');
  auto s = second.get_future();
  ASSERT_TRUE(pumpUntil([&] { return s.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(s.get(), "\r\n");
  telnet.CloseConnection();
}

// The user's disconnect: on the window thread OnDisconnected, then OnDisconnect; the
// reader ends without touching the window.
TEST_F(TelnetEngine, UserDisconnectEndsReader) {
  LoopbackServer server([](int fd) { ReadUntilClosed(fd); });
  telnet.Port = server.Port();
  telnet.OpenConnection();
  ASSERT_TRUE(telnet.ReaderRunning());
  telnet.CloseConnection();
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "connected", "disconnected", "disconnect"}));
  EXPECT_FALSE(disconnectedOnReader);
  ASSERT_TRUE(pumpUntil([&] { return !telnet.ReaderRunning(); }));
  // Idle: no socket, still OnDisconnect.
  events.clear();
  telnet.CloseConnection();
  EXPECT_EQ(events, (std::vector<std::string>{"disconnect"}));
}

TEST_F(TelnetEngine, ConnectFailuresBecomeServerNotResponding) {
  telnet.Port = UnusedPort();
  try {
    telnet.OpenConnection();
    FAIL() << "connect to a closed port succeeded";
  } catch (const EIdTelnetClientConnectError& e) {
    EXPECT_STREQ(e.what(), "server not responding");
    EXPECT_EQ(e.SocketCode(), WSAECONNREFUSED);  // kept for the reason line
  }
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "disconnected", "disconnect"}));

  events.clear();
  telnet.Host = "no-such-host.invalid";
  EXPECT_THROW(telnet.OpenConnection(), EIdTelnetClientConnectError);
  EXPECT_EQ(events.front(), "connect");
}

TEST_F(TelnetEngine, AlreadyConnectedKeepsTheConnection) {
  std::promise<std::string> got;
  LoopbackServer server([&](int fd) {
    got.set_value(ReadExactly(fd, 1));
    ReadUntilClosed(fd);
  });
  telnet.Port = server.Port();
  telnet.OpenConnection();
  events.clear();
  try {
    telnet.OpenConnection();
    FAIL();
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_STREQ(e.what(), "Already connected.");
  }
  EXPECT_EQ(events, (std::vector<std::string>{"connect"}));
  EXPECT_TRUE(telnet.IsConnected());
  EXPECT_TRUE(telnet.ReaderRunning());
  telnet.SendChar('k');
  auto f = got.get_future();
  ASSERT_TRUE(pumpUntil([&] { return f.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(f.get(), "k");
  telnet.CloseConnection();
}

// No OnDataAvailable: the hand-off raises on the window thread and ends the reader.
TEST_F(TelnetEngine, MissingDataHandlerEndsReader) {
  LoopbackServer server([](int fd) {
    SendAll(fd, "text");
    ReadUntilClosed(fd);
  });
  telnet.OnDataAvailable = nullptr;
  telnet.Port = server.Port();
  telnet.OpenConnection();
  ASSERT_TRUE(pumpUntil([&] { return !telnet.ReaderRunning(); }));
  EXPECT_EQ(telnet.ReaderMessage(), "OnDataAvailable event is nil.");
  EXPECT_TRUE(telnet.IsConnected());  // the connection itself stays open
  telnet.CloseConnection();
}

// An error in the window's handler travels back to the reader and ends it.
TEST_F(TelnetEngine, HandlerErrorEndsReader) {
  LoopbackServer server([](int fd) {
    SendAll(fd, "x");
    ReadUntilClosed(fd);
  });
  telnet.OnDataAvailable = [](const std::string&) { throw EIdException("view full"); };
  telnet.Port = server.Port();
  telnet.OpenConnection();
  ASSERT_TRUE(pumpUntil([&] { return !telnet.ReaderRunning(); }));
  EXPECT_EQ(telnet.ReaderMessage(), "view full");
  telnet.CloseConnection();
}

// Destroying a connected component stops its reader first, fires nothing, and leaves no
// thread behind: even while the reader waits for the window to take a chunk.
TEST(TelnetLifetime, DestroyWhileConnected) {
  for (bool chunkPending : {false, true}) {
    TIdQueueDispatcher window;
    std::atomic<int> fired{0};
    LoopbackServer server([&](int fd) {
      if (chunkPending) SendAll(fd, "pending");
      ReadUntilClosed(fd);
    });
    {
      TIdTelnet telnet;
      telnet.SetDispatcher(&window);
      telnet.Host = "127.0.0.1";
      telnet.Port = server.Port();
      telnet.OnDataAvailable = [&](const std::string&) { ++fired; };
      telnet.OnDisconnected = [&](TIdComponent*) { ++fired; };
      telnet.OnDisconnect = [&] { ++fired; };
      telnet.OpenConnection();
      std::this_thread::sleep_for(100ms);  // the chunk's hand-off is posted, not run
    }
    window.RunPending();  // a withdrawn call must not reach the freed component
    EXPECT_EQ(fired.load(), 0);
  }
}

// A host that negotiates, greets and then resets the connection: the greeting is delivered,
// then the reset ends the connection as a close would (socket dropped, OnDisconnected once,
// on the reader thread) and tells why. Before, the reader ended silently and the socket
// stayed open, so the window kept showing "Connected".
TEST_F(TelnetEngine, ResetEndsTheConnectionAndSaysWhy) {
  LoopbackServer server([](int fd) {
    SendAll(fd, bytes({255, 253, 24, 255, 251, 1}) + "greeting\r\n");
    std::this_thread::sleep_for(100ms);  // the replies arrive and stay unread
    SetResetOnClose(fd);
  });
  telnet.Port = server.Port();
  telnet.OpenConnection();
  ASSERT_TRUE(pumpUntil([&] { return !telnet.ReaderRunning(); }));
  EXPECT_EQ(text(), "greeting\r\n");
  EXPECT_TRUE(disconnected);
  EXPECT_TRUE(disconnectedOnReader);
  EXPECT_FALSE(telnet.Binding().HasSocket());
  EXPECT_EQ(telnet.LostError(), "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "connected", "disconnected"}));
}

// The connect limit: a host that never answers is "server not responding" after it, with
// the events of any failed connect.
TEST_F(TelnetEngine, UnansweredConnectIsServerNotResponding) {
  UnansweredListener listener;
  telnet.Port = listener.Port();
  telnet.ConnectTimeout = 300;
  try {
    telnet.OpenConnection();
    FAIL() << "connected";
  } catch (const EIdTelnetClientConnectError& e) {
    EXPECT_STREQ(e.what(), "server not responding");
    EXPECT_EQ(e.SocketCode(), WSAETIMEDOUT);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "disconnected", "disconnect"}));
  EXPECT_EQ(telnet.LostError(), "");
}
