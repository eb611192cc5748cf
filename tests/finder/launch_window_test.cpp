#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ApplianceSim.h"
#include "DeviceTableModel.h"
#include "Launch.h"
#include "Unit1.h"
#include "children.h"
#include "cp932.h"
#include "fakes.h"
#include "portlock.h"
#include "qtext.h"
#include "../waituntil.h"

namespace fs = std::filesystem;

namespace {

using cp932::sj;

struct Started {
    std::string what, file, text;  // what: "url" or "utility"
    bool operator==(const Started&) const = default;
};

class RecordingLauncher : public Launcher {
public:
    std::vector<Started> started;
    void openUrl(const std::string& url) override { started.push_back({"url", "", url}); }
    void startUtility(const std::string& file, const std::string& parameters) override {
        started.push_back({"utility", file, parameters});
    }
};

class Launching : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qlx-launch-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        utility = dir / "tool";
        std::ofstream(utility) << "#!/bin/sh\n";
        fs::permissions(utility, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::unique_ptr<TqsearchForm> open(StartSettings s = StartSettings::defaults()) {
        FormServices svc;
        svc.dialogs = dialogs;
        svc.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
        svc.launcher = launcher;
        svc.tickMs = 50;
        svc.finalWaitMs = 50;
        s.settingsFileExists = true;
        return std::make_unique<TqsearchForm>(svc, s);
    }

    StartSettings withUtility(std::string port = "23") {
        StartSettings s = StartSettings::defaults();
        s.utilityFile = utility.string();
        s.utilityPort = std::move(port);
        return s;
    }

    // Rows as the decoder writes them, then the selection event on `row`.
    void fill(TqsearchForm& form, std::vector<std::string> ips, int row) {
        for (std::size_t i = 0; i < ips.size(); ++i) {
            form.grid().setCell(0, int(i) + 1, " " + std::to_string(i + 1));
            form.grid().setCell(1, int(i) + 1, "QLX-ABCD");
            form.grid().setCell(2, int(i) + 1, ips[i]);
        }
        form.gridChanged();
        select(form, row);
    }

    void select(TqsearchForm& form, int row) {
        form.selectRow(row);
        form.StringGrid1Click();
    }

    QPoint cellCentre(TqsearchForm& form, int gridRow) {
        return form.StringGrid1->visualRect(form.gridModel()->index(gridRow - 1, 2)).center();
    }

    void doubleClick(TqsearchForm& form, int gridRow) {
        form.show();
        // Press and release, then the second press as the system reports a double-click.
        QWidget* vp = form.StringGrid1->viewport();
        const QPoint at = cellCentre(form, gridRow);
        QTest::mouseClick(vp, Qt::LeftButton, {}, at);
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, vp->mapToGlobal(at), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(vp, &dbl);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
    }

    fs::path dir, utility;
    std::shared_ptr<RecordingDialogs> dialogs = std::make_shared<RecordingDialogs>();
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
};

}  // namespace

TEST_F(Launching, WebPageAndUtilityGetTheAddressAndPorts) {
    struct Case {
        const char *ip, *webPort, *utilityPort, *url, *params;
    } cases[] = {
        {"192.168.001.010", "80", "23", "http://192.168.1.10:80", "192.168.1.10 23"},
        {"010.001.002.003", "8080", "2323", "http://10.1.2.3:8080", "10.1.2.3 2323"},
        {"192.168.001.010", "", "", "http://192.168.1.10", "192.168.1.10"},
    };
    for (const auto& c : cases) {
        launcher->started.clear();
        StartSettings s = withUtility(c.utilityPort);
        s.webPort = c.webPort;
        auto form = open(s);
        fill(*form, {c.ip}, 1);
        ASSERT_TRUE(form->BitBtn3->isEnabled());
        form->BitBtn1->click();
        form->BitBtn3->click();
        EXPECT_EQ(launcher->started, (std::vector<Started>{{"url", "", c.url},
                                                           {"utility", utility.string(), c.params}}))
            << c.ip;
    }
}

