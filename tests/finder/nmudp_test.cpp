#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "NMUDP.h"
#include "cp932.h"
#include "portlock.h"

namespace {

struct Received {
    int bytes;
    std::string from;
    int port;
    std::string data;
};

// A plain socket on loopback for the other end.
class Peer {
public:
    explicit Peer(int port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() { ::close(fd_); }
    bool bound() const { return bound_; }
    int port() const { return port_; }
    void sendTo(int port, const std::string& data) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(data.size()));
    }
    // Waits up to `ms` for one datagram.
    std::string receive(int ms = 1000) {
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n < 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
    }

private:
    int fd_ = -1;
    int port_ = 0;
    bool bound_ = false;
};

class Endpoint : public ::testing::Test {
protected:
    void SetUp() override {
        udp.OnDataReceived = [this](TNMUDP& s, int n, const std::string& ip, int port) {
            std::string data;
            if (n >= 0)
                s.CopyReceived(data);
            got.push_back({n, ip, port, data});
        };
    }
    // Lets queued notifications run.
    void pump(int ms = 100) { QTest::qWait(ms); }

    PortLock ports;
    TNMUDP udp;
    std::vector<Received> got;
};

}  // namespace

TEST_F(Endpoint, DatagramRaisesTheEventWithCountSenderAndPort) {
    udp.setLocalPort(0);
    Peer peer;
    peer.sendTo(udp.boundPort(), std::string(40, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !got.empty(); }, 2000));
    EXPECT_EQ(got[0].bytes, 40);
    EXPECT_EQ(got[0].from, "127.0.0.1");
    EXPECT_EQ(got[0].port, peer.port());
    EXPECT_EQ(got[0].data, std::string(40, 'x'));
}

TEST_F(Endpoint, AtMost2048BytesOfADatagramAreRead) {
    udp.setLocalPort(0);
    Peer peer;
    peer.sendTo(udp.boundPort(), std::string(3000, 'y'));
    peer.sendTo(udp.boundPort(), std::string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.size() == 2; }, 2000));
    EXPECT_EQ(got[0].bytes, 2048);
    EXPECT_EQ(got[1].bytes, 0);
}

TEST_F(Endpoint, RebindDropsQueuedDatagramsAlsoForTheSamePort) {
    Peer peer;
    // Assigning the value it already has (0, then 9010) still makes a new socket.
    for (int port : {0, 9010}) {
        udp.setLocalPort(port);
        peer.sendTo(udp.boundPort(), "queued");
        usleep(50 * 1000);  // the datagram sits in the socket; no event handled yet
        udp.setLocalPort(port);
        pump();
        EXPECT_TRUE(got.empty()) << port;
    }
    peer.sendTo(9010, "fresh");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !got.empty(); }, 2000));
    EXPECT_EQ(got[0].data, "fresh");
    EXPECT_EQ(got.size(), 1u);
}

TEST_F(Endpoint, PortTakenByAnotherProgramGivesNoErrorAndNoDatagram) {
    Peer other(9010);
    ASSERT_TRUE(other.bound());
    EXPECT_NO_THROW(udp.setLocalPort(9010));
    Peer peer;
    peer.sendTo(9010, "for the other one");
    pump(200);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(other.receive(), "for the other one");
}

TEST_F(Endpoint, SendReachesTheRemoteFromTheLocalPort) {
    Peer target;
    udp.setLocalPort(9010);
    udp.RemoteHost = "127.0.0.1";
    udp.RemotePort = target.port();
    int sent = 0;
    udp.OnDataSend = [&](TNMUDP&) { ++sent; };
    udp.SendDatagram("hello", 5);
    EXPECT_EQ(target.receive(), "hello");
    EXPECT_EQ(sent, 1);
}

TEST_F(Endpoint, SendErrors) {
    udp.setLocalPort(0);
    udp.RemotePort = 15580;
    udp.RemoteHost = "0.0.0.0";
    try {
        udp.SendDatagram("x", 1);
        ADD_FAILURE() << "no error";
    } catch (const UDPSockError& e) {
        EXPECT_STREQ(e.what(), "Null Remote Address");
    }
    udp.RemoteHost = "127.0.0.1";
    try {
        udp.SendDatagram("x", 0);
        ADD_FAILURE() << "no error";
    } catch (const UDPSockError&) {
        ADD_FAILURE() << "wrong class";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Invalid buffer");
    }
}

