// The socket layer against peers that fail: error codes after a reset or a local shutdown,
// a connect interrupted by a signal, and a connect that nobody answers.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The code of the EIdSocketError a send raises; 0 when the send went through.
int SendErrorCode(TIdTCPClient& c, const std::string& text) {
  try {
    c.SendText(text);
    return 0;
  } catch (const EIdSocketError& e) {
    return e.ErrorCode();
  }
}

}  // namespace

// After a peer reset every failing send reports the reset (10054), on the first send, which
// Linux answers with ECONNRESET, and on the later ones, answered with EPIPE; the connection
// is left for the window to close. A send after this side shut down its sending stays 10058
// and drops the socket.
TEST(SendErrors, ResetAndLocalShutdownKeepTheirCodes) {
  {
    LoopbackServer server([](int fd) {
      ReadExactly(fd, 1);
      SetResetOnClose(fd);
    });
    TIdTCPClient c;
    int disconnects = 0;
    c.OnDisconnected = [&](TIdComponent*) { ++disconnects; };
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.OpenConnection();
    c.SendText("x");
    std::vector<int> codes;
    const std::string block(65536, 'y');
    for (int i = 0; i < 200 && codes.size() < 3; ++i)
      if (int code = SendErrorCode(c, block)) codes.push_back(code);
    EXPECT_EQ(codes, (std::vector<int>{10054, 10054, 10054}));
    EXPECT_TRUE(c.Binding().HasSocket());
    EXPECT_EQ(disconnects, 0);
    c.CloseConnection();
  }
  {
    LoopbackServer server([](int fd) { ReadUntilClosed(fd); });
    TIdTCPClient c;
    int disconnects = 0;
    c.OnDisconnected = [&](TIdComponent*) { ++disconnects; };
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.OpenConnection();
    ASSERT_EQ(GStack().SockShutdown(c.Binding().SocketNumber(), SHUT_WR), 0);
    EXPECT_EQ(SendErrorCode(c, "x"), WSAESHUTDOWN);
    EXPECT_FALSE(c.Binding().HasSocket());
    EXPECT_EQ(disconnects, 1);
  }
}

// A signal that interrupts the connect does not end it: the connect goes on and succeeds
// once the host answers, instead of failing with "Operation already in progress".
TEST(Connect, InterruptedBySignalStillConnects) {
  struct sigaction act {};
  act.sa_handler = [](int) {};
  sigemptyset(&act.sa_mask);  // no SA_RESTART: connect() returns EINTR
  struct sigaction old {};
  ASSERT_EQ(::sigaction(SIGUSR1, &act, &old), 0);

  UnansweredListener listener;
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = listener.Port();
  std::promise<pthread_t> who;
  std::promise<std::string> outcome;
  std::thread connector([&] {
    who.set_value(pthread_self());
    try {
      c.OpenConnection();
      outcome.set_value("connected");
    } catch (const std::exception& e) {
      outcome.set_value(e.what());
    }
  });
  const pthread_t thread = who.get_future().get();
  std::this_thread::sleep_for(200ms);  // inside connect(), its SYN dropped
  ::pthread_kill(thread, SIGUSR1);
  std::this_thread::sleep_for(100ms);
  listener.Admit();  // the SYN sent again is answered
  auto f = outcome.get_future();
  ASSERT_EQ(f.wait_for(20s), std::future_status::ready);
  connector.join();
  EXPECT_EQ(f.get(), "connected");
  EXPECT_TRUE(c.IsConnected());
  c.CloseConnection();
  ::sigaction(SIGUSR1, &old, nullptr);
}

// A connect that nobody answers gives up after ConnectTimeout with "timed out" and no socket
// left open; without a limit it would wait for the system's two minutes.
TEST(Connect, UnansweredConnectGivesUpAtTheLimit) {
  UnansweredListener listener;
  {
    TIdTCPClient c;
    c.Host = "127.0.0.1";
    c.Port = listener.Port();
    c.ConnectTimeout = 500;
    const auto start = Clock::now();
    try {
      c.OpenConnection();
      FAIL() << "connected";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.ErrorCode(), WSAETIMEDOUT);
      EXPECT_STREQ(e.what(), "Socket Error # 10060\r\nConnection timed out.");
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 450ms);
    EXPECT_LT(took, 5s);
    EXPECT_FALSE(c.Binding().HasSocket());
  }
}
