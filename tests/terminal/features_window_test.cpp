// The terminal window's tools for daily work, offscreen against scripted hosts: copy and
// paste, the session log, the encoding menu and the zoom keys.
#include <gtest/gtest.h>

#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTest>
#include <QImage>
#include <QTextBlock>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "OutputView.h"
#include "Sgr.h"
#include "cp932.h"
#include "mainform.h"
#include "../finder/files.h"  // whole-file reads
#include "qtext.h"
#include "scratch.h"
#include "test_host.h"

namespace fs = std::filesystem;
using namespace std::chrono;
using cp932::sj;

namespace {

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

// No settings file of the machine's user reaches these tests.
struct NoSettings {
    TempDir dir;
    EnvVar xdg{"XDG_CONFIG_HOME", dir.path.string()};
};

// A window connected to the host, shown, with its text caught up.
struct Session {
    NoSettings settings;
    TestHost host;
    std::unique_ptr<TqTermMain> w;
    explicit Session(std::vector<std::string> options = {},
                     const std::function<void(TqTermMain&)>& before = nullptr) {
        options.push_back("127.0.0.1");
        options.push_back(host.port());
        w = std::make_unique<TqTermMain>(options);
        if (before)
            before(*w);
        EXPECT_TRUE(w->FormShow());
        w->show();
    }
    ~Session() { w.reset(); }
    // Waits until the view shows `text` (UTF-8, lines joined by "\n").
    bool shows(const std::string& text) {
        return waitFor([&] { return !w->outputPending() && w->Memo1->toPlainText() == QString::fromUtf8(text); });
    }
};

// Where the character at pos stands in the view, for the mouse.
QPoint pointAt(OutputView* v, int pos) {
    QTextCursor c(v->document());
    c.setPosition(pos);
    return v->cursorRect(c).center();
}

QAction* encodingItem(TqTermMain& w, const char* label) {
    for (QAction* a : w.Encoding1->actions())
        if (a->text() == label)
            return a;
    return nullptr;
}

const system_clock::time_point kWhen = system_clock::time_point(seconds(1796871845)) + milliseconds(67);

} // namespace

TEST(QtermFeatures, MenuItemsFollowTheConnectionItems) {
    NoSettings settings;
    TqTermMain w(std::vector<std::string>{});
    const auto items = w.PopupMenu1->actions();
    std::vector<QString> texts;
    for (QAction* a : items)
        texts.push_back(a->isSeparator() ? "|" : a->text());
    const std::vector<QString> want = {
        "&Connect", "&Disconnect", "|", toQ(sj("接続先...")), "|", toQ(sj("コピー")), toQ(sj("貼り付け")), toQ(sj("すべて選択")),
        toQ(sj("貼り付けの行間隔...")), "|", toQ(sj("ログ記録...")), toQ(sj("タイムスタンプを付ける")), toQ(sj("文字コード"))};
    EXPECT_EQ(texts, want);
    std::vector<QString> encodings;
    for (QAction* a : w.Encoding1->actions())
        encodings.push_back(a->text() + (a->isChecked() ? "*" : ""));
    EXPECT_EQ(encodings, (std::vector<QString>{"cp932*", "UTF-8", "EUC-JP"}));
    EXPECT_TRUE(w.EncodingGroup1->isExclusive());
    EXPECT_FALSE(w.LogTimestamps1->isChecked());
}

// A mouse selection over kanji, copied with Ctrl+Shift+C, is the text as shown; "すべて
//選択" takes the whole scrollback. Neither sends anything, and Ctrl+C stays the host's.
TEST(QtermFeatures, CopiesTheSelectionAsShown) {
    ErrorBoxes box;
    Session s;
    s.host.send(sj("日本語テキスト") + "\r\nsecond\r\n");
    ASSERT_TRUE(s.shows("日本語テキスト\nsecond\n"));
    QGuiApplication::clipboard()->clear();

    OutputView* v = s.w->Memo1;
    auto at = [&](int pos) { return pointAt(v, pos); };
    QTest::mousePress(v->viewport(), Qt::LeftButton, {}, at(1));
    QTest::mouseMove(v->viewport(), at(4));
    QTest::mouseRelease(v->viewport(), Qt::LeftButton, {}, at(4));
    ASSERT_TRUE(v->textCursor().hasSelection());
    QTest::keyClick(v, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "本語テ");
    if (QGuiApplication::clipboard()->supportsSelection()) {
        EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection).toStdString(), "本語テ");
    }

    s.w->SelectAll1->trigger();
    s.w->Copy1->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "日本語テキスト\nsecond\n");

    QTest::keyClick(v, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(s.host.receive(1), "\x03");
    QTest::qWait(50);
    EXPECT_EQ(s.host.received(), "\x03");
    EXPECT_TRUE(box.shown.empty());
}

