// The window's tools for daily work: copy and paste, the session log, the session's
// encoding and the text area's zoom. Kept apart from the connection and output logic.
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QTextDocumentFragment>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "FindBar.h"
#include "KeyMap.h"
#include "OutputView.h"
#include "PastePreview.h"
#include "cp932.h"
#include "guardedapp.h"
#include "mainform.h"
#include "qtext.h"
#include "TelnetParser.h"

using cp932::sj;

namespace {

constexpr int kMinFontPx = 6;
constexpr int kMaxFontPx = 72;

QString ui(const char* utf8) { return toQ(sj(utf8)); }

// Shown in the menu only: the keys themselves are handled by featureKey.
void showKeys(QAction* a, const QList<QKeySequence>& keys) {
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WidgetShortcut);
}


// An error box from the event loop, once, without unwinding through the caller (which
// may be the reader thread's hand-off of received text).
void showLater(const std::string& message) {
    reportingErrors([&] { throw std::runtime_error(message); });
}

} // namespace

void TqTermMain::setUpFeatures() {
    encoding_ = args_.encoding;
    std::string settingsWarning;
    logSettings_ = readLogSettings(qtermSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")),
                                   std::getenv("HOME"), &settingsWarning);
    if (!settingsWarning.empty())
        std::fprintf(stderr, "%s\n", settingsWarning.c_str());
    logTimestamps_ = !args_.noLogTimestamps && (args_.logTimestamps || logSettings_.timestamps);
    pasteTimer_ = new QTimer(this);
    pasteTimer_->setSingleShot(true);
    connect(pasteTimer_, &QTimer::timeout, this, [this] { reportingErrors([this] { encodePaste(); }); });
    pasteSettings_ = readPasteSettings(qtermSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));

    // An existing file is appended to, never overwritten, so the dialog does not ask.
    askLogFile = [this](const std::string& suggested) {
        return QFileDialog::getSaveFileName(this, ui("ログ記録"), QString::fromLocal8Bit(suggested), QString(),
                                            nullptr, QFileDialog::DontConfirmOverwrite)
            .toLocal8Bit()
            .toStdString();
    };
    confirmLargePaste = [this](std::size_t bytes) {
        const QString text = ui("%1 バイトのテキストを貼り付けて送信しますか?").arg(bytes);
        QMessageBox box(QMessageBox::Question, ui("貼り付け"), text, QMessageBox::Yes | QMessageBox::No, this);
        return ask(box) == QMessageBox::Yes;
    };
    previewPaste = [this](const QString& text, std::size_t bytes, std::size_t lines) -> std::optional<QString> {
        PastePreview preview(text, bytes, lines, this);
        if (ask(preview) != QDialog::Accepted)
            return std::nullopt;
        return preview.text();
    };
    askLineDelay = [this](int currentMs) -> std::optional<int> {
        QInputDialog dialog(this);
        dialog.setWindowTitle(ui("貼り付けの行間隔"));
        dialog.setLabelText(ui("貼り付けの各行を送る間隔 (ミリ秒、0 は待たない):"));
        dialog.setInputMode(QInputDialog::IntInput);
        dialog.setIntRange(0, kMaxLineDelayMs);
        dialog.setIntStep(10);
        dialog.setIntValue(currentMs);
        if (ask(dialog) != QDialog::Accepted)
            return std::nullopt;
        return dialog.intValue();
    };
    showNotice = [this](const QString& message) {
        QMessageBox box(QMessageBox::Warning, ui("貼り付け"), message, QMessageBox::Ok, this);
        ask(box);
    };

    PopupMenu1->addSeparator();
    Copy1 = PopupMenu1->addAction(ui("コピー"));
    showKeys(Copy1, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)});
    Paste1 = PopupMenu1->addAction(ui("貼り付け"));
    showKeys(Paste1, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    SelectAll1 = PopupMenu1->addAction(ui("すべて選択"));
    Find1 = PopupMenu1->addAction(ui("検索..."));
    showKeys(Find1, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)});
    FindBar1 = new FindBar(Memo1, this);
    addToolBar(Qt::BottomToolBarArea, FindBar1);
    LineDelay1 = PopupMenu1->addAction(ui("貼り付けの行間隔..."));
    PopupMenu1->addSeparator();
    Log1 = PopupMenu1->addAction(ui("ログ記録..."));
    LogTimestamps1 = PopupMenu1->addAction(ui("タイムスタンプを付ける"));
    LogTimestamps1->setCheckable(true);
    LogTimestamps1->setChecked(logTimestamps_);
    Encoding1 = PopupMenu1->addMenu(ui("文字コード"));
    EncodingGroup1 = new QActionGroup(this);
    for (const EncodingInfo& item : encodings()) {
        QAction* a = Encoding1->addAction(QString::fromLatin1(item.label));
        a->setCheckable(true);
        a->setChecked(item.enc == encoding_);
        a->setData(static_cast<int>(item.enc));
        EncodingGroup1->addAction(a);
        connect(a, &QAction::triggered, this, [this, enc = item.enc] { setEncoding(enc); });
    }
    Memo1->setEncoding(encoding_);

    connect(Copy1, &QAction::triggered, this, [this] { copySelection(); });
    connect(Paste1, &QAction::triggered, this, [this] { reportingErrors([this] { pasteFromClipboard(); }); });
    connect(SelectAll1, &QAction::triggered, this, [this] { selectAllText(); });
    connect(Find1, &QAction::triggered, this, [this] { FindBar1->open(); });
    connect(LineDelay1, &QAction::triggered, this, [this] { LineDelay1Click(); });
    connect(Log1, &QAction::triggered, this, [this] { Log1Click(); });
    connect(LogTimestamps1, &QAction::toggled, this, [this](bool on) { setLogTimestamps(on); });

    // Selecting is copying to the primary selection, as everywhere on X11.
    connect(Memo1, &QPlainTextEdit::selectionChanged, this, [this] {
        QClipboard* cb = QGuiApplication::clipboard();
        const QString text = Memo1->selectedText();
        if (cb->supportsSelection() && !text.isEmpty())
            cb->setText(text, QClipboard::Selection);
    });
    Memo1->viewport()->installEventFilter(this);
}

