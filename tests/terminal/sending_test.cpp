// Sending, program-level: the whole qterm program in this process against real loopback hosts
// that never read, echo through small buffers, time what arrives, or end the session while a
// question is open. Typed keys and pastes go through the send queue; the window never waits.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "FaultyStack.h"
#include "IdSocketErrors.h"
#include "LoopbackServer.h"
#include "OutputView.h"
#include "PastePreview.h"
#include "cp932.h"
#include "guardedapp.h"
#include "program_run.h"
#include "qtext.h"
#include "scratch.h"
#include "../waituntil.h"

namespace {

// A settings file of the test's own, with the given text as qterm.ini.
struct Settings {
    TempDir dir;
    EnvVar xdg{"XDG_CONFIG_HOME", dir.path.string()};
    explicit Settings(const std::string& ini = "") {
        std::filesystem::create_directories(dir.path / "qterm");
        std::ofstream(dir.path / "qterm" / "qterm.ini") << ini;
    }
};

// Numbered lines of about 80 bytes, each ended by a bare line break as a clipboard has it.
QString pasteLines(int count, char fill = '.') {
    std::string s;
    char number[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(number, sizeof number, "paste line %07d ", i);
        std::string line = number;
        line.resize(79, fill);
        s += line + "\n";
    }
    return QString::fromLatin1(s.c_str());
}

// What a paste goes out as to a host that has sent no telnet command: each line break CR LF.
std::string plainWire(const QString& text) {
    std::string out;
    for (char c : text.toStdString())
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// A host that reads nothing until released, then everything until qterm closes.
struct HeldHost {
    std::promise<void> released;
    std::promise<std::string> got;
    LoopbackServer server{[this](int fd) {
        released.get_future().wait();
        got.set_value(ReadUntilClosed(fd));
    }};
    std::string port() const { return std::to_string(server.Port()); }
    void release() { released.set_value(); }
    std::string received() { return got.get_future().get(); }
};

// Pastes text and lets the loop run until it is encoded and queued (or refused).
void paste(TqTermMain& w, const QString& text) {
    w.pasteText(text);
    EXPECT_TRUE(waitUntil([&] { return !w.pasting(); }, 60000)) << "the paste was never queued";
}

std::string lastShownLine(TqTermMain& w, int back = 1) {
    QTextBlock b = w.Memo1->document()->lastBlock();  // the empty line below the last break
    for (int i = 0; i < back; ++i)
        b = b.previous();
    return b.text().toStdString();
}

// Calls answer with the preview once it is open.
void whenPreviewOpens(std::function<void(PastePreview&)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* p = dynamic_cast<PastePreview*>(top); p && p->isVisible()) {
                poll->deleteLater();
                answer(*p);
                return;
            }
    });
    poll->start(10);
}

QPushButton* button(QWidget& dialog, const char* utf8) {
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == toQ(cp932::sj(utf8)))
            return b;
    return nullptr;
}

} // namespace

// 20 MB pasted to a host that never reads: the paste returns at once, the window's timers
// keep firing while the bytes wait, the status bar counts them, and Disconnect or a close of
// the window ends it at once. The host gets exactly what the socket took before the end,
// in order; the rest is dropped. A Disconnect while the paste is still being encoded sends
// nothing of it.
TEST(QtermSending, AHostThatNeverReadsLeavesTheWindowWorking) {
    enum class End { Disconnect, Close, DisconnectWhileEncoding };
    for (End end : {End::Disconnect, End::Close, End::DisconnectWhileEncoding}) {
        Settings settings("[paste]\nconfirm=never\n");
        HeldHost host;
        const QString text = pasteLines(20 * 1000 * 1000 / 80);
        const std::string wire = plainWire(text);
        int ticks = 0;
        std::size_t waiting = 0;
        QString status;
        bool closedAtOnce = false;
        std::size_t waitingAfter = 1;
        RunOutcome r = runWithBoxes({"127.0.0.1", host.port()}, [&](TqTermMain& w) {
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
            tick.start(10);
            if (end == End::DisconnectWhileEncoding) {
                w.pasteText(text);
                EXPECT_TRUE(w.pasting());
            } else {
                paste(w, text);
                EXPECT_GT(w.sendWaiting(), 0u);
                EXPECT_TRUE(waitUntil([&] { return ticks >= 30; }, 60000)) << "the window's timers stopped";
                // The count is refreshed at most every 100 ms, and the kernel may still take bytes.
                waitUntil([&] { return w.statusText() == QString("Sending: %1 bytes left").arg(w.sendWaiting()); }, 5000);
            }
            waiting = w.sendWaiting();
            status = w.statusText();
            if (end == End::Disconnect)
                w.Disconnect1->trigger();
            else
                w.close();
            closedAtOnce = !w.isVisible() && !w.pasting();
            waitingAfter = w.sendWaiting();
        });
        host.release();
        const std::string received = host.received();
        const int i = int(end);
        EXPECT_EQ(r.status, 0) << i;
        EXPECT_TRUE(r.boxes.empty()) << i;
        EXPECT_TRUE(closedAtOnce) << i;
        EXPECT_EQ(waitingAfter, 0u) << i;
        if (end == End::DisconnectWhileEncoding) {
            EXPECT_EQ(received, "");
            continue;
        }
        EXPECT_GT(waiting, 0u) << i;
        EXPECT_EQ(status, QString("Sending: %1 bytes left").arg(waiting)) << i;
        EXPECT_EQ(received.size(), wire.size() - waiting) << i;
        EXPECT_TRUE(wire.compare(0, received.size(), received) == 0) << i << ": not the start of the paste";
    }
}

