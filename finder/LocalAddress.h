#pragma once
// Which local IPv4 address the finder searches from. The host-name lookup comes first;
// on Linux it usually yields a loopback address (127.0.1.1), which can never reach an
// appliance, so then the first non-loopback address of an interface that is up is taken
// (one that is also running, that is has a carrier, before one that is not).
#include <memory>
#include <string>
#include <vector>

struct HostLookup {
    std::string officialName;             // empty when the lookup failed
    std::vector<std::string> addresses;   // dotted IPv4 texts in the lookup's order
};

struct InterfaceAddress {
    std::string address;  // dotted IPv4
    bool up = false;
    bool loopback = false;
    std::string broadcast = {};  // dotted IPv4; empty when the interface has none
    std::string name = {};       // the interface's name ("eth0")
    bool running = true;         // IFF_RUNNING: the link has a carrier
    int index = 0;               // the interface's index; 0 when unknown
};

// Where the route to a target leaves from: the local address the system would send
// from, or the error (errno) that says there is no such route.
struct RouteSource {
    std::string address;  // dotted IPv4; empty on an error
    int error = 0;
};

class AddressSource {
public:
    virtual ~AddressSource() = default;
    virtual std::string hostName() = 0;
    virtual HostLookup lookup(const std::string& name) = 0;
    virtual std::vector<InterfaceAddress> interfaces() = 0;
    // The source address for a datagram to `target` (dotted), as the routing table
    // chooses it. No packet is sent.
    virtual RouteSource routeTo(const std::string& target) = 0;
};

// gethostname, the resolver, getifaddrs and a connected UDP socket for routes.
std::unique_ptr<AddressSource> systemAddressSource();

struct LocalAddress {
    std::string hostName;  // official name of the lookup (else the plain host name)
    std::string address;   // dotted IPv4
};

// `fixed` (the --address option) wins when set. Without any usable address the
// loopback address is taken, so a run still ends normally with nothing found.
LocalAddress chooseLocalAddress(AddressSource& source, const std::string& fixed = {});

bool isLoopback(const std::string& dotted);
// Strict check for the command line: four decimal octets 0-255 (leading zeros allowed,
// as the table shows them), nothing else.
bool isDottedQuad(const std::string& text);

// An interface's broadcast address from its address, the broadcast address the system
// reports (empty: none) and its netmask, all dotted; empty when it has none. An address
// added without one ("ip addr add 10.78.1.1/16") reports its own address there: the
// network's last address is meant. A /31 (a point-to-point link of two addresses) and a
// /32 have no broadcast address, at either end.
std::string interfaceBroadcast(const std::string& address, const std::string& reported,
                               const std::string& netmask);
