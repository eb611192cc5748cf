// A whole session with a real telnet server: the system's telnetd, started for one
// connection on a loopback port with a fixed command script in place of a login.
#include "TIdTelnet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "QueueDispatcher.h"
#include "../../require.h"

using namespace std::chrono_literals;

namespace {

const char* kTelnetd = "/usr/sbin/telnetd";

// The program telnetd runs instead of login: it answers three fixed commands and nothing
// else, so the open port never offers a shell.
const char* kScript = R"SH(#!/bin/sh
echo "TERM=$TERM"
while IFS= read -r line; do
  case "$line" in
    hello) echo "hello from telnetd" ;;
    sum) echo "1 + 2 = $((1 + 2))" ;;
    quit) exit 0 ;;
    *) echo "unknown command" ;;
  esac
done
)SH";

// Listens on 127.0.0.1, accepts one connection and execs telnetd on it.
class OneShotTelnetd {
 public:
  explicit OneShotTelnetd(const std::string& program) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(FListen, 1) != 0)
      throw std::runtime_error("cannot listen on loopback");
    socklen_t len = sizeof sa;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&sa), &len);
    FPort = ntohs(sa.sin_port);
    FAccept = std::thread([this, program] {
      int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      posix_spawn_file_actions_t fa;
      posix_spawn_file_actions_init(&fa);
      for (int to : {0, 1, 2}) posix_spawn_file_actions_adddup2(&fa, c, to);
      std::string exec = program;
      char* argv[] = {const_cast<char*>(kTelnetd), const_cast<char*>("-h"), const_cast<char*>("-E"),
                      exec.data(), nullptr};
      pid_t pid = -1;
      if (posix_spawn(&pid, kTelnetd, &fa, nullptr, argv, environ) == 0) FPid = pid;
      posix_spawn_file_actions_destroy(&fa);
      ::close(c);
    });
  }
  ~OneShotTelnetd() {
    ::shutdown(FListen, SHUT_RDWR);
    FAccept.join();
    ::close(FListen);
    if (FPid > 0) {
      // Normally it has ended with the session; a stuck one is ended here.
      for (int i = 0; i < 50 && ::waitpid(FPid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(20ms);
      if (::waitpid(FPid, nullptr, WNOHANG) == 0) {
        ::kill(FPid, SIGTERM);
        ::waitpid(FPid, nullptr, 0);
      }
    }
  }
  int Port() const { return FPort; }

 private:
  int FListen = -1;
  int FPort = 0;
  std::atomic<pid_t> FPid{-1};
  std::thread FAccept;
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

TEST(RealTelnetd, WholeSession) {
  if (::access(kTelnetd, X_OK) != 0) {
    QLX_SKIP_OR_FAIL(std::string(kTelnetd) + " is not installed (package inetutils-telnetd)");
  }

  char dir[] = "/tmp/qterm-telnetd-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string program = std::string(dir) + "/session.sh";
  std::ofstream(program) << kScript;
  ::chmod(program.c_str(), 0700);

  OneShotTelnetd server(program);
  TIdQueueDispatcher window;
  TIdTelnet telnet;
  telnet.SetRecvBufferSize(8192);
  telnet.SetDispatcher(&window);
  std::string screen;
  std::atomic<bool> closed{false};
  telnet.OnDataAvailable = [&](const std::string& b) { screen += b; };
  telnet.OnDisconnected = [&](TIdComponent*) { closed = true; };
  telnet.Host = "127.0.0.1";
  telnet.Port = server.Port();
  telnet.OpenConnection();

  auto waitFor = [&](const std::string& text) {
    return window.RunUntil([&] { return lower(screen).find(lower(text)) != std::string::npos; }, 10s);
  };
  // telnetd only starts the program once our terminal type has reached it.
  ASSERT_TRUE(waitFor("TERM=dumb")) << screen;
  EXPECT_TRUE(telnet.ServerIsTelnet());

  auto type = [&](const std::string& line) {
    for (char c : line) telnet.SendChar(c);
    telnet.SendChar('\r');
  };
  type("hello");
  ASSERT_TRUE(waitFor("hello from telnetd\r\n")) << screen;
  type("sum");
  ASSERT_TRUE(waitFor("1 + 2 = 3\r\n")) << screen;
  // No telnet command is left in the text, and the lines come as CR LF.
  EXPECT_EQ(screen.find('\xff'), std::string::npos);

  type("quit");
  ASSERT_TRUE(window.RunUntil([&] { return !telnet.ReaderRunning(); }, 10s)) << screen;
  // The program's end ends the session: telnetd closes, the reader notices and ends.
  EXPECT_TRUE(closed);
  EXPECT_FALSE(telnet.IsConnected());

  ::unlink(program.c_str());
  ::rmdir(dir);
}
