#pragma once
// Which local IPv4 address the finder searches from. The host-name lookup comes first;
// on Linux it usually yields a loopback address (127.0.1.1), which can never reach an
// appliance, so then the first non-loopback address of an interface that is up is taken.
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
};

class AddressSource {
public:
    virtual ~AddressSource() = default;
    virtual std::string hostName() = 0;
    virtual HostLookup lookup(const std::string& name) = 0;
    virtual std::vector<InterfaceAddress> interfaces() = 0;
};

// gethostname, the resolver and getifaddrs.
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