// The preview of a multi-line paste, answered with Send: what it was shown is recorded.
struct SendsPreviewed {
    std::vector<QString> shown;
    explicit SendsPreviewed(TqTermMain& w) {
        w.previewPaste = [this](const QString& text, std::size_t, std::size_t) -> std::optional<QString> {
            shown.push_back(text);
            return text;
        };
    }
};

// Each way of pasting sends the clipboard as typed: the session's encoding, each line
// break as Enter (CR LF to a plain host, CR once the host has spoken telnet), and nothing
// lands in the view. Each of these pastes holds a line break, so each is previewed first.
TEST(QtermFeatures, PasteSendsTheClipboardAsTyped) {
    ErrorBoxes box;
    struct Case {
        const char* encoding;
        std::string kanji;  // 日本 in that encoding
    };
    const Case cases[] = {
        {"cp932", "\x93\xfa\x96\x7b"},
        {"UTF-8", "日本"},
        {"EUC-JP", "\xc6\xfc\xcb\xdc"},
    };
    for (const Case& c : cases) {
        Session s;
        SendsPreviewed preview(*s.w);
        encodingItem(*s.w, c.encoding)->trigger();
        QGuiApplication::clipboard()->setText(QString::fromUtf8("日本\r\nok\n"));
        const std::string once = c.kanji + "\r\nok\r\n";
        QTest::keyClick(s.w->Memo1, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(s.host.receive(once.size()), once) << c.encoding;
        QTest::keyClick(s.w->Memo1, Qt::Key_Insert, Qt::ShiftModifier);
        EXPECT_EQ(s.host.receive(2 * once.size()), once + once) << c.encoding;
        s.w->Paste1->trigger();
        EXPECT_EQ(s.host.receive(3 * once.size()), once + once + once) << c.encoding;
        EXPECT_EQ(s.w->Memo1->toPlainText(), "");
        EXPECT_EQ(preview.shown, std::vector<QString>(3, QString::fromUtf8("日本\r\nok\n"))) << c.encoding;
    }

    // A telnet command from the host: Enter is a single CR from then on.
    Session s;
    SendsPreviewed preview(*s.w);
    s.host.send("\xff\xf1");  // IAC NOP
    ASSERT_TRUE(waitFor([&] { return s.w->telnet().ServerIsTelnet(); }));
    s.w->pasteText("a\nb\n");
    EXPECT_EQ(s.host.receive(4), "a\rb\r");
    EXPECT_TRUE(box.shown.empty());
}

TEST(QtermFeatures, PasteOverSixtyFourKiBAsksFirst) {
    ErrorBoxes box;
    Session s;
    std::vector<std::size_t> asked;
    bool answer = false;
    s.w->confirmLargePaste = [&](std::size_t n) {
        asked.push_back(n);
        return answer;
    };
    const QString limit(int(TqTermMain::kLargePaste), QChar('x'));
    const QString over = limit + "y";
    s.w->pasteText(over);  // declined: nothing goes out
    s.w->pasteText("!");
    EXPECT_EQ(s.host.receive(1), "!");
    answer = true;
    s.w->pasteText(over);
    s.w->pasteText(limit);  // at the limit: no question
    const std::size_t total = 1 + 2 * TqTermMain::kLargePaste + 1;
    const std::string got = s.host.receive(total);
    EXPECT_EQ(got.size(), total);
    EXPECT_EQ(got.substr(1, over.size()), over.toStdString());
    EXPECT_EQ(asked, (std::vector<std::size_t>{TqTermMain::kLargePaste + 1, TqTermMain::kLargePaste + 1}));
}

// Without a connection a paste does nothing at all.
TEST(QtermFeatures, PasteWhileIdleSendsNothing) {
    ErrorBoxes box;
    NoSettings settings;
    TqTermMain w(std::vector<std::string>{});
    ASSERT_TRUE(w.FormShow());
    w.show();
    QGuiApplication::clipboard()->setText("ls\n");
    QTest::keyClick(w.Memo1, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    w.Paste1->trigger();
    QTest::qWait(20);
    EXPECT_EQ(w.Memo1->toPlainText(), "");
    EXPECT_TRUE(box.shown.empty());
}

// What the host sent, as the view shows it, line by line as each completes; the check
// item switches the time stamps from then on; the current line is written at the end.
TEST(QtermFeatures, LogsTheSessionAsShown) {
    ErrorBoxes box;
    EnvVar tz("TZ", "UTC");
    TempDir dir;
    const std::string path = dir.file("session.log");
    Session s({"--log", path, "--log-timestamps"}, [&](TqTermMain& w) { w.logClock = [] { return kWhen; }; });
    EXPECT_TRUE(s.w->LogTimestamps1->isChecked());
    EXPECT_EQ(s.w->Log1->text(), toQ(sj("ログ停止")));
    s.host.send("abc\x82");  // a kanji split across two chunks
    ASSERT_TRUE(s.shows("abc"));
    s.host.send(std::string("\xa0" "def\r\nx\r\0y", 10));  // CR NUL: a bare carriage return
    const std::string stamp = "[2026-12-10 03:04:05.067] ";
    const std::string first = stamp + "abcあdef\n" + stamp + "x\n";
    ASSERT_TRUE(waitFor([&] { return bytesOf(path) == first; })) << bytesOf(path);
    s.w->LogTimestamps1->trigger();
    EXPECT_FALSE(s.w->sessionLog()->timestamps());
    // A bare LF ends a row on the screen, so it ends a line of the log at once.
    s.host.send("2\r\na\nb\r\nbare LF\n\ntail");
    ASSERT_TRUE(waitFor([&] { return bytesOf(path) == first + "y2\na\nb\nbare LF\n\n"; })) << bytesOf(path);
    s.host.close();
    ASSERT_TRUE(waitFor([&] { return !s.w->isVisible(); }));
    EXPECT_EQ(bytesOf(path), first + "y2\na\nb\nbare LF\n\ntail\n");
    EXPECT_FALSE(s.w->logging());
    EXPECT_TRUE(box.shown.empty());
}

// A console session with colours, a title, a cleared screen, the pager's prompt erased,
// a move left and an erase, a bell and a tab: the log, the view and Copy hold only the
// text as finally shown; the bell rings.
TEST(QtermFeatures, LogAndCopyHoldOnlyTheShownText) {
    ErrorBoxes box;
    TempDir dir;
    const std::string path = dir.file("console.log");
    Session s({"--log", path});
    int bells = 0;
    s.w->Memo1->ringBell = [&] { ++bells; };
    const std::string esc = "\x1b", bs8(8, '\b');
    s.host.send(esc + "]0;switch01\a" + esc + "[2J" + esc + "[H" + esc + "[1mWelcome" + esc + "[0m to " + esc + "[3");
    s.host.send("2mswitch01" + esc + "[m\r\nshow run\r\ninterface eth0\r\n--More--" + bs8 + "        " + bs8);
    s.host.send(" description uplink\r\nabcdef" + esc + "[3DXY" + esc + "[K\r\nbell\a here\r\n" + esc +
                "[38;5;196mred" + esc + "[48;5;21mblue-bg" + esc + "[0m\r\ntab\there\r\n" + sj("漢字") + "\b\b" +
                sj("字") + "\r\nprompt> ");
    const std::string shown = "Welcome to switch01\nshow run\ninterface eth0\n description uplink\nabcXY\n"
                              "bell here\nredblue-bg\ntab\there\n漢字\nprompt> ";
    ASSERT_TRUE(s.shows(shown)) << s.w->Memo1->toPlainText().toStdString();
    EXPECT_EQ(bells, 1);
    s.w->SelectAll1->trigger();
    s.w->Copy1->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), shown);
    s.host.close();
    ASSERT_TRUE(waitFor([&] { return !s.w->isVisible(); }));
    EXPECT_EQ(bytesOf(path), shown + "\n");
    EXPECT_TRUE(box.shown.empty());
}

