#pragma once
// qTermMain: the terminal window. One telnet connection, its received text in Memo1,
// typed keys sent to the host, the window closing when the connection ends.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "ConnectDialog.h"
#include "HostHistory.h"
#include "KeyMap.h"
#include "QtermConfig.h"
#include "ReconnectSchedule.h"
#include "Script.h"
#include "QtSendPump.h"
#include "QtWindowDispatcher.h"
#include "SessionLog.h"
#include "TIdTelnet.h"
#include "TextCodec.h"

class QAction;
class QActionGroup;
class QDialog;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QSpinBox;
class QStatusBar;
class QTimer;
class OutputView;
class TIdConnectAttempt;
class FindBar;
class ScriptDriver;

class TqTermMain : public QMainWindow {
public:
    // args: the command line after the program name (options, host, port).
    explicit TqTermMain(std::vector<std::string> args, QWidget* parent = nullptr);
    explicit TqTermMain(QtermArgs args, QWidget* parent = nullptr);
    ~TqTermMain() override;

    // Connects before the window is first shown when a host was given. False when that
    // connect failed: the window has closed and error() holds why.
    bool FormShow();
    const std::string& startError() const { return startError_; }
    // Why an error (a reset, say) ended the connection and closed the window; empty when
    // the connection was closed by either side.
    const std::string& lostError() const { return lostError_; }

    void Connect1Click();
    void Disconnect1Click();
    // Sends one typed character while connected; Key becomes NUL, so nothing is inserted.
    void Memo1KeyPress(char& Key);
    void IdTelnetDemoDataAvailable(const std::string& Buffer);

    QString statusText() const;
    // True while received text waits for the next refresh of Memo1.
    bool outputPending() const;
    // Bytes typed or pasted that wait for the host to take them.
    std::size_t sendWaiting() const { return sendPump_.waiting(); }
    // True while a paste is still being encoded (a large one takes a slice per turn of the
    // event loop) or waits for its question; keys typed meanwhile follow it.
    bool pasting() const { return !pastes_.empty(); }

    OutputView* Memo1;
    QStatusBar* sbrStatus;
    QLineEdit* edtServer;
    QSpinBox* spnedtPort;
    QMenu* PopupMenu1;
    QAction* Connect1;
    QAction* Disconnect1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void IdTelnetDemoConnect();
    void IdTelnetDemoConnected();
    void IdTelnetDemoDisconnect();
    void IdTelnetDemoDisconnected();
    void connectFromFields();
    void sendBytes(const std::string& bytes);
    void setStatus(const QString& text);
    void showStatus();
    void sendFailed(std::exception_ptr error);
    // Ends what belongs to the session (pastes, the send queue, the log), not the window.
    void endSession();

    QtermArgs args_;
    std::string startError_;
    std::string lostError_;
    QLabel* statusLabel_;
    QString status_;               // the connection's status; the backlog is shown instead while bytes wait
    QElapsedTimer statusShown_;    // a backlog count is shown at most every kStatusMs
    QTimer* statusTimer_;
    static constexpr int kStatusMs = 100;
    QtWindowDispatcher dispatcher_{this};
    TIdTelnet IdTelnetDemo;  // after the dispatcher: its reader stops before the dispatcher goes
    QtSendPump sendPump_;    // after the component: it lets go of the socket first

public:
    TIdTelnet& telnet() { return IdTelnetDemo; }

    // Copy and paste, session log, encoding and zoom (mainform_features.cpp).
    void copySelection();
    void selectAllText();
    // Sends text to the host as if typed, only while connected, through the send queue: a
    // multi-line or large paste asks first (as [paste] confirm says), a paste that would take
    // the queue past its bound is refused whole, and with a line delay the lines go paced.
    void pasteText(const QString& text);
    void pasteFromClipboard();
    void pasteFromSelection();
    // The session's encoding for display and sending, from now on.
    void setEncoding(Encoding enc);
    Encoding encoding() const { return encoding_; }
    // Font size of the text area in pixels; the window keeps its size.
    void zoomBy(int steps);
    void zoomReset();
    int fontPixelSize() const;
    static constexpr int kDefaultFontPx = 15;
    // Logging to path from now on (appended); a failure shows one error box.
    void startLog(const std::string& path, SessionLog::Open how = SessionLog::Open::Append);
    void stopLog();
    bool logging() const { return log_ != nullptr; }
    const SessionLog* sessionLog() const { return log_.get(); }
    void setLogTimestamps(bool on);

    // Injected for tests: the file dialog of "ログ記録..." (empty: cancelled), the question
    // before a paste of more than kLargePaste bytes, the preview of a multi-line paste (the
    // text to send, or nothing: cancelled; bytes and lines as it would be sent), the question
    // for the line delay (nothing: cancelled), the message that a paste was refused, and the
    // log's clock.
    std::function<std::string(const std::string& suggested)> askLogFile;
    std::function<bool(std::size_t bytes)> confirmLargePaste;
    std::function<std::optional<QString>(const QString& text, std::size_t bytes, std::size_t lines)> previewPaste;
    std::function<std::optional<int>(int currentMs)> askLineDelay;
    std::function<void(const QString& message)> showNotice;
    SessionLog::Clock logClock;
    static constexpr std::size_t kLargePaste = 64 * 1024;

    // Each line of a paste goes at least this long after the previous one (0: no wait);
    // from [paste] line_delay_ms, and the menu, for this session.
    int lineDelayMs() const { return pasteSettings_.lineDelayMs; }
    void setLineDelayMs(int ms);

