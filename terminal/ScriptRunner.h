#pragma once
// Runs a checked script against one session. It is driven from outside: by the shown text
// as it arrives, by the host's close and by a clock the caller reads, so it never waits
// itself; after each call wakeAt() says when it wants to be woken next.
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Script.h"

class ScriptRunner {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // What the script does to its session.
    class Session {
    public:
        virtual ~Session() = default;
        // Bytes for the host, sent as they are.
        virtual void send(std::string bytes) = 0;
        // UTF-8 text in the session's encoding.
        virtual std::string encode(std::string_view utf8) = 0;
        // The Enter key's bytes as typing it would send them now.
        virtual std::string enter() = 0;
        // Logs the session to path from now on: empty when it does, else why not.
        virtual std::string startLog(const std::string& path) = 0;
        virtual void disconnect() = 0;
    };
    using GetEnv = std::function<std::optional<std::string>(const std::string& name)>;

    enum class State { Running, Done, Failed };
    // An expect without its own limit waits this long until a timeout command says otherwise.
    static constexpr long long kDefaultTimeoutMs = 10'000;
    // The shown text kept for a later expect, at most (the oldest goes first).
    static constexpr std::size_t kKeptBytes = 1u << 19;

    ScriptRunner(Script script, Session& session, GetEnv getenv);

    // Runs the commands up to the first that waits.
    void start(TimePoint now);
    // Shown text that arrived: rows now final (each ending in LF, as the line assembly's
    // observer gives them) and the current row as it stands (its unfinished line).
    void received(std::string_view rows, std::string_view current, TimePoint now);
    // The time asked for by wakeAt() has come (an earlier call does no harm).
    void wake(TimePoint now);
    // The connection has ended without the script's own disconnect: the host closed it, or
    // (stopped) the user ended the session.
    void hostClosed() { ended("the host closed the connection"); }
    void stopped() { ended("the session ended"); }

    State state() const { return state_; }
    std::optional<TimePoint> wakeAt() const;
    // For Failed: the exit status (1: an expect timed out or the host closed; 2: the log
    // could not be started) and "FILE:LINE: what happened".
    int failStatus() const { return failStatus_; }
    const std::string& failure() const { return failure_; }

private:
    void run(TimePoint now);
    // True when the expect's text is found; the text up to its end is then used up.
    bool match(const std::string& text);
    void fail(int status, const ScriptCommand& c, const std::string& what);
    void ended(const std::string& how);

    Script script_;
    Session& session_;
    GetEnv getenv_;
    State state_ = State::Running;
    bool started_ = false;
    std::size_t next_ = 0;      // the command being run
    long long timeoutMs_ = kDefaultTimeoutMs;
    std::optional<TimePoint> until_;  // the running expect's limit or sleep's end
    std::string seen_;           // final text since the last match
    std::size_t searched_ = 0;   // bytes of seen_ the running expect has ruled out
    std::string current_;        // the current row as it stands
    std::size_t usedInCurrent_ = 0;  // bytes of the current row a match has used up
    int failStatus_ = 0;
    std::string failure_;
};