// The colours reach the screen: text in the palette's red, a blue background, reverse
// video on green, painted with the installed font. (Runs offscreen and under Xvfb.)
TEST(QtermFeatures, ColoursAppearOnScreen) {
    ErrorBoxes box;
    Session s;
    const std::string esc = "\x1b";
    s.host.send("plain " + sj("■■■■") + "\r\n" + esc + "[31m" + sj("■■■■") + esc + "[0m " + esc + "[44m    " + esc +
                "[0m " + esc + "[7;32mrev" + esc + "[0m\r\n");
    ASSERT_TRUE(s.shows("plain ■■■■\n■■■■      rev\n"));
    QCoreApplication::processEvents();
    const QImage shot = s.w->Memo1->viewport()->grab().toImage();
    auto count = [&](Rgb c) {
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                n += shot.pixelColor(x, y) == QColor(c.r, c.g, c.b);
        return n;
    };
    const int em = s.w->fontPixelSize();
    EXPECT_GT(count(kPalette[1]), em * em);       // four red squares
    EXPECT_GT(count(kPalette[4]), em * em);       // four blanks on blue
    EXPECT_GT(count(kPalette[2]), em * em / 2);   // green behind "rev"
    EXPECT_GT(count(kDefaultForeground), em * 2);  // the plain squares, white
    EXPECT_TRUE(box.shown.empty());
}