// A host that echoes through 4 KiB socket buffers and Ethernet-sized segments, as a small
// appliance does: a 4 MB paste goes through whole and in order while the window shows the
// echo; keys typed while it is still being encoded and while it waits to go follow it, and
// their echo is the last line shown.
TEST(QtermSending, EchoThroughSmallBuffers) {
    Settings settings("[paste]\nconfirm=never\n");
    std::promise<std::string> got;
    auto appliance = [](int listener) {
        const int small = 4096, segment = 1460;
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ::setsockopt(listener, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        ::setsockopt(listener, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    };
    LoopbackServer server([&](int fd) {
        std::string in;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
            in.append(buf, std::size_t(n));
            SendAll(fd, std::string(buf, std::size_t(n)));
        }
        got.set_value(in);
    }, 1, appliance);
    const QString text = pasteLines(4 * 1000 * 1000 / 80);
    const std::string wire = plainWire(text);
    const std::string lastPasted = text.section('\n', -2, -2).toStdString();
    std::size_t waitingWhenTyped = 0;
    bool encodingWhenTyped = false;
    bool done = false;
    double seconds = 0;
    std::string shownLast, shownBefore;
    QString status;
    RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(server.Port())}, [&](TqTermMain& w) {
        QElapsedTimer clock;
        clock.start();
        w.pasteText(text);
        encodingWhenTyped = w.pasting();
        QTest::keyClicks(w.Memo1, "en");
        EXPECT_TRUE(waitUntil([&] { return !w.pasting(); }, 60000));
        waitingWhenTyped = w.sendWaiting();
        QTest::keyClicks(w.Memo1, "d");
        QTest::keyClick(w.Memo1, Qt::Key_Return);
        done = waitUntil([&] { return w.sendWaiting() == 0 && !w.outputPending() && lastShownLine(w) == "end"; }, 60000);
        seconds = double(clock.elapsed()) / 1000;
        shownLast = lastShownLine(w);
        shownBefore = lastShownLine(w, 2);
        status = w.statusText();
        w.Disconnect1->trigger();
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_TRUE(encodingWhenTyped) << "the first keys were typed after the paste was encoded";
    EXPECT_GT(waitingWhenTyped, 0u) << "the last keys were typed after the paste had gone";
    EXPECT_TRUE(done) << "the paste did not get through";
    EXPECT_EQ(shownLast, "end");
    EXPECT_EQ(shownBefore, lastPasted);
    EXPECT_EQ(status, "Connected") << "the status bar went back once nothing waited";
    const std::string received = got.get_future().get();
    EXPECT_EQ(received.size(), wire.size() + 5);
    EXPECT_TRUE(received == wire + "end\r\n") << "bytes lost or out of order";
    std::printf("echo through 4 KiB buffers: %.1f MB and its echo in %.1f s\n", double(wire.size()) / 1e6, seconds);
}

namespace {

// A host that notes when each byte reached its socket (the kernel's receive time, which a
// late reader cannot shift) and reads until qterm closes.
struct TimingHost {
    struct Byte {
        char c;
        double ms;  // receive time
    };
    std::promise<std::vector<Byte>> got;
    // On the listener, so the accepted socket times even bytes that come before its script runs.
    LoopbackServer server{[this](int fd) { got.set_value(readTimed(fd)); }, 1, [](int listener) {
                              const int on = 1;
                              ::setsockopt(listener, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
                          }};
    TimingHost() { awaitKernelTimestamps(); }

    // One byte and the kernel's receive time of it in ms (-1: none came with it); false at the end.
    static bool receiveStamped(int fd, char& c, double& ms) {
        char control[256];
        iovec io{&c, 1};
        msghdr m{};
        m.msg_iov = &io;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        if (::recvmsg(fd, &m, 0) <= 0)
            return false;
        ms = -1;
        for (cmsghdr* h = CMSG_FIRSTHDR(&m); h; h = CMSG_NXTHDR(&m, h))
            if (h->cmsg_level == SOL_SOCKET && h->cmsg_type == SO_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(h), sizeof ts);
                ms = double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
            }
        return true;
    }

    // The kernel turns receive timestamps on for everyone a little after the first socket
    // asks (deferred work, late on a busy machine); bytes that come before carry none. A
    // datagram to ourselves shows when they are on, and the listener keeps them on.
    static void awaitKernelTimestamps() {
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof self;
        ::bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&self), &len);
        char c;
        double ms = -1;
        for (int tries = 0; tries < 500; ++tries) {
            ::sendto(s, "t", 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof self);
            if (receiveStamped(s, c, ms) && ms >= 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(s);
    }

    static std::vector<Byte> readTimed(int fd) {
        std::vector<Byte> bytes;
        char c;
        double ms;
        while (receiveStamped(fd, c, ms))
            bytes.push_back({c, ms});
        return bytes;
    }
};

} // namespace

// With a line delay (from qterm.ini, or set in the menu) each line of a paste reaches the
// host at least that long after the previous line's end, and so does a key typed behind it.
TEST(QtermSending, PacedPasteKeepsTheDelayBetweenLines) {
    constexpr int kDelayMs = 100;
    enum class From { SettingsFile, Menu };
    for (From from : {From::SettingsFile, From::Menu}) {
        Settings settings(from == From::SettingsFile
                              ? "[paste]\nconfirm=never\nline_delay_ms=" + std::to_string(kDelayMs) + "\n"
                              : "[paste]\nconfirm=never\n");
        TimingHost host;
        const QString text = "show version\nshow interfaces\n\nconfigure terminal\nexit";
        const std::string wire = plainWire(text) + "!";
        int askedWith = -1;
        RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(host.server.Port())}, [&](TqTermMain& w) {
            if (from == From::Menu) {
                w.askLineDelay = [&](int current) -> std::optional<int> {
                    askedWith = current;
                    return kDelayMs;
                };
                w.LineDelay1->trigger();
            }
            EXPECT_EQ(w.lineDelayMs(), kDelayMs);
            w.pasteText(text);
            QTest::keyClick(w.Memo1, Qt::Key_Exclam);
            EXPECT_TRUE(waitUntil([&] { return w.sendWaiting() == 0; }, 60000));
            w.Disconnect1->trigger();
        });
        EXPECT_EQ(r.status, 0);
        if (from == From::Menu) {
            EXPECT_EQ(askedWith, 0);
        }
        const std::vector<TimingHost::Byte> got = host.got.get_future().get();
        std::string received;
        for (const auto& b : got)
            received += b.c;
        ASSERT_EQ(received, wire);
        std::string gaps;
        for (std::size_t i = 1; i < got.size(); ++i) {
            if (got[i - 1].c != '\n')
                continue;
            const double gap = got[i].ms - got[i - 1].ms;
            ASSERT_GE(got[i - 1].ms, 0) << "no receive time";
            EXPECT_GE(gap, kDelayMs) << "before byte " << i;
            gaps += " " + std::to_string(int(gap));
        }
        std::printf("paced paste (%s): gaps between lines on arrival, ms:%s\n",
                    from == From::Menu ? "menu" : "settings file", gaps.c_str());
    }
}

