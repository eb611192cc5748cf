#include "ScanSession.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "TableSort.h"
#include "cp932.h"

namespace {

constexpr int kTickMs = 1000;
constexpr int kFinalWaitMs = 1000;

}  // namespace

void sayError(const std::string& utf8) { std::fprintf(stderr, "qlxsearch: %s\n", utf8.c_str()); }

ScanSession::ScanSession(SearchTargets targets, DecodeRules decode)
    : run_(endpoint_, tick_, pace_, grid_, rows_, *addresses_, kFinalWaitMs),
      showProgress_(::isatty(STDERR_FILENO) == 1) {
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
        if (!said_.insert(line).second)
            return;
        clearProgress();
        sayError(line);
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

std::string ScanSession::search() {
    error_.clear();
    portHeld_ = false;
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

std::vector<ScanRow> ScanSession::listed(int sortColumn) {
    if (run_.FoundCount > 0 && sortColumn)
        ListSort(grid_, sortColumn, localeCompare());
    return scanRows(grid_, run_.FoundCount, run_.models);
}

template <typename F>
void ScanSession::guarded(F step) {
    try {
        step();
    } catch (const std::exception& e) {
        error_ = cp932::toUtf8(e.what());
        if (endpoint_.bindError() == EADDRINUSE) {
            portHeld_ = true;
            error_ += "（検索ウィンドウか別のスキャンが使用中の可能性があります）";
        }
        finish();
    }
}

void ScanSession::finish() {
    tickTimer_.stop();
    paceTimer_.stop();
    if (loop_)
        loop_->exit();
}

// Three rounds a tick apart (the last one's unicast requests paced out), the tick
// after them and the final wait.
long ScanSession::runMs() const {
    const long probes = static_cast<long>(run_.probes.size());
    const long drained = std::max(2L * kTickMs + probes, 3 * probes);
    const long lastTick = drained < 3L * kTickMs ? 3L * kTickMs : (drained / kTickMs + 1) * kTickMs;
    return lastTick + kFinalWaitMs;
}

void ScanSession::showProgress(std::chrono::steady_clock::time_point started) {
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

void ScanSession::clearProgress() {
    if (progressShown_)
        std::fprintf(stderr, "\r\033[K");
    progressShown_ = false;
}
