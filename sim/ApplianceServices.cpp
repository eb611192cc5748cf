#include "ApplianceServices.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "cp932.h"

namespace {

enum : unsigned char { SE = 240, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255 };
enum : unsigned char { Echo = 1, Sga = 3, TerminalType = 24 };

using cp932::sj;

void sendAll(int fd, const std::string& b) {
    std::size_t at = 0;
    while (at < b.size()) {
        ssize_t n = ::send(fd, b.data() + at, b.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        at += static_cast<std::size_t>(n);
    }
}

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v)
        s.push_back(static_cast<char>(b));
    return s;
}

// The server side of the telnet stream: strips commands and keeps what the console needs
// (the client's agreement to send its terminal type, and the type itself).
struct ServerParser {
    enum class S { Data, Command, Option, Sb, SbIac } state = S::Data;
    unsigned char verb = 0;
    std::string sb;
    bool willTerminalType = false;
    bool haveTerminalType = false;
    std::string terminalType;

    std::string feed(const char* p, std::size_t n) {
        std::string text;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(p[i]);
            switch (state) {
            case S::Data:
                if (b == IAC) state = S::Command;
                else text.push_back(static_cast<char>(b));
                break;
            case S::Command:
                if (b == IAC) { text.push_back(static_cast<char>(b)); state = S::Data; }
                else if (b >= WILL && b <= DONT) { verb = b; state = S::Option; }
                else if (b == SB) { sb.clear(); state = S::Sb; }
                else state = S::Data;
                break;
            case S::Option:
                if (verb == WILL && b == TerminalType) willTerminalType = true;
                state = S::Data;
                break;
            case S::Sb:
                if (b == IAC) state = S::SbIac;
                else sb.push_back(static_cast<char>(b));
                break;
            case S::SbIac:
                if (b == SE) {
                    if (sb.size() >= 2 && static_cast<unsigned char>(sb[0]) == TerminalType && sb[1] == 0) {
                        terminalType = sb.substr(2);
                        haveTerminalType = true;
                    }
                    state = S::Data;
                } else if (b == IAC) {
                    sb.push_back(static_cast<char>(b));
                    state = S::Sb;
                } else {
                    state = S::Data;
                }
                break;
            }
        }
        return text;
    }
};

std::string uptimeText(std::int32_t s) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%05d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

std::string macText(const Appliance& a) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", a.mac[0], a.mac[1], a.mac[2], a.mac[3],
                  a.mac[4], a.mac[5]);
    return buf;
}

std::string versionText(const Appliance& a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d.%02d%c (%d.%d.%d)", a.version[0], a.version[1], a.version[2], a.version[3],
                  a.version[4], a.version[5]);
    return buf;
}