// The preview of a multi-line paste: what the user edited is what goes, Ctrl+Enter sends it,
// Cancel sends nothing. Above 1 MiB the preview shows the size and line count instead of the
// text, and Send sends it whole.
TEST(QtermSending, PreviewSendsTheEditedTextAndCancelNothing) {
    Settings settings;  // the default: a multi-line paste is previewed
    std::promise<std::string> got;
    LoopbackServer server([&](int fd) { got.set_value(ReadUntilClosed(fd)); });
    const QString large = pasteLines(15000);  // 1.2 MB
    QString shown, summary;
    bool editorAtLarge = true;
    RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(server.Port())}, [&](TqTermMain& w) {
        whenPreviewOpens([&](PastePreview& p) {
            shown = p.editor()->toPlainText();
            p.editor()->setPlainText("ls -l\nexit");
            QTest::keyClick(p.editor(), Qt::Key_Return, Qt::ControlModifier);
        });
        w.pasteText("ls\nrm -rf /srv\n");
        whenPreviewOpens([&](PastePreview& p) { button(p, "キャンセル")->click(); });
        w.pasteText("reboot\n");
        EXPECT_EQ(w.sendWaiting(), 0u);
        whenPreviewOpens([&](PastePreview& p) {
            editorAtLarge = p.editor() != nullptr;
            for (QLabel* l : p.findChildren<QLabel*>())
                summary += l->text();
            button(p, "送信")->click();
        });
        paste(w, large);
        QTest::keyClick(w.Memo1, Qt::Key_Z);
        EXPECT_TRUE(waitUntil([&] { return w.sendWaiting() == 0; }, 60000));
        w.Disconnect1->trigger();
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(shown, "ls\nrm -rf /srv\n");
    EXPECT_FALSE(editorAtLarge);
    EXPECT_TRUE(summary.contains(toQ(cp932::sj("1,200,000 バイト、15,000 行")))) << summary.toStdString();
    const std::string received = got.get_future().get();
    EXPECT_TRUE(received == "ls -l\r\nexit" + plainWire(large) + "z") << received.substr(0, 40);
}

