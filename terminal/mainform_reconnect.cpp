// Reconnect: a session the host ends (a close, a reset, a failed receive) leaves the window
// open with its scrollback, and qterm connects again on ReconnectSchedule's timetable until it
// is connected or the user closes the window. Each attempt runs on a thread of its own, so the
// window keeps working meanwhile; only a connect that succeeded is taken over here.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QTime>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "IdConnectAttempt.h"
#include "IdException.h"
#include "OutputView.h"
#include "cp932.h"
#include "mainform.h"
#include "qtext.h"

namespace {

// The log's line between two sessions: when, and to where.
std::string reconnectMarker(const std::string& host, int port, std::chrono::system_clock::time_point at) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(at);
    std::tm tm{};
    ::localtime_r(&tt, &tm);
    char when[64];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return "--- qterm: reconnected to " + cp932::toUtf8(host) + ":" + std::to_string(port) + " at " + when + " ---";
}

// Ends what the host left unfinished: an escape sequence (CAN), the attributes, the row.
constexpr std::string_view kEndOfSession = "\x18\x1b[m";
constexpr std::string_view kEndOfRow = "\r\n";

} // namespace

void TqTermMain::setUpReconnect() {
    reconnect_ = args_.reconnect ||
                 readSessionSettings(qtermSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))).reconnect;
    // First among the daily items: it is what a user wants while the session is down. Without
    // the option the host's end closes the window, so the menu never holds it.
    Reconnect1 = new QAction(toQ(cp932::sj("再接続")), this);
    Reconnect1->setVisible(false);
    if (reconnect_)
        PopupMenu1->insertAction(Copy1, Reconnect1);
    connect(Reconnect1, &QAction::triggered, this, [this] { reconnectNow(); });
    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setSingleShot(true);
    connect(reconnectTimer_, &QTimer::timeout, this, [this] { reconnectDue(); });
}

// Bytes still waiting go with the session; a paste question still open finds no connection
// when it is answered. The next session starts on a row of its own, with plain attributes.
bool TqTermMain::takeUpLostSession() {
    if (!reconnect_ || byHand_ || windowClosed_)
        return false;
    pasteTimer_->stop();
    pastes_.clear();
    sendPump_.detach();
    const auto& lines = Memo1->lines().lines();
    const bool rowOpen = !lines.empty() && (!lines.back().empty() || !Memo1->lines().unfinishedLine().empty());
    std::string end(kEndOfSession);
    if (rowOpen)
        end += kEndOfRow;
    Memo1->append(end);
    Memo1->flush();
    waitToReconnect(reconnectSchedule_.lost());
    return true;
}

void TqTermMain::waitToReconnect(std::chrono::seconds wait) {
    const QString at = QTime::currentTime().addSecs(int(wait.count())).toString("HH:mm:ss");
    setStatus(QString("Reconnecting in %1 s, at %2").arg(wait.count()).arg(at));
    Reconnect1->setVisible(true);
    Reconnect1->setEnabled(true);
    reconnectTimer_->start(int(reconnectSchedule_.untilDue().count()));
}

// A timer may fire a little early; the schedule's clock decides.
void TqTermMain::reconnectDue() {
    if (reconnectSchedule_.state() != ReconnectSchedule::State::Waiting)
        return;
    const auto left = reconnectSchedule_.untilDue();
    if (left.count() > 0) {
        reconnectTimer_->start(int(left.count()));
        return;
    }
    reconnectNow();
}

void TqTermMain::reconnectNow() {
    if (reconnectSchedule_.state() != ReconnectSchedule::State::Waiting || windowClosed_)
        return;
    reconnectTimer_->stop();
    reconnectSchedule_.trying();
    Reconnect1->setEnabled(false);
    setStatus("Connect");
    const unsigned no = ++attemptNo_;
    // The attempt calls back on its own thread; the call it posts is dropped with the window.
    attempt_ = std::make_unique<TIdConnectAttempt>(fromQ(edtServer->text()), spnedtPort->value(),
                                                   IdTelnetDemo.ConnectTimeout,
                                                   [this, no] { dispatcher_.Post([this, no] { attemptFinished(no); }); });
}

void TqTermMain::attemptFinished(unsigned no) {
    if (!attempt_ || no != attemptNo_)
        return;
    const std::unique_ptr<TIdConnectAttempt> attempt = std::move(attempt_);
    if (TIdTCPClient* connected = attempt->Connected()) {
        resuming_ = true;
        try {
            IdTelnetDemo.AdoptConnection(*connected);
        } catch (const EIdException&) {
            // Gone again before it was taken over: one more failed attempt.
        }
        resuming_ = false;
        if (reconnectSchedule_.state() == ReconnectSchedule::State::Idle)
            return;
    }
    waitToReconnect(reconnectSchedule_.lost());
}

void TqTermMain::sessionResumed() {
    reconnectSchedule_.connected();
    Reconnect1->setVisible(false);
    if (!log_)
        return;
    const auto now = logClock ? logClock() : std::chrono::system_clock::now();
    const std::string marker = reconnectMarker(IdTelnetDemo.Host, IdTelnetDemo.Port, now);
    try {
        log_->lineViews({marker});
    } catch (const SessionLogError& e) {
        logFailed(e);
    }
}

void TqTermMain::stopReconnecting() {
    windowClosed_ = true;
    reconnectTimer_->stop();
    attempt_.reset();
}

void TqTermMain::cancelReconnect() {
    reconnectTimer_->stop();
    attempt_.reset();
    reconnectSchedule_.connected();
    Reconnect1->setVisible(false);
}
