#include "ScriptBatch.h"

#include <QCoreApplication>
#include <QObject>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "ConnectFailure.h"
#include "FailureLine.h"
#include "IdException.h"
#include "QtSendPump.h"
#include "QtWindowDispatcher.h"
#include "QtermConfig.h"
#include "ScriptDriver.h"
#include "SessionLog.h"
#include "TIdTelnet.h"
#include "TelnetParser.h"
#include "stdoutput.h"

namespace {

class BatchSession : public ScriptRunner::Session {
public:
    BatchSession(const QtermArgs& args, const Script& script)
        : args_(args),
          pump_(
              &context_, [this](std::string_view b) { return std::size_t(telnet_.SendSome(b.data(), int(b.size()))); },
              [this](std::exception_ptr e) { sendFailed(e); }),
          driver_(&context_, script, *this, args.encoding, [this] { scriptEnded(); }) {
        const LogSettings settings =
            readLogSettings(qtermSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")), std::getenv("HOME"));
        logDir_ = settings.dir;
        timestamps_ = !args.noLogTimestamps && (args.logTimestamps || settings.timestamps);
        telnet_.Terminal = "dumb";
        telnet_.SetRecvBufferSize(8192);
        telnet_.ConnectTimeout = args.connectTimeoutSeconds * 1000;
        telnet_.SetDispatcher(&dispatcher_);
        telnet_.Host = args.host;
        telnet_.Port = args.port;
        telnet_.OnDataAvailable = [this](const std::string& b) { driver_.received(b); };
        telnet_.OnDisconnected = [this](TIdComponent*) {
            dispatcher_.RunOrPost([this] { closedUnderUs(); });
        };
        driver_.rowsShown = [this](std::string_view rows) { show(rows); };
        pump_.changed = [this] {
            if (closing_ && pump_.waiting() == 0)
                closeNow();
        };
    }

    int run() {
        try {
            try {
                telnet_.OpenConnection();
            } catch (const EIdTelnetClientConnectError& e) {
                // As the window's start says it: the reason, then the fixed line.
                std::fprintf(stderr, "%s\n", connectFailureLine(telnet_.Host, telnet_.Port, e.SocketCode()).c_str());
                throw;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", failureLine(telnet_.Host, telnet_.Port, e.what()).c_str());
            return 2;
        }
        connected_ = true;
        pump_.attach(telnet_.Binding().KeepOpen());
        if (!args_.logFile.empty()) {
            if (!openLog(args_.logFile, SessionLog::Open::Append))
                return finish(2);
        } else if (!logDir_.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(logDir_, ec);
            if (!openLog(sessionLogPath(logDir_, telnet_.Host, telnet_.Port, std::chrono::system_clock::now()),
                         SessionLog::Open::NewFile))
                return finish(2);
        }
        driver_.start();
        if (!done_)
            QCoreApplication::exec();
        return finish(status_);
    }

    // The session's side of the script.
    void send(std::string bytes) override {
        if (!telnet_.IsConnected())
            return;
        try {
            pump_.send(std::move(bytes));
        } catch (...) {
            sendFailed(std::current_exception());
        }
    }
    std::string encode(std::string_view utf8) override { return encodeText(utf8, args_.encoding); }
    std::string enter() override { return telnet::charBytes('\r', telnet_.ServerIsTelnet()); }
    std::string startLog(const std::string& path) override {
        log_.reset();
        try {
            log_ = std::make_unique<SessionLog>(path, timestamps_);
            logCarry_.clear();
            return {};
        } catch (const SessionLogError& e) {
            return e.reason;
        }
    }
    void disconnect() override { closeAfterSending(); }

private:
    bool openLog(const std::string& path, SessionLog::Open how) {
        try {
            log_ = std::make_unique<SessionLog>(path, timestamps_, nullptr, how);
            return true;
        } catch (const SessionLogError& e) {
            std::fprintf(stderr, "qterm: cannot open the log %s: %s\n", e.path.c_str(), e.reason.c_str());
            return false;
        }
    }

    // Shown rows: to standard output and to the log, each in one piece.
    void show(std::string_view rows) {
        if (failed_)
            return;
        if (!stdoutput::write(rows)) {
            stdoutFailed_ = true;
            fail(2, [err = errno] { stdoutput::failed("qterm", err); });
            return;
        }
        logRows(rows);
    }

    void logRows(std::string_view rows) {
        if (!log_)
            return;
        std::vector<std::string> done;
        std::size_t from = 0;
        for (std::size_t nl; (nl = rows.find('\n', from)) != std::string_view::npos; from = nl + 1) {
            done.push_back(std::move(logCarry_) + std::string(rows.substr(from, nl - from)));
            logCarry_.clear();
        }
        logCarry_.append(rows.substr(from));
        try {
            if (!done.empty())
                log_->lines(done);
        } catch (const SessionLogError& e) {
            logFailed(e);
        }
    }

    void logFailed(const SessionLogError& e) {
        log_.reset();
        fail(2, [path = e.path, reason = e.reason] {
            std::fprintf(stderr, "qterm: cannot write the log %s: %s\n", path.c_str(), reason.c_str());
        });
    }

    // The first failure decides the status and says why, once.
    template <class Say>
    void fail(int status, Say say) {
        if (failed_)
            return;
        failed_ = true;
        status_ = status;
        say();
        closeNow();
    }

    void scriptEnded() {
        const ScriptRunner& r = driver_.runner();
        if (r.state() == ScriptRunner::State::Failed) {
            fail(r.failStatus(), [&r] { std::fprintf(stderr, "qterm: %s\n", r.failure().c_str()); });
            return;
        }
        closeAfterSending();
    }

    // What the script sent goes out before the close.
    void closeAfterSending() {
        closing_ = true;
        if (pump_.waiting() == 0)
            closeNow();
    }

    void closeNow() {
        closing_ = false;
        pump_.detach();
        if (telnet_.IsConnected())
            telnet_.CloseConnection();
        done_ = true;
        QCoreApplication::exit(0);
    }

    // The host's close, or an error that ended the connection.
    void closedUnderUs() {
        if (done_ || !connected_)
            return;  // a failed connect is said by run()
        const std::string lost = telnet_.LostError();
        if (!lost.empty() && driver_.runner().state() == ScriptRunner::State::Running) {
            fail(1, [&] { std::fprintf(stderr, "%s\n", failureLine(telnet_.Host, telnet_.Port, lost).c_str()); });
            return;
        }
        driver_.hostClosed();  // a failure, unless the script had ended
        if (!done_)
            closeNow();
    }

    void sendFailed(std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const EIdConnClosedGracefully&) {
            // The host's close, which the reader reports.
        } catch (const std::exception& e) {
            const std::string why = e.what();
            fail(1, [&] { std::fprintf(stderr, "%s\n", failureLine(telnet_.Host, telnet_.Port, why).c_str()); });
        }
    }

    // The rest of the current row, then the last check of standard output.
    int finish(int status) {
        const std::string last = driver_.unfinishedLine();
        if (!stdoutFailed_ && last.find_first_not_of('\0') != std::string::npos && !stdoutput::write(last + "\n"))
            return stdoutput::failed("qterm", errno);
        if (log_) {
            try {
                log_->finish(logCarry_ + last);
            } catch (const SessionLogError& e) {
                std::fprintf(stderr, "qterm: cannot write the log %s: %s\n", e.path.c_str(), e.reason.c_str());
                return 2;
            }
        }
        errno = 0;
        if (!stdoutFailed_ && (std::fflush(stdout) != 0 || std::ferror(stdout)))
            return stdoutput::failed("qterm", errno);
        return status;
    }

    const QtermArgs& args_;
    QObject context_;
    QtWindowDispatcher dispatcher_{&context_};
    TIdTelnet telnet_;  // after the dispatcher: its reader stops before the dispatcher goes
    QtSendPump pump_;   // after the component: it lets go of the socket first
    ScriptDriver driver_;
    std::string logDir_;
    bool timestamps_ = false;
    std::unique_ptr<SessionLog> log_;
    std::string logCarry_;
    bool connected_ = false;
    bool stdoutFailed_ = false;  // said once; nothing more is written there
    bool closing_ = false;
    bool done_ = false;
    bool failed_ = false;
    int status_ = 0;
};

} // namespace

int runScriptBatch(const QtermArgs& args, const Script& script) {
    BatchSession session(args, script);
    return session.run();
}