TEST_F(Launching, HeldWebPortIsUsedAsReadWhileTheBoxShowsItFiltered) {
    StartSettings s = withUtility();
    s.webPort = "8 0";
    auto form = open(s);
    EXPECT_EQ(fromQ(form->Edit1->text()), "80");
    fill(*form, {"192.168.001.010"}, 1);
    form->BitBtn1->click();
    ASSERT_EQ(launcher->started.size(), 1u);
    EXPECT_EQ(launcher->started[0].text, "http://192.168.1.10:8 0");
}

TEST_F(Launching, FullWidthDigitsGiveNoPort) {
    auto form = open(withUtility());
    fill(*form, {"192.168.001.010"}, 1);
    form->BitBtn4->click();
    form->Edit1->setText(toQ(sj("８０８０")));
    form->BitBtn5->click();  // no settings file in these tests: nothing is written
    form->BitBtn1->click();
    ASSERT_EQ(launcher->started.size(), 1u);
    EXPECT_EQ(launcher->started[0].text, "http://192.168.1.10");
}

TEST_F(Launching, ButtonRuleForEmptyAndFilledRows) {
    struct Case {
        const char* name;
        bool ticked, filePresent;
        int row;
        bool web, utility;
    } cases[] = {
        {"filled, ticked, file present", true, true, 1, true, true},
        {"filled, unticked", false, true, 1, true, false},
        {"filled, file missing", true, false, 1, true, false},
        {"empty row", true, true, 2, false, false},
    };
    for (const auto& c : cases) {
        StartSettings s = withUtility();
        if (!c.filePresent) s.utilityFile = (dir / "missing").string();
        s.utilityCheck = c.ticked ? "1" : "0";
        auto form = open(s);
        fill(*form, {"192.168.001.010"}, c.row);
        EXPECT_EQ(form->BitBtn1->isEnabled(), c.web) << c.name;
        EXPECT_EQ(form->BitBtn3->isEnabled(), c.utility) << c.name;
    }
}

TEST_F(Launching, UtilityThatAppearsLaterIsFoundAtTheNextSelection) {
    StartSettings s = withUtility();
    s.utilityFile = (dir / "later").string();
    auto form = open(s);
    fill(*form, {"192.168.001.010", "192.168.001.011"}, 1);
    EXPECT_FALSE(form->BitBtn3->isEnabled());
    std::ofstream(dir / "later") << "x";
    select(*form, 2);
    EXPECT_TRUE(form->BitBtn3->isEnabled());
    select(*form, 3);  // an empty row takes both away again
    EXPECT_FALSE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->BitBtn3->isEnabled());
}

TEST_F(Launching, DoubleClickOpensTheRowsPageButNotOnEmptyRowsOrWithThePanelOpen) {
    auto form = open(withUtility());
    fill(*form, {"192.168.001.010", "192.168.001.020"}, 1);

    doubleClick(*form, 2);  // selects the row and opens its page
    EXPECT_EQ(form->selectedRow(), 2);
    ASSERT_EQ(launcher->started.size(), 1u);
    EXPECT_EQ(launcher->started[0].text, "http://192.168.1.20:80");

    doubleClick(*form, 5);
    EXPECT_EQ(launcher->started.size(), 1u);
    EXPECT_FALSE(form->BitBtn1->isEnabled());

    select(*form, 1);
    form->BitBtn4->click();
    doubleClick(*form, 1);
    EXPECT_EQ(launcher->started.size(), 1u);
}

TEST_F(Launching, ShiftClickAndDragOnlyExtendTheHighlight) {
    auto form = open(withUtility());
    fill(*form, {"192.168.001.010", "192.168.001.020", "192.168.001.030"}, 1);
    form->show();
    QWidget* vp = form->StringGrid1->viewport();
    QTest::mouseClick(vp, Qt::LeftButton, {}, cellCentre(*form, 1));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, cellCentre(*form, 3));
    auto* sel = form->StringGrid1->selectionModel();
    EXPECT_TRUE(sel->isRowSelected(2, {}));  // highlighted...
    EXPECT_EQ(form->selectedRow(), 1);       // ...but row 1 is still the one that counts
    form->BitBtn1->click();
    ASSERT_EQ(launcher->started.size(), 1u);
    EXPECT_EQ(launcher->started[0].text, "http://192.168.1.10:80");

    QTest::mousePress(vp, Qt::LeftButton, {}, cellCentre(*form, 2));
    QMouseEvent move(QEvent::MouseMove, cellCentre(*form, 5), vp->mapToGlobal(cellCentre(*form, 5)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(vp, &move);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, cellCentre(*form, 5));
    EXPECT_TRUE(sel->isRowSelected(3, {}));
    EXPECT_EQ(form->selectedRow(), 2);  // the row pressed without shift
    EXPECT_TRUE(form->BitBtn1->isEnabled());

    QTest::keyClick(form->StringGrid1, Qt::Key_Down);  // the keyboard moves the current row
    EXPECT_EQ(form->selectedRow(), 3);
}

