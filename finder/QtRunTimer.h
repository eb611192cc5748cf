#pragma once
// A QTimer as the search run's tick (the window's Timer1, the scan's own timer).
#include <QTimer>

#include "DiscoveryRun.h"

class QtRunTimer : public RunTimer {
public:
    // By reference: the window makes its Timer1 after the run.
    explicit QtRunTimer(QTimer*& timer) : timer_(timer) {}
    void start() override { timer_->start(); }
    void stop() override { timer_->stop(); }
    bool active() const override { return timer_->isActive(); }

private:
    QTimer*& timer_;
};
