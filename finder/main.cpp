// qlxsearch: finds the appliances on the local network.
// Usage: qlxsearch --help
#include <QCoreApplication>
#include <QGuiApplication>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <exception>
#include <unistd.h>
#include <string>
#include <vector>

#include "FinderOptions.h"
#include "InstanceLock.h"
#include "RaiseChannel.h"
#include "RaiseWatch.h"
#include "Scan.h"
#include "Unit1.h"
#include "guardedapp.h"
#include "stdoutput.h"
#include "version.h"

namespace {

// Where the settings files are looked up: the executable itself, found without a
// QCoreApplication (the scan and the window make their own).
std::string executablePath(const char* argv0) {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string(argv0 ? argv0 : "");
}

}  // namespace

int main(int argc, char** argv) {
    stdoutput::holdClosedStreams();
    // Everything the command line asks for is settled before a display, a lock or a file.
    const FinderOptions options = parseFinderOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (options.action) {
    case FinderOptions::Action::Help:
        return stdoutput::print("qlxsearch", finderUsage());
    case FinderOptions::Action::Version:
        return stdoutput::print("qlxsearch", std::string("qlxsearch ") + QLX_VERSION + "\n");
    case FinderOptions::Action::Error:
        // One line that names the fault and where to look; the whole usage would bury it.
        std::fprintf(stderr, "%s\nTry 'qlxsearch --help'.\n", options.error.c_str());
        return 2;
    case FinderOptions::Action::Scan:
        // No window and no lock: a scan may run beside a finder window.
        return runScan(argc, argv, options, executablePath(argv[0]));
    case FinderOptions::Action::Window:
        break;
    }

    // A second finder brings the first one's window to the front and ends; with no
    // answer within a second it ends silently all the same.
    InstanceLock lock("zqh0003");
    const std::string raisePath = raiseSocketPath(lock.path());
    if (!lock.acquired()) {
        if (const RaiseAnswer a = askToRaise(raisePath, std::chrono::seconds(1)); !a.problem.empty())
            std::fprintf(stderr, "qlxsearch: %s; the running finder is not brought to the front\n", a.problem.c_str());
        return 0;
    }
    // Only the holder of the lock may claim its socket path; made before any thread starts.
    RaiseListener listener(lock.guarded() ? raisePath : std::string());
    if (!listener.problem().empty())
        std::fprintf(stderr, "qlxsearch: %s; a second start will not bring this window to the front\n",
                     listener.problem().c_str());

    GuardedApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName("io.github.qlxtools.qlxsearch");
    FormServices services;
    services.targets.addresses = options.addresses;
    services.targets.allNetworks = options.allNetworks;
    services.targets.probes = options.probes;
    try {
        const std::string exe = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
        TqsearchForm form(std::move(services),
                          StartSettings::fromFiles(settingsPaths(exe, PathProbe::system())));
        RaiseWatch front(listener, [&form] {
            bringToFront(form);
            std::fputs("qlxsearch: a second start brought this window to the front\n", stderr);
        });
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        // The window could not be made (no socket, for one): say why, like any handler error.
        GuardedApplication::showErrorBox(e.what());
        return 1;
    }
}
