#include <gtest/gtest.h>

#include <QComboBox>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <arpa/inet.h>
#include <chrono>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "ApplianceSim.h"
#include "DeviceTableModel.h"
#include "Unit1.h"
#include "cp932.h"
#include "fakes.h"
#include "guardedapp.h"
#include "portlock.h"
#include "qtext.h"

namespace {

using Clock = std::chrono::steady_clock;

using cp932::sj;
std::string text(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w))
        return fromQ(b->text());
    if (auto* l = qobject_cast<QLabel*>(w))
        return fromQ(l->text());
    return {};
}

// Runs the event loop without pauses until `done` holds (QTest::qWaitFor sleeps between
// passes, which would leave datagrams unread at the socket changes of a run).
template <typename F>
bool waitUntil(F done, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(2);
    loop.exec();
    return done();
}

class SearchRun : public ::testing::Test {
protected:
    // A window on loopback; tick and final wait in milliseconds.
    std::unique_ptr<TqsearchForm> makeForm(int tickMs = 100, int waitMs = 100,
                                           StartSettings settings = StartSettings::defaults()) {
        FormServices s;
        s.dialogs = dialogs;
        s.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
        s.tickMs = tickMs;
        s.finalWaitMs = waitMs;
        return std::make_unique<TqsearchForm>(s, settings);
    }

    // Presses "検索" and waits until the run has ended.
    void search(TqsearchForm& form, int timeoutMs = 8000) {
        form.BitBtn2->click();
        ASSERT_TRUE(waitUntil([&] { return form.BitBtn2->isEnabled() && !form.Timer1->isActive(); },
                                    timeoutMs));
    }

    std::unique_ptr<ApplianceSim> startSim(std::vector<Appliance> list) {
        auto sim = std::make_unique<ApplianceSim>(std::move(list));
        std::string error;
        EXPECT_TRUE(sim->start(&error)) << error;
        return sim;
    }

    ShownBox lastBox() const { return dialogs->shown.empty() ? ShownBox{} : dialogs->shown.back(); }

    PortLock ports;
    std::shared_ptr<RecordingDialogs> dialogs = std::make_shared<RecordingDialogs>();
};

std::string foundText(int n) {
    return sj("ネットワーク上から対象機器を ") + std::to_string(n) + sj("台 確認できました。");
}

}  // namespace

TEST_F(SearchRun, WindowShowsEveryControlWithItsCaption) {
    auto form = makeForm();
    EXPECT_EQ(form->size(), QSize(440, 256));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(form->windowTitle(), "QLX search Ver 1.7");
    struct Case {
        QWidget* widget;
        QRect geometry;
        const char* caption;
    } cases[] = {
        {form->Panel3, {0, 0, 440, 256}, ""},
        {form->Panel7, {0, 0, 440, 25}, "機器一覧"},
        {form->Panel5, {296, 4, 89, 17}, ""},
        {form->BitBtn4, {392, 2, 41, 20}, "設定"},
        {form->StringGrid1, {0, 24, 440, 190}, ""},
        {form->BitBtn1, {6, 222, 100, 28}, "WEB接続"},
        {form->BitBtn3, {116, 222, 100, 28}, "TELNET接続"},
        {form->ComboBox1, {240, 226, 89, 20}, ""},
        {form->BitBtn2, {336, 222, 97, 28}, "検索"},
        {form->Panel4, {1, 25, 437, 188}, "検索中"},
        {form->Panel6, {1, 25, 437, 256}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.widget->geometry(), c.geometry) << c.caption;
        EXPECT_EQ(text(c.widget), sj(c.caption));
    }
    EXPECT_FALSE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->BitBtn3->isEnabled());
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_TRUE(form->Panel4->isHidden());
    EXPECT_TRUE(form->Panel6->isHidden());
    EXPECT_EQ(form->Panel4->font().pointSize(), 18);
    EXPECT_EQ(form->font().family(), "IPAPGothic");
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 100);

    const char* headers[] = {"No.", " 機器名", " IPアドレス", " MACアドレス", " バージョン", " 稼働時間"};
    const int widths[] = {22, 79, 87, 97, 78, 68};
    auto* model = form->gridModel();
    EXPECT_EQ(model->rowCount(), 10);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(fromQ(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()), sj(headers[c]));
        EXPECT_EQ(form->StringGrid1->columnWidth(c), widths[c]);
    }
    ASSERT_EQ(form->ComboBox1->count(), 3);
    EXPECT_EQ(fromQ(form->ComboBox1->itemText(0)), sj("稼働時間"));
    EXPECT_EQ(fromQ(form->ComboBox1->itemText(1)), sj("IPアドレス"));
    EXPECT_EQ(fromQ(form->ComboBox1->itemText(2)), sj("機器名称"));
    EXPECT_EQ(fromQ(form->ComboBox1->currentText()), sj("稼働時間"));
    EXPECT_TRUE(form->ComboBox1->isEditable());
}

