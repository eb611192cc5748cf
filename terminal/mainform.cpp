#include "mainform.h"

#include <QCoreApplication>
#include <QDialog>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

#include "ConnectFailure.h"
#include "IdConnectAttempt.h"
#include "IdException.h"
#include "KeyMap.h"
#include "OutputView.h"
#include "guardedapp.h"
#include "qtext.h"

namespace {

KeyPress keyPressOf(const QKeyEvent& e) {
    KeyPress k;
    k.ctrl = e.modifiers() & Qt::ControlModifier;
    k.utf8 = e.text().toStdString();
    const int key = e.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        k.letter = static_cast<char>('A' + (key - Qt::Key_A));
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: k.kind = KeyPress::Kind::Enter; break;
    case Qt::Key_Backspace: k.kind = KeyPress::Kind::Backspace; break;
    case Qt::Key_Escape: k.kind = KeyPress::Kind::Escape; break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: k.kind = KeyPress::Kind::Tab; break;
    default:
        k.kind = (!k.utf8.empty() || (k.ctrl && k.letter)) ? KeyPress::Kind::Text
                                                           : KeyPress::Kind::NoCharacter;
    }
    return k;
}

// Set for the length of a call.
struct Flag {
    bool& flag;
    explicit Flag(bool& f) : flag(f) { flag = true; }
    ~Flag() { flag = false; }
};

} // namespace

TqTermMain::TqTermMain(std::vector<std::string> args, QWidget* parent)
    : TqTermMain(parseQtermArgs(args), parent) {}

TqTermMain::TqTermMain(QtermArgs args, QWidget* parent)
    : QMainWindow(parent),
      args_(std::move(args)),
      sendPump_(
          this, [this](std::string_view b) { return std::size_t(IdTelnetDemo.SendSome(b.data(), int(b.size()))); },
          [this](std::exception_ptr e) { sendFailed(std::move(e)); }) {
    setWindowTitle("qTerm");
    move(562, 179);
    resize(696, 477);  // client area of the 712 x 515 window

    Memo1 = new OutputView(this);
    Memo1->setObjectName("Memo1");
    Memo1->setAccessibleName("Output");
    QFont font("IPAPGothic");
    font.setPixelSize(kDefaultFontPx);
    Memo1->setFont(font);
    QPalette pal = Memo1->palette();
    pal.setColor(QPalette::Base, Qt::black);
    pal.setColor(QPalette::Text, Qt::white);
    Memo1->setPalette(pal);
    setCentralWidget(Memo1);

    sbrStatus = new QStatusBar(this);
    sbrStatus->setObjectName("sbrStatus");
    sbrStatus->setSizeGripEnabled(false);
    // No accessible name: a screen reader then reads the status text itself.
    statusLabel_ = new QLabel(sbrStatus);
    sbrStatus->addWidget(statusLabel_, 1);
    setStatusBar(sbrStatus);
    statusTimer_ = new QTimer(this);
    statusTimer_->setSingleShot(true);
    connect(statusTimer_, &QTimer::timeout, this, [this] { showStatus(); });
    sendPump_.changed = [this] {
        if (sendPump_.waiting() > 0 && statusShown_.isValid() && statusShown_.elapsed() < kStatusMs) {
            if (!statusTimer_->isActive())
                statusTimer_->start(kStatusMs - int(statusShown_.elapsed()));
            return;
        }
        showStatus();
    };

    // The connection settings: written once from the command line, never seen.
    edtServer = new QLineEdit(this);
    edtServer->setObjectName("edtServer");
    edtServer->setGeometry(48, 0, 161, 21);
    edtServer->hide();
    spnedtPort = new QSpinBox(this);
    spnedtPort->setObjectName("spnedtPort");
    spnedtPort->setGeometry(240, 0, 105, 22);
    spnedtPort->setRange(1, 65535);
    spnedtPort->setValue(23);
    spnedtPort->hide();
    auto* lblServer = new QLabel("&Server:", this);
    lblServer->setBuddy(edtServer);
    lblServer->hide();
    auto* lblPort = new QLabel("&Port", this);
    lblPort->setBuddy(spnedtPort);
    lblPort->hide();

    // Opening the menu only shows its two items.
    PopupMenu1 = new QMenu(this);
    Connect1 = PopupMenu1->addAction("&Connect");
    Disconnect1 = PopupMenu1->addAction("&Disconnect");
    connect(Connect1, &QAction::triggered, this, [this] { reportingErrors([this] { Connect1Click(); }); });
    connect(Disconnect1, &QAction::triggered, this, [this] { reportingErrors([this] { Disconnect1Click(); }); });
    for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Memo1), static_cast<QWidget*>(sbrStatus)}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& pos) { PopupMenu1->popup(w->mapToGlobal(pos)); });
    }

    Memo1->installEventFilter(this);
    Memo1->setFocus();

    IdTelnetDemo.Port = 23;
    IdTelnetDemo.Terminal = "dumb";
    IdTelnetDemo.SetRecvBufferSize(8192);
    IdTelnetDemo.ConnectTimeout = args_.connectTimeoutSeconds * 1000;
    IdTelnetDemo.SetDispatcher(&dispatcher_);
    IdTelnetDemo.OnConnect = [this] { IdTelnetDemoConnect(); };
    IdTelnetDemo.OnConnected = [this](TIdComponent*) { IdTelnetDemoConnected(); };
    IdTelnetDemo.OnDataAvailable = [this](const std::string& b) { IdTelnetDemoDataAvailable(b); };
    IdTelnetDemo.OnDisconnect = [this] { IdTelnetDemoDisconnect(); };
    IdTelnetDemo.OnDisconnected = [this](TIdComponent*) { IdTelnetDemoDisconnected(); };

    setUpFeatures();
    setUpReconnect();
    setUpConnectTo();
    FormCreate();
}

