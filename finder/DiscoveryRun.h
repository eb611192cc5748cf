#pragma once
// One search run: the requests and their timing, the replies into the grid and the
// final wait. Plain C++, so the window and the command-line scan send the same bytes at
// the same times and apply the same rules; the owner gives it the endpoint, two timers
// and the place where rows show, and turns what the run reports into boxes or output.
#include <chrono>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "DeviceGrid.h"
#include "Discovery.h"
#include "LocalAddress.h"
#include "Probes.h"
#include "net/NMUDP.h"

// A timer of the run; its owner calls the run back when it fires (tick() for the
// one-shot round timer, pace() for the repeating pacing timer).
class RunTimer {
public:
    virtual ~RunTimer() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool active() const = 0;
};

// Where the grid's rows are shown.
class RunRows {
public:
    virtual ~RunRows() = default;
    // The grid row the run wrote (0: any row, or the row count, changed).
    virtual void rowsChanged(int gridRow) = 0;
};

// Which networks a run searches. Empty: the one network of the first local address.
struct SearchTargets {
    std::vector<std::string> addresses;  // each searched with its first three octets and 255
    bool allNetworks = false;            // every broadcast-capable interface at its own address
    std::vector<ProbeRange> probes;      // asked by unicast as well, each address of each range
};

// One network as the run searches it: the address carried in the request, where it goes.
struct SearchNetwork {
    Octets local{};
    std::string broadcast;
    // The interface that holds `local`: its requests leave by it, not by the first route
    // to the subnet. 0: the routing table decides.
    int interfaceIndex = 0;
};

// One address asked by unicast.
struct ProbeTarget {
    std::string address;  // dotted
    Octets local{};       // the address the route to it leaves from, carried in the request
    int routeError = 0;   // errno when there is no route: no request can go to it
    std::string range;    // the probe as given, for messages
};

std::vector<SearchNetwork> searchNetworks(AddressSource& source, const SearchTargets& targets,
                                          LocalAddress* first = nullptr);
// Each address of the probes, once, with the local address of its route.
std::vector<ProbeTarget> probeTargets(AddressSource& source, const std::vector<ProbeRange>& probes);

class DiscoveryRun {
public:
    static constexpr std::size_t kLogLines = 4096;  // the receive log keeps the newest lines
    // Unicast requests leave at most kPaceBurst in any kPacePeriod: 1,000 a second, so a
    // range does not flood the routers and appliances on its way.
    static constexpr std::size_t kPaceBurst = 10;
    static constexpr std::chrono::milliseconds kPacePeriod{10};

    DiscoveryRun(TNMUDP& endpoint, RunTimer& timer, RunTimer& pacer, DeviceGrid& grid, RunRows& rows,
                 AddressSource& addresses, int finalWaitMs);

    SearchTargets targets;
    DecodeRules Decode;  // model-name lines and the test switch

    int SendsLeft = 0;
    int FoundCount = 0;
    Octets LocalOctets{};             // the first network's address
    std::deque<std::string> Memo1;    // receive log, two lines a datagram
    std::string Panel1;               // host name of the run
    std::string Panel2;               // the first network's address as text
    std::vector<SearchNetwork> networks;
    std::vector<ProbeTarget> probes;
    std::unordered_map<std::string, int> models;  // model code by listed MAC

    // Requests of this run the socket took, and those it refused (or that had no route).
    int Sent = 0;
    int Failed = 0;
    // A request that could not go, said once a run for each network (or probe) and
    // socket text: "request to 10.0.0.255 (network of 10.0.0.5) not sent: Network is
    // unreachable". The line also goes into the receive log.
    std::function<void(const std::string& line)> OnSendFailed;
    // The pacing's clock; tests set their own.
    std::function<std::chrono::steady_clock::time_point()> clock = [] { return std::chrono::steady_clock::now(); };

    // Binds port 9010 (an endpoint error, or a port held elsewhere, is thrown), picks the
    // networks and probes, sends the first requests, arms the timer and empties the rows.
    void start();
    enum class Step { Sent, Ended };
    // A further round of requests, or the final wait (blocking) when none is left. While
    // unicast requests still wait for their turn the run goes on to a later tick.
    Step tick();
    // Sends the unicast requests whose turn has come; the pacing timer calls it.
    void pace();
    // Gives port 9010 up after a run.
    void release();
    // Stops a run an error broke off; port 9010 is given up as far as possible.
    void abort();

    // Requests were to go and not one did: the run searched nothing.
    bool nothingSent() const { return Sent == 0 && Failed > 0; }
    // "No discovery request could be sent: <the first socket text>".
    std::string nothingSentText() const;
    std::size_t probesWaiting() const { return queue_.size(); }

    void SendData();
    void received(TNMUDP& sender, int numberBytes, const std::string& fromIP, int port);
    void data_chk(const std::string& fromIP, const std::string& hex);

private:
    void bindReplyPort();
    void send(const std::string& to, const Octets& local, int interfaceIndex, const std::string& label);
    void failed(const std::string& to, const std::string& label, int code);
    void log(std::initializer_list<std::string> lines);
    void clearQueue();

    TNMUDP& endpoint_;
    RunTimer& timer_;
    RunTimer& pacer_;
    DeviceGrid& grid_;
    RunRows& rows_;
    AddressSource& addresses_;
    int finalWaitMs_;
    MacIndex index_;
    std::deque<std::size_t> queue_;  // probes whose request is still to go, by index
    std::deque<std::chrono::steady_clock::time_point> recent_;  // the pacing's last sends
    std::set<std::string> told_;     // failures said this run
    std::string firstFailure_;       // the socket text of the run's first failure
};
