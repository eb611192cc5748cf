#include "DiscoveryRun.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <unordered_set>

namespace {

std::string dotted(const Octets& o) {
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." +
           std::to_string(o[3]);
}

}  // namespace

std::vector<SearchNetwork> searchNetworks(AddressSource& source, const SearchTargets& targets,
                                          LocalAddress* first) {
    LocalAddress local;
    std::vector<SearchNetwork> out;
    const std::vector<InterfaceAddress> interfaces = source.interfaces();
    // The interface that holds an address, so its requests leave by it.
    auto holder = [&](const std::string& address) {
        for (const auto& i : interfaces)
            if (i.up && i.address == address)
                return i.index;
        return 0;
    };
    auto add = [&](const std::string& address, std::string broadcast, int index) {
        const Octets octets = splitOctets(address);
        if (broadcast.empty())
            broadcast = broadcastHost(octets);
        for (const auto& n : out)
            if (n.local == octets && n.broadcast == broadcast)
                return;
        if (out.empty())
            local.address = address;
        out.push_back({octets, broadcast, index});
    };
    if (!targets.allNetworks && targets.addresses.size() <= 1) {
        // The one network of the first local address, or of the one address named.
        local = chooseLocalAddress(source, targets.addresses.empty() ? std::string() : targets.addresses[0]);
        const Octets octets = splitOctets(local.address);
        out.push_back({octets, broadcastHost(octets), holder(dotted(octets))});
    } else {
        local.hostName = source.hostName();
        if (targets.allNetworks)
            for (const auto& i : interfaces)
                if (i.up && !i.loopback && !i.broadcast.empty() && !isLoopback(i.address))
                    add(i.address, i.broadcast, i.index);
        for (const auto& a : targets.addresses)
            add(a, {}, holder(dotted(splitOctets(a))));
    }
    if (first)
        *first = local;
    return out;
}

std::vector<ProbeTarget> probeTargets(AddressSource& source, const std::vector<ProbeRange>& probes) {
    std::vector<ProbeTarget> out;
    std::unordered_set<std::string> seen;
    for (const auto& range : probes)
        for (const auto& address : probeAddresses({range})) {
            if (!seen.insert(address).second)
                continue;
            const RouteSource route = source.routeTo(address);
            out.push_back({address, splitOctets(route.address), route.error, range.text});
        }
    return out;
}

DiscoveryRun::DiscoveryRun(TNMUDP& endpoint, RunTimer& timer, RunTimer& pacer, DeviceGrid& grid, RunRows& rows,
                           AddressSource& addresses, int finalWaitMs)
    : endpoint_(endpoint), timer_(timer), pacer_(pacer), grid_(grid), rows_(rows), addresses_(addresses),
      finalWaitMs_(finalWaitMs) {}

void DiscoveryRun::start() {
    Memo1.clear();
    models.clear();
    FoundCount = 0;
    SendsLeft = 2;
    Sent = Failed = 0;
    told_.clear();
    firstFailure_.clear();
    clearQueue();
    bindReplyPort();
    LocalAddress local;
    networks = searchNetworks(addresses_, targets, &local);
    probes = probeTargets(addresses_, targets.probes);
    Panel1 = local.hostName;
    Panel2 = local.address;
    LocalOctets = networks.empty() ? Octets{} : networks.front().local;
    SendData();
    if (!timer_.active())
        timer_.start();
    // Sending and emptying run in one handler, so no reply is handled before the rows are empty.
    clearRows(grid_, FoundCount, index_);
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
    // The last round's unicast requests are not all out yet: their replies would come
    // during the final wait, so the run ends at a later tick.
    if (!queue_.empty()) {
        timer_.start();
        return Step::Sent;
    }
    // Replies still arriving now are dropped with the socket when the port is given up.
    std::this_thread::sleep_for(std::chrono::milliseconds(finalWaitMs_));
    return Step::Ended;
}

void DiscoveryRun::release() {
    clearQueue();
    endpoint_.setLocalPort(0);
}