TEST_F(Endpoint, BufferInvalidHandlerCanRepairTheSend) {
    Peer target;
    udp.setLocalPort(0);
    udp.RemoteHost = "127.0.0.1";
    udp.RemotePort = target.port();
    udp.OnBufferInvalid = [](bool& handled, std::string& buffer, int& length) {
        buffer = "fixed";
        length = 5;
        handled = true;
    };
    udp.SendDatagram("", 0);
    EXPECT_EQ(target.receive(), "fixed");
    // A handler that claims more than it supplied does not make the send over-read.
    udp.OnBufferInvalid = [](bool& handled, std::string& buffer, int& length) {
        buffer = "ab";
        length = 1000;
        handled = true;
    };
    udp.SendDatagram("", 0);
    EXPECT_EQ(target.receive(), "ab");
}

TEST_F(Endpoint, HostNamesAreLookedUpAndFailuresAskOnce) {
    Peer target;
    udp.setLocalPort(0);
    udp.RemotePort = target.port();
    udp.RemoteHost = "localhost";
    udp.SendDatagram("named", 5);
    EXPECT_EQ(target.receive(), "named");

    udp.RemoteHost = "no-such-host.invalid";
    int asked = 0;
    udp.OnInvalidHost = [&](bool& handled) {
        ++asked;
        handled = false;
    };
    try {
        udp.SendDatagram("x", 1);
        ADD_FAILURE() << "no error";
    } catch (const UDPSockError& e) {
        EXPECT_STREQ(e.what(), "Host Lookup Canceled");
    }
    EXPECT_EQ(asked, 1);
    // Handled: the name is tried once more, then the error comes.
    udp.OnInvalidHost = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_THROW(udp.SendDatagram("x", 1), UDPSockError);
    EXPECT_EQ(asked, 2);
}

// A read notification with nothing to read (a stale one) gives -1 and no datagram to copy.
TEST_F(Endpoint, FailedReceiveReportsMinusOneAndCopyFails) {
    udp.setLocalPort(0);
    udp.ReceiveDatagram();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, -1);
    EXPECT_EQ(udp.receivedLength(), -1);
    std::string data;
    try {
        udp.CopyReceived(data);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(cp932::toUtf8(e.what()), "ストリームへの書き込みエラー");
    }
    EXPECT_TRUE(data.empty());
}

TEST(EndpointErrors, ToleranceTestAndTexts) {
    struct Case {
        int code;
        const char* text;  // nullptr: tolerated
    } cases[] = {{10035, nullptr}, {10043, nullptr}, {10047, nullptr}, {10036, "Unknown Error No. 10036"},
                 {10054, "Unknown Error No. 10054"}, {0, ""}, {24, "Unknown Error No. 24"}};
    for (const auto& c : cases) {
        auto text = socketErrorText(c.code, 10035);
        if (c.text == nullptr)
            EXPECT_FALSE(text.has_value()) << c.code;
        else
            EXPECT_EQ(text.value_or("<tolerated>"), c.text) << c.code;
    }
}

TEST(EndpointErrors, StatusIsReportedUpToTheReportLevel) {
    TNMUDP udp;
    std::vector<std::string> seen;
    udp.OnStatus = [&](TNMUDP&, const std::string& s) { seen.push_back(s); };
    udp.ReportLevel = 2;
    udp.setLocalPort(0);
    udp.RemoteHost = "127.0.0.1";
    udp.RemotePort = 9;
    udp.SendDatagram("x", 1);
    udp.ReportStatus(16, "Checking Error In Error Manager");
    EXPECT_EQ(seen, std::vector<std::string>{"Sending Data"});
    EXPECT_EQ(udp.lastStatus(), "Sending Data");
    udp.ReportLevel = 16;
    udp.ReportStatus(16, "Checking Error In Error Manager");
    EXPECT_EQ(udp.lastStatus(), "Checking Error In Error Manager");
}
