#pragma once
// Tests that aim a request where no route leads (a documentation address) first make sure
// that it does lead nowhere: only then is the attempt harmless.
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

inline bool unroutable(const char* address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(15580);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    const bool none = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno == ENETUNREACH;
    ::close(fd);
    return none;
}