bool TqTermMain::featureKey(const QKeyEvent& e) {
    const auto mods = e.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    const int key = e.key();
    const bool ctrl = mods & Qt::ControlModifier;
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_N) {
        reportingErrors([this] { ConnectTo1Click(); });
        return true;
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_C) {
        copySelection();
        return true;
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_F) {
        FindBar1->open();
        return true;
    }
    if (key == Qt::Key_F3 && !FindBar1->isHidden() && (mods & ~Qt::ShiftModifier) == 0) {
        FindBar1->find(mods & Qt::ShiftModifier);
        return true;
    }
    if ((mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_V) ||
        (mods == Qt::ShiftModifier && key == Qt::Key_Insert)) {
        reportingErrors([this] { pasteFromClipboard(); });
        return true;
    }
    if (!ctrl || (mods & Qt::AltModifier))
        return false;
    // "+" needs Shift on most layouts; Ctrl+= is the same key unshifted.
    switch (key) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoomBy(1); return true;
    case Qt::Key_Minus: zoomBy(-1); return true;
    case Qt::Key_0: zoomReset(); return true;
    default: return false;
    }
}

bool TqTermMain::featureMouse(QObject* watched, QEvent* event) {
    if (watched != Memo1->viewport())
        return false;
    const auto t = event->type();
    if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonRelease && t != QEvent::MouseButtonDblClick)
        return false;
    if (static_cast<QMouseEvent*>(event)->button() != Qt::MiddleButton)
        return false;
    if (t == QEvent::MouseButtonPress)
        reportingErrors([this] { pasteFromSelection(); });
    return true;
}