// A paste that would take the queue past its bound (64 MiB) is refused whole with a notice:
// alone, or behind a large paste still going out to a host that does not read. Nothing of it
// is sent; what was queued before goes on as it was.
TEST(QtermSending, PasteOverTheBoundSendsNothing) {
    Settings settings("[paste]\nconfirm=never\n");
    HeldHost host;
    std::size_t bound = 0, refusedAlone = 1, before = 0, after = 1;
    RunOutcome r = runWithBoxes({"127.0.0.1", host.port()}, [&](TqTermMain& w) {
        bound = SendQueue::kDefaultBound;
        paste(w, QString(int(bound) + 1, QChar('a')));
        refusedAlone = w.sendWaiting();
        paste(w, QString(40 << 20, QChar('b')));
        before = w.sendWaiting();
        paste(w, QString(30 << 20, QChar('c')));
        after = w.sendWaiting();  // the kernel may have taken more of the first meanwhile
        w.Disconnect1->trigger();
    });
    host.release();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(refusedAlone, 0u);
    EXPECT_GT(before, 0u);
    EXPECT_GT(after, 0u);
    EXPECT_LE(after, before) << "something of the refused paste was queued";
    ASSERT_EQ(r.boxes.size(), 2u);
    for (const SeenBox& b : r.boxes) {
        EXPECT_EQ(b.icon, QMessageBox::Warning);
        EXPECT_TRUE(b.text.contains(toQ(cp932::sj("送信しません")))) << b.text.toStdString();
        EXPECT_TRUE(b.windowOpen);
    }
    const std::string received = host.received();
    EXPECT_EQ(received.size(), (40u << 20) - after);
    EXPECT_EQ(received.find_first_not_of('b'), std::string::npos);
}

// The host ends the session while the preview, the large-paste question or an injected
// preview that answers Send only afterwards is open: the question closes unanswered, nothing
// is sent, no error box shows, and the program ends as after a normal close.
TEST(QtermSending, HostEndingTheSessionDuringAQuestionSendsNothing) {
    enum class Question { Preview, LargeQuestion, AnswersSendAfterTheEnd };
    for (Question q : {Question::Preview, Question::LargeQuestion, Question::AnswersSendAfterTheEnd}) {
        Settings settings(q == Question::LargeQuestion ? "[paste]\nconfirm=large\n" : "");
        std::promise<void> endNow;
        std::promise<std::string> got;
        LoopbackServer server([&](int fd) {
            endNow.get_future().wait();
            ::shutdown(fd, SHUT_WR);  // the end of the session; the host still sees what comes
            got.set_value(ReadUntilClosed(fd));
        });
        const QString text = q == Question::LargeQuestion ? QString(70000, QChar('x')) : QString("reload\ny\n");
        std::size_t waiting = 1;
        RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(server.Port())}, [&](TqTermMain& w) {
            if (q == Question::AnswersSendAfterTheEnd) {
                w.previewPaste = [&](const QString& t, std::size_t, std::size_t) -> std::optional<QString> {
                    endNow.set_value();
                    waitUntil([&] { return !w.isVisible(); }, 60000);
                    return t;
                };
            } else {
                auto* poll = new QTimer(&w);
                QObject::connect(poll, &QTimer::timeout, [&, poll] {
                    if (QApplication::activeModalWidget()) {
                        poll->stop();
                        endNow.set_value();
                    }
                });
                poll->start(10);
            }
            paste(w, text);
            waiting = w.sendWaiting();
        });
        const int i = int(q);
        EXPECT_EQ(r.status, 0) << i;
        EXPECT_TRUE(r.boxes.empty()) << i;
        EXPECT_EQ(waiting, 0u) << i;
        EXPECT_EQ(got.get_future().get(), "") << i;
    }
}

