#include "NMUDP.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "cp932.h"

namespace {

// The counterpart of the "would block" code that the endpoint tolerates.
constexpr int kTolerated = EWOULDBLOCK;
constexpr std::size_t kMaxHostName = 130;
// Room for a /20 answering at once (about 1 KiB kernel cost a datagram); the kernel
// doubles it.
constexpr int kReceiveBuffer = 4 << 20;

}  // namespace

// The window-thread side: the read notifier of the current socket and a context object
// on which a finished lookup is delivered.
// Notifiers are children of the context, so whatever is still pending goes with it.
struct TNMUDP::Notify {
    QObject context;
    QSocketNotifier* reader = nullptr;

    // The old notifier may be the one whose signal is running right now.
    void dropReader() {
        if (!reader)
            return;
        reader->setEnabled(false);
        reader->deleteLater();
        reader = nullptr;
    }
};

std::optional<std::string> socketErrorText(int code, int tolerated) {
    if ((code & tolerated) == tolerated)
        return std::nullopt;
    return code == 0 ? std::string() : "Unknown Error No. " + std::to_string(code);
}

std::string bindErrorText(int code, int port) {
    // CP932, like the finder's other texts. No full stop: the error box adds one.
    if (code == EADDRINUSE)
        return cp932::sj("UDP ポート ") + std::to_string(port) + cp932::sj(" は他のプログラムが使用中です");
    return socketErrorText(code, 0).value_or(std::string());
}

TNMUDP::TNMUDP() : receiveBuffer(kReceiveBuffer), notify_(std::make_unique<Notify>()) {
    ReportLevel = 1;
    ReportStatus(8, "Initializing Winsock");
    makeSocket();
    initialised_ = true;
}

TNMUDP::~TNMUDP() {
    notify_.reset();
    if (socket_ >= 0)
        ::close(socket_);
}