void TqTermMain::copySelection() {
    const QString text = Memo1->selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void TqTermMain::selectAllText() { Memo1->selectAll(); }

void TqTermMain::pasteFromClipboard() { pasteText(QGuiApplication::clipboard()->text()); }

void TqTermMain::pasteFromSelection() {
    QClipboard* cb = QGuiApplication::clipboard();
    if (cb->supportsSelection())
        pasteText(cb->text(QClipboard::Selection));
}

// A paste is encoded a slice per turn of the event loop, so a large one never holds up the
// window; a small one is done within this call. Each line break goes as the Enter key
// would send it when the paste was made (CR LF until the host has sent a telnet command).
void TqTermMain::pasteText(const QString& text) {
    if (!IdTelnetDemo.IsConnected() || text.isEmpty())
        return;
    pastes_.push_back({text, 0, PasteEncoder(encoding_, !IdTelnetDemo.ServerIsTelnet()), {}});
    // Most pasted text is one byte a character, and lines are rarely shorter than 16.
    pastes_.back().encoder.reserve(std::size_t(text.size()) + std::size_t(text.size()) / 16);
    if (pastes_.size() == 1)
        encodePaste();
}

void TqTermMain::encodePaste() {
    if (pastes_.empty())
        return;
    PendingPaste& p = pastes_.front();
    qsizetype end = std::min(p.at + kPasteSlice, p.text.size());
    if (end < p.text.size() && p.text.at(end - 1).isHighSurrogate())
        ++end;  // a character is never cut in two
    p.encoder.feed(QStringView(p.text).sliced(p.at, end - p.at).toUtf8().toStdString());
    p.at = end;
    if (p.at < p.text.size()) {
        pasteTimer_->start(0);
        return;
    }
    finishPaste();
}

// The questions, then the queue; the keys typed meanwhile go after it whether it went or not.
void TqTermMain::finishPaste() {
    auto done = [this] {
        std::string typed = std::move(pastes_.front().typedAfter);
        pastes_.pop_front();
        if (!pastes_.empty())
            pasteTimer_->start(0);
        if (!typed.empty() && IdTelnetDemo.IsConnected())
            sendPump_.send(std::move(typed));
    };
    // A modal question or notice runs an event loop, in which the session may end: the close
    // drops the pending pastes, and there is nothing left to do.
    auto refused = [&](std::size_t bytes) {
        refusePaste(bytes);
        if (!pastes_.empty())
            done();
    };
    PendingPaste& p = pastes_.front();
    if (!IdTelnetDemo.IsConnected() || p.encoder.bytes().empty())
        return done();
    // Refused before any question: there is no point in reading what cannot be sent.
    if (!sendPump_.fits(p.encoder.bytes().size()))
        return refused(p.encoder.bytes().size());
    const QString text = p.text;
    PasteEncoder encoded = std::move(p.encoder);
    const std::optional<QString> chosen = reviewPaste(text, encoded);
    if (pastes_.empty())
        return;
    if (!chosen || !IdTelnetDemo.IsConnected())
        return done();
    std::string wire = encoded.take();
    if (!chosen->isSharedWith(text) && *chosen != text) {
        PasteEncoder edited(encoding_, !IdTelnetDemo.ServerIsTelnet());
        edited.feed(chosen->toStdString());
        wire = edited.take();
    }
    if (wire.empty())
        return done();
    if (!sendPump_.fits(wire.size()))
        return refused(wire.size());
    try {
        sendPump_.sendLines(std::move(wire), std::chrono::milliseconds(pasteSettings_.lineDelayMs));
    } catch (...) {
        // The error is shown as a typed key's; the keys typed meanwhile are not sent after it.
        if (!pastes_.empty())
            pastes_.pop_front();
        if (!pastes_.empty())
            pasteTimer_->start(0);
        throw;
    }
    done();
}

// bytes and lines are those the text goes out as, without the LF a CR LF adds.
std::optional<QString> TqTermMain::reviewPaste(const QString& text, const PasteEncoder& encoded) {
    const std::size_t bytes = encoded.typedSize();
    switch (pasteSettings_.confirm) {
    case PasteConfirm::Never: return text;
    case PasteConfirm::Multiline:
        if (encoded.breaks() > 0) {
            if (!previewPaste)
                return std::nullopt;
            return previewPaste(text, bytes, encoded.lines());
        }
        break;
    case PasteConfirm::Large: break;
    }
    if (bytes > kLargePaste && !(confirmLargePaste && confirmLargePaste(bytes)))
        return std::nullopt;
    return text;
}

int TqTermMain::ask(QDialog& question) {
    question_ = &question;
    const int answer = question.exec();
    question_ = nullptr;
    return answer;
}

void TqTermMain::refusePaste(std::size_t bytes) {
    const QLocale c(QLocale::English);  // digits in groups of three
    const QString message =
        ui("貼り付けたテキスト (%1 バイト) は送信しません。送信待ちにできるのは %2 バイトまでで、いま %3 バイトが待っています。")
            .arg(c.toString(qulonglong(bytes)), c.toString(qulonglong(sendPump_.bound())),
                 c.toString(qulonglong(sendPump_.waiting())));
    if (showNotice)
        showNotice(message);
}

void TqTermMain::LineDelay1Click() {
    if (const std::optional<int> ms = askLineDelay ? askLineDelay(lineDelayMs()) : std::nullopt)
        setLineDelayMs(*ms);
}

void TqTermMain::setLineDelayMs(int ms) { pasteSettings_.lineDelayMs = std::clamp(ms, 0, kMaxLineDelayMs); }

void TqTermMain::setEncoding(Encoding enc) {
    encoding_ = enc;
    Memo1->setEncoding(enc);
    scriptEncoding(enc);
    for (QAction* a : EncodingGroup1->actions())
        if (a->data().toInt() == static_cast<int>(enc))
            a->setChecked(true);
}

int TqTermMain::fontPixelSize() const { return Memo1->font().pixelSize(); }

void TqTermMain::zoomBy(int steps) {
    QFont f = Memo1->font();
    f.setPixelSize(std::clamp(f.pixelSize() + steps, kMinFontPx, kMaxFontPx));
    Memo1->setFont(f);
}

void TqTermMain::zoomReset() { zoomBy(kDefaultFontPx - fontPixelSize()); }

// ---- session log ----

// The display path hands over the rows each chunk completed, so the log holds what the
// screen shows, in the session's encoding, with one write per chunk.
void TqTermMain::logRows(std::string_view rows) {
    if (!log_)
        return;
    std::vector<std::string_view> done;
    std::string joined;  // a row whose start came with an earlier chunk
    std::size_t from = 0;
    for (std::size_t nl; (nl = rows.find('\n', from)) != std::string_view::npos; from = nl + 1) {
        std::string_view row = rows.substr(from, nl - from);
        if (!logCarry_.empty() && done.empty()) {
            joined = std::move(logCarry_);
            logCarry_.clear();
            joined.append(row);
            row = joined;
        }
        done.push_back(row);
    }
    logCarry_.append(rows.substr(from));
    if (done.empty())
        return;
    try {
        log_->lineViews(done);
    } catch (const SessionLogError& e) {
        logFailed(e);
    }
}

std::unique_ptr<SessionLog> TqTermMain::detachLog() {
    std::unique_ptr<SessionLog> log = std::move(log_);
    Memo1->lines().setLineObserver(nullptr);
    logCarry_.clear();
    Log1->setText(ui("ログ記録..."));
    return log;
}

void TqTermMain::finishLog() {
    if (!log_)
        return;
    std::string last = std::move(logCarry_);
    last += Memo1->lines().unfinishedLine();
    std::unique_ptr<SessionLog> log = detachLog();
    try {
        log->finish(last);
    } catch (const SessionLogError& e) {
        logFailed(e);
    }
}

void TqTermMain::startLog(const std::string& path, SessionLog::Open how) {
    finishLog();
    try {
        log_ = std::make_unique<SessionLog>(path, logTimestamps_, logClock, how);
        // Rows are handed over only while a log wants them.
        Memo1->lines().setLineObserver([this](std::string_view rows) { logRows(rows); });
        Log1->setText(ui("ログ停止"));
    } catch (const SessionLogError& e) {
        logFailed(e);
    }
}

void TqTermMain::stopLog() { finishLog(); }

void TqTermMain::setLogTimestamps(bool on) {
    logTimestamps_ = on;
    if (LogTimestamps1->isChecked() != on)
        LogTimestamps1->setChecked(on);
    if (log_)
        log_->setTimestamps(on);
}

// At the start of a session: the command line's file, else the settings file's folder.
void TqTermMain::openSessionLog() {
    if (log_)
        return;
    if (!args_.logFile.empty()) {
        startLog(args_.logFile);
        return;
    }
    if (logSettings_.dir.empty())
        return;
    std::error_code ec;
    std::filesystem::create_directories(logSettings_.dir, ec);
    startLog(sessionLogPath(logSettings_.dir, IdTelnetDemo.Host, IdTelnetDemo.Port,
                            logClock ? logClock() : std::chrono::system_clock::now()),
             SessionLog::Open::NewFile);
}

std::string TqTermMain::suggestedLogPath() const {
    const std::string dir = logSettings_.dir.empty() ? QDir::currentPath().toLocal8Bit().toStdString()
                                                     : logSettings_.dir;
    const std::string host = IdTelnetDemo.Host.empty() ? args_.host : IdTelnetDemo.Host;
    return sessionLogPath(dir, host.empty() ? "qterm" : host, IdTelnetDemo.Port,
                          logClock ? logClock() : std::chrono::system_clock::now());
}

void TqTermMain::Log1Click() {
    if (log_) {
        stopLog();
        return;
    }
    const std::string path = askLogFile ? askLogFile(suggestedLogPath()) : std::string();
    if (!path.empty())
        startLog(path);
}

// One box per failure; the session goes on without the log.
void TqTermMain::logFailed(const SessionLogError& e) {
    detachLog();
    const std::string what = e.opening ? sj("ログファイルを開けません。") : sj("ログファイルに書き込めません。");
    showLater(what + "\n" + cp932::fromUtf8(e.path) + "\n" + cp932::fromUtf8(e.reason));
}
