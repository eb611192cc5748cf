#include "ApplianceSim.h"

#include "ApplianceFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

std::string encodeReply(const Appliance& a) {
    std::string r(35, '\0');
    r[1] = '\x80';
    r[3] = static_cast<char>(a.acceptance);
    r[6] = static_cast<char>(a.model);
    for (int i = 0; i < 4; ++i)
        r[8 + i] = static_cast<char>(a.ip[i]);
    for (int i = 0; i < 6; ++i)
        r[14 + i] = static_cast<char>(a.mac[i]);
    for (int i = 0; i < 4; ++i)
        r[20 + i] = i < static_cast<int>(a.name.size()) ? a.name[i] : ' ';
    for (int i = 0; i < 6; ++i)
        r[24 + i] = static_cast<char>(a.version[i]);
    const auto t = static_cast<std::uint32_t>(a.uptime);
    for (int i = 0; i < 4; ++i)
        r[31 + i] = static_cast<char>(t >> (24 - 8 * i));
    return r;
}

std::vector<Appliance> sampleAppliances(int n) {
    std::vector<Appliance> list;
    for (int i = 0; i < n; ++i) {
        Appliance a;
        a.model = 1 + i % 19;
        a.ip = {192, 168, 1, static_cast<std::uint8_t>(1 + i % 254)};
        a.mac = {0x00, 0x80, 0x45, static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8),
                 static_cast<std::uint8_t>(i)};
        a.name = std::string(1, static_cast<char>('A' + i % 26)) + "S" + std::to_string(100 + i % 900).substr(1);
        a.uptime = 3600 * (i + 1) + 61 * i;
        list.push_back(a);
    }
    return list;
}

bool isDiscoveryRequest(const std::string& d) {
    return d.size() == 32 && d.compare(0, 5, std::string("\x00\xFF\x00\x01\x20", 5)) == 0;
}

ApplianceSim::ApplianceSim(std::vector<Appliance> appliances, Options options)
    : appliances_(std::move(appliances)), options_(std::move(options)) {
    if (!options_.file.empty())
        file_ = std::make_unique<ApplianceFile>(options_.file, options_.fileDefaults);
}

ApplianceSim::~ApplianceSim() { stop(); }

bool ApplianceSim::start(std::string* error) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    // The arrival time the system stamps, not when this thread got round to reading.
    ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    int size = 1 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(options_.port));
    ::inet_pton(AF_INET, options_.bindAddress.c_str(), &local.sin_addr);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        if (error)
            *error = std::string("cannot bind UDP ") + options_.bindAddress + ":" +
                     std::to_string(options_.port) + ": " + std::strerror(errno);
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void ApplianceSim::stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::vector<SeenRequest> ApplianceSim::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void ApplianceSim::run() {
    std::vector<Pending> pending;
    int requestNo = 0;
    while (!stop_) {
        auto now = std::chrono::steady_clock::now();
        // Send what is due, in order of due time.
        std::sort(pending.begin(), pending.end(), [](auto& a, auto& b) { return a.due < b.due; });
        std::size_t sent = 0;
        for (; sent < pending.size() && pending[sent].due <= now; ++sent) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = pending[sent].address;
            to.sin_port = pending[sent].port;
            ::sendto(fd_, pending[sent].bytes.data(), pending[sent].bytes.size(), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof to);
            ++replies_;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(sent));

        int waitMs = 20;
        if (!pending.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().due - now);
            waitMs = static_cast<int>(std::clamp<long>(left.count(), 0, 20));
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            continue;

        char data[4096];
        char control[256];
        sockaddr_in from{};
        iovec iov{data, sizeof data};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd_, &msg, 0);
        if (n < 0)
            continue;
        SeenRequest seen;
        seen.at = std::chrono::steady_clock::now();
        const auto wallNow = std::chrono::system_clock::now();
        seen.bytes.assign(data, static_cast<std::size_t>(n));
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        seen.from = text;
        seen.fromPort = ntohs(from.sin_port);
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                auto* info = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c));
                ::inet_ntop(AF_INET, &info->ipi_addr, text, sizeof text);
                seen.to = text;
            } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                const auto arrived = std::chrono::system_clock::time_point(
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(
                        std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
                seen.at -= std::chrono::duration_cast<std::chrono::steady_clock::duration>(wallNow - arrived);
            }
        if (!isDiscoveryRequest(seen.bytes))
            continue;
        const bool loopback = (ntohl(from.sin_addr.s_addr) >> 24) == 127;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(seen);
        }
        if ((!loopback && !options_.anyPeer) || (!options_.onlyTo.empty() && !options_.onlyTo.count(seen.to)))
            continue;
        ++requestNo;
        if (file_)
            appliances_ = file_->read(seen.at);
        for (const auto& a : appliances_) {
            if (!a.answers.empty() && !a.answers.count(requestNo))
                continue;
            std::string reply = a.raw.empty() ? encodeReply(a) : a.raw;
            if (a.cutAt >= 0 && a.cutAt < static_cast<int>(reply.size()))
                reply.resize(static_cast<std::size_t>(a.cutAt));
            for (int k = 0; k < a.repeat; ++k)
                pending.push_back({seen.at + std::chrono::milliseconds(a.delayMs), reply,
                                   from.sin_addr.s_addr, from.sin_port});
        }
    }
}
