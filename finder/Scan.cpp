#include "Scan.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <unistd.h>

#include "DiscoveryRun.h"
#include "QtRunTimer.h"
#include "ScanOutput.h"
#include "Settings.h"
#include "TableSort.h"
#include "cp932.h"

namespace {

constexpr int kTickMs = 1000;
constexpr int kFinalWaitMs = 1000;
// Three rounds a tick apart, the last tick and the final wait.
constexpr int kRunMs = 3 * kTickMs + kFinalWaitMs;

struct NoRows : RunRows {
    void rowsChanged(int) override {}
};

int columnFor(const std::string& sortOption, const std::string& settingsKey) {
    if (sortOption == "uptime")
        return 5;
    if (sortOption == "ip")
        return 2;
    if (sortOption == "name")
        return 1;
    return sortColumnFor(settingsKey);
}

void progress(const DiscoveryRun& run, std::chrono::steady_clock::time_point started) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started)
                             .count();
    const long left = std::max<long>(0, (kRunMs - elapsed + 999) / 1000);
    std::fprintf(stderr, "\rqlxsearch: %zu network(s), %lds left, %d found ", run.networks.size(), left,
                 run.FoundCount);
    std::fflush(stderr);
}

}  // namespace

int runScan(int& argc, char** argv, const FinderOptions& options, const std::string& executable) {
    QCoreApplication app(argc, argv);
    const SettingsPaths paths = settingsPaths(executable, PathProbe::system());
    const FinderSettings settings = readSettings(paths.settingsFile);

    TNMUDP endpoint;
    QTimer* timer = new QTimer(&app);
    timer->setInterval(kTickMs);
    QtRunTimer tick(timer);
    DeviceGrid grid(11);
    NoRows rows;
    auto addresses = systemAddressSource();
    DiscoveryRun run(endpoint, tick, grid, rows, *addresses, kFinalWaitMs);
    run.targets.addresses = options.addresses;
    run.targets.allNetworks = options.allNetworks || settings.Networks == "all";
    run.Decode.testMode = settings.TestMode;
    try {
        run.Decode.modelLines = loadModelLines(paths.modelNameFile);
    } catch (const SettingsError& e) {
        // As in the window: said once, and the built-in names are used.
        std::fprintf(stderr, "qlxsearch: %s\n", cp932::toUtf8(e.what()).c_str());
    }

    std::string error;
    auto fail = [&](const std::exception& e) {
        error = cp932::toUtf8(e.what());
        if (endpoint.bindError() == EADDRINUSE)
            error += " (a finder window or another scan may hold it)";
        timer->stop();
        app.exit(2);
    };
    endpoint.OnDataReceived = [&](TNMUDP& s, int n, const std::string& ip, int port) {
        try {
            run.received(s, n, ip, port);
        } catch (const std::exception&) {
            // A read notification with nothing left to read: that datagram is gone, the run goes on.
        }
    };
    QObject::connect(timer, &QTimer::timeout, &app, [&] {
        try {
            if (run.tick() == DiscoveryRun::Step::Ended) {
                run.release();
                app.exit(0);
            }
        } catch (const std::exception& e) {
            fail(e);
        }
    });
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    QTimer progressTimer;
    if (showProgress) {
        QObject::connect(&progressTimer, &QTimer::timeout, &app, [&] { progress(run, started); });
        progressTimer.start(200);
    }
    QTimer::singleShot(0, &app, [&] {
        try {
            run.start();
        } catch (const std::exception& e) {
            fail(e);
        }
    });
    const int status = app.exec();
    if (showProgress)
        std::fprintf(stderr, "\r\033[K");
    if (status != 0) {
        run.abort();
        std::fprintf(stderr, "qlxsearch: %s\n", error.c_str());
        return 2;
    }
    if (run.FoundCount > 0)
        if (int column = columnFor(options.sort, settings.SortKey))
            ListSort(grid, column, localeCompare());
    const std::string out = formatScan(scanRows(grid, run.FoundCount, run.models), options.format);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return run.FoundCount > 0 ? 0 : 1;
}
