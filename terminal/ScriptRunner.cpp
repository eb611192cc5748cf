#include "ScriptRunner.h"

#include <algorithm>

namespace {

using Kind = ScriptCommand::Kind;

std::string seconds(long long ms) {
    std::string s = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        std::string frac = std::to_string(1000 + ms % 1000).substr(1);
        frac.erase(frac.find_last_not_of('0') + 1);
        s += "." + frac;
    }
    return s + " s";
}

} // namespace

ScriptRunner::ScriptRunner(Script script, Session& session, GetEnv getenv)
    : script_(std::move(script)), session_(session), getenv_(std::move(getenv)) {}

void ScriptRunner::start(TimePoint now) {
    started_ = true;
    run(now);
}

void ScriptRunner::received(std::string_view rows, std::string_view current, TimePoint now) {
    if (!rows.empty()) {
        // The first row is the current row completed: what a match used of it stays used.
        const std::size_t firstEnd = rows.find('\n');
        const std::size_t used = std::min(usedInCurrent_, firstEnd == std::string_view::npos ? rows.size() : firstEnd);
        rows.remove_prefix(used);
        usedInCurrent_ = firstEnd == std::string_view::npos ? usedInCurrent_ - used : 0;
        seen_.append(rows);
        if (seen_.size() > kKeptBytes) {
            const std::size_t drop = seen_.size() - kKeptBytes;
            seen_.erase(0, drop);
            searched_ = searched_ > drop ? searched_ - drop : 0;
        }
    }
    current_.assign(current);
    if (state_ == State::Running && started_)
        run(now);
}

void ScriptRunner::wake(TimePoint now) {
    if (state_ == State::Running && started_)
        run(now);
}

void ScriptRunner::ended(const std::string& how) {
    if (state_ != State::Running)
        return;
    if (next_ >= script_.commands.size()) {
        state_ = State::Done;
        return;
    }
    const ScriptCommand& c = script_.commands[next_];
    fail(1, c, c.kind == Kind::Expect ? how + " while waiting for \"" + c.written + "\""
                                      : how + " before the script ended");
}

std::optional<ScriptRunner::TimePoint> ScriptRunner::wakeAt() const {
    return state_ == State::Running ? until_ : std::nullopt;
}

bool ScriptRunner::match(const std::string& text) {
    const std::size_t usedCurrent = std::min(usedInCurrent_, current_.size());
    const std::string_view current = std::string_view(current_).substr(usedCurrent);
    // Text the expect has ruled out stays ruled out, but for a start that an ending may complete.
    const std::size_t from = searched_ > text.size() ? searched_ - text.size() + 1 : 0;
    std::size_t at = seen_.find(text, from);
    if (at != std::string::npos) {
        seen_.erase(0, at + text.size());
        searched_ = 0;
        return true;
    }
    // Across the final text into the current row.
    const std::size_t tailFrom = seen_.size() > text.size() ? seen_.size() - text.size() + 1 : 0;
    const std::string window = seen_.substr(std::max(tailFrom, from)) + std::string(current);
    at = window.find(text);
    if (at == std::string::npos) {
        searched_ = seen_.size();
        return false;
    }
    const std::size_t end = std::max(tailFrom, from) + at + text.size();  // in seen_ + current
    usedInCurrent_ = usedCurrent + (end - seen_.size());
    seen_.clear();
    searched_ = 0;
    return true;
}

void ScriptRunner::fail(int status, const ScriptCommand& c, const std::string& what) {
    state_ = State::Failed;
    failStatus_ = status;
    failure_ = scriptMessage(script_.file, c.line, what);
    until_.reset();
}

void ScriptRunner::run(TimePoint now) {
    while (state_ == State::Running) {
        if (next_ >= script_.commands.size()) {
            state_ = State::Done;
            return;
        }
        const ScriptCommand& c = script_.commands[next_];
        switch (c.kind) {
        case Kind::Expect: {
            if (!until_)
                until_ = now + std::chrono::milliseconds(c.ms != 0 ? c.ms : timeoutMs_);
            if (match(c.joined()))
                break;
            if (now >= *until_) {
                fail(1, c, "timed out after " + seconds(c.ms != 0 ? c.ms : timeoutMs_) + " waiting for \"" +
                               c.written + "\"");
                return;
            }
            return;
        }
        case Kind::Sleep:
            if (!until_)
                until_ = now + std::chrono::milliseconds(c.ms);
            if (now < *until_)
                return;
            break;
        case Kind::Timeout: timeoutMs_ = c.ms; break;
        case Kind::Send:
        case Kind::SendLn:
        case Kind::SendEnv: {
            std::string bytes;
            if (c.kind == Kind::SendEnv) {
                // The value goes to the host and nowhere else.
                const std::optional<std::string> value = getenv_(c.name);
                if (!value) {
                    fail(2, c, "environment variable " + c.name + " is not set");
                    return;
                }
                bytes = session_.encode(*value);
            }
            for (const ScriptCommand::Piece& p : c.text)
                bytes += p.raw ? p.bytes : session_.encode(p.bytes);
            if (c.kind != Kind::Send)
                bytes += session_.enter();
            ++next_;  // a send that raises has still been made
            session_.send(std::move(bytes));
            continue;
        }
        case Kind::Log:
            if (std::string why = session_.startLog(c.name); !why.empty()) {
                fail(2, c, "cannot log to " + c.name + ": " + why);
                return;
            }
            break;
        case Kind::Disconnect:
            // Done before the close, whose events may come back here.
            ++next_;
            state_ = State::Done;
            until_.reset();
            session_.disconnect();
            return;
        }
        ++next_;
        until_.reset();
    }
}
