#include "DiscoveryRun.h"

#include <algorithm>
#include <chrono>
#include <thread>

std::vector<SearchNetwork> searchNetworks(AddressSource& source, const SearchTargets& targets,
                                          LocalAddress* first) {
    LocalAddress local;
    std::vector<SearchNetwork> out;
    auto add = [&](const std::string& address, std::string broadcast) {
        const Octets octets = splitOctets(address);
        if (broadcast.empty())
            broadcast = broadcastHost(octets);
        for (const auto& n : out)
            if (n.local == octets && n.broadcast == broadcast)
                return;
        if (out.empty())
            local.address = address;
        out.push_back({octets, broadcast});
    };
    if (!targets.allNetworks && targets.addresses.size() <= 1) {
        // The one network of the first local address, or of the one address named.
        local = chooseLocalAddress(source, targets.addresses.empty() ? std::string() : targets.addresses[0]);
        const Octets octets = splitOctets(local.address);
        out.push_back({octets, broadcastHost(octets)});
    } else {
        local.hostName = source.hostName();
        if (targets.allNetworks)
            for (const auto& i : source.interfaces())
                if (i.up && !i.loopback && !i.broadcast.empty() && !isLoopback(i.address))
                    add(i.address, i.broadcast);
        for (const auto& a : targets.addresses)
            add(a, {});
    }
    if (first)
        *first = local;
    return out;
}

DiscoveryRun::DiscoveryRun(TNMUDP& endpoint, RunTimer& timer, DeviceGrid& grid, RunRows& rows,
                     AddressSource& addresses, int finalWaitMs)
    : endpoint_(endpoint), timer_(timer), grid_(grid), rows_(rows), addresses_(addresses),
      finalWaitMs_(finalWaitMs) {}

void DiscoveryRun::start() {
    Memo1.clear();
    models.clear();
    FoundCount = 0;
    SendsLeft = 2;
    bindReplyPort();
    LocalAddress local;
    networks = searchNetworks(addresses_, targets, &local);
    Panel1 = local.hostName;
    Panel2 = local.address;
    LocalOctets = networks.empty() ? Octets{} : networks.front().local;
    SendData();
    if (!timer_.active())
        timer_.start();
    // Sending and emptying run in one handler, so no reply is handled before the rows are empty.
    for (int row = 1; row < grid_.rowCount(); ++row)
        for (int c = 0; c < DeviceGrid::kColumns; ++c)
            grid_.setCell(c, row, {});
    rows_.rowsChanged(0);
}

DiscoveryRun::Step DiscoveryRun::tick() {
    timer_.stop();
    if (SendsLeft > 0) {
        --SendsLeft;
        SendData();
        timer_.start();
        return Step::Sent;
    }
    // Replies still arriving now are dropped with the socket when the port is given up.
    std::this_thread::sleep_for(std::chrono::milliseconds(finalWaitMs_));
    return Step::Ended;
}

void DiscoveryRun::release() { endpoint_.setLocalPort(0); }

void DiscoveryRun::abort() {
    timer_.stop();
    try {
        endpoint_.setLocalPort(0);
    } catch (...) {
        // The error being reported already says what is wrong with the sockets.
    }
}

// A new socket on port 9010; a port another program holds ends the run instead of
// letting it search deaf and report "nothing found".
void DiscoveryRun::bindReplyPort() {
    endpoint_.setLocalPort(kReplyPort);
    if (int code = endpoint_.bindError())
        throw UDPSockError(bindErrorText(code, kReplyPort));
}

// One round: every network gets its request from the one socket, so replies from the
// first network are not dropped by a socket change before the last request is out.
void DiscoveryRun::SendData() {
    endpoint_.ReportLevel = 2;
    endpoint_.RemotePort = kDiscoveryPort;
    bindReplyPort();
    for (const auto& n : networks) {
        const auto request = discoveryRequest(n.local);
        endpoint_.RemoteHost = n.broadcast;
        endpoint_.SendDatagram(reinterpret_cast<const char*>(request.data()),
                               static_cast<int>(request.size()));
    }
}

void DiscoveryRun::received(TNMUDP& sender, int numberBytes, const std::string& fromIP, int port) {
    std::string stream;
    sender.CopyReceived(stream);
    stream.resize(std::min<std::size_t>(stream.size(), static_cast<std::size_t>(std::max(numberBytes, 0))));
    const std::string hex = hexText(stream);
    // A flood must not grow the log without end; the newest lines are the useful ones.
    while (Memo1.size() + 2 > kLogLines)
        Memo1.pop_front();
    Memo1.push_back(std::to_string(port) + " " + fromIP);
    Memo1.push_back(hex);
    data_chk(fromIP, hex);
}

void DiscoveryRun::data_chk(const std::string& /*fromIP*/, const std::string& hex) {
    if (int row = addReply(grid_, FoundCount, hex, Decode, &index_)) {
        models[grid_.cell(3, row)] = replyModel(hex);
        rows_.rowsChanged(row);
    }
}