// "ログ記録..." asks for a file with a suggested name, logs from then on, and "ログ停止"
// ends it with the line being written; a cancelled dialog starts nothing.
TEST(QtermFeatures, MenuStartsAndStopsTheLog) {
    ErrorBoxes box;
    TempDir dir;
    const std::string path = dir.file("menu.log");
    Session s;
    std::vector<std::string> suggested;
    std::string answer;
    s.w->askLogFile = [&](const std::string& name) {
        suggested.push_back(name);
        return answer;
    };
    s.host.send("before\r\n");
    ASSERT_TRUE(s.shows("before\n"));
    s.w->Log1->trigger();  // cancelled
    EXPECT_FALSE(s.w->logging());
    answer = path;
    s.w->Log1->trigger();
    ASSERT_TRUE(s.w->logging());
    EXPECT_EQ(s.w->Log1->text(), toQ(sj("ログ停止")));
    ASSERT_EQ(suggested.size(), 2u);
    const std::string name = fs::path(suggested[0]).filename().string();
    EXPECT_EQ(name.rfind("127.0.0.1_" + s.host.port() + "_", 0), 0u) << name;
    EXPECT_EQ(fs::path(name).extension(), ".log");
    s.host.send("during\r\nprom");
    ASSERT_TRUE(s.shows("before\nduring\nprom"));
    s.w->Log1->trigger();
    EXPECT_FALSE(s.w->logging());
    EXPECT_EQ(s.w->Log1->text(), toQ(sj("ログ記録...")));
    s.host.send("pt\r\nafter\r\n");
    ASSERT_TRUE(s.shows("before\nduring\nprompt\nafter\n"));
    EXPECT_EQ(bytesOf(path), "during\nprom\n");
    EXPECT_TRUE(box.shown.empty());
}

// --no-log-timestamps wins over a settings file that turns the stamps on: the session's
// log has none, and the menu item starts unchecked.
TEST(QtermFeatures, NoLogTimestampsOverridesTheSettingsFile) {
    ErrorBoxes box;
    TempDir conf;
    EnvVar xdg("XDG_CONFIG_HOME", conf.path.string());
    const fs::path logs = conf.path / "logs";
    fs::create_directories(conf.path / "qterm");
    std::ofstream(conf.path / "qterm" / "qterm.ini") << "[log]\ndir=" << logs.string() << "\ntimestamps=1\n";
    TestHost host;
    std::string path;
    {
        TqTermMain w(std::vector<std::string>{"--no-log-timestamps", "127.0.0.1", host.port()});
        w.logClock = [] { return kWhen; };
        ASSERT_TRUE(w.FormShow());
        w.show();
        EXPECT_FALSE(w.LogTimestamps1->isChecked());
        ASSERT_NE(w.sessionLog(), nullptr);
        path = w.sessionLog()->path();
        host.send("login: \r\n");
        host.close();
        ASSERT_TRUE(waitFor([&] { return !w.isVisible(); }));
    }
    EXPECT_EQ(bytesOf(path), "login: \n");
}