int listenOn(const std::string& address, int port, std::string* error) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 8) != 0) {
        if (error)
            *error = "cannot listen on TCP " + address + ":" + std::to_string(port);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string addressText(const Appliance& a) {
    return std::to_string(a.ip[0]) + "." + std::to_string(a.ip[1]) + "." + std::to_string(a.ip[2]) + "." +
           std::to_string(a.ip[3]);
}

std::string consoleGreeting(const Appliance& a, const std::string& terminalType) {
    return "\r\n" + a.name + sj(" コンソールへようこそ (端末: ") + (terminalType.empty() ? "?" : terminalType) +
           ")\r\n" + sj("help でコマンドの一覧を表示します。") + "\r\n> ";
}

std::string consoleAnswer(const Appliance& a, const std::string& command, bool& end) {
    end = false;
    if (command.empty())
        return "> ";
    if (command == "help")
        return sj("コマンド: help status version uptime exit") + "\r\n> ";
    if (command == "status")
        return sj("装置名: ") + a.name + "\r\n" + sj("IPアドレス: ") + addressText(a) + "\r\n" +
               sj("MACアドレス: ") + macText(a) + "\r\n> ";
    if (command == "version")
        return sj("ファームウェア: ") + versionText(a) + "\r\n> ";
    if (command == "uptime")
        return sj("稼働時間: ") + uptimeText(a.uptime) + "\r\n> ";
    if (command == "exit" || command == "quit") {
        end = true;
        return sj("さようなら") + "\r\n";
    }
    return sj("不明なコマンドです: ") + command + "\r\n> ";
}

std::string appliancePage(const Appliance& a) {
    return "<!DOCTYPE html>\r\n<html lang=\"ja\"><head><meta charset=\"Shift_JIS\"><title>" + a.name +
           "</title></head>\r\n<body><h1>" + a.name + "</h1>\r\n<table>" + "<tr><th>" + sj("IPアドレス") +
           "</th><td>" + addressText(a) + "</td></tr>" + "<tr><th>" + sj("MACアドレス") + "</th><td>" +
           macText(a) + "</td></tr>" + "<tr><th>" + sj("ファームウェア") + "</th><td>" + versionText(a) +
           "</td></tr>" + "<tr><th>" + sj("稼働時間") + "</th><td>" + uptimeText(a.uptime) +
           "</td></tr></table>\r\n</body></html>\r\n";
}

ApplianceServices::ApplianceServices(std::vector<Appliance> appliances, Options options)
    : appliances_(std::move(appliances)), options_(options) {}

ApplianceServices::~ApplianceServices() { stop(); }

bool ApplianceServices::start(std::string* error) {
    for (std::size_t i = 0; i < appliances_.size(); ++i) {
        const Appliance& a = appliances_[i];
        if (a.ip[0] != 127) {
            if (error)
                *error = "appliance address " + addressText(a) + " is not a loopback address";
            stop();
            return false;
        }
        for (bool telnet : {true, false}) {
            int fd = listenOn(addressText(a), telnet ? options_.telnetPort : options_.webPort, error);
            if (fd < 0) {
                stop();
                return false;
            }
            listeners_.push_back({fd, i, telnet});
        }
    }
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        if (error)
            *error = "cannot make a pipe";
        stop();
        return false;
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void ApplianceServices::stop() {
    stop_ = true;
    if (wake_[1] >= 0) {
        ::close(wake_[1]);
        wake_[1] = -1;
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (int fd : sessionFds_)
            ::shutdown(fd, SHUT_RDWR);  // ends each session's wait
    }
    for (auto& t : sessions_)
        if (t.joinable())
            t.join();
    sessions_.clear();
    for (auto& l : listeners_)
        ::close(l.fd);
    listeners_.clear();
    if (wake_[0] >= 0) {
        ::close(wake_[0]);
        wake_[0] = -1;
    }
}

std::vector<std::string> ApplianceServices::terminalTypes() const {
    std::lock_guard<std::mutex> g(mutex_);
    return terminalTypes_;
}

void ApplianceServices::acceptLoop() {
    std::vector<pollfd> fds;
    fds.push_back({wake_[0], POLLIN, 0});
    for (auto& l : listeners_)
        fds.push_back({l.fd, POLLIN, 0});
    while (!stop_) {
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents)
            return;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            int c = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            const Listener& l = listeners_[i - 1];
            const Appliance& a = appliances_[l.appliance];
            std::lock_guard<std::mutex> g(mutex_);
            sessionFds_.push_back(c);
            sessions_.emplace_back([this, c, &a, telnet = l.telnet] {
                if (telnet)
                    serveConsole(c, a);
                else
                    serveWeb(c, a);
                std::lock_guard<std::mutex> g2(mutex_);
                std::erase(sessionFds_, c);
                ::close(c);
            });
        }
    }
}

void ApplianceServices::serveConsole(int fd, const Appliance& a) {
    ServerParser in;
    sendAll(fd, bytes({IAC, DO, TerminalType, IAC, WILL, Echo, IAC, WILL, Sga}));
    char buf[1024];
    // Wait a moment for the terminal type; a client that does not negotiate still gets in.
    bool asked = false;
    std::string pending;
    auto waitUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.terminalTypeWaitMs);
    while (!in.haveTerminalType && !stop_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(waitUntil - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        pending += in.feed(buf, static_cast<std::size_t>(n));
        if (in.willTerminalType && !asked) {
            sendAll(fd, bytes({IAC, SB, TerminalType, 1, IAC, SE}));
            asked = true;
        }
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        terminalTypes_.push_back(in.terminalType);
    }
    sendAll(fd, consoleGreeting(a, in.terminalType));

    // Line editing with echo: CR (alone, or with LF or NUL behind it) or LF ends a line.
    std::string line;
    bool afterCr = false;
    auto handle = [&](const std::string& text) -> bool {
        for (char c : text) {
            if (afterCr && (c == '\n' || c == '\0')) {
                afterCr = false;
                continue;
            }
            afterCr = false;
            if (c == '\r' || c == '\n') {
                afterCr = c == '\r';
                sendAll(fd, "\r\n");
                bool end = false;
                sendAll(fd, consoleAnswer(a, line, end));
                line.clear();
                if (end)
                    return false;
            } else if (c == '\b' || c == 0x7F) {
                if (!line.empty()) {
                    line.pop_back();
                    sendAll(fd, "\b \b");
                }
            } else if (static_cast<unsigned char>(c) >= 0x20) {
                line.push_back(c);
                sendAll(fd, std::string(1, c));
            }
        }
        return true;
    };
    if (!handle(pending))
        return;
    while (!stop_) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        if (!handle(in.feed(buf, static_cast<std::size_t>(n))))
            return;
    }
}

void ApplianceServices::serveWeb(int fd, const Appliance& a) {
    std::string request;
    char buf[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        request.append(buf, static_cast<std::size_t>(n));
    }
    const std::string page = appliancePage(a);
    const bool get = request.rfind("GET ", 0) == 0;
    const std::string head = get ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 405 Method Not Allowed\r\n";
    const std::string body = get ? page : std::string();
    sendAll(fd, head + "Content-Type: text/html; charset=Shift_JIS\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    ::shutdown(fd, SHUT_WR);
}
