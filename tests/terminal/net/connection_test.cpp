#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "ChunkReaderClient.h"
#include "FaultyStack.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"
#include "QueueDispatcher.h"

namespace {

using namespace std::chrono_literals;

// A client that writes down its events in order.
class LoggingClient : public TIdTCPClient {
 public:
  LoggingClient() {
    OnStatus = [this](TIdComponent*, TIdStatus, const std::string& text) { Log.push_back(text); };
    OnConnected = [this](TIdComponent*) { Log.push_back("OnConnected"); };
    OnDisconnected = [this](TIdComponent*) { Log.push_back("OnDisconnected"); };
  }
  void CloseConnection() override {
    Log.push_back("CloseConnection");
    TIdTCPClient::CloseConnection();
  }
  std::vector<std::string> Log;
};

// Receives until the connection has taken count bytes into its buffer.
void ReceiveBytes(TIdTCPConnection& c, std::size_t count) {
  while (c.InputBuffer().Size() < count) c.ReceiveChunk(false, 5000, true);
}

}  // namespace

TEST(Connect, RefusedRunsCloseConnectionAndOnDisconnectedBeforeTheError) {
  LoggingClient c;
  c.Host = "127.0.0.1";
  c.Port = UnusedPort();
  try {
    c.OpenConnection();
    FAIL() << "connected to a closed port";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), WSAECONNREFUSED);
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    c.Log.push_back("error");
  }
  const std::vector<std::string> expected = {
      "Connecting to 127.0.0.1.", "CloseConnection", "Disconnecting from 127.0.0.1.",
      "Not connected.",           "OnDisconnected",  "error"};
  EXPECT_EQ(c.Log, expected);
  EXPECT_FALSE(c.Binding().HasSocket());
  EXPECT_TRUE(c.ClosedGracefully());
}

TEST(Connect, ReportsResolvingOnlyForANameAndTheStepsInOrder) {
  struct Case {
    const char* host;
    std::vector<std::string> log;
  } cases[] = {
      {"127.0.0.1", {"Connecting to 127.0.0.1.", "Connected.", "OnConnected"}},
      {"LocalHost",
       {"Resolving hostname LocalHost.", "Connecting to 127.0.0.1.", "Connected.", "OnConnected"}},
  };
  for (const auto& k : cases) {
    LoopbackServer server([](int fd) { ReadUntilClosed(fd); });
    LoggingClient c;
    c.Host = k.host;
    c.Port = server.Port();
    c.OpenConnection();
    EXPECT_EQ(c.Log, k.log) << k.host;
    EXPECT_EQ(c.Binding().RemoteIP(), "127.0.0.1");
    EXPECT_EQ(c.Binding().RemotePort(), server.Port());
    EXPECT_EQ(c.Binding().IP(), "127.0.0.1");
    EXPECT_NE(c.Binding().Port(), 0);
    c.CloseConnection();
  }
}

TEST(Connect, AlreadyConnectedLeavesTheConnectionIntact) {
  LoopbackServer server([](int fd) { SendAll(fd, ReadExactly(fd, 4)); });
  LoggingClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.OpenConnection();
  c.Log.clear();
  try {
    c.OpenConnection();
    FAIL();
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_STREQ(e.what(), "Already connected.");
  }
  EXPECT_TRUE(c.Log.empty()) << "nothing else happens";
  ASSERT_TRUE(c.IsConnected());
  c.SendText("ping");
  ReceiveBytes(c, 4);
  EXPECT_EQ(c.ExtractBytes(4), "ping");
}

TEST(Connect, CanConnectAgainAfterAClose) {
  LoopbackServer server([](int fd) { SendAll(fd, ReadExactly(fd, 1)); }, 2);
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  for (const char* byte : {"a", "b"}) {
    c.OpenConnection();
    c.SendText(byte);
    ReceiveBytes(c, 1);
    EXPECT_EQ(c.ExtractBytes(1), byte);
    c.CloseConnection();
    EXPECT_FALSE(c.IsConnected());
  }
}

