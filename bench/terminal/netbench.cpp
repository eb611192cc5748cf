// netbench [megabytes]: a loopback server streams the given amount (200 MB by default) to
// - a bare blocking recv loop, and
// - a TIdTCPClient whose reader thread calls ReadAvailable each pass, as the terminal's does,
// each three times in turn, and prints MB/s. Then a reader waits on an idle connection for 5 s
// and its thread CPU time is printed. Run it inside a private network namespace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "IdException.h"
#include "IdTCPClient.h"
#include "IdThread.h"
#include "loopback.h"

namespace {

using Clock = std::chrono::steady_clock;

// Accepts one connection and streams total bytes to it, then closes.
std::thread Streamer(int listener, std::size_t total) {
  return std::thread([listener, total] {
    int c = ::accept(listener, nullptr, nullptr);
    std::vector<char> block(65536, 'x');
    std::size_t sent = 0;
    while (sent < total) {
      ssize_t n = ::send(c, block.data(), std::min(block.size(), total - sent), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += std::size_t(n);
    }
    ::close(c);
  });
}

double CpuMs(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Wall-clock rate and rate per CPU second of the receiving thread; the second is what a
// machine shared with other work still measures fairly.
struct Rate {
  double wall = 0;
  double cpu = 0;
};

double MBps(std::size_t bytes, Clock::duration d) {
  return double(bytes) / 1e6 / std::chrono::duration<double>(d).count();
}

Rate BareRecv(std::size_t total, int bufferSize) {
  int port;
  int listener = listenOnLoopback(port);
  std::thread server = Streamer(listener, total);
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(std::uint16_t(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  std::vector<char> buf(static_cast<std::size_t>(bufferSize));
  std::size_t got = 0;
  auto start = Clock::now();
  double cpuStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
  ssize_t n;
  while ((n = ::recv(s, buf.data(), buf.size(), 0)) > 0) got += std::size_t(n);
  auto took = Clock::now() - start;
  double cpu = CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
  ::close(s);
  server.join();
  ::close(listener);
  if (got != total) std::fprintf(stderr, "bare loop got %zu of %zu bytes\n", got, total);
  return {MBps(got, took), double(got) / 1e3 / cpu};
}

// The terminal's reader pass without the window hand-off: read what came, check for the end.
class CountingReader : public TIdThread {
 public:
  explicit CountingReader(TIdTCPClient& c) : FClient(c) {}
  std::size_t Bytes = 0;
  std::atomic<bool> Waiting{false};
  std::atomic<clockid_t> CpuClock{};

 protected:
  void BeforeLoop() override {
    clockid_t id;
    pthread_getcpuclockid(pthread_self(), &id);
    CpuClock = id;
  }
  void AfterLoop() override { CpuUsedMs = CpuMs(CLOCK_THREAD_CPUTIME_ID); }

 public:
  double CpuUsedMs = 0;

 protected:
  void RunOnce() override {
    Waiting = true;
    Bytes += FClient.ReadAvailable().size();
    FClient.CheckPeerClosed(true, false);
  }

 private:
  TIdTCPClient& FClient;
};

Rate ReaderLoop(std::size_t total, int bufferSize) {
  int port;
  int listener = listenOnLoopback(port);
  std::thread server = Streamer(listener, total);
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = port;
  client.SetRecvBufferSize(bufferSize);
  client.OpenConnection();
  CountingReader reader(client);
  auto start = Clock::now();
  TIdThreadLink link = reader.Start();
  link.WaitForEnd();
  auto took = Clock::now() - start;
  server.join();
  ::close(listener);
  if (reader.Bytes != total)
    std::fprintf(stderr, "reader got %zu of %zu bytes\n", reader.Bytes, total);
  return {MBps(reader.Bytes, took), double(reader.Bytes) / 1e3 / reader.CpuUsedMs};
}

void IdleReader() {
  int port;
  int listener = listenOnLoopback(port);
  std::thread server([listener] {
    int c = ::accept(listener, nullptr, nullptr);
    char b;
    while (::recv(c, &b, 1, 0) > 0) {
    }
    ::close(c);
  });
  TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = port;
  client.SetRecvBufferSize(8192);
  client.OpenConnection();
  CountingReader reader(client);
  TIdThreadLink link = reader.Start();
  while (!reader.Waiting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // inside its wait now
  double before = CpuMs(reader.CpuClock);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  double after = CpuMs(reader.CpuClock);
  link.RequestStop();
  client.CloseConnection();  // wakes the wait
  link.WaitForEnd();
  server.join();
  ::close(listener);
  std::printf("idle connection, 5 s: reader thread CPU %.3f ms (goal < 1 ms)\n", after - before);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t mb = argc > 1 ? std::size_t(std::atol(argv[1])) : 200;
  std::size_t total = mb * 1000 * 1000;
  std::printf("receive path over loopback, %zu MB per run, best of 5 runs each, taken in turn\n",
              mb);
  for (int size : {8192, 32768}) {
    Rate bare, reader;
    for (int round = 0; round < 5; ++round) {
      Rate b = BareRecv(total, size), r = ReaderLoop(total, size);
      bare = {std::max(bare.wall, b.wall), std::max(bare.cpu, b.cpu)};
      reader = {std::max(reader.wall, r.wall), std::max(reader.cpu, r.cpu)};
    }
    std::printf("  %5d-byte receives, MB/s:        bare recv %8.1f, ReadAvailable reader %8.1f,"
                " ratio %.2f (goal >= 0.90)\n",
                size, bare.wall, reader.wall, reader.wall / bare.wall);
    std::printf("  %5d-byte receives, MB/CPU-s:    bare recv %8.1f, ReadAvailable reader %8.1f,"
                " ratio %.2f\n",
                size, bare.cpu, reader.cpu, reader.cpu / bare.cpu);
  }
  IdleReader();
  return 0;
}
