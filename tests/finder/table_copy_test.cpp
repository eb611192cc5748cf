// The found appliances to the clipboard, for tickets and spreadsheets: the rows as the
// user highlights them with the mouse and keys, after a real search, read back from
// the clipboard (in-process offscreen; under Xvfb by another X client).
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "ApplianceSim.h"
#include "DeviceTableModel.h"
#include "Launch.h"
#include "Unit1.h"
#include "cp932.h"
#include "fakes.h"
#include "portlock.h"
#include "qtext.h"
#include "../waituntil.h"

namespace {

using cp932::sj;

class RecordingLauncher : public Launcher {
public:
    std::vector<std::string> urls;
    void openUrl(const std::string& url) override { urls.push_back(url); }
    void startUtility(const std::string&, const std::string&) override {}
};

const std::string kHeader = "No.\t 機器名\t IPアドレス\t MACアドレス\t バージョン\t 稼働時間\n";
const std::string kRows[] = {
    " 1\tQLX-AS00\t192.168.001.001\t00:80:45:00:00:00\t1.07a 080415\t00001:00:00\n",
    " 2\tQLX-W?W?\t192.168.001.002\t00:80:45:00:00:01\t1.07a 080415\t00002:01:01\n",  // "W\tW\x01"
    " 3\tQLX-CS02\t192.168.001.003\t00:80:45:00:00:02\t1.07a 080415\t00003:02:02\n",
};

class TableCopy : public ::testing::Test {
protected:
    void SetUp() override {
        FormServices s;
        s.dialogs = std::make_shared<RecordingDialogs>();
        s.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
        s.launcher = launcher;
        s.tickMs = 50;
        s.finalWaitMs = 50;
        StartSettings settings = StartSettings::defaults();
        settings.settingsFileExists = true;
        form = std::make_unique<TqsearchForm>(s, settings);
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        QGuiApplication::clipboard()->setText("kept");
    }

    // Three appliances found by a real search, sorted by running time; the second
    // one's name holds a tab and a control byte.
    void search() {
        auto list = sampleAppliances(3);
        list[1].name = "W\tW\x01";
        ApplianceSim sim(list);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        form->BitBtn2->click();
        ASSERT_TRUE(waitUntil([&] { return form->BitBtn2->isEnabled() && !form->Timer1->isActive(); }, 8000));
        ASSERT_EQ(form->Run.FoundCount, 3);
        form->StringGrid1->setFocus();
    }

    QPoint row(int gridRow) {
        return form->StringGrid1->visualRect(form->gridModel()->index(gridRow - 1, 1)).center();
    }
    QWidget* viewport() { return form->StringGrid1->viewport(); }
    // On X11 another client reads it, while this one serves the request.
    std::string clipboard() {
        if (QGuiApplication::platformName() != "xcb")
            return QGuiApplication::clipboard()->text().toStdString();
        QProcess reader;
        reader.start(CLIPBOARD_READER_PATH, {});
        EXPECT_TRUE(waitUntil([&] { return reader.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(reader.exitCode(), 0);
        return reader.readAllStandardOutput().toStdString();
    }
    void key(Qt::Key k) { QTest::keyClick(form->StringGrid1, k, Qt::ControlModifier); }

    PortLock ports;
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    std::unique_ptr<TqsearchForm> form;
};

}  // namespace

// Rows highlighted bottom first with the mouse go to the clipboard top to bottom, after
// the header line, each cell as the table shows it.
TEST_F(TableCopy, CtrlCCopiesTheHighlightedRowsAsShown) {
    search();
    struct Case {
        const char* name;
        std::vector<std::pair<int, Qt::KeyboardModifiers>> clicks;
        std::string want;
    } cases[] = {
        {"one row", {{2, {}}}, kHeader + kRows[1]},
        {"row 3, then Ctrl+click row 1", {{3, {}}, {1, Qt::ControlModifier}}, kHeader + kRows[0] + kRows[2]},
        {"row 1, then Shift+click row 3", {{1, {}}, {3, Qt::ShiftModifier}}, kHeader + kRows[0] + kRows[1] + kRows[2]},
    };
    for (const auto& c : cases) {
        for (const auto& [r, mods] : c.clicks)
            QTest::mouseClick(viewport(), Qt::LeftButton, mods, row(r));
        key(Qt::Key_C);
        EXPECT_EQ(clipboard(), c.want) << c.name;
    }
}

// Ctrl+A highlights every row but leaves the current row, which the buttons act on;
// the copy then holds every listed appliance and none of the empty rows below them.
TEST_F(TableCopy, CtrlASelectsAllAndTheButtonsKeepTheirRow) {
    search();
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, row(2));
    ASSERT_EQ(form->selectedRow(), 2);
    key(Qt::Key_A);
    EXPECT_EQ(form->StringGrid1->selectionModel()->selectedRows().size(), form->gridModel()->rowCount());
    EXPECT_EQ(form->selectedRow(), 2);
    EXPECT_TRUE(form->BitBtn1->isEnabled());
    form->BitBtn1->click();
    EXPECT_EQ(launcher->urls, std::vector<std::string>{"http://192.168.1.2:80"});
    key(Qt::Key_C);
    EXPECT_EQ(clipboard(), kHeader + kRows[0] + kRows[1] + kRows[2]);
}

// The table's menu: "コピー" copies what is highlighted, "すべて選択" highlights all. With
// no appliance highlighted "コピー" is greyed, and neither it nor Ctrl+C touches the
// clipboard; Ctrl+C works again once the menu is gone.
TEST_F(TableCopy, ContextMenuCopiesAndSelectsAll) {
    auto openMenu = [&](int gridRow) {
        QContextMenuEvent ev(QContextMenuEvent::Mouse, row(gridRow), viewport()->mapToGlobal(row(gridRow)));
        QCoreApplication::sendEvent(viewport(), &ev);
        return waitUntil([&] { return form->PopupMenu1->isVisible(); }, 2000);
    };
    ASSERT_TRUE(openMenu(1));
    const QList<QAction*> items = form->PopupMenu1->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(fromQ(items[0]->text()), sj("コピー"));
    EXPECT_EQ(fromQ(items[1]->text()), sj("すべて選択"));
    EXPECT_FALSE(items[0]->isEnabled()) << "row 1 is empty before a search";
    form->PopupMenu1->hide();
    EXPECT_TRUE(form->Copy1->isEnabled());
    key(Qt::Key_C);
    EXPECT_EQ(clipboard(), "kept");

    search();
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, row(3));
    ASSERT_TRUE(openMenu(3));
    EXPECT_TRUE(form->Copy1->isEnabled());
    form->Copy1->trigger();
    form->PopupMenu1->hide();
    EXPECT_EQ(clipboard(), kHeader + kRows[2]);

    ASSERT_TRUE(openMenu(3));
    form->SelectAll1->trigger();
    form->PopupMenu1->hide();
    EXPECT_EQ(form->selectedRow(), 3);
    ASSERT_TRUE(openMenu(3));
    form->Copy1->trigger();
    form->PopupMenu1->hide();
    EXPECT_EQ(clipboard(), kHeader + kRows[0] + kRows[1] + kRows[2]);
}