TEST(Receive, PeerDataComesFirstThenTheCloseDropsTheSocketOnTheReader) {
  LoopbackServer server([](int fd) { SendAll(fd, "hello"); });
  TIdQueueDispatcher window;
  ChunkReaderClient c(window);
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.SetRecvBufferSize(8192);
  c.OpenConnection();
  ASSERT_TRUE(window.RunUntil([&] { return !c.Reader().Running(); }, 10s));
  window.RunPending();
  std::string all;
  for (auto& chunk : c.Chunks) all += chunk;
  EXPECT_EQ(all, "hello");
  ASSERT_FALSE(c.Chunks.empty());
  EXPECT_EQ(c.Chunks.back(), "") << "the last pass hands over the empty text of the close";
  EXPECT_EQ(c.Disconnects.load(), 1);
  EXPECT_NE(c.DisconnectThread.load(), std::this_thread::get_id());
  EXPECT_EQ(c.Reader().TerminatingMessage(), "Connection Closed Gracefully.");
  EXPECT_FALSE(c.IsConnected());
}

TEST(Receive, UnreadBytesPostponeTheCloseForReadersButNotForSenders) {
  LoopbackServer server([](int fd) { SendAll(fd, "xyz"); });
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.OpenConnection();
  ReceiveBytes(c, 3);
  while (c.Binding().HasSocket()) c.ReceiveChunk(false, 5000, true);  // the peer's close
  EXPECT_TRUE(c.ClosedGracefully());
  EXPECT_NO_THROW(c.CheckPeerClosed(true, false)) << "3 unread bytes";
  EXPECT_THROW(c.CheckPeerClosed(true, true), EIdConnClosedGracefully);
  try {
    c.SendBytes("q", 1);
    FAIL();
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_EQ(c.ExtractBytes(3), "xyz");
  EXPECT_THROW(c.CheckPeerClosed(true, false), EIdConnClosedGracefully);
  EXPECT_EQ(c.ReceiveChunk(false, 0, true), 0);
  EXPECT_EQ(c.ReadAvailable(), "");
}

TEST(Receive, ShutdownErrorDropsTheSocketAndRaisesOnlyOnAnEmptyBuffer) {
  for (bool unread : {false, true}) {
    FaultyStackScope faulty;
    // "a" at once, "b" once the client has sent a byte: the socket is readable on demand.
    LoopbackServer server([](int fd) {
      SendAll(fd, "a");
      ReadExactly(fd, 1);
      SendAll(fd, "b");
      ReadUntilClosed(fd);
    });
    TIdTCPClient c;
    int disconnects = 0;
    c.OnDisconnected = [&](TIdComponent*) { ++disconnects; };
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.OpenConnection();
    if (unread) {
      ReceiveBytes(c, 1);
      c.SendText("!");
    }
    FaultyStack::ReceiveError = WSAESHUTDOWN;
    FaultyStack::GoodReceives = 0;
    if (unread) {
      EXPECT_EQ(c.ReceiveChunk(false, 5000, true), 0) << "no error while bytes are unread";
      EXPECT_EQ(c.ExtractBytes(1), "a");
    } else {
      try {
        c.ReceiveChunk(false, 5000, true);
        FAIL() << "no error";
      } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), WSAESHUTDOWN);
        EXPECT_STREQ(e.what(),
                     "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
      }
    }
    EXPECT_FALSE(c.Binding().HasSocket()) << unread;
    EXPECT_EQ(disconnects, 1) << unread;
  }
}

TEST(Receive, OtherReceiveErrorsRaiseThemAndKeepTheSocket) {
  FaultyStackScope faulty;
  LoopbackServer server([](int fd) {
    SendAll(fd, "a");
    ReadUntilClosed(fd);
  });
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.OpenConnection();
  FaultyStack::ReceiveError = 10054;
  FaultyStack::GoodReceives = 0;
  try {
    c.ReceiveChunk(false, 5000, true);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10054);
  }
  EXPECT_TRUE(c.Binding().HasSocket());
  FaultyStack::GoodReceives = -1;
}

TEST(Buffer, ExtractAndRemoveBeyondTheBufferRaiseAndKeepIt) {
  LoopbackServer server([](int fd) {
    SendAll(fd, "abcdef");
    ReadUntilClosed(fd);
  });
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.OpenConnection();
  ReceiveBytes(c, 6);
  EXPECT_EQ(c.ExtractBytes(0), "");
  for (auto op : {+[](TIdTCPClient& k) { k.ExtractBytes(7); },
                  +[](TIdTCPClient& k) { k.RemoveBytes(7); }}) {
    try {
      op(c);
      FAIL();
    } catch (const EIdNotEnoughDataInBuffer& e) {
      EXPECT_STREQ(e.what(), "Not enough data in buffer.");
    }
    EXPECT_EQ(c.InputBuffer().Size(), 6u);
  }
  EXPECT_EQ(c.ExtractBytes(2), "ab");
  c.RemoveBytes(1);
  EXPECT_EQ(c.ExtractBytes(3), "def");
  EXPECT_EQ(c.InputBuffer().Size(), 0u);
}

