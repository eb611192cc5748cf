#pragma once
// qTermMain: the terminal window. One telnet connection, its received text in Memo1,
// typed keys sent to the host, the window closing when the connection ends.
#include <QMainWindow>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "QtWindowDispatcher.h"
#include "TIdTelnet.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QSpinBox;
class QStatusBar;
class OutputView;

class TqTermMain : public QMainWindow {
public:
    // args: the command line after the program name (host, port).
    explicit TqTermMain(std::vector<std::string> args, QWidget* parent = nullptr);
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

    QtermArgs args_;
    std::string startError_;
    std::string lostError_;
    QLabel* statusLabel_;
    QtWindowDispatcher dispatcher_{this};
    TIdTelnet IdTelnetDemo;  // after the dispatcher: its reader stops before the dispatcher goes

public:
    TIdTelnet& telnet() { return IdTelnetDemo; }
};
