#pragma once
// Simulated appliances: answer the finder's discovery request, broadcast or unicast, with
// one reply per appliance, sent back to the request's sender. They only answer senders on loopback
// unless told they run inside a test network namespace.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct Appliance {
    int model = 1;
    std::array<std::uint8_t, 4> ip{192, 168, 1, 20};
    std::array<std::uint8_t, 6> mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::string name = "ABCD";                                // four name bytes
    std::array<std::uint8_t, 6> version{1, 7, 'a', 8, 4, 15};  // major, minor, char, 3 numbers
    std::int32_t uptime = 93784;                              // seconds
    std::uint8_t acceptance = 0x01;                           // byte 3

    std::set<int> answers;   // 1-based numbers of the requests answered; empty: all
    int repeat = 1;          // replies per answered request
    int delayMs = 0;         // before each reply
    int cutAt = -1;          // send only this many bytes of the reply
    std::string raw;         // when set, sent instead of the reply (malformed replies)
};

// The 35-byte reply of one appliance.
std::string encodeReply(const Appliance& a);
// n appliances with distinct MAC and IP fields on 192.168.1.x.
std::vector<Appliance> sampleAppliances(int n);
// Is this a discovery request (32 bytes, the fixed head)?
bool isDiscoveryRequest(const std::string& datagram);

class ApplianceFile;

struct SeenRequest {
    std::chrono::steady_clock::time_point at;  // when the system received it
    std::string from;     // sender address
    int fromPort = 0;
    std::string to;       // destination address of the datagram
    std::string bytes;
};

class ApplianceSim {
public:
    struct Options {
        std::string bindAddress = "0.0.0.0";
        int port = 15580;
        bool anyPeer = false;  // answer non-loopback senders: only inside a test namespace
        // Answer only requests sent to one of these addresses (a broadcast address, the
        // appliances' own unicast address); empty: every request.
        std::set<std::string> onlyTo;
        // When set, the appliances are read from this file (ApplianceFile.h) at every request
        // answered, each starting from `fileDefaults`, in place of the list given.
        std::string file;
        Appliance fileDefaults;
    };

    ApplianceSim(std::vector<Appliance> appliances, Options options);
    explicit ApplianceSim(std::vector<Appliance> appliances) : ApplianceSim(std::move(appliances), Options{}) {}
    ~ApplianceSim();

    // Binds and starts answering; false (with `error`) when the port cannot be had.
    bool start(std::string* error = nullptr);
    void stop();

    std::vector<SeenRequest> requests() const;
    int repliesSent() const { return replies_.load(); }

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
        std::uint32_t address;
        std::uint16_t port;
    };
    void run();

    std::vector<Appliance> appliances_;
    Options options_;
    std::unique_ptr<ApplianceFile> file_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> replies_{0};
    mutable std::mutex mutex_;
    std::vector<SeenRequest> seen_;
};