TEST_F(SearchRun, SettingsValuesReachTheWindow) {
    StartSettings s = StartSettings::defaults();
    s.utilityName = sj("端末");
    s.sortKey = "free text";
    s.testMode = "1";
    s.modelLines = {"001 X"};
    s.settingsFileExists = true;
    auto form = makeForm(100, 100, s);
    EXPECT_EQ(text(form->BitBtn3), sj("端末"));
    EXPECT_EQ(fromQ(form->ComboBox1->currentText()), "free text");
    EXPECT_EQ(form->Decode.testMode, "1");
    EXPECT_EQ(form->Decode.modelLines, std::vector<std::string>{"001 X"});
    EXPECT_FALSE(form->FirstRun);
}

// One run in real time: three requests about 0, 1 and 2 s after the click, the result at 4 s.
TEST_F(SearchRun, FullRunBroadcastsThreeTimesAndListsEachApplianceOnce) {
    auto sim = startSim(sampleAppliances(3));
    auto form = makeForm(1000, 1000);
    const auto clicked = Clock::now();
    search(*form, 10000);
    const auto ended = Clock::now();

    auto seen = sim->requests();
    ASSERT_EQ(seen.size(), 3u);
    const auto request = discoveryRequest({127, 0, 0, 1});
    for (int i = 0; i < 3; ++i) {
        // Generous margins: the suite may share a busy machine.
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(seen[i].at - clicked).count();
        EXPECT_NEAR(ms, 1000 * i, 400) << "request " << i + 1;
        if (i > 0)
            EXPECT_NEAR(std::chrono::duration_cast<std::chrono::milliseconds>(seen[i].at - seen[i - 1].at).count(),
                        1000, 300)
                << "request " << i + 1;
        EXPECT_EQ(seen[i].fromPort, 9010);
        EXPECT_EQ(seen[i].to, "127.0.0.255");
        EXPECT_EQ(seen[i].bytes, std::string(request.begin(), request.end()));
    }
    EXPECT_NEAR(std::chrono::duration_cast<std::chrono::milliseconds>(ended - clicked).count(), 4000, 700);
    EXPECT_EQ(sim->repliesSent(), 9);

    // Three appliances answering three times: three rows.
    EXPECT_EQ(form->FoundCount, 3);
    EXPECT_EQ(form->grid().cell(0, 1), " 1");
    EXPECT_EQ(form->grid().cell(3, 3), "00:80:45:00:00:02");
    EXPECT_EQ(form->grid().cell(1, 4), "");
    EXPECT_EQ(form->Memo1.size(), 18u);  // every datagram logged, repeats too
    EXPECT_EQ(form->Memo1[0], "15580 127.0.0.1");
    EXPECT_EQ(form->Panel2, "127.0.0.1");
    EXPECT_EQ(form->Panel1, "testhost.example");
    EXPECT_EQ(text(form->Panel5), sj("発見数:3"));
    EXPECT_TRUE(form->Panel4->isHidden());
    EXPECT_EQ(form->NMUDP1.localPort(), 0);

    // First start without settings: the hint, then the result.
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[0].title, sj("情報"));
    EXPECT_EQ(dialogs->shown[0].text, sj("セキュリティソフト等で通信許可を求められた場合、許可してください。"));
    EXPECT_EQ(dialogs->shown[1].kind, "information");
    EXPECT_EQ(dialogs->shown[1].title, sj("情報"));
    EXPECT_EQ(dialogs->shown[1].text, foundText(3));
    // The view shows what the grid holds.
    EXPECT_EQ(fromQ(form->gridModel()->index(0, 1).data().toString()), form->grid().cell(1, 1));
}

