#include "LocalAddress.h"

#include <arpa/inet.h>
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

std::uint32_t addressOf(const sockaddr* a) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr);
}

// The interface's broadcast address. An address added without one ("ip addr add
// 10.78.1.1/16") reports its own address there; the network's last address is meant.
std::string broadcastOf(const ifaddrs& i) {
    const std::uint32_t own = addressOf(i.ifa_addr);
    std::uint32_t broadcast = 0;
    if (i.ifa_broadaddr && i.ifa_broadaddr->sa_family == AF_INET)
        broadcast = addressOf(i.ifa_broadaddr);
    if ((broadcast == 0 || broadcast == own) && i.ifa_netmask && i.ifa_netmask->sa_family == AF_INET) {
        const std::uint32_t mask = addressOf(i.ifa_netmask);
        broadcast = mask == 0xFFFFFFFFu ? 0 : own | ~mask;
    }
    if (broadcast == 0 || broadcast == own)
        return {};
    sockaddr_in b{};
    b.sin_family = AF_INET;
    b.sin_addr.s_addr = htonl(broadcast);
    return dotted(reinterpret_cast<const sockaddr*>(&b));
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
                a.broadcast = broadcastOf(*i);
            a.name = i->ifa_name ? i->ifa_name : "";
            out.push_back(std::move(a));
        }
        ::freeifaddrs(list);
        return out;
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
    for (const auto& i : source.interfaces())
        if (i.up && !i.loopback && !isLoopback(i.address)) {
            local.address = i.address;
            return local;
        }
    local.address = first.empty() ? "127.0.0.1" : first;
    return local;
}
