#pragma once
// The benchmarks' loopback server side: a listener on a free port and a send-it-all.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline int listenOnLoopback(int& port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 4) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    socklen_t len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    return s;
}

inline void sendAll(int fd, const std::string& b) {
    std::size_t at = 0;
    while (at < b.size()) {
        ssize_t n = ::send(fd, b.data() + at, b.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        at += static_cast<std::size_t>(n);
    }
}
