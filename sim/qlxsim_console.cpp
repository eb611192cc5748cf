// qlxsim_console: the simulated appliances with their services, for the demo. Like qlxsim
// they answer the finder's discovery request (from loopback only), but each appliance has
// its own loopback address 127.0.1.N and serves there a telnet console and a web page.
// Usage: qlxsim_console [--count N] [--telnet-port P] [--web-port P]
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "ApplianceServices.h"
#include "ApplianceSim.h"
#include "SimOptions.h"

namespace {
volatile std::sig_atomic_t quit = 0;
void onSignal(int) { quit = 1; }

constexpr const char* kUsage =
    "Usage: qlxsim_console [--count N] [--telnet-port P] [--web-port P]\n"
    "Simulated appliances with a telnet console and a web page each, on 127.0.1.N.\n"
    "\n"
    "  --count N          N appliances (default 5)\n"
    "  --telnet-port P    the consoles' TCP port (default 2323)\n"
    "  --web-port P       the web pages' TCP port (default 8080)\n"
    "  --help             show this text and exit\n";

}  // namespace

int main(int argc, char** argv) {
    int count = 5;
    ApplianceServices::Options services;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            return simoptions::help(kUsage);
        }
        int* target = a == "--count" ? &count : a == "--telnet-port" ? &services.telnetPort
                      : a == "--web-port" ? &services.webPort : nullptr;
        if (!target)
            return simoptions::usageError("qlxsim_console", "unknown option " + a);
        if (i + 1 >= argc)
            return simoptions::usageError("qlxsim_console", a + " needs a value");
        if (!simoptions::number(argv[++i], *target))
            return simoptions::usageError("qlxsim_console", a + " needs a whole number: " + argv[i]);
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