TEST_F(SearchRun, WhileSearchingTheWindowIsBusy) {
    auto sim = startSim({});
    auto form = makeForm(300, 100);
    form->BitBtn2->click();
    EXPECT_FALSE(form->Panel4->isHidden());
    EXPECT_FALSE(form->StringGrid1->isEnabled());
    EXPECT_FALSE(form->BitBtn2->isEnabled());
    EXPECT_FALSE(form->ComboBox1->isEnabled());
    EXPECT_FALSE(form->BitBtn1->isEnabled());
    EXPECT_TRUE(form->BitBtn4->isEnabled());
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->NMUDP1.localPort(), 9010);
    EXPECT_EQ(form->selectedRow(), 1);
    ASSERT_TRUE(waitUntil([&] { return form->BitBtn2->isEnabled(); }, 5000));
    EXPECT_TRUE(form->StringGrid1->isEnabled());
    EXPECT_TRUE(form->ComboBox1->isEnabled());
}

TEST_F(SearchRun, NothingFoundWarnsAndLeavesTheCountEmpty) {
    StartSettings s = StartSettings::defaults();
    s.settingsFileExists = true;  // no first-run hint
    auto sim = startSim({});
    auto form = makeForm(100, 100, s);
    search(*form);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(lastBox().kind, "warning");
    EXPECT_EQ(lastBox().title, sj("警告"));
    EXPECT_EQ(lastBox().text, sj("対象機器が見つかりませんでした。") + "\r\r" +
                                  sj("Windows ファイヤウォール等のセキュリティソフトを一時的に無効にする必要があります。"));
    EXPECT_EQ(text(form->Panel5), "");
    EXPECT_EQ(form->FoundCount, 0);
    EXPECT_EQ(sim->requests().size(), 3u);
}

TEST_F(SearchRun, FirstRunHintOnlyOnTheFirstPress) {
    auto sim = startSim(sampleAppliances(1));
    auto form = makeForm();
    search(*form);
    search(*form);
    int hints = 0;
    for (const auto& b : dialogs->shown)
        hints += b.text == sj("セキュリティソフト等で通信許可を求められた場合、許可してください。");
    EXPECT_EQ(hints, 1);
    EXPECT_EQ(dialogs->shown.size(), 3u);
}

TEST_F(SearchRun, EleventhApplianceGrowsTheTable) {
    auto sim = startSim(sampleAppliances(12));
    auto form = makeForm();
    search(*form);
    EXPECT_EQ(form->FoundCount, 12);
    EXPECT_EQ(form->grid().rowCount(), 13);
    EXPECT_EQ(form->gridModel()->rowCount(), 12);
    EXPECT_EQ(text(form->Panel5), sj("発見数:12"));
    EXPECT_EQ(lastBox().text, foundText(12));
    EXPECT_EQ(fromQ(form->gridModel()->index(11, 0).data().toString()), " 12");
}

TEST_F(SearchRun, RepliesInTheFinalWaitAreNotCounted) {
    auto list = sampleAppliances(2);
    // The last tick comes 200 ms after request 3 and the wait lasts 900 ms more; the
    // answer to request 3 arrives in the middle of that wait.
    list[1].answers = {3};
    list[1].delayMs = 500;
    auto sim = startSim(list);
    auto form = makeForm(200, 900);
    search(*form);
    EXPECT_EQ(form->FoundCount, 1);
    EXPECT_EQ(lastBox().text, foundText(1));
    EXPECT_EQ(sim->repliesSent(), 4);
}