void DiscoveryRun::abort() {
    timer_.stop();
    clearQueue();
    try {
        endpoint_.setLocalPort(0);
    } catch (...) {
        // The error being reported already says what is wrong with the sockets.
    }
}

void DiscoveryRun::clearQueue() {
    queue_.clear();
    recent_.clear();
    pacer_.stop();
}

std::string DiscoveryRun::nothingSentText() const {
    return "No discovery request could be sent: " + firstFailure_;
}

// A new socket on port 9010; a port another program holds ends the run instead of
// letting it search deaf and report "nothing found".
void DiscoveryRun::bindReplyPort() {
    endpoint_.setLocalPort(kReplyPort);
    if (int code = endpoint_.bindError())
        throw UDPSockError(bindErrorText(code, kReplyPort));
}

// One round: every network gets its request from the one socket, so replies from the
// first network are not dropped by a socket change before the last request is out. The
// unicast requests follow at the pace's rate, from the same socket.
void DiscoveryRun::SendData() {
    endpoint_.ReportLevel = 2;
    endpoint_.RemotePort = kDiscoveryPort;
    bindReplyPort();
    for (const auto& n : networks)
        send(n.broadcast, n.local, n.interfaceIndex, "network of " + dotted(n.local));
    for (std::size_t i = 0; i < probes.size(); ++i) {
        if (probes[i].routeError) {
            ++Failed;
            failed(probes[i].address, "probe " + probes[i].range, probes[i].routeError);
        } else {
            queue_.push_back(i);
        }
    }
    pace();
}

void DiscoveryRun::pace() {
    const auto now = clock();
    while (!recent_.empty() && now - recent_.front() >= kPacePeriod)
        recent_.pop_front();
    while (!queue_.empty() && recent_.size() < kPaceBurst) {
        const ProbeTarget& p = probes[queue_.front()];
        queue_.pop_front();
        recent_.push_back(now);
        send(p.address, p.local, 0, "probe " + p.range);
    }
    if (queue_.empty())
        pacer_.stop();
    else if (!pacer_.active())
        pacer_.start();
}

void DiscoveryRun::send(const std::string& to, const Octets& local, int interfaceIndex, const std::string& label) {
    const auto request = discoveryRequest(local);
    endpoint_.RemoteHost = to;
    endpoint_.OutInterface = interfaceIndex;
    endpoint_.OutSource = interfaceIndex ? dotted(local) : std::string();
    endpoint_.SendDatagram(reinterpret_cast<const char*>(request.data()), static_cast<int>(request.size()));
    if (int code = endpoint_.sendError()) {
        ++Failed;
        failed(to, label, code);
    } else {
        ++Sent;
    }
}

void DiscoveryRun::failed(const std::string& to, const std::string& label, int code) {
    const std::string text = std::strerror(code);
    if (firstFailure_.empty())
        firstFailure_ = text;
    if (!told_.insert(label + "\n" + text).second)
        return;
    const std::string line = "request to " + to + " (" + label + ") not sent: " + text;
    log({line});
    if (OnSendFailed)
        OnSendFailed(line);
}

void DiscoveryRun::log(std::initializer_list<std::string> lines) {
    // A flood must not grow the log without end; the newest lines are the useful ones.
    while (!Memo1.empty() && Memo1.size() + lines.size() > kLogLines)
        Memo1.pop_front();
    Memo1.insert(Memo1.end(), lines.begin(), lines.end());
}

void DiscoveryRun::received(TNMUDP& sender, int numberBytes, const std::string& fromIP, int port) {
    std::string stream;
    sender.CopyReceived(stream);
    stream.resize(std::min<std::size_t>(stream.size(), static_cast<std::size_t>(std::max(numberBytes, 0))));
    const std::string hex = hexText(stream);
    log({std::to_string(port) + " " + fromIP, hex});
    data_chk(fromIP, hex);
}

void DiscoveryRun::data_chk(const std::string& /*fromIP*/, const std::string& hex) {
    if (int row = addReply(grid_, FoundCount, hex, Decode, &index_)) {
        models[grid_.cell(3, row)] = replyModel(hex);
        rows_.rowsChanged(row);
    }
}
