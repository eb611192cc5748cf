// The window's side of qterm --script: the script types into the session as the user does.
#include <cstdio>

#include "ScriptDriver.h"
#include "TelnetParser.h"
#include "guardedapp.h"
#include "mainform.h"

class TqTermMain::WindowScript : public ScriptRunner::Session {
public:
    WindowScript(TqTermMain& w, Script script)
        : w_(w), driver_(&w, std::move(script), *this, w.encoding(), [this] { ended(); }) {}

    ScriptDriver& driver() { return driver_; }
    const ScriptDriver& driver() const { return driver_; }

    void send(std::string bytes) override { w_.sendScripted(std::move(bytes)); }
    std::string encode(std::string_view utf8) override { return encodeText(utf8, w_.encoding()); }
    std::string enter() override { return telnet::charBytes('\r', w_.IdTelnetDemo.ServerIsTelnet()); }
    // The window shows a failure in its box as for a log the user started.
    std::string startLog(const std::string& path) override {
        w_.startLog(path);
        return w_.logging() && w_.sessionLog()->path() == path ? std::string() : "the log file cannot be opened";
    }
    void disconnect() override { w_.Disconnect1Click(); }

private:
    void ended() {
        const ScriptRunner& r = driver_.runner();
        const int status = r.state() == ScriptRunner::State::Failed ? r.failStatus() : 0;
        if (status != 0)
            std::fprintf(stderr, "qterm: %s\n", r.failure().c_str());
        if (w_.scriptEnded)
            w_.scriptEnded(status);
    }

    TqTermMain& w_;
    ScriptDriver driver_;
};

void TqTermMain::runScript(Script script) {
    script_ = std::make_shared<WindowScript>(*this, std::move(script));
    script_->driver().start();
}

std::optional<int> TqTermMain::scriptStatus() const {
    if (!script_)
        return std::nullopt;
    const ScriptRunner& r = script_->driver().runner();
    switch (r.state()) {
    case ScriptRunner::State::Running: return std::nullopt;
    case ScriptRunner::State::Done: return 0;
    case ScriptRunner::State::Failed: return r.failStatus();
    }
    return std::nullopt;
}

void TqTermMain::sendScripted(std::string bytes) {
    if (!IdTelnetDemo.IsConnected())
        return;
    if (pastes_.empty())
        reportingErrors([&] { sendPump_.send(std::move(bytes)); });
    else
        pastes_.back().typedAfter += bytes;
}

void TqTermMain::scriptReceived(const std::string& chunk) {
    if (script_)
        script_->driver().received(chunk);
}

void TqTermMain::scriptEncoding(Encoding enc) {
    if (script_)
        script_->driver().setEncoding(enc);
}

void TqTermMain::scriptClosed() {
    if (script_)
        script_->driver().hostClosed();
}

void TqTermMain::endScript() {
    if (script_)
        script_->driver().stopped();
}