// With [log] dir in the settings file every session is logged there under its host,
// port and start time; without the file, nothing is logged.
TEST(QtermFeatures, SettingsFileLogsEverySession) {
    ErrorBoxes box;
    EnvVar tz("TZ", "UTC");
    TempDir conf;
    EnvVar xdg("XDG_CONFIG_HOME", conf.path.string());
    const fs::path logs = conf.path / "logs" / "new";  // made when missing
    fs::create_directories(conf.path / "qterm");
    std::ofstream(conf.path / "qterm" / "qterm.ini") << "[log]\ndir=" << logs.string() << "\ntimestamps=1\n";
    {
        TestHost host;
        TqTermMain w(std::vector<std::string>{"127.0.0.1", host.port()});
        w.logClock = [] { return kWhen; };
        ASSERT_TRUE(w.FormShow());
        w.show();
        EXPECT_TRUE(w.LogTimestamps1->isChecked());
        host.send("login: ");
        host.close();
        ASSERT_TRUE(waitFor([&] { return !w.isVisible(); }));
        const fs::path expected = logs / ("127.0.0.1_" + host.port() + "_20261210-030405.log");
        EXPECT_EQ(bytesOf(expected.string()), "[2026-12-10 03:04:05.067] login: \n");
    }
    {
        // Two sessions to one host and port in the same second: a file each.
        TestHost host;
        TqTermMain a(std::vector<std::string>{"127.0.0.1", host.port()});
        TqTermMain b(std::vector<std::string>{"127.0.0.1", host.port()});
        for (TqTermMain* w : {&a, &b}) {
            w->logClock = [] { return kWhen; };
            ASSERT_TRUE(w->FormShow());
        }
        ASSERT_NE(a.sessionLog(), nullptr);
        ASSERT_NE(b.sessionLog(), nullptr);
        const std::string stem = (logs / ("127.0.0.1_" + host.port() + "_20261210-030405")).string();
        EXPECT_EQ(a.sessionLog()->path(), stem + ".log");
        EXPECT_EQ(b.sessionLog()->path(), stem + "-2.log");
    }
    fs::remove(conf.path / "qterm" / "qterm.ini");
    fs::remove_all(logs);
    {
        TestHost host;
        TqTermMain w(std::vector<std::string>{"127.0.0.1", host.port()});
        ASSERT_TRUE(w.FormShow());
        EXPECT_FALSE(w.logging());
        host.send("hello\r\n");
        QTest::qWait(50);
    }
    EXPECT_FALSE(fs::exists(logs));
    EXPECT_TRUE(box.shown.empty());
}

// A log that cannot be opened or written: one error box, and the session goes on.
TEST(QtermFeatures, LogFailureShowsOneBoxAndTheSessionGoesOn) {
    struct Case {
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {"/nonexistent-dir/s.log", sj("ログファイルを開けません。")},
        {"/dev/full", sj("ログファイルに書き込めません。")},
    };
    for (const Case& c : cases) {
        ErrorBoxes box;
        Session s({"--log", c.file});
        s.host.send("one\r\ntwo\r\n");
        ASSERT_TRUE(s.shows("one\ntwo\n"));
        s.host.send("three\r\n");
        ASSERT_TRUE(s.shows("one\ntwo\nthree\n"));
        EXPECT_TRUE(s.w->telnet().IsConnected());
        s.w->close();  // the end of the session reports a failure not reported yet
        QTest::qWait(20);
        ASSERT_EQ(box.shown.size(), 1u) << c.file;
        EXPECT_EQ(box.shown[0].rfind(c.message, 0), 0u) << box.shown[0];
        EXPECT_NE(box.shown[0].find(c.file), std::string::npos) << box.shown[0];
        EXPECT_FALSE(s.w->logging());
    }
}

// After a failed write, a log started from the menu begins with the line being written
// from its start, not with what was left of it for the failed log.
TEST(QtermFeatures, LogStartedAfterAFailureBeginsWithTheWholeLine) {
    ErrorBoxes box;
    TempDir dir;
    const std::string path = dir.file("later.log");
    Session s({"--log", "/dev/full"});
    s.host.send("a\nb");  // a row ended by a lone LF: written at once, and refused
    ASSERT_TRUE(s.shows("a\nb"));
    ASSERT_TRUE(waitFor([&] { return !s.w->logging(); }));
    s.w->askLogFile = [&](const std::string&) { return path; };
    s.w->Log1->trigger();
    ASSERT_TRUE(s.w->logging());
    s.host.send("c\r\n");
    ASSERT_TRUE(s.shows("a\nbc\n"));
    s.w->stopLog();
    EXPECT_EQ(bytesOf(path), "a\nbc\n");
    QTest::qWait(20);
    EXPECT_EQ(box.shown.size(), 1u);
}

