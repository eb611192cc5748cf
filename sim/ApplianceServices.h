#pragma once
// The simulated appliances' own services: a telnet console and a minimal web page per
// appliance, each on the appliance's own loopback address (127.x.y.z), so the finder's
// web and utility buttons reach them without leaving the machine.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ApplianceSim.h"

class ApplianceServices {
public:
    struct Options {
        int telnetPort = 2323;  // 23 would need privileges
        int webPort = 8080;
        int terminalTypeWaitMs = 1000;  // how long the console waits for the client's type
    };

    // Every appliance's address must be a loopback address; start() refuses others.
    ApplianceServices(std::vector<Appliance> appliances, Options options);
    ~ApplianceServices();

    bool start(std::string* error = nullptr);
    void stop();

    // Terminal types the consoles were told, in order (for tests).
    std::vector<std::string> terminalTypes() const;

private:
    struct Listener {
        int fd = -1;
        std::size_t appliance = 0;
        bool telnet = false;
    };
    void acceptLoop();
    void serveConsole(int fd, const Appliance& a);
    void serveWeb(int fd, const Appliance& a);

    std::vector<Appliance> appliances_;
    Options options_;
    std::vector<Listener> listeners_;
    int wake_[2] = {-1, -1};  // closing the write end stops the accept loop
    std::thread acceptThread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::thread> sessions_;
    std::vector<int> sessionFds_;
    std::vector<std::string> terminalTypes_;
};

// The console's answer to one command line (code page 932 text, lines ended by CR LF);
// `end` is set when the command closes the session.
std::string consoleAnswer(const Appliance& a, const std::string& command, bool& end);
// The console's greeting for a client of the given terminal type.
std::string consoleGreeting(const Appliance& a, const std::string& terminalType);
// The web page of an appliance (HTML in code page 932).
std::string appliancePage(const Appliance& a);
// Dotted text of an appliance address.
std::string addressText(const Appliance& a);
