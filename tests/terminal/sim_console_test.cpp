// The simulated appliance's console through qterm's telnet engine, and its web page.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ApplianceServices.h"
#include "LoopbackServer.h"
#include "QueueDispatcher.h"
#include "TIdTelnet.h"
#include "cp932.h"

using namespace std::chrono_literals;

namespace {

Appliance applianceAt(std::uint8_t last) {
    Appliance a = sampleAppliances(1).front();
    a.ip = {127, 0, 2, last};
    return a;
}

} // namespace

TEST(SimConsole, SessionThroughTheTelnetEngine) {
    Appliance a = applianceAt(1);
    ApplianceServices services({a}, {});
    std::string error;
    ASSERT_TRUE(services.start(&error)) << error;

    TIdQueueDispatcher window;
    TIdTelnet telnet;
    telnet.SetDispatcher(&window);
    std::string screen;
    telnet.OnDataAvailable = [&](const std::string& b) { screen += b; };
    telnet.Host = "127.0.2.1";
    telnet.Port = 2323;
    telnet.OpenConnection();
    auto shows = [&](const std::string& utf8) {
        const std::string want = cp932::fromUtf8(utf8);
        return window.RunUntil([&] { return screen.find(want) != std::string::npos; }, 5s);
    };
    ASSERT_TRUE(shows("コンソールへようこそ (端末: dumb)")) << cp932::toUtf8(screen);
    EXPECT_EQ(services.terminalTypes(), std::vector<std::string>{"dumb"});

    for (char c : std::string("status\r")) telnet.SendChar(c);
    ASSERT_TRUE(shows("IPアドレス: 127.0.2.1\r\n")) << cp932::toUtf8(screen);
    for (char c : std::string("nosuch\r")) telnet.SendChar(c);
    ASSERT_TRUE(shows("不明なコマンドです: nosuch")) << cp932::toUtf8(screen);
    for (char c : std::string("exit\r")) telnet.SendChar(c);
    ASSERT_TRUE(window.RunUntil([&] { return !telnet.ReaderRunning(); }, 5s));
    EXPECT_NE(screen.find(cp932::fromUtf8("さようなら")), std::string::npos);
    EXPECT_FALSE(telnet.IsConnected());
}

TEST(SimConsole, WebPage) {
    Appliance a = applianceAt(2);
    ApplianceServices services({a}, {});
    ASSERT_TRUE(services.start());
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(8080);
    ::inet_pton(AF_INET, "127.0.2.2", &sa.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    SendAll(fd, "GET / HTTP/1.1\r\nHost: 127.0.2.2:8080\r\n\r\n");
    std::string reply = ReadUntilClosed(fd);
    ::close(fd);
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_NE(reply.find("charset=Shift_JIS"), std::string::npos);
    EXPECT_NE(reply.find("<h1>" + a.name + "</h1>"), std::string::npos);
    EXPECT_NE(reply.find("127.0.2.2"), std::string::npos);
}

TEST(SimConsole, RefusesAddressesOffLoopback) {
    Appliance a = sampleAppliances(1).front();  // 192.168.1.x
    ApplianceServices services({a}, {});
    std::string error;
    EXPECT_FALSE(services.start(&error));
    EXPECT_NE(error.find("not a loopback address"), std::string::npos);
}