TEST_F(SearchRun, SecondRunStartsFromAnEmptyTable) {
    auto form = makeForm();
    {
        auto sim = startSim(sampleAppliances(3));
        search(*form);
        ASSERT_EQ(form->FoundCount, 3);
    }
    auto other = sampleAppliances(4);
    auto sim = startSim({other[3]});
    search(*form);
    EXPECT_EQ(form->FoundCount, 1);
    EXPECT_EQ(form->grid().cell(3, 1), "00:80:45:00:00:03");
    EXPECT_EQ(form->grid().cell(0, 1), " 1");
    for (int row = 2; row < form->grid().rowCount(); ++row)
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(form->grid().cell(c, row), "") << row;
    EXPECT_EQ(form->Memo1.size(), 6u);  // the log starts over too
}

// A handler's error goes to the application's error box once; the loop and the run go on.
TEST_F(SearchRun, HandlerErrorsReachTheErrorBoxAndTheRunGoesOn) {
    auto* app = static_cast<GuardedApplication*>(QCoreApplication::instance());
    std::vector<std::string> errors;
    app->setErrorSink([&](const std::string& m) { errors.push_back(m); });
    auto list = sampleAppliances(2);
    for (auto& a : list)
        a.delayMs = 50;  // nothing waits in the socket right after the click
    auto sim = startSim(list);
    auto form = makeForm(200, 100);
    form->BitBtn2->click();
    form->NMUDP1.ReceiveDatagram();  // a read notification with nothing waiting
    ASSERT_TRUE(waitUntil([&] { return form->BitBtn2->isEnabled(); }, 5000));
    app->setErrorSink(&GuardedApplication::showErrorBox);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], sj("ストリームへの書き込みエラー"));
    EXPECT_EQ(form->FoundCount, 2);
    EXPECT_EQ(form->Memo1.size(), 12u);  // nothing logged for the failed receive
}

TEST_F(SearchRun, InvalidHostPromptsForANewHost) {
    auto form = makeForm();
    dialogs->promptAnswer = true;
    dialogs->promptText = "10.0.0.9";
    bool handled = false;
    form->NMUDP1InvalidHost(handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(form->NMUDP1.RemoteHost, "10.0.0.9");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(lastBox().title, "Invalid Host!");
    EXPECT_EQ(lastBox().text, "Specify a new host:");
    dialogs->promptAnswer = false;
    handled = false;
    form->NMUDP1InvalidHost(handled);
    EXPECT_FALSE(handled);
}

// Datagrams of every length from 0 to 2048 bytes, random content, some with the reply
// marker, reach the window during a run, each one logged whole; it goes on and ends the
// run normally. Each is sent once the window has logged the one before, so none is lost
// in a full socket queue.
TEST_F(SearchRun, ArbitraryDatagramsNeverBreakTheWindow) {
    auto sim = startSim(sampleAppliances(1));
    auto form = makeForm(2000, 100);  // a run of about six seconds, ample for all of them
    form->BitBtn2->click();
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9010);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::mt19937 random(11);
    std::string data;
    for (int length = 0; length <= 2048; ++length) {
        data.resize(static_cast<size_t>(length));
        for (auto& b : data)
            b = static_cast<char>(random());
        if (length >= 3 && length % 3 == 0)
            data.replace(0, 3, std::string("\x00\x80\x00", 3));
        const std::string hex = hexText(data);
        bool logged = false;
        // A socket change at a tick drops a datagram still queued: send it again then.
        for (int attempt = 0; attempt < 3 && !logged; ++attempt) {
            const std::size_t from = form->Memo1.size();
            ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
            while (!logged && std::chrono::steady_clock::now() < deadline) {
                QCoreApplication::processEvents();
                for (std::size_t i = from + 1; i < form->Memo1.size() && !logged; i += 2)
                    logged = form->Memo1[i] == hex;
            }
        }
        ASSERT_TRUE(logged) << "datagram of " << length << " bytes never reached the log";
        ASSERT_FALSE(form->BitBtn2->isEnabled()) << "the run ended before " << length << " bytes";
    }
    ::close(fd);
    ASSERT_TRUE(waitUntil([&] { return form->BitBtn2->isEnabled(); }, 10000));
    EXPECT_GE(form->FoundCount, 1);
    EXPECT_LT(form->FoundCount, form->grid().rowCount());
    EXPECT_EQ(form->gridModel()->rowCount(), form->grid().rowCount() - 1);
}