// With nothing waiting, each typed key is one write of its bytes, at once: "a", "b", and
// Enter's CR LF to a host that has sent no telnet command.
TEST(QtermSending, TypedKeysGoOneWriteEachWhenNothingWaits) {
    Settings settings;
    FaultyStackScope faulty;
    std::promise<std::string> got;
    LoopbackServer server([&](int fd) { got.set_value(ReadUntilClosed(fd)); });
    int sends = -1;
    RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(server.Port())}, [&](TqTermMain& w) {
        FaultyStack::Sends = 0;
        QTest::keyClicks(w.Memo1, "ab");
        QTest::keyClick(w.Memo1, Qt::Key_Return);
        sends = FaultyStack::Sends;
        EXPECT_EQ(w.sendWaiting(), 0u);
        w.Disconnect1->trigger();
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sends, 3);
    EXPECT_EQ(got.get_future().get(), "ab\r\n");
}

// A send error while a paste waits in the queue ends it as a typed key's error does: the
// same box, the rest of the paste dropped, exit status 1. WSAESHUTDOWN drops the socket, so
// the window closes first; a reset leaves the connection open, and a key typed afterwards
// still goes, straight behind what the socket took before the error.
TEST(QtermSending, SendErrorFromTheQueueIsShownAsATypedKeysIs) {
    struct Case {
        int code;
        const char* box;
        bool windowOpen;
    };
    const Case cases[] = {
        {WSAESHUTDOWN, "Socket Error # 10058\r\nCannot send or receive after socket is closed.", false},
        {WSAECONNRESET, "Socket Error # 10054\r\nConnection reset by peer.", true},
    };
    for (const Case& c : cases) {
        Settings settings("[paste]\nconfirm=never\n");
        FaultyStackScope faulty;
        HeldHost host;
        const QString text = pasteLines(20 * 1000 * 1000 / 80);
        const std::string wire = plainWire(text);
        std::size_t waiting = 0;
        bool openAfter = false;
        RunOutcome r = runWithBoxes({"127.0.0.1", host.port()}, [&](TqTermMain& w) {
            paste(w, text);
            waiting = w.sendWaiting();
            FaultyStack::SendError = c.code;
            host.release();  // the host reads now, so the socket can take more: the queue's write fails
            EXPECT_TRUE(waitUntil([&] { return w.sendWaiting() == 0; }, 60000));
            FaultyStack::SendError = 0;
            QTimer::singleShot(300, &w, [&] {
                openAfter = w.isVisible();
                if (openAfter) {
                    QTest::keyClick(w.Memo1, Qt::Key_K);
                    w.close();
                }
            });
        });
        EXPECT_GT(waiting, 0u) << c.code;
        EXPECT_EQ(r.status, 1) << c.code;
        ASSERT_EQ(r.boxes.size(), 1u) << c.code;
        EXPECT_EQ(r.boxes[0].text, c.box);
        EXPECT_EQ(r.boxes[0].windowOpen, c.windowOpen) << c.code;
        EXPECT_EQ(openAfter, c.windowOpen) << c.code;
        const std::string received = host.received();
        const std::string taken = wire.substr(0, wire.size() - waiting);
        EXPECT_TRUE(received == (c.windowOpen ? taken + "k" : taken)) << c.code << ": " << received.size() << " of "
                                                                      << taken.size();
    }
}

// A paste whose first write fails (a reset that leaves the connection open) shows the error
// as a typed key's would, and leaves nothing behind: the next key goes at once.
TEST(QtermSending, APasteWhoseWriteFailsLeavesTypingWorking) {
    Settings settings("[paste]\nconfirm=never\n");
    FaultyStackScope faulty;
    std::promise<std::string> got;
    LoopbackServer server([&](int fd) { got.set_value(ReadUntilClosed(fd)); });
    bool pastingAfter = true;
    RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(server.Port())}, [&](TqTermMain& w) {
        FaultyStack::SendError = WSAECONNRESET;
        reportingErrors([&] { w.pasteText("ping\n"); });
        FaultyStack::SendError = 0;
        pastingAfter = w.pasting();
        QTest::keyClick(w.Memo1, Qt::Key_K);
        EXPECT_EQ(w.sendWaiting(), 0u);
        QTimer::singleShot(100, &w, [&w] { w.Disconnect1->trigger(); });
    });
    EXPECT_FALSE(pastingAfter);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(got.get_future().get(), "k");
}
