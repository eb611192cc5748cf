#pragma once
// A script's run on a Qt event loop, in the window or in batch: the received chunks go
// through a line assembly of their own, as the view's do, so the script sees the text as
// shown; a single-shot timer wakes the runner when it asked to be woken.
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <string_view>

#include "LineAssembly.h"
#include "ScriptRunner.h"

class ScriptDriver {
public:
    // ended runs once, when the runner has finished or failed; the driver must outlive it.
    ScriptDriver(QObject* context, Script script, ScriptRunner::Session& session, Encoding enc,
                 std::function<void()> ended);

    void start();
    // One received chunk, as the view takes it.
    void received(std::string_view chunk);
    void setEncoding(Encoding e) { lines_.setEncoding(e); }
    void hostClosed();
    void stopped();

    const ScriptRunner& runner() const { return runner_; }
    // The shown rows each chunk completed (see LineAssembly::setLineObserver), before the
    // runner sees them; for batch's standard output and log.
    std::function<void(std::string_view rows)> rowsShown;
    // The current row not yet given to rowsShown, for the end of the session.
    std::string unfinishedLine() const { return lines_.unfinishedLine(); }

private:
    void settle();

    LineAssembly lines_;
    std::string rows_;  // rows completed by the chunk being taken
    ScriptRunner runner_;
    QTimer timer_;
    std::function<void()> ended_;
    bool endedTold_ = false;
};
