#include "ApplianceFile.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <sstream>

ApplianceFile::ApplianceFile(std::string path, Appliance defaults)
    : path_(std::move(path)), defaults_(std::move(defaults)) {}

bool parseApplianceLine(const std::string& line, Appliance& a, long long& uptime) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::string mac, ip, name;
    if (!(in >> mac >> ip >> name >> uptime))
        return false;
    unsigned m[6];
    char end = 0;
    if (std::sscanf(mac.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &end) != 6)
        return false;
    in_addr address{};
    if (::inet_pton(AF_INET, ip.c_str(), &address) != 1)
        return false;
    int model = a.model;
    if (in >> model && (model < 0 || model > 255))
        return false;
    for (int i = 0; i < 6; ++i)
        a.mac[i] = static_cast<std::uint8_t>(m[i]);
    const std::uint32_t host = ntohl(address.s_addr);
    for (int i = 0; i < 4; ++i)
        a.ip[i] = static_cast<std::uint8_t>(host >> (24 - 8 * i));
    a.name = name.substr(0, 4);
    a.model = model;
    return true;
}

std::vector<Appliance> ApplianceFile::read(std::chrono::steady_clock::time_point now) {
    std::vector<Appliance> list;
    std::ifstream file(path_);
    std::string line;
    while (std::getline(file, line)) {
        Appliance a = defaults_;
        long long uptime = 0;
        if (!parseApplianceLine(line, a, uptime))
            continue;
        auto r = running_.find(a.mac);
        if (r == running_.end() || r->second.value != uptime)
            r = running_.insert_or_assign(a.mac, Running{uptime, now}).first;
        const long long counted =
            uptime + std::chrono::duration_cast<std::chrono::seconds>(now - r->second.since).count();
        a.uptime = static_cast<std::int32_t>(counted);
        list.push_back(std::move(a));
    }
    return list;
}