// The component is a member: its destructor stops an open connection's reader thread
// before any widget it reports to is gone.
TqTermMain::~TqTermMain() {
    finishLog();
    if (historySave_.joinable())
        historySave_.join();
}

void TqTermMain::FormCreate() {
    if (args_.host.empty())
        return;
    edtServer->setText(toQ(args_.host));
    spnedtPort->setValue(args_.port);
}

bool TqTermMain::FormShow() {
    if (args_.host.empty())
        return true;
    try {
        connectFromFields();
    } catch (const std::exception& e) {
        startError_ = e.what();
        close();
        return false;
    }
    return true;
}

// A failed connect closes its socket, which ends no session the host had.
void TqTermMain::connectFromFields() {
    IdTelnetDemo.Host = fromQ(edtServer->text());
    IdTelnetDemo.Port = spnedtPort->value();
    const Flag byHand(byHand_);
    try {
        IdTelnetDemo.OpenConnection();
    } catch (const EIdTelnetClientConnectError& e) {
        // The box and the start-up line keep the fixed text; the shell also learns why.
        std::fprintf(stderr, "%s\n", connectFailureLine(IdTelnetDemo.Host, IdTelnetDemo.Port, e.SocketCode()).c_str());
        throw;
    }
}

// While a reconnect is under way, Connect is that reconnect, at once.
void TqTermMain::Connect1Click() {
    if (reconnectSchedule_.state() != ReconnectSchedule::State::Idle) {
        reconnectNow();
        return;
    }
    connectFromFields();
}

void TqTermMain::Disconnect1Click() {
    const Flag byHand(byHand_);
    IdTelnetDemo.CloseConnection();
}

void TqTermMain::IdTelnetDemoConnect() { setStatus("Connect"); }

void TqTermMain::IdTelnetDemoConnected() {
    setStatus("Connected");
    sendPump_.attach(IdTelnetDemo.Binding().KeepOpen());
    if (resuming_) {
        sessionResumed();
    } else {
        openSessionLog();
        recordHost();
    }
}

void TqTermMain::IdTelnetDemoDisconnect() {
    if (!switchingHost_)
        close();
}

// Fires on the reader thread when the peer closed or an error ended the connection: the
// close is carried out on the window thread, and not at all if the window is gone by then.
void TqTermMain::IdTelnetDemoDisconnected() {
    std::string lost = IdTelnetDemo.LostError();
    auto end = [this, lost = std::move(lost), session = session_.load()] {
        if (switchingHost_ || session != session_.load())
            return;
        if (takeUpLostSession())
            return;
        if (!lost.empty())
            lostError_ = lost;
        scriptClosed();
        close();
    };
    dispatcher_.RunOrPost(std::move(end));
}

void TqTermMain::IdTelnetDemoDataAvailable(const std::string& Buffer) {
    Memo1->append(Buffer);
    scriptReceived(Buffer);
}

bool TqTermMain::outputPending() const { return Memo1->pending(); }

// The key's bytes go through the send queue: at once, as one write, when nothing waits;
// behind what waits otherwise, and behind a paste still being encoded.
void TqTermMain::Memo1KeyPress(char& Key) {
    if (IdTelnetDemo.IsConnected()) {
        std::string bytes = telnet::charBytes(static_cast<unsigned char>(Key), IdTelnetDemo.ServerIsTelnet());
        if (pastes_.empty())
            sendPump_.send(std::move(bytes));
        else
            pastes_.back().typedAfter += bytes;
    }
    Key = '\0';
}

// An error of a write the event loop made for the queue is shown as a typed key's is. A
// connection found closed there is the host's end of the session, which closes the window
// by itself.
void TqTermMain::sendFailed(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EIdConnClosedGracefully&) {
    } catch (...) {
        reportingErrors([&] { std::rethrow_exception(error); });
    }
}

void TqTermMain::sendBytes(const std::string& bytes) {
    for (char b : bytes) {
        char key = b;
        Memo1KeyPress(key);
    }
}

bool TqTermMain::eventFilter(QObject* watched, QEvent* event) {
    if (featureMouse(watched, event))
        return true;
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        if (featureKey(*static_cast<QKeyEvent*>(event)))
            return true;
        const std::string bytes = keyBytes(keyPressOf(*static_cast<QKeyEvent*>(event)), encoding_);
        if (bytes.empty())
            return false;  // no character: the view keeps its caret and scrolling keys
        reportingErrors([&] { sendBytes(bytes); });
        return true;
    }
    if (watched == Memo1 && event->type() == QEvent::InputMethod) {
        auto* im = static_cast<QInputMethodEvent*>(event);
        reportingErrors([&] { sendBytes(composedBytes(im->commitString().toStdString(), encoding_)); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// The host's last words are shown even when its close ends the window right after them.
// Bytes still waiting to be sent are dropped, pastes not yet encoded too, and a question still
// open is closed unanswered.
void TqTermMain::closeEvent(QCloseEvent* event) {
    stopReconnecting();
    endSession();
    if (question_)
        question_->reject();
    QMainWindow::closeEvent(event);
}

void TqTermMain::endSession() {
    pasteTimer_->stop();
    pastes_.clear();
    sendPump_.detach();
    Memo1->flush();
    finishLog();
}

QString TqTermMain::statusText() const { return statusLabel_->text(); }

void TqTermMain::setStatus(const QString& text) {
    status_ = text;
    showStatus();
}

void TqTermMain::showStatus() {
    statusTimer_->stop();
    const std::size_t left = sendPump_.waiting();
    statusLabel_->setText(left == 0 ? status_ : QString("Sending: %1 bytes left").arg(left));
    statusShown_.start();
}
