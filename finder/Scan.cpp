#include "Scan.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "DiscoveryRun.h"
#include "QtRunTimer.h"
#include "ScanOutput.h"
#include "Settings.h"
#include "TableSort.h"
#include "cp932.h"
#include "stdoutput.h"

namespace {

constexpr int kTickMs = 1000;
constexpr int kFinalWaitMs = 1000;

// One line on stderr.
void say(const std::string& utf8) { std::fprintf(stderr, "qlxsearch: %s\n", utf8.c_str()); }

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

// The endpoint, the timers, the grid and the run, made once; search() drives one run
// through the event loop and may be called again, each run from an empty table.
class ScanSession {
public:
    ScanSession(SearchTargets targets, DecodeRules decode)
        : run_(endpoint_, tick_, pace_, grid_, rows_, *addresses_, kFinalWaitMs) {
        run_.targets = std::move(targets);
        run_.Decode = std::move(decode);
        tickTimer_.setInterval(kTickMs);
        paceTimer_.setInterval(static_cast<int>(DiscoveryRun::kPacePeriod.count()));
        paceTimer_.setTimerType(Qt::PreciseTimer);
        endpoint_.OnDataReceived = [this](TNMUDP& s, int n, const std::string& ip, int port) {
            try {
                run_.received(s, n, ip, port);
            } catch (const std::exception&) {
                // A read notification with nothing left to read: that datagram is gone, the run goes on.
            }
        };
        run_.OnSendFailed = [this](const std::string& line) {
            clearProgress();
            say(line);
        };
        QObject::connect(&tickTimer_, &QTimer::timeout, [this] {
            guarded([this] {
                if (run_.tick() == DiscoveryRun::Step::Ended) {
                    run_.release();
                    finish();
                }
            });
        });
        QObject::connect(&paceTimer_, &QTimer::timeout, [this] { guarded([this] { run_.pace(); }); });
    }

    // One run; "" when it searched, else the error it ended with (UTF-8).
    std::string search() {
        error_.clear();
        QEventLoop loop;
        loop_ = &loop;
        const auto started = std::chrono::steady_clock::now();
        QTimer progress;
        if (showProgress_) {
            QObject::connect(&progress, &QTimer::timeout, [this, started] { showProgress(started); });
            progress.start(200);
        }
        QTimer::singleShot(0, &loop, [this] { guarded([this] { run_.start(); }); });
        loop.exec();
        loop_ = nullptr;
        progress.stop();
        clearProgress();
        if (!error_.empty()) {
            run_.abort();
            return error_;
        }
        return run_.nothingSent() ? run_.nothingSentText() : std::string();
    }

    DiscoveryRun& run() { return run_; }
    DeviceGrid& grid() { return grid_; }

private:
    template <typename F>
    void guarded(F step) {
        try {
            step();
        } catch (const std::exception& e) {
            error_ = cp932::toUtf8(e.what());
            if (endpoint_.bindError() == EADDRINUSE)
                error_ += "（検索ウィンドウか別のスキャンが使用中の可能性があります）";
            finish();
        }
    }
    void finish() {
        tickTimer_.stop();
        paceTimer_.stop();
        if (loop_)
            loop_->exit();
    }

    // Three rounds a tick apart (the last one's unicast requests paced out), the tick
    // after them and the final wait.
    long runMs() const {
        const long probes = static_cast<long>(run_.probes.size());
        const long drained = std::max(2L * kTickMs + probes, 3 * probes);
        const long lastTick = drained < 3L * kTickMs ? 3L * kTickMs : (drained / kTickMs + 1) * kTickMs;
        return lastTick + kFinalWaitMs;
    }
    void showProgress(std::chrono::steady_clock::time_point started) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
        const long left = std::max<long>(0, (runMs() - elapsed + 999) / 1000);
        std::string probes;
        if (!run_.probes.empty())
            probes = std::to_string(run_.probes.size()) + " probe(s), ";
        std::fprintf(stderr, "\rqlxsearch: %zu network(s), %s%lds left, %d found ", run_.networks.size(),
                     probes.c_str(), left, run_.FoundCount);
        std::fflush(stderr);
        progressShown_ = true;
    }
    void clearProgress() {
        if (progressShown_)
            std::fprintf(stderr, "\r\033[K");
        progressShown_ = false;
    }

    TNMUDP endpoint_;
    QTimer tickTimer_, paceTimer_;
    QTimer* tickPointer_ = &tickTimer_;
    QTimer* pacePointer_ = &paceTimer_;
    QtRunTimer tick_{tickPointer_}, pace_{pacePointer_};
    DeviceGrid grid_{11};
    NoRows rows_;
    std::unique_ptr<AddressSource> addresses_ = systemAddressSource();
    DiscoveryRun run_;
    QEventLoop* loop_ = nullptr;
    std::string error_;
    const bool showProgress_ = ::isatty(STDERR_FILENO) == 1;
    bool progressShown_ = false;
};

}  // namespace

int runScan(int& argc, char** argv, const FinderOptions& options, const std::string& executable) {
    QCoreApplication app(argc, argv);
    const SettingsPaths paths = settingsPaths(executable, PathProbe::system());
    std::string settingsError;
    const FinderSettings settings = readSettings(paths, &settingsError);
    if (!settingsError.empty())
        say(cp932::toUtf8(settingsError));  // as in the window: the defaults serve

    SearchTargets targets;
    targets.addresses = options.addresses;
    targets.allNetworks = options.allNetworks || settings.Networks == "all";
    targets.probes = options.probes;
    if (std::string error = parseProbeList(settings.Probe, targets.probes); !error.empty()) {
        say("[system] probe " + cp932::toUtf8(error));
        return 2;
    }
    DecodeRules decode;
    decode.testMode = settings.TestMode;
    try {
        decode.modelLines = loadModelLines(paths.modelNameFile);
    } catch (const SettingsError& e) {
        // As in the window: said once, and the built-in names are used.
        say(cp932::toUtf8(e.what()));
    }

    try {
        ScanSession scan(std::move(targets), std::move(decode));
        if (std::string error = scan.search(); !error.empty()) {
            say(error);
            return 2;
        }
        DiscoveryRun& run = scan.run();
        if (run.FoundCount > 0)
            if (int column = columnFor(options.sort, settings.SortKey))
                ListSort(scan.grid(), column, localeCompare());
        if (!stdoutput::write(formatScan(scanRows(scan.grid(), run.FoundCount, run.models), options.format)))
            return stdoutput::failed("qlxsearch", errno);
        return run.FoundCount > 0 ? 0 : 1;
    } catch (const std::exception& e) {
        // The endpoint's first socket could not be made, for one.
        say(cp932::toUtf8(e.what()));
        return 2;
    }
}