TEST_F(Launching, DoubleClickDuringARunStartsNothing) {
    PortLock lock;
    auto form = open(withUtility());
    fill(*form, {"192.168.001.010"}, 1);
    form->BitBtn2->click();
    ASSERT_FALSE(form->BitBtn2->isEnabled());
    form->BitBtn1Click();  // what the table's double-click runs
    form->BitBtn3Click();
    EXPECT_TRUE(launcher->started.empty());
    ASSERT_TRUE(waitUntil([&] { return form->BitBtn2->isEnabled(); }, 5000));
}

class RunEnd : public Launching {
protected:
    // One run against simulated appliances, ComboBox1 holding `key`.
    void runWith(TqsearchForm& form, const std::vector<Appliance>& found, const std::string& key) {
        ApplianceSim sim(found);
        ASSERT_TRUE(sim.start());
        form.ComboBox1->setEditText(toQ(key));
        form.BitBtn2->click();
        ASSERT_TRUE(waitUntil([&] { return form.BitBtn2->isEnabled() && !form.Timer1->isActive(); },
                              8000));
    }
    std::vector<std::string> ips(TqsearchForm& form) {
        std::vector<std::string> v;
        for (int r = 1; r <= form.Run.FoundCount; ++r) v.push_back(form.grid().cell(2, r));
        return v;
    }
    PortLock lock;
};

TEST_F(RunEnd, SortsByTheChosenKeyOrKeepsArrivalOrder) {
    auto devices = sampleAppliances(3);
    devices[0].ip = {192, 168, 10, 1};
    devices[1].ip = {192, 168, 1, 10};
    devices[2].ip = {192, 168, 1, 2};
    for (int i = 0; i < 3; ++i) devices[i].delayMs = 20 * i;  // arrive in this order

    auto form = open();
    runWith(*form, devices, sj("IPアドレス"));
    EXPECT_EQ(ips(*form), (std::vector<std::string>{"192.168.001.002", "192.168.001.010",
                                                    "192.168.010.001"}));
    EXPECT_EQ(form->grid().cell(0, 1), " 1");
    EXPECT_EQ(form->selectedRow(), 1);
    EXPECT_TRUE(form->BitBtn1->isEnabled());

    runWith(*form, devices, "typed text");
    EXPECT_EQ(ips(*form), (std::vector<std::string>{"192.168.010.001", "192.168.001.010",
                                                    "192.168.001.002"}));
}

TEST_F(RunEnd, FifteenAppliancesGrowTheTableAndTheSortCompactsIt) {
    auto form = open();
    form->grid().setRowCount(16);
    form->gridChanged();
    runWith(*form, sampleAppliances(15), sj("稼働時間"));
    EXPECT_EQ(form->Run.FoundCount, 15);
    EXPECT_EQ(form->grid().rowCount(), 16);
    EXPECT_EQ(form->gridModel()->rowCount(), 15);
}

TEST_F(RunEnd, PanelOpenedDuringARun) {
    auto form = open(withUtility());
    ApplianceSim sim(sampleAppliances(2));
    ASSERT_TRUE(sim.start());

    // Left open to the end: the end of the run enables what lies under the panel.
    form->BitBtn2->click();
    form->BitBtn4->click();
    ASSERT_TRUE(waitUntil([&] { return !form->Timer1->isActive() && form->Run.FoundCount == 2; }, 8000));
    EXPECT_FALSE(form->Panel6->isHidden());
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_TRUE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->BitBtn4->isEnabled());
    form->BitBtn6->click();
    EXPECT_TRUE(form->BitBtn4->isEnabled());
    EXPECT_TRUE(form->BitBtn3->isEnabled());

    // Closed before the end: Cancel enables the search button although the run goes on.
    form->BitBtn2->click();
    form->BitBtn4->click();
    form->BitBtn6->click();
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_FALSE(form->BitBtn1->isEnabled());  // row 1 was emptied by the run start
    ASSERT_TRUE(waitUntil([&] { return !form->Timer1->isActive(); }, 8000));
    EXPECT_EQ(form->Run.FoundCount, 2);
}

