#pragma once
// The finder's UDP endpoint: sends one datagram to RemoteHost:RemotePort and reports
// every datagram that reaches its local port as an event on the window thread.
// A new socket is made on every LocalPort assignment, so anything queued in the old
// one is dropped. No Qt types here; the notifications use the window thread's loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

class UDPSockError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The error text for a socket error code, or nothing when every bit of `tolerated`
// is set in the code (the tolerance test). Code 0 gives an empty text.
std::optional<std::string> socketErrorText(int code, int tolerated);

// What a failed bind of `port` means to the user: a port held by another program named
// as such (in Japanese, CP932), any other code as the socket error text.
std::string bindErrorText(int code, int port);

class TNMUDP {
public:
    static constexpr int kBufferSize = 2048;

    TNMUDP();
    ~TNMUDP();
    TNMUDP(const TNMUDP&) = delete;
    TNMUDP& operator=(const TNMUDP&) = delete;

    std::string RemoteHost;  // dotted address or host name
    int RemotePort = 0;
    int ReportLevel = 1;
    // The interface the next datagrams leave by (its index; 0: the routing table decides)
    // and the source address they carry then (dotted; empty: the interface's own). Two
    // interfaces on one subnet share a route, which would send everything out of the first.
    int OutInterface = 0;
    std::string OutSource;

    // Closes the socket and binds a new one, on every assignment.
    void setLocalPort(int port);
    int localPort() const { return localPort_; }
    // Binds the socket in place again (after the window's set-up is applied).
    void Loaded();

    void SendDatagram(const char* buffer, int length);
    // Appends the last received datagram; fails when the receive failed.
    void CopyReceived(std::string& stream) const;
    int receivedLength() const { return receivedLength_; }

    void ReportStatus(int level, const std::string& text);
    const std::string& lastStatus() const { return lastStatus_; }
    // Throws UDPSockError for the last socket error unless it passes the tolerance test.
    void CheckSocketError(int tolerated);

    // Reads one datagram and raises OnDataReceived (-1 bytes when nothing could be read);
    // run for every read notification.
    void ReceiveDatagram();

    // The port the socket is bound to (0 when unbound).
    int boundPort() const;
    // The error code of the last bind (0 when it succeeded). The endpoint itself goes on
    // unbound; a caller that needs the port looks here.
    int bindError() const { return bindError_; }
    // The error code of the last send (0 when the socket took the datagram). The endpoint
    // neither reports nor repeats a failed send; a caller that must know looks here.
    int sendError() const { return sendError_; }

    // The receive buffer each new socket asks for (bytes); beyond the system's limit only
    // where the process may (SO_RCVBUFFORCE).
    int receiveBuffer;
    // Makes the sockets (::socket); tests put a failing one in.
    std::function<int(int domain, int type, int protocol)> openSocket;

    std::function<void(TNMUDP& sender, int numberBytes, const std::string& fromIP, int port)>
        OnDataReceived;
    std::function<void(TNMUDP& sender)> OnDataSend;
    std::function<void(bool& handled)> OnInvalidHost;
    std::function<void(bool& handled, std::string& buffer, int& length)> OnBufferInvalid;
    std::function<void(TNMUDP& sender, const std::string& status)> OnStatus;
    std::function<void(TNMUDP& sender, int code, const std::string& text)> OnError;

private:
    struct Notify;

    void makeSocket();
    void receiveWaiting();
    bool receiveOne(bool reportFailure);
    void bindSocket();
    std::uint32_t ResolveRemote();
    std::optional<std::uint32_t> lookup(const std::string& name);

    char buffer_[kBufferSize] = {};
    int receivedLength_ = 0;
    int localPort_ = 0;
    int socket_ = -1;
    int lastError_ = 0;
    int bindError_ = 0;
    int sendError_ = 0;
    bool initialised_ = false;
    std::string lastStatus_;
    std::unique_ptr<Notify> notify_;
};
