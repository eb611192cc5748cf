#include "ScriptDriver.h"

#include <algorithm>
#include <cstdlib>

namespace {

std::chrono::steady_clock::time_point now() { return std::chrono::steady_clock::now(); }

std::optional<std::string> environmentValue(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? std::optional<std::string>(v) : std::nullopt;
}

} // namespace

ScriptDriver::ScriptDriver(QObject* context, Script script, ScriptRunner::Session& session, Encoding enc,
                           std::function<void()> ended)
    : runner_(std::move(script), session, environmentValue), ended_(std::move(ended)) {
    lines_.setEncoding(enc);
    lines_.setLineObserver([this](std::string_view rows) { rows_.append(rows); });
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, context, [this] {
        runner_.wake(now());
        settle();
    });
}

void ScriptDriver::start() {
    runner_.start(now());
    settle();
}

void ScriptDriver::received(std::string_view chunk) {
    lines_.append(chunk);
    const std::string rows = std::move(rows_);
    rows_.clear();
    if (rowsShown && !rows.empty())
        rowsShown(rows);
    runner_.received(rows, lines_.unfinishedLine(), now());
    settle();
}

void ScriptDriver::hostClosed() {
    runner_.hostClosed();
    settle();
}

void ScriptDriver::stopped() {
    runner_.stopped();
    settle();
}

void ScriptDriver::settle() {
    if (runner_.state() != ScriptRunner::State::Running) {
        timer_.stop();
        if (!endedTold_) {
            endedTold_ = true;
            if (ended_)
                ended_();
        }
        return;
    }
    if (const auto at = runner_.wakeAt()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*at - now()).count();
        timer_.start(int(std::clamp<long long>(left, 0, 24LL * 3600 * 1000)));
    } else {
        timer_.stop();
    }
}
