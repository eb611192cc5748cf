// qlxsim_console: the simulated appliances with their services, for the demo. Like qlxsim
// they answer the finder's discovery request (from loopback only), but each appliance has
// its own loopback address 127.0.1.N and serves there a telnet console and a web page.
// Usage: qlxsim_console [--count N] [--telnet-port P] [--web-port P]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "ApplianceServices.h"
#include "ApplianceSim.h"

namespace {
volatile std::sig_atomic_t quit = 0;
void onSignal(int) { quit = 1; }
}  // namespace

int main(int argc, char** argv) {
    int count = 5;
    ApplianceServices::Options services;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "usage: qlxsim_console [--count N] [--telnet-port P] [--web-port P]\n");
            return 2;
        }
        int v = std::atoi(argv[++i]);
        if (a == "--count") count = v;
        else if (a == "--telnet-port") services.telnetPort = v;
        else if (a == "--web-port") services.webPort = v;
        else {
            std::fprintf(stderr, "usage: qlxsim_console [--count N] [--telnet-port P] [--web-port P]\n");
            return 2;
        }
    }
    auto list = sampleAppliances(count);
    for (std::size_t i = 0; i < list.size(); ++i)
        list[i].ip = {127, 0, 1, static_cast<std::uint8_t>(1 + i % 254)};
    ApplianceSim sim(list);
    ApplianceServices consoles(list, services);
    std::string error;
    if (!sim.start(&error) || !consoles.start(&error)) {
        std::fprintf(stderr, "qlxsim_console: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("qlxsim_console: %d appliances on 127.0.1.1..%d: discovery UDP 15580, telnet %d, web %d\n", count,
                count, services.telnetPort, services.webPort);
    std::fflush(stdout);
    while (!quit)
        ::pause();
    consoles.stop();
    return 0;
}