TEST(Send, EmptyTextSendsNothingEvenWhenClosedAndLinesEndWithCrLf) {
  TIdTCPClient idle;
  EXPECT_NO_THROW(idle.SendText(""));
  EXPECT_NO_THROW(idle.SendBytes("x", 0));
  EXPECT_THROW(idle.SendText("x"), EIdConnClosedGracefully);

  std::promise<std::string> got;
  LoopbackServer server([&](int fd) { got.set_value(ReadUntilClosed(fd)); });
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.OpenConnection();
  c.SendText("");
  c.SendLine("");
  c.SendLine("ab");
  c.SendBytes("\xff\x00z", 3);
  c.CloseConnection();
  EXPECT_EQ(got.get_future().get(), std::string("\r\nab\r\n\xff\x00z", 9));
}

TEST(Send, APeerThatHasGoneGivesAnErrorNotASignal) {
  LoopbackServer server([](int fd) {
    ReadExactly(fd, 1);
    SetResetOnClose(fd);
  });
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.OpenConnection();
  c.SendText("x");
  std::this_thread::sleep_for(50ms);  // the reset arrives
  std::string block(65536, 'x');
  bool raised = false;
  for (int i = 0; i < 100 && !raised; ++i) {
    try {
      c.SendText(block);
    } catch (const EIdException&) {
      raised = true;
    }
  }
  EXPECT_TRUE(raised);
}

// A host that reads nothing: the send that does not wait hands the socket what it takes, then
// 0 once its buffers are full, and never blocks. When the host reads at last it gets exactly
// the bytes that were taken, in order.
TEST(Send, SendSomeTakesWhatFitsAndNeverWaits) {
  std::promise<void> taken;
  std::promise<std::string> got;
  LoopbackServer server([&](int fd) {
    taken.get_future().wait();
    got.set_value(ReadUntilClosed(fd));
  });
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.OpenConnection();
  std::string block(256 * 1024, '\0');
  std::string sent;
  for (int round = 0; round < 1000; ++round) {
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = char('a' + (sent.size() + i) % 26);
    const int n = c.SendSome(block.data(), int(block.size()));
    ASSERT_GE(n, 0);
    sent.append(block, 0, std::size_t(n));
    if (n == 0) break;
  }
  EXPECT_GT(sent.size(), 0u);
  EXPECT_EQ(c.SendSome(block.data(), int(block.size())), 0) << "the buffers stay full";
  EXPECT_EQ(c.SendSome(block.data(), 0), 0);
  taken.set_value();
  c.CloseConnection();
  const std::string received = got.get_future().get();
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent) << "the bytes arrived out of order";
}

// Its failures are those of the blocking send: a closed connection, a send error that keeps
// the socket open, and WSAESHUTDOWN, which drops it first.
TEST(Send, SendSomeFailsAsSendBytesDoes) {
  {
    TIdTCPClient idle;
    EXPECT_THROW(idle.SendSome("x", 1), EIdConnClosedGracefully);
  }
  FaultyStackScope faulty;
  struct Case {
    int code;
    bool dropped;
  };
  for (const Case& k : {Case{WSAECONNRESET, false}, Case{WSAESHUTDOWN, true}}) {
    LoopbackServer server([](int fd) { ReadUntilClosed(fd); });
    LoggingClient c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.OpenConnection();
    c.Log.clear();
    FaultyStack::SendError = k.code;
    try {
      c.SendSome("x", 1);
      ADD_FAILURE() << k.code << " did not raise";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.ErrorCode(), k.code);
    }
    FaultyStack::SendError = 0;
    EXPECT_EQ(c.Binding().HasSocket(), !k.dropped) << k.code;
    const std::vector<std::string> drop = {"Disconnecting from 127.0.0.1.", "Not connected.", "OnDisconnected"};
    EXPECT_EQ(c.Log, k.dropped ? drop : std::vector<std::string>()) << k.code;
    c.CloseConnection();
  }
}
