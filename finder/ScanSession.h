#pragma once
// The search run without a window: the endpoint, the timers, the grid and the run, made
// once. search() drives one run through the event loop and may be called again, each run
// from an empty table; the command-line scan runs it once, the watch again and again.
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DiscoveryRun.h"
#include "QtRunTimer.h"
#include "ScanOutput.h"

// One line on stderr, "qlxsearch: " before it.
void sayError(const std::string& utf8);

class ScanSession {
public:
    ScanSession(SearchTargets targets, DecodeRules decode);

    // One run; "" when it searched, else the error it ended with (UTF-8).
    std::string search();
    // The last search failed because another program held port 9010.
    bool portHeld() const { return portHeld_; }
    // The run's appliances as listed: sorted by the table column (0: as they came).
    std::vector<ScanRow> listed(int sortColumn);

    DiscoveryRun& run() { return run_; }

private:
    struct NoRows : RunRows {
        void rowsChanged(int) override {}
    };
    template <typename F>
    void guarded(F step);
    void finish();
    long runMs() const;
    void showProgress(std::chrono::steady_clock::time_point started);
    void clearProgress();

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
    bool portHeld_ = false;
    std::set<std::string> said_;  // send failures are said once, not once a run
    const bool showProgress_;
    bool progressShown_ = false;
};
