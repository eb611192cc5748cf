#pragma once
// One search run: the requests and their timing, the replies into the grid and the
// final wait. Plain C++, so the window and the command-line scan send the same bytes at
// the same times and apply the same rules; the owner gives it the endpoint, a timer and
// the place where rows show, and turns what the run reports into boxes or output.
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "DeviceGrid.h"
#include "Discovery.h"
#include "LocalAddress.h"
#include "net/NMUDP.h"

// The run's one-shot tick; its owner calls DiscoveryRun::tick() when it fires.
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
};

// One network as the run searches it: the address carried in the request, where it goes.
struct SearchNetwork {
    Octets local{};
    std::string broadcast;
};

std::vector<SearchNetwork> searchNetworks(AddressSource& source, const SearchTargets& targets,
                                          LocalAddress* first = nullptr);

class DiscoveryRun {
public:
    static constexpr std::size_t kLogLines = 4096;  // the receive log keeps the newest lines

    DiscoveryRun(TNMUDP& endpoint, RunTimer& timer, DeviceGrid& grid, RunRows& rows,
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
    std::unordered_map<std::string, int> models;  // model code by listed MAC

    // Binds port 9010 (an endpoint error, or a port held elsewhere, is thrown), picks the
    // networks, sends the first requests, arms the timer and empties the rows.
    void start();
    enum class Step { Sent, Ended };
    // A further round of requests, or the final wait (blocking) when none is left.
    Step tick();
    // Gives port 9010 up after a run.
    void release();
    // Stops a run an error broke off; port 9010 is given up as far as possible.
    void abort();

    void SendData();
    void received(TNMUDP& sender, int numberBytes, const std::string& fromIP, int port);
    void data_chk(const std::string& fromIP, const std::string& hex);

private:
    void bindReplyPort();

    TNMUDP& endpoint_;
    RunTimer& timer_;
    DeviceGrid& grid_;
    RunRows& rows_;
    AddressSource& addresses_;
    int finalWaitMs_;
    MacIndex index_;
};
