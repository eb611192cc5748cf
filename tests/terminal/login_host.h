#pragma once
// An appliance's console on loopback for script tests: a login prompt, a password that is
// not echoed, a shell prompt with two commands, and "exit" to end the session. It records
// every byte it receives and how many connections it had.
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "LoopbackServer.h"

class LoginHost {
public:
    static constexpr const char* kUser = "admin";
    static constexpr const char* kPassword = "Pw-7f3e!q";
    // The shown text of a session that logs in, shows the configuration and exits.
    static constexpr const char* kShown =
        "Welcome to AP-1\nlogin: admin\nPassword: \nAP-1$ show config\nhostname AP-1\nvlan 10 name office\n"
        "AP-1$ exit\nbye\n";

    // telnet: the host opens with an option request, so the Enter key is a bare CR.
    explicit LoginHost(bool telnet = false, int connections = 1)
        : telnet_(telnet), server_(std::make_unique<LoopbackServer>([this](int fd) { serve(fd); }, connections)) {}
    ~LoginHost() { server_.reset(); }

    std::string port() const { return std::to_string(server_->Port()); }
    int connections() const { return connections_.load(); }
    std::string received() {
        std::lock_guard<std::mutex> l(m_);
        return in_;
    }

private:
    void record(std::string_view bytes) {
        std::lock_guard<std::mutex> l(m_);
        in_.append(bytes);
    }
    // One line as the client typed it, without its CR and the LF or NUL after it.
    bool readLine(int fd, std::string& line) {
        line.clear();
        char c;
        for (;;) {
            if (::recv(fd, &c, 1, 0) != 1)
                return false;
            record(std::string_view(&c, 1));
            if (c == '\xff') {  // the client's answer to an option request
                char rest[2];
                if (::recv(fd, rest, 2, MSG_WAITALL) != 2)
                    return false;
                record(std::string_view(rest, 2));
                continue;
            }
            if (c == '\r')
                return true;
            if ((c == '\n' || c == '\0') && line.empty() && afterCr_) {
                afterCr_ = false;
                continue;
            }
            line.push_back(c);
            afterCr_ = false;
        }
    }
    bool next(int fd, std::string& line) {
        const bool ok = readLine(fd, line);
        afterCr_ = true;
        return ok;
    }

    void serve(int fd) {
        ++connections_;
        afterCr_ = false;
        std::string line;
        SendAll(fd, std::string(telnet_ ? "\xff\xfb\x01" : "") + "Welcome to AP-1\r\nlogin: ");
        if (!next(fd, line))
            return;
        SendAll(fd, line + "\r\nPassword: ");
        std::string password;
        if (!next(fd, password))
            return;
        SendAll(fd, "\r\n");
        if (line != kUser || password != kPassword) {
            SendAll(fd, "Login incorrect\r\n");
            return;
        }
        for (;;) {
            SendAll(fd, "AP-1$ ");
            if (!next(fd, line))
                return;
            SendAll(fd, line + "\r\n");
            if (line == "exit") {
                SendAll(fd, "bye\r\n");
                ::shutdown(fd, SHUT_WR);
                record(ReadUntilClosed(fd));
                return;
            }
            if (line == "show config")
                SendAll(fd, "hostname AP-1\r\nvlan 10 name office\r\n");
        }
    }

    bool telnet_;
    bool afterCr_ = false;  // the server's thread only
    std::atomic<int> connections_{0};
    std::mutex m_;
    std::string in_;
    std::unique_ptr<LoopbackServer> server_;
};