// The encoding chosen in the menu (or on the command line) is how typed text goes out,
// from then on.
TEST(QtermFeatures, EncodingSwitchChangesWhatTypingSends) {
    ErrorBoxes box;
    Session s({"--encoding", "euc-jp"});
    EXPECT_EQ(s.w->encoding(), Encoding::EucJp);
    EXPECT_TRUE(encodingItem(*s.w, "EUC-JP")->isChecked());
    auto type = [&](const char* utf8) {
        QInputMethodEvent im;
        im.setCommitString(QString::fromUtf8(utf8));
        QCoreApplication::sendEvent(s.w->Memo1, &im);
    };
    type("日");
    encodingItem(*s.w, "UTF-8")->trigger();
    EXPECT_EQ(s.w->encoding(), Encoding::Utf8);
    EXPECT_FALSE(encodingItem(*s.w, "EUC-JP")->isChecked());
    type("日");
    s.w->setEncoding(Encoding::Cp932);
    EXPECT_TRUE(encodingItem(*s.w, "cp932")->isChecked());
    type("日");
    QTest::keyClick(s.w->Memo1, Qt::Key_Return);
    const std::string want = std::string("\xc6\xfc") + "日" + "\x93\xfa" + "\r\n";
    EXPECT_EQ(s.host.receive(want.size()), want);
}

// Ctrl+plus, Ctrl+minus and Ctrl+0 size the text; the window keeps its size and the
// host gets none of these keys.
TEST(QtermFeatures, ZoomKeysChangeTheFontOnly) {
    ErrorBoxes box;
    Session s;
    OutputView* v = s.w->Memo1;
    const QSize size = s.w->size();
    EXPECT_EQ(s.w->fontPixelSize(), TqTermMain::kDefaultFontPx);
    QTest::keyClick(v, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(v, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(s.w->fontPixelSize(), TqTermMain::kDefaultFontPx + 2);
    QTest::keyClick(v, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(s.w->fontPixelSize(), TqTermMain::kDefaultFontPx + 3);
    for (int i = 0; i < 40; ++i)
        QTest::keyClick(v, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(s.w->fontPixelSize(), 6);  // stays readable
    QTest::keyClick(v, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(s.w->fontPixelSize(), TqTermMain::kDefaultFontPx);
    QTest::keyClick(v, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::qWait(20);
    EXPECT_EQ(s.w->size(), size);
    EXPECT_EQ(v->font().family(), QFont("IPAPGothic").family());
    QTest::keyClick(v, Qt::Key_Q);
    EXPECT_EQ(s.host.receive(1), "q");
}

// On X11 selecting is copying to the primary selection, and the middle button pastes
// it. (Runs under Xvfb; the offscreen platform has no primary selection.)
TEST(QtermFeatures, PrimarySelectionAndMiddleButton) {
    if (!QGuiApplication::clipboard()->supportsSelection())
        GTEST_SKIP() << "no primary selection on this platform";
    ErrorBoxes box;
    Session s;
    s.host.send(sj("選択する文字") + "\r\n");
    ASSERT_TRUE(s.shows("選択する文字\n"));
    OutputView* v = s.w->Memo1;
    auto at = [&](int pos) { return pointAt(v, pos); };
    QTest::mousePress(v->viewport(), Qt::LeftButton, {}, at(0));
    QTest::mouseMove(v->viewport(), at(2));
    QTest::mouseRelease(v->viewport(), Qt::LeftButton, {}, at(2));
    ASSERT_TRUE(waitFor([] { return QGuiApplication::clipboard()->text(QClipboard::Selection) == QString::fromUtf8("選択"); }))
        << QGuiApplication::clipboard()->text(QClipboard::Selection).toStdString();

    QGuiApplication::clipboard()->setText("uptime\n", QClipboard::Selection);
    QGuiApplication::clipboard()->setText("not this", QClipboard::Clipboard);
    SendsPreviewed preview(*s.w);
    QTest::mouseClick(v->viewport(), Qt::MiddleButton, {}, at(1));
    EXPECT_EQ(s.host.receive(8), "uptime\r\n");
    EXPECT_EQ(preview.shown, std::vector<QString>{"uptime\n"});
    EXPECT_EQ(v->toPlainText(), QString::fromUtf8("選択する文字\n"));
    EXPECT_TRUE(box.shown.empty());
}