TEST_F(Launching, UtilityButtonStartsTheRealProgramWithTheAddressAndPort) {
    fs::path out = dir / "args.txt";
    ::setenv("QLX_PROBE_OUT", out.string().c_str(), 1);
    FormServices svc;  // the desktop launcher itself
    svc.dialogs = dialogs;
    svc.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
    StartSettings s = StartSettings::defaults();
    s.settingsFileExists = true;
    s.utilityFile = QLX_LAUNCH_PROBE;
    s.utilityPort = "2323";
    TqsearchForm form(svc, s);
    fill(form, {"010.001.002.003"}, 1);
    ASSERT_TRUE(form.BitBtn3->isEnabled());
    form.BitBtn3->click();
    ASSERT_TRUE(waitUntil([&] { return fs::exists(out); }, 5000));
    std::ifstream in(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              "10.1.2.3\n2323\n");
    ::unsetenv("QLX_PROBE_OUT");
}

// The row the buttons act on is the highlighted one, whatever the mouse did: a click on
// the strip below the rows or a Ctrl+click leaves it highlighted.
TEST_F(Launching, HighlightCurrentRowAndButtonsAgree) {
    auto form = open(withUtility());
    fill(*form, {"192.168.001.010", "192.168.001.020"}, 1);
    form->show();
    QWidget* vp = form->StringGrid1->viewport();
    auto* sel = form->StringGrid1->selectionModel();
    const QPoint strip(vp->width() / 2, form->StringGrid1->visualRect(form->gridModel()->index(9, 0)).bottom() + 4);
    ASSERT_LT(strip.y(), vp->height()) << "the table shows a blank strip below its rows";
    ASSERT_FALSE(form->StringGrid1->indexAt(strip).isValid());

    struct Step {
        const char* name;
        QPoint at;
        Qt::KeyboardModifiers mods;
        int wantRow;
    } steps[] = {
        {"click row 1", cellCentre(*form, 1), {}, 1},
        {"click on the blank strip", strip, {}, 1},
        {"Ctrl+click the current row", cellCentre(*form, 1), Qt::ControlModifier, 1},
        {"Ctrl+click row 2", cellCentre(*form, 2), Qt::ControlModifier, 2},
        {"Ctrl+click row 2 again", cellCentre(*form, 2), Qt::ControlModifier, 2},
        {"Ctrl+click an empty row", cellCentre(*form, 5), Qt::ControlModifier, 5},
        {"click row 2", cellCentre(*form, 2), {}, 2},
        {"Ctrl+click on the blank strip", strip, Qt::ControlModifier, 2},
    };
    for (const auto& st : steps) {
        QTest::mouseClick(vp, Qt::LeftButton, st.mods, st.at);
        EXPECT_EQ(form->selectedRow(), st.wantRow) << st.name;
        EXPECT_TRUE(sel->isRowSelected(form->selectedRow() - 1, {})) << st.name << ": current row highlighted";
        const bool filled = st.wantRow <= 2;
        EXPECT_EQ(form->BitBtn1->isEnabled(), filled) << st.name;
        EXPECT_EQ(form->BitBtn3->isEnabled(), filled) << st.name;
    }
    launcher->started.clear();
    form->BitBtn1->click();
    ASSERT_EQ(launcher->started.size(), 1u);
    EXPECT_EQ(launcher->started[0].text, "http://192.168.1.20:80");
}

