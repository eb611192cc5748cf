#include "LocalAddress.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

namespace {

std::string dotted(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    return text;
}

std::string dottedOf(std::uint32_t hostOrder) {
    in_addr a{};
    a.s_addr = htonl(hostOrder);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// 0 for an empty or malformed text.
std::uint32_t parse(const std::string& dotted) {
    in_addr a{};
    return ::inet_pton(AF_INET, dotted.c_str(), &a) == 1 ? ntohl(a.s_addr) : 0;
}

std::string dottedIf(const sockaddr* a) {
    return a && a->sa_family == AF_INET ? dotted(a) : std::string();
}

// "eth0:1" is an address label on eth0.
int indexOf(const char* name) {
    if (!name)
        return 0;
    std::string device = name;
    device = device.substr(0, device.find(':'));
    return static_cast<int>(::if_nametoindex(device.c_str()));
}

class SystemAddressSource : public AddressSource {
public:
    std::string hostName() override {
        char name[128] = {};
        if (::gethostname(name, sizeof name - 1) != 0)
            return {};
        return name;
    }

    HostLookup lookup(const std::string& name) override {
        HostLookup result;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_CANONNAME;
        addrinfo* list = nullptr;
        if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0)
            return result;
        if (list->ai_canonname)
            result.officialName = list->ai_canonname;
        for (addrinfo* a = list; a; a = a->ai_next) {
            char text[INET_ADDRSTRLEN] = {};
            auto* in = reinterpret_cast<sockaddr_in*>(a->ai_addr);
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            result.addresses.push_back(text);
        }
        ::freeaddrinfo(list);
        return result;
    }

    std::vector<InterfaceAddress> interfaces() override {
        std::vector<InterfaceAddress> out;
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0)
            return out;
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
                continue;
            InterfaceAddress a{dotted(i->ifa_addr), (i->ifa_flags & IFF_UP) != 0,
                               (i->ifa_flags & IFF_LOOPBACK) != 0};
            if (i->ifa_flags & IFF_BROADCAST)
                a.broadcast = interfaceBroadcast(a.address, dottedIf(i->ifa_broadaddr), dottedIf(i->ifa_netmask));
            a.name = i->ifa_name ? i->ifa_name : "";
            a.running = (i->ifa_flags & IFF_RUNNING) != 0;
            a.index = indexOf(i->ifa_name);
            out.push_back(std::move(a));
        }
        ::freeifaddrs(list);
        return out;
    }

    // connect() on a UDP socket only looks the route up; getsockname() then gives the
    // source address the kernel chose. A fresh socket each time: a connected socket keeps
    // its first source address.
    RouteSource routeTo(const std::string& target) override {
        RouteSource r;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(15580);
        if (::inet_pton(AF_INET, target.c_str(), &to.sin_addr) != 1) {
            r.error = EINVAL;
            return r;
        }
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            r.error = errno;
            return r;
        }
        sockaddr_in from{};
        socklen_t len = sizeof from;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&from), &len) != 0)
            r.error = errno;
        else
            r.address = dotted(reinterpret_cast<sockaddr*>(&from));
        ::close(fd);
        return r;
    }
};

}  // namespace

std::unique_ptr<AddressSource> systemAddressSource() {
    return std::make_unique<SystemAddressSource>();
}

bool isDottedQuad(const std::string& text) {
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        const std::size_t start = i;
        int value = 0;
        while (i < text.size() && i - start < 3 && text[i] >= '0' && text[i] <= '9')
            value = value * 10 + (text[i++] - '0');
        if (i == start || value > 255 || (i < text.size() && text[i] >= '0' && text[i] <= '9'))
            return false;
        if (++parts < 4 && (i >= text.size() || text[i++] != '.'))
            return false;
    }
    return i == text.size();
}

bool isLoopback(const std::string& dotted) {
    in_addr a{};
    return ::inet_pton(AF_INET, dotted.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

LocalAddress chooseLocalAddress(AddressSource& source, const std::string& fixed) {
    LocalAddress local;
    const std::string name = source.hostName();
    local.hostName = name;
    // A named address needs no lookup (which might ask a name server off this machine).
    if (!fixed.empty()) {
        local.address = fixed;
        return local;
    }
    HostLookup found = source.lookup(name);
    if (!found.officialName.empty())
        local.hostName = found.officialName;
    const std::string first = found.addresses.empty() ? std::string() : found.addresses.front();
    if (!first.empty() && !isLoopback(first)) {
        local.address = first;
        return local;
    }
    // An interface without a carrier cannot reach anything now; it serves only when no
    // other one is there.
    const auto interfaces = source.interfaces();
    for (bool needRunning : {true, false})
        for (const auto& i : interfaces)
            if (i.up && (i.running || !needRunning) && !i.loopback && !isLoopback(i.address)) {
                local.address = i.address;
                return local;
            }
    local.address = first.empty() ? "127.0.0.1" : first;
    return local;
}

std::string interfaceBroadcast(const std::string& address, const std::string& reported,
                               const std::string& netmask) {
    const std::uint32_t own = parse(address);
    const std::uint32_t mask = netmask.empty() ? 0 : parse(netmask);
    // No network of fewer than four addresses has one, whatever the system reports.
    if (!netmask.empty() && (mask == 0xFFFFFFFFu || mask == 0xFFFFFFFEu))
        return {};
    std::uint32_t broadcast = reported.empty() ? 0 : parse(reported);
    if ((broadcast == 0 || broadcast == own) && !netmask.empty())
        broadcast = own | ~mask;
    if (broadcast == 0 || broadcast == own)
        return {};
    return dottedOf(broadcast);
}