void TNMUDP::makeSocket() {
    notify_->dropReader();
    if (socket_ >= 0)
        ::close(socket_);
    // Non-blocking, so a stale notification can never stall the window thread.
    constexpr int type = SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC;
    socket_ = openSocket ? openSocket(AF_INET, type, 0) : ::socket(AF_INET, type, 0);
    if (socket_ < 0) {
        CheckSocketError(kTolerated);
        return;
    }
    // Linux refuses datagrams to a broadcast address without this option.
    int on = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    int size = receiveBuffer;
    if (::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

void TNMUDP::setLocalPort(int port) {
    makeSocket();
    localPort_ = port;
    bindSocket();
}

void TNMUDP::Loaded() { bindSocket(); }

void TNMUDP::bindSocket() {
    notify_->dropReader();
    bindError_ = 0;
    if (socket_ < 0)
        return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<std::uint16_t>(localPort_));
    // A port in use leaves the socket unbound, without a report; the code is kept.
    bindError_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 ? 0 : errno;
    notify_->reader = new QSocketNotifier(socket_, QSocketNotifier::Read, &notify_->context);
    QObject::connect(notify_->reader, &QSocketNotifier::activated, &notify_->context,
                     [this] {
                         if (initialised_)
                             receiveWaiting();
                     });
}

int TNMUDP::boundPort() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (socket_ < 0 || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

void TNMUDP::SendDatagram(const char* buffer, int length) {
    std::string repaired;
    if (length == 0) {
        bool handled = false;
        if (OnBufferInvalid) {
            OnBufferInvalid(handled, repaired, length);
            buffer = repaired.data();
            // Never read past what the handler supplied.
            length = std::min<int>(length, static_cast<int>(repaired.size()));
        }
        if (!handled || length <= 0)
            throw std::runtime_error("Invalid buffer");
    }
    if (length < 0)
        throw std::runtime_error("Invalid buffer");
    const std::uint32_t address = ResolveRemote();
    if (address == 0)
        throw UDPSockError("Null Remote Address");
    ReportStatus(2, "Sending Data");
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(RemotePort));
    remote.sin_addr.s_addr = address;
    // A failed send is neither reported nor repeated; its code is kept for the caller.
    iovec data{const_cast<char*>(buffer), static_cast<std::size_t>(length)};
    msghdr message{};
    message.msg_name = &remote;
    message.msg_namelen = sizeof remote;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (OutInterface > 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = OutInterface;
        if (!OutSource.empty())
            ::inet_pton(AF_INET, OutSource.c_str(), &info.ipi_spec_dst);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    sendError_ = socket_ < 0 ? EBADF : ::sendmsg(socket_, &message, 0) < 0 ? errno : 0;
    if (OnDataSend)
        OnDataSend(*this);
}

std::uint32_t TNMUDP::ResolveRemote() {
    const std::string name = RemoteHost.substr(0, kMaxHostName);
    in_addr_t direct = ::inet_addr(name.c_str());
    if (direct != INADDR_NONE)
        return direct;
    if (auto found = lookup(name))
        return *found;
    bool handled = false;
    if (OnInvalidHost)
        OnInvalidHost(handled);
    if (!handled)
        throw UDPSockError("Host Lookup Canceled");
    if (auto found = lookup(name))
        return *found;
    throw UDPSockError("Host Lookup Canceled");
}

// Looks the name up on a worker thread and keeps the window's loop running meanwhile;
// the completion is delivered to the window thread as an event.
std::optional<std::uint32_t> TNMUDP::lookup(const std::string& name) {
    struct Result {
        bool ok = false;
        std::uint32_t address = 0;
    };
    auto result = std::make_shared<Result>();
    bool done = false;
    QObject* context = &notify_->context;
    std::thread worker([name, result, context, &done] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* list = nullptr;
        if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) == 0 && list) {
            result->ok = true;
            result->address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
            ::freeaddrinfo(list);
        }
        QMetaObject::invokeMethod(context, [&done] { done = true; }, Qt::QueuedConnection);
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    if (!result->ok)
        return std::nullopt;
    return result->address;
}

void TNMUDP::ReceiveDatagram() { receiveOne(true); }

// A burst fills the socket faster than one notification per datagram empties it: read
// what is already waiting in one go, for a few milliseconds at most so the loop stays
// responsive (the handler's cost grows with the rows listed).
void TNMUDP::receiveWaiting() {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(4);
    const int socket = socket_;
    if (!receiveOne(true))
        return;
    while (socket_ == socket && Clock::now() < until && receiveOne(false)) {
    }
}

bool TNMUDP::receiveOne(bool reportFailure) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = ::recvfrom(socket_, buffer_, sizeof buffer_, 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 && !reportFailure)
        return false;
    receivedLength_ = n < 0 ? -1 : static_cast<int>(n);
    if (!OnDataReceived)
        return n >= 0;
    const auto* a = reinterpret_cast<const unsigned char*>(&from.sin_addr.s_addr);
    std::string fromIP = std::to_string(a[0]) + "." + std::to_string(a[1]) + "." +
                         std::to_string(a[2]) + "." + std::to_string(a[3]);
    OnDataReceived(*this, receivedLength_, fromIP, ntohs(from.sin_port));
    return n >= 0;
}

void TNMUDP::CopyReceived(std::string& stream) const {
    if (receivedLength_ < 0)
        throw std::runtime_error(cp932::fromUtf8("ストリームへの書き込みエラー"));
    stream.append(buffer_, static_cast<std::size_t>(receivedLength_));
}

void TNMUDP::ReportStatus(int level, const std::string& text) {
    if (level > ReportLevel)
        return;
    lastStatus_ = text;
    if (OnStatus)
        OnStatus(*this, text);
}

void TNMUDP::CheckSocketError(int tolerated) {
    ReportStatus(16, "Checking Error In Error Manager");
    lastError_ = errno;
    auto text = socketErrorText(lastError_, tolerated);
    if (!text)
        return;
    ReportStatus(8, "Looking Up Error Message" + *text);
    if (OnError)
        OnError(*this, lastError_, *text);
    throw UDPSockError(*text);
}
