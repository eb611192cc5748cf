#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <thread>
#include <vector>

#include "FaultyStack.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdSocketHandle.h"
#include "IdStack.h"
#include "IdTCPConnection.h"
#include "LoopbackServer.h"

TEST(DottedQuad, RecognisesFourNumbersUpTo255) {
  struct Case {
    const char* text;
    bool dotted;
  } cases[] = {
      {"192.168.0.1", true},    {"010.1.1.1", true},  {"0.0.0.0", true},
      {"255.255.255.255", true}, {"192.168.0.256", false}, {"1.2.3", false},
      {"1.2.3.4.5", false},     {"a.b.c.d", false},   {"", false},
      {"1..2.3", false},        {"1.2.3.", false},    {"-1.2.3.4", false},
      {" 1.2.3.4", false},
  };
  for (const auto& c : cases) EXPECT_EQ(TIdStack::IsDottedQuad(c.text), c.dotted) << c.text;
}

TEST(DottedQuad, ConvertsBothWays) {
  auto bytes = TIdStack::TextToAddress("010.001.000.255");
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 4>{10, 1, 0, 255}));
  EXPECT_EQ(TIdStack::AddressToText(bytes), "10.1.0.255");
  EXPECT_EQ(TIdStack::ParseDottedQuad("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_THROW(TIdStack::TextToAddress("1.x.3.4"), EIdException);
}

TEST(SplitFirst, TakesTheHeadAndKeepsTheRest) {
  std::string text = "a.b.c";
  EXPECT_EQ(TIdStack::SplitFirst(text, '.'), "a");
  EXPECT_EQ(text, "b.c");
  text = "abc";
  EXPECT_EQ(TIdStack::SplitFirst(text, '.'), "abc");
  EXPECT_EQ(text, "");
}

TEST(SocketErrorText, GivesEveryTableTextExactly) {
  const std::pair<int, const char*> table[] = {
      {10004, "Interrupted system call."},
      {10009, "Bad file number."},
      {10013, "Access denied."},
      {10014, "Bad address."},
      {10022, "Invalid argument."},
      {10024, "Too many open files."},
      {10035, "Operation would block. "},
      {10036, "Operation now in progress."},
      {10037, "Operation already in progress."},
      {10038, "Socket operation on non-socket."},
      {10039, "Destination address required."},
      {10040, "Message too long."},
      {10041, "Protocol wrong type for socket."},
      {10042, "Bad protocol option."},
      {10043, "Protocol not supported."},
      {10044, "Socket type not supported."},
      {10045, "Operation not supported on socket."},
      {10046, "Protocol family not supported."},
      {10047, "Address family not supported by protocol family."},
      {10048, "Address already in use."},
      {10049, "Cannot assign requested address."},
      {10050, "Network is down."},
      {10051, "Network is unreachable."},
      {10052, "Net dropped connection or reset."},
      {10053, "Software caused connection abort."},
      {10054, "Connection reset by peer."},
      {10055, "No buffer space available."},
      {10056, "Socket is already connected."},
      {10057, "Socket is not connected."},
      {10058, "Cannot send or receive after socket is closed."},
      {10059, "Too many references, cannot splice."},
      {10060, "Connection timed out."},
      {10061, "Connection refused."},
      {10062, "Too many levels of symbolic links."},
      {10063, "File name too long."},
      {10064, "Host is down."},
      {10065, "No route to host."},
      {10066, "Directory not empty"},
  };
  for (const auto& [code, text] : table)
    EXPECT_EQ(SocketErrorText(code), "Socket Error # " + std::to_string(code) + "\r\n" + text);
  EXPECT_EQ(SocketErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
  for (int code : {11001, 11002, 11003, 11004, 10000, 10067, 0})
    EXPECT_EQ(SocketErrorText(code), "Socket Error # " + std::to_string(code) + "\r\n");
}

TEST(SocketErrorCodes, MapErrnoAndResolverResultsOntoWinsockCodes) {
  const std::pair<int, int> errnos[] = {
      {ECONNREFUSED, 10061}, {EADDRINUSE, 10048}, {ESHUTDOWN, 10058}, {EPIPE, 10058},
      {ECONNRESET, 10054},   {ETIMEDOUT, 10060},  {EWOULDBLOCK, 10035}, {EINTR, 10004},
      {ENOTSOCK, 10038},     {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051}, {ENOTCONN, 10057},
      {EADDRNOTAVAIL, 10049}, {EMFILE, 10024},    {EBADF, 10009},     {ENOTEMPTY, 10066},
  };
  for (auto [err, code] : errnos) EXPECT_EQ(WinsockCodeFromErrno(err), code) << err;
  // Linux numbers that happen to equal a Berkeley number must not borrow its text.
  EXPECT_EQ(WinsockCodeFromErrno(ENODATA), kUnmappedErrnoBase + ENODATA);
  EXPECT_EQ(SocketErrorTableText(WinsockCodeFromErrno(ENODATA)), std::string());

  const std::pair<int, int> resolver[] = {
      {EAI_NONAME, 11001}, {EAI_AGAIN, 11002}, {EAI_FAIL, 11003}, {EAI_NODATA, 11004}};
  for (auto [eai, code] : resolver) EXPECT_EQ(WinsockCodeFromResolver(eai, 0), code) << eai;
  EXPECT_EQ(WinsockCodeFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(SocketError, CarriesCodeAndMessage) {
  TIdTCPConnection c;
  try {
    GStack().ThrowSocketError(10048);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10048);
    EXPECT_STREQ(e.what(), "Socket Error # 10048\r\nAddress already in use.");
  }
  EXPECT_FALSE(GStack().CheckSocketResult(0));
  errno = 0;
}

TEST(LookupHost, AnswersLocalhostInAnyCaseWithoutALookup) {
  FaultyStackScope faulty;
  TIdTCPConnection c;
  for (const char* name : {"localhost", "LOCALHOST", "LocalHost", "lOcAlHoSt"})
    EXPECT_EQ(GStack().LookupHost(name), "127.0.0.1") << name;
  EXPECT_EQ(GStack().LookupHost("10.0.0.7"), "10.0.0.7");
  EXPECT_EQ(FaultyStack::Lookups.load(), 0);
}

TEST(SockSelect, Takes64SocketsAndRefuses65) {
  TIdTCPConnection c;
  std::vector<int> sockets;
  for (int i = 0; i < 65; ++i) sockets.push_back(::socket(AF_INET, SOCK_STREAM, 0));
  std::vector<int> list(sockets.begin(), sockets.begin() + 64);
  EXPECT_NO_THROW(GStack().SockSelect(&list, nullptr, nullptr, 0));
  list = sockets;
  try {
    GStack().SockSelect(&list, nullptr, nullptr, 0);
    ADD_FAILURE() << "65 sockets passed";
  } catch (const EIdStackSetSizeExceeded& e) {
    EXPECT_STREQ(e.what(), "Set Size Exceeded.");
  }
  for (int s : sockets) ::close(s);
}

TEST(SockSelect, KeepsOnlyReadySockets) {
  TIdTCPConnection c;
  int pair1[2], pair2[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair1), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair2), 0);
  ASSERT_EQ(::write(pair2[1], "x", 1), 1);
  std::vector<int> list{pair1[0], pair2[0]};
  EXPECT_EQ(GStack().SockSelect(&list, nullptr, nullptr, 1000), 1);
  EXPECT_EQ(list, std::vector<int>{pair2[0]});
  list = {pair1[0]};
  EXPECT_EQ(GStack().SockSelect(&list, nullptr, nullptr, 10), 0);
  EXPECT_TRUE(list.empty());
  for (int fd : {pair1[0], pair1[1], pair2[0], pair2[1]}) ::close(fd);
}

TEST(Stack, IsSharedByComponentsAndLivesUntilTheLastIsGone) {
  ASSERT_EQ(StackUsers(), 0);
  EXPECT_EQ(StackInstance(), nullptr);
  auto a = std::make_unique<TIdTCPConnection>();
  TIdStack* stack = StackInstance();
  ASSERT_NE(stack, nullptr);
  auto b = std::make_unique<TIdTCPConnection>();
  EXPECT_EQ(StackInstance(), stack);
  EXPECT_EQ(StackUsers(), 2);
  a.reset();
  EXPECT_EQ(StackInstance(), stack);
  EXPECT_EQ(StackUsers(), 1);
  b.reset();
  EXPECT_EQ(StackInstance(), nullptr);
  EXPECT_EQ(StackUsers(), 0);
  EXPECT_THROW(GStack(), EIdStackError);
}

TEST(SocketHandle, ReleasesOnceAndStartsEachOpenFromNoSocket) {
  TIdTCPConnection c;
  TIdSocketHandle h;
  EXPECT_FALSE(h.HasSocket());
  EXPECT_EQ(h.SocketNumber(), -1);
  int before = OpenDescriptorCount();
  h.OpenSocket(SOCK_STREAM, 0);
  EXPECT_TRUE(h.HasSocket());
  h.OpenSocket(SOCK_STREAM, 0);  // the first socket is released, not leaked
  EXPECT_TRUE(h.HasSocket());
  EXPECT_EQ(OpenDescriptorCount(), before + 1);
  EXPECT_TRUE(h.ReleaseSocket());
  EXPECT_FALSE(h.ReleaseSocket());
  EXPECT_FALSE(h.HasSocket());
  EXPECT_EQ(h.SocketNumber(), -1);
  // Without a socket a wait ends the connection and sends and receives fail as after a close.
  EXPECT_THROW(h.WaitReadable(0), EIdConnClosedGracefully);
  char b = 0;
  EXPECT_EQ(h.SendFrom(&b, 1), -1);
  EXPECT_EQ(GStack().LastSocketError(), WSAESHUTDOWN);
}

TEST(SocketHandle, BindingAnAddressInUseRaisesCouldNotBind) {
  TIdTCPConnection c;
  TIdSocketHandle first, second;
  first.OpenSocket(SOCK_STREAM, 0);
  first.SetIP("127.0.0.1");
  first.BindLocal();
  EXPECT_EQ(first.IP(), "127.0.0.1");
  ASSERT_NE(first.Port(), 0);
  second.OpenSocket(SOCK_STREAM, 0);
  second.SetIP("127.0.0.1");
  second.SetPort(first.Port());
  try {
    second.BindLocal();
    FAIL();
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_TRUE(second.HasSocket()) << "a failure leaves the socket to its owner";
}

TEST(SocketHandle, ANumberAWaitStillUsesIsNotReusedAfterTheClose) {
  FaultyStackScope faulty;
  TIdTCPConnection owner;
  TIdSocketHandle h;
  h.OpenSocket(SOCK_STREAM, 0);
  const int old = h.SocketNumber();
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  FaultyStack::SelectHook = [&] {
    entered.set_value();
    released.wait();
  };
  std::thread waiter([&] {
    try {
      h.WaitReadable(WaitForever);
    } catch (const EIdException&) {
    }
  });
  entered.get_future().wait();  // the wait has the number in hand
  EXPECT_TRUE(h.ReleaseSocket());
  EXPECT_FALSE(h.HasSocket());
  std::vector<int> fresh;
  for (int i = 0; i < 8; ++i) fresh.push_back(::socket(AF_INET, SOCK_STREAM, 0));
  for (int s : fresh) EXPECT_NE(s, old) << "closed under a waiting call";
  release.set_value();
  waiter.join();
  FaultyStack::SelectHook = nullptr;
  for (int s : fresh) ::close(s);
  EXPECT_EQ(::fcntl(old, F_GETFD), -1) << "closed once the wait let go";
}
