// qlxsim: simulated appliances answering the finder's discovery request.
// Usage: qlxsim [--count N] [--first N] [--delay MS] [--repeat N] [--malformed] [--any-peer]
//               [--only-to A.B.C.D] [--log] [--file FILE]
//   --any-peer answers senders off loopback too: use it only inside a test network namespace.
//   --first N skips the first N sample appliances (distinct MACs for a second simulator).
//   --only-to answers only requests sent to that address (a broadcast address, or the
//             appliances' own unicast one); give it several times for several addresses.
//   Unicast requests are answered like broadcast ones.
//   --log prints every request seen at the end: "request MS FROM PORT TO HEX".
//   --file FILE answers with the appliances of FILE, read again at every request (its
//             format: ApplianceFile.h), in place of --count, --first and --malformed.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "ApplianceSim.h"
#include "SimOptions.h"

namespace {
volatile std::sig_atomic_t quit = 0;
void onSignal(int) { quit = 1; }

constexpr const char* kUsage =
    "Usage: qlxsim [--count N] [--first N] [--delay MS] [--repeat N] [--malformed] [--any-peer]\n"
    "              [--only-to A.B.C.D] [--log] [--file FILE]\n"
    "Simulated appliances answering the finder's discovery request on UDP 15580.\n"
    "\n"
    "  --count N          answer as N appliances (default 5)\n"
    "  --first N          skip the first N sample appliances\n"
    "  --delay MS         wait MS milliseconds before each answer\n"
    "  --repeat N         send each answer N times\n"
    "  --malformed        add a cut-off and a wrongly marked answer\n"
    "  --any-peer         answer senders off loopback too (only inside a test network namespace)\n"
    "  --only-to A.B.C.D  answer only requests sent to that address (may be given again)\n"
    "  --log              at the end, print every request seen\n"
    "  --file FILE        answer with the appliances of FILE, read again at every request\n"
    "  --help             show this text and exit\n";

}  // namespace

int main(int argc, char** argv) {
    int count = 5, first = 0, delay = 0, repeat = 1;
    bool malformed = false, log = false;
    ApplianceSim::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool takesValue = a == "--count" || a == "--first" || a == "--delay" || a == "--repeat" ||
                                a == "--only-to" || a == "--file";
        if (takesValue && i + 1 >= argc)
            return simoptions::usageError("qlxsim", a + " needs a value");
        if (a == "--help") {
            return simoptions::help(kUsage);
        }
        int* target = a == "--count" ? &count : a == "--first" ? &first : a == "--delay" ? &delay
                      : a == "--repeat" ? &repeat : nullptr;
        if (target) {
            if (!simoptions::number(argv[++i], *target))
                return simoptions::usageError("qlxsim", a + " needs a whole number: " + argv[i]);
        }
        else if (a == "--log") log = true;
        else if (a == "--file") options.file = argv[++i];
        else if (a == "--only-to") options.onlyTo.insert(argv[++i]);
        else if (a == "--malformed") malformed = true;
        else if (a == "--any-peer") options.anyPeer = true;
        else
            return simoptions::usageError("qlxsim", "unknown option " + a);
    }
    auto list = sampleAppliances(first + count);
    list.erase(list.begin(), list.begin() + std::min<long>(first, static_cast<long>(list.size())));
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i].delayMs = delay;
        list[i].repeat = repeat;
        // On loopback the appliances advertise loopback addresses, so a web or utility
        // launch from the finder stays on this machine too.
        if (!options.anyPeer)
            list[i].ip = {127, 0, 1, static_cast<std::uint8_t>(1 + i % 254)};
    }
    if (malformed) {
        Appliance cut = list.empty() ? Appliance{} : list.front();
        cut.mac[5] ^= 0xFF;
        cut.cutAt = 17;  // ends inside the MAC address
        list.push_back(cut);
        Appliance wrong;
        wrong.raw = std::string("\x00\x81\x00\x01", 4) + std::string(31, '\x11');
        list.push_back(wrong);
    }
    options.fileDefaults.delayMs = delay;
    options.fileDefaults.repeat = repeat;
    if (!options.file.empty())
        list.clear();
    ApplianceSim sim(list, options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "qlxsim: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (options.file.empty())
        std::printf("qlxsim: %d appliances answering on UDP %d\n", count, options.port);
    else
        std::printf("qlxsim: the appliances of %s answering on UDP %d\n", options.file.c_str(), options.port);
    std::fflush(stdout);
    const auto started = std::chrono::steady_clock::now();
    while (!quit)
        ::pause();
    sim.stop();
    if (log)
        for (const auto& r : sim.requests()) {
            std::string hex;
            for (unsigned char b : r.bytes) {
                char two[3];
                std::snprintf(two, sizeof two, "%02X", b);
                hex += two;
            }
            const long ms = std::chrono::duration_cast<std::chrono::milliseconds>(r.at - started).count();
            std::printf("request %ld %s %d %s %s\n", ms, r.from.c_str(), r.fromPort, r.to.c_str(), hex.c_str());
        }
    return 0;
}