    QAction* Copy1;
    QAction* Paste1;
    QAction* LineDelay1;
    QAction* SelectAll1;
    QAction* Find1;      // opens FindBar1, under the text (Ctrl+Shift+F)
    FindBar* FindBar1;
    QAction* Log1;
    QAction* LogTimestamps1;
    QMenu* Encoding1;
    QActionGroup* EncodingGroup1;

private:
    void setUpFeatures();
    // True when the key is one of the window's own: copy, paste, zoom.
    bool featureKey(const QKeyEvent& e);
    bool featureMouse(QObject* watched, QEvent* event);
    void Log1Click();
    void LineDelay1Click();
    // Encodes a slice of the first pending paste; the last slice sends it.
    void encodePaste();
    void finishPaste();
    // The question the paste settings call for; the text to send, or nothing.
    std::optional<QString> reviewPaste(const QString& text, const PasteEncoder& encoded);
    // Runs a question of the window's modally; the end of the session closes it unanswered.
    int ask(QDialog& question);
    void refusePaste(std::size_t bytes);
    // The log's one input: the rows a chunk completed, decoded as shown, each ending in
    // a line break (a row cut off at the scrollback bound may arrive in pieces).
    void logRows(std::string_view rows);
    void finishLog();
    // Ends logging without writing anything more: no observer, nothing carried over.
    std::unique_ptr<SessionLog> detachLog();
    void openSessionLog();
    void logFailed(const SessionLogError& e);
    std::string suggestedLogPath() const;

    Encoding encoding_ = Encoding::Cp932;
    PasteSettings pasteSettings_;
    struct PendingPaste {
        QString text;
        qsizetype at = 0;          // text before it is encoded
        PasteEncoder encoder;
        std::string typedAfter;    // keys typed meanwhile, sent after the paste
    };
    std::deque<PendingPaste> pastes_;
    QTimer* pasteTimer_;
    static constexpr qsizetype kPasteSlice = 64 * 1024;  // characters encoded per turn
    QPointer<QDialog> question_;  // the question open now, if any
    LogSettings logSettings_;
    bool logTimestamps_ = false;
    std::unique_ptr<SessionLog> log_;
    std::string logCarry_;  // the start of a row whose end has not arrived yet

public:
    // Reconnect (mainform_reconnect.cpp): with --reconnect or [session] reconnect=1 a session
    // the host ends leaves the window open and is taken up again on reconnectSchedule's
    // timetable; the attempts run off the window thread.
    bool reconnects() const { return reconnect_; }
    // While a reconnect waits: try now. While one is tried: nothing.
    void reconnectNow();
    QAction* Reconnect1;  // "再接続", shown while a session is to be taken up

private:
    void setUpReconnect();
    // The host ended the session: true when it is to be taken up again (the window stays).
    bool takeUpLostSession();
    void waitToReconnect(std::chrono::seconds wait);
    void reconnectDue();
    void attemptFinished(unsigned attempt);
    // A reconnect is up: the log goes on with a marker line, the timetable starts over.
    void sessionResumed();
    // The window closes: no more waits or attempts.
    void stopReconnecting();
    // Another host was chosen ("接続先..."): the session the host ended is not taken up.
    void cancelReconnect();

    bool reconnect_ = false;
    ReconnectSchedule reconnectSchedule_;
    QTimer* reconnectTimer_ = nullptr;
    std::unique_ptr<TIdConnectAttempt> attempt_;  // goes before the dispatcher it posts to
    unsigned attemptNo_ = 0;
    bool byHand_ = false;     // the window itself is closing or opening the connection
    bool resuming_ = false;   // a reconnect's connection is being taken over
    bool windowClosed_ = false;

public:
    // "接続先..." (mainform_connect.cpp): asks for a host, port and encoding and connects
    // there as a connect from the command line does; a connected session ends first, after
    // a question.
    void ConnectTo1Click();
    const HostHistory& hostHistory() const { return history_; }
    QAction* ConnectTo1;
    // Injected for tests: the dialog (nothing: cancelled), and the question before the open
    // session to `host` is ended for another.
    std::function<std::optional<ConnectChoice>(const std::vector<HostPort>& history, const ConnectChoice& current)>
        askConnectTo;
    std::function<bool(const QString& host)> confirmSwitchHost;

private:
    void setUpConnectTo();
    // A connect that worked goes first in the history, in memory and, off the window
    // thread, in the settings file.
    void recordHost();
    HostHistory history_;
    std::string settingsPath_;
    std::thread historySave_;
    bool switchingHost_ = false;  // the session ends for another host: the window stays
    std::atomic<int> session_{0};  // counts sessions ended that way; the reader's end of an older one is stale

public:
    // qterm --script (mainform_script.cpp): runs script in the connected session; the user
    // sees everything and may type. A failure is said once on stderr; the window stays the
    // user's, unless the host has closed it.
    void runScript(Script script);
    // Nothing while no script was given or it still runs; else how it ended: 0 at its end,
    // 1 or 2 as its failure says.
    std::optional<int> scriptStatus() const;
    // The session is over: a script still running fails, as when the host closed.
    void endScript();
    std::function<void(int status)> scriptEnded;  // for tests: once, at the script's end

private:
    class WindowScript;
    // The script's send: the bytes as they are, behind a paste still being encoded.
    void sendScripted(std::string bytes);
    // What the script sees of the session: each received chunk, the encoding, the host's close.
    void scriptReceived(const std::string& chunk);
    void scriptEncoding(Encoding enc);
    void scriptClosed();
    std::shared_ptr<WindowScript> script_;
};