// A double-click on the header or on the strip below the rows opens the selected row's
// page, as one on a cell does.
TEST_F(Launching, DoubleClickOnTheHeaderOrTheBlankStripOpensTheSelectedRow) {
    auto form = open(withUtility());
    fill(*form, {"192.168.001.010", "192.168.001.020"}, 2);
    form->show();
    QHeaderView* header = form->StringGrid1->horizontalHeader();
    QWidget* vp = form->StringGrid1->viewport();
    const QPoint strip(vp->width() / 2, vp->height() - 3);
    ASSERT_FALSE(form->StringGrid1->indexAt(strip).isValid());
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                       QPoint(header->sectionViewportPosition(2) + 10, header->height() / 2));
    QTest::mouseDClick(vp, Qt::LeftButton, {}, strip);
    ASSERT_EQ(launcher->started.size(), 2u);
    for (const auto& s : launcher->started)
        EXPECT_EQ(s.text, "http://192.168.1.20:80");
    EXPECT_EQ(form->selectedRow(), 2);
}

// With the real launcher: a launch that fails shows the warning box once it is known to
// have failed (xdg-open's end is awaited on the event loop); one that works shows none.
TEST_F(Launching, FailedLaunchShowsAWarningBoxAndAWorkingOneNone) {
    const fs::path bin = dir / "bin";
    fs::create_directories(bin);
    const fs::path gone = dir / "gone";
    struct Case {
        const char* name;
        const char* opener;  // xdg-open's script body; nullptr: none on PATH
        bool utility;        // the utility button, else "WEB接続"
        std::string utilityFile;
        std::string box;     // UTF-8; "" for no box
    } cases[] = {
        {"browser opens", "exit 0", false, "", ""},
        {"xdg-open fails", "exit 1", false, "",
         "ブラウザで http://10.1.2.3:80 を開けませんでした。\r\rxdg-open が終了コード 1 で終了しました。"},
        {"no xdg-open", nullptr, false, "",
         "ブラウザで http://10.1.2.3:80 を開けませんでした。\r\rxdg-open が見つかりません（xdg-utils パッケージが必要です）。"},
        {"utility runs", "exit 0", true, QLX_LAUNCH_PROBE, ""},
        {"utility removed", "exit 0", true, gone.string(),
         "プログラム " + gone.string() + " を起動できませんでした。\r\rファイルが見つかりません。"},
    };
    ::setenv("QLX_PROBE_OUT", (dir / "args.txt").c_str(), 1);
    for (const Case& c : cases) {
        fs::remove(bin / "xdg-open");
        if (c.opener) {
            std::ofstream(bin / "xdg-open") << "#!/bin/sh\n" << c.opener << "\n";
            fs::permissions(bin / "xdg-open", fs::perms::owner_all);
        }
        std::ofstream(gone) << "#!/bin/sh\n";
        fs::permissions(gone, fs::perms::owner_all);
        ProgramSearch search = ProgramSearch::system();
        search.path = bin.string();
        FormServices svc;
        svc.dialogs = dialogs = std::make_shared<RecordingDialogs>();
        svc.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
        svc.launcher = std::make_shared<DesktopLauncher>(search);
        StartSettings s = StartSettings::defaults();
        s.settingsFileExists = true;
        s.utilityFile = c.utilityFile;
        TqsearchForm form(svc, s);
        fill(form, {"010.001.002.003"}, 1);
        if (c.utility) {
            ASSERT_TRUE(form.BitBtn3->isEnabled()) << c.name;
        }
        fs::remove(gone);  // after the button rule found it
        const auto before = unreapedChildren();
        (c.utility ? form.BitBtn3 : form.BitBtn1)->click();
        ASSERT_TRUE(waitUntil([&] { return reapedAllBut(before) && (c.box.empty() || !dialogs->shown.empty()); },
                              10000))
            << c.name;
        QCoreApplication::processEvents();
        if (c.box.empty()) {
            EXPECT_TRUE(dialogs->shown.empty()) << c.name << ": " << dialogs->shown[0].text;
            continue;
        }
        ASSERT_EQ(dialogs->shown.size(), 1u) << c.name;
        EXPECT_EQ(dialogs->shown[0].kind, "warning") << c.name;
        EXPECT_EQ(dialogs->shown[0].title, sj("警告")) << c.name;
        EXPECT_EQ(cp932::toUtf8(dialogs->shown[0].text), c.box) << c.name;
    }
    ::unsetenv("QLX_PROBE_OUT");
}
