#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Settings.h"
#include "Unit1.h"
#include "cp932.h"
#include "fakes.h"
#include "files.h"
#include "guardedapp.h"
#include "qtext.h"

namespace fs = std::filesystem;

namespace {

using cp932::sj;

std::string q(const QLineEdit* e) { return fromQ(e->text()); }

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qlx-panel-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        paths = {(dir / "qlxsearch.Ini").string(), (dir / "qlxsearch.dat").string()};
        errors.clear();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::unique_ptr<TqsearchForm> open() {
        FormServices s;
        s.dialogs = std::make_shared<RecordingDialogs>();
        s.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
        s.showError = [this](const std::string& m) { errors.push_back(m); };
        return std::make_unique<TqsearchForm>(s, StartSettings::fromFiles(paths));
    }

    fs::path ini() const { return paths.settingsFile; }

    fs::path dir;
    SettingsPaths paths;
    std::vector<std::string> errors;
};

}  // namespace

TEST_F(Panel, DefaultsWithoutAFile) {
    auto form = open();
    EXPECT_EQ(q(form->Edit1), "80");
    EXPECT_EQ(q(form->Edit4), sj("TELNET接続"));
    EXPECT_EQ(q(form->Edit2), "23");
    EXPECT_EQ(q(form->Edit3), "qterm");
    EXPECT_TRUE(form->CheckBox1->isChecked());
    EXPECT_EQ(fromQ(form->ComboBox1->currentText()), sj("稼働時間"));
    EXPECT_EQ(fromQ(form->BitBtn3->text()), sj("TELNET接続"));
    EXPECT_EQ(form->Decode.testMode, "0");
    EXPECT_TRUE(form->FirstRun);
    EXPECT_TRUE(form->Panel6->isHidden());
    form.reset();
    EXPECT_TRUE(errors.empty());
    // The exit save creates the file.
    EXPECT_EQ(bytesOf(ini()), bytesOf(fs::path(QLX_GOLDEN_DIR) / "settings_new.ini"));
}

TEST_F(Panel, ControlsSitWhereTheyAlwaysHave) {
    auto form = open();
    struct Case {
        QWidget *w, *parent;
        QRect rect;
        const char* caption;
    } cases[] = {
        {form->GroupBox1, form->Panel6, {8, 8, 417, 57}, "WEB設定"},
        {form->Edit1, form->GroupBox1, {120, 24, 81, 20}, nullptr},
        {form->GroupBox2, form->Panel6, {8, 72, 417, 121}, "ユーテリティ接続ボタン"},
        {form->Edit4, form->GroupBox2, {48, 16, 81, 20}, nullptr},
        {form->Edit2, form->GroupBox2, {48, 40, 81, 20}, nullptr},
        {form->Edit3, form->GroupBox2, {48, 64, 321, 20}, nullptr},
        {form->BitBtn7, form->GroupBox2, {376, 64, 33, 20}, nullptr},
        {form->CheckBox1, form->GroupBox2, {48, 88, 169, 17}, "実行ファイルのチェックを行う"},
        {form->BitBtn5, form->Panel6, {272, 200, 75, 25}, "適用"},
        {form->BitBtn6, form->Panel6, {352, 200, 75, 25}, "キャンセル"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.w->parentWidget(), c.parent) << c.w->accessibleName().toStdString();
        EXPECT_EQ(c.w->geometry(), c.rect) << c.w->accessibleName().toStdString();
        if (auto* g = qobject_cast<QGroupBox*>(c.w)) {
            EXPECT_EQ(fromQ(g->title()), sj(c.caption));
        }
        if (auto* b = qobject_cast<QAbstractButton*>(c.w); b && c.caption) {
            EXPECT_EQ(fromQ(b->text()), sj(c.caption));
        }
    }
    EXPECT_EQ(fromQ(form->Label1->text()), sj("Port  (初期値 80)"));
    EXPECT_EQ(form->Label1->pos(), QPoint(16, 28));
    EXPECT_EQ(fromQ(form->Label3->text()), sj("名称"));
    EXPECT_EQ(form->Label3->pos(), QPoint(16, 20));
    EXPECT_EQ(form->Label2->pos(), QPoint(16, 44));
    EXPECT_EQ(form->Panel6->geometry(), QRect(1, 25, 437, 256));
    EXPECT_FALSE(form->BitBtn7->accessibleName().isEmpty());  // a picture, no text
    EXPECT_FALSE(form->Panel6->accessibleName().isEmpty());
}

TEST_F(Panel, OpeningDisablesTheWindowsButtonsAndApplyWritesAllSixKeys) {
    writeBytes(ini(), "[system]\r\ntestmode=1\r\n");
    auto form = open();
    EXPECT_FALSE(form->FirstRun);
    EXPECT_EQ(form->Decode.testMode, "1");
    form->BitBtn4->click();
    EXPECT_TRUE(form->Panel6->isVisible() || !form->Panel6->isHidden());
    for (QWidget* w : {static_cast<QWidget*>(form->ComboBox1), static_cast<QWidget*>(form->BitBtn1),
                       static_cast<QWidget*>(form->BitBtn2), static_cast<QWidget*>(form->BitBtn3),
                       static_cast<QWidget*>(form->BitBtn4)})
        EXPECT_FALSE(w->isEnabled());

    form->Edit1->setText("80a8");
    form->Edit4->setText(toQ(sj("端末")));
    form->Edit2->setText("2 3 2 3");
    form->Edit3->setText("/opt/qlx/qterm");
    form->CheckBox1->setChecked(false);
    form->ComboBox1->setEditText(toQ(sj("機器名称")));
    form->BitBtn5->click();

    EXPECT_TRUE(form->Panel6->isHidden());
    EXPECT_TRUE(form->ComboBox1->isEnabled());
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_TRUE(form->BitBtn4->isEnabled());
    EXPECT_EQ(fromQ(form->BitBtn3->text()), sj("端末"));
    EXPECT_EQ(form->Settings.WebPort, "808");
    EXPECT_EQ(form->Settings.UtilityPort, "2323");
    EXPECT_EQ(form->Settings.UtilityCheck, "0");
    EXPECT_EQ(q(form->Edit1), "80a8");  // the boxes keep what was typed
    const std::string want = "[system]\r\ntestmode=1\r\nsort=" + sj("機器名称") +
                             "\r\n[utility]\r\nname=" + sj("端末") +
                             "\r\nport=2323\r\nfile=/opt/qlx/qterm\r\ncheck=0\r\n"
                             "[http]\r\nport=808\r\n";
    EXPECT_EQ(bytesOf(ini()), want);
    form.reset();  // the exit save writes the same again; testmode stays
    EXPECT_EQ(bytesOf(ini()), want);
}

TEST_F(Panel, CancelRestoresThePortsAndTheExitSaveTakesThePanel) {
    const std::string file = "[http]\r\nport=8 0\r\n[utility]\r\nname=T\r\nport=2 3\r\n"
                             "file=qterm\r\ncheck=1\r\n[system]\r\nsort=free\r\n";
    writeBytes(ini(), file);
    auto form = open();
    EXPECT_EQ(q(form->Edit1), "80");  // shown filtered
    EXPECT_EQ(q(form->Edit2), "23");
    EXPECT_EQ(form->Settings.WebPort, "8 0");  // held as read
    EXPECT_EQ(fromQ(form->ComboBox1->currentText()), "free");

    form->BitBtn4->click();
    form->Edit1->setText("9090");
    form->Edit2->setText("7777");
    form->Edit4->setText("Edited");
    form->Edit3->setText("/bin/other");
    form->CheckBox1->setChecked(false);
    form->BitBtn6->click();

    EXPECT_TRUE(form->Panel6->isHidden());
    EXPECT_EQ(q(form->Edit1), "8 0");  // exactly as held, not filtered
    EXPECT_EQ(q(form->Edit2), "2 3");
    EXPECT_EQ(q(form->Edit4), "Edited");
    EXPECT_EQ(q(form->Edit3), "/bin/other");
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_EQ(fromQ(form->BitBtn3->text()), "T");
    EXPECT_EQ(form->Settings.UtilityFile, "qterm");
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_EQ(bytesOf(ini()), file);  // nothing written

    form.reset();
    EXPECT_EQ(bytesOf(ini()), "[http]\r\nport=8 0\r\n[utility]\r\nname=Edited\r\nport=23\r\n"
                              "file=/bin/other\r\ncheck=0\r\n[system]\r\nsort=free\r\n");
}

TEST_F(Panel, ExitSaveOfAnOpenPanelTakesTheUtilityGroupButNotTheWebPort) {
    auto form = open();
    form->BitBtn4->click();
    form->Edit1->setText("8080");
    form->Edit4->setText("U");
    form.reset();
    auto s = readSettings(paths.settingsFile);
    EXPECT_EQ(s.WebPort, "80");
    EXPECT_EQ(s.UtilityName, "U");
}

TEST_F(Panel, BrowseFillsTheFileBoxOnly) {
    FormServices s;
    s.dialogs = std::make_shared<RecordingDialogs>();
    s.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
    QString answer = "/opt/tools/my term";
    int asked = 0;
    s.openFileDialog = [&] {
        ++asked;
        return answer;
    };
    TqsearchForm form(s, StartSettings::defaults());
    form.BitBtn4->click();
    form.BitBtn7->click();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(q(form.Edit3), "/opt/tools/my term");
    EXPECT_EQ(form.Settings.UtilityFile, "qterm");
    answer.clear();  // the dialog was cancelled
    form.BitBtn7->click();
    EXPECT_EQ(q(form.Edit3), "/opt/tools/my term");
}

TEST_F(Panel, UnwritableFileOnApplyShowsTheMessageAndSkipsTheButtonRule) {
    fs::create_directory(ini());  // a folder where the file should be
    auto* app = static_cast<GuardedApplication*>(QCoreApplication::instance());
    std::vector<std::string> boxes;
    app->setErrorSink([&](const std::string& m) { boxes.push_back(m); });

    auto form = open();
    form->grid().setCell(1, 1, "QLX-ABCD");
    form->grid().setCell(2, 1, "192.168.001.010");
    form->gridChanged();
    form->selectRow(1);
    form->ListCheck();
    ASSERT_TRUE(form->BitBtn1->isEnabled());

    form->BitBtn4->click();
    form->Edit4->setText("New");
    form->BitBtn5->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], cp932::fromUtf8(ini().string() + " に書き込めません"));
    EXPECT_TRUE(form->Panel6->isHidden());
    EXPECT_EQ(fromQ(form->BitBtn3->text()), "New");  // in effect for this run
    EXPECT_FALSE(form->BitBtn1->isEnabled());         // until the next selection

    form.reset();  // the exit save fails too, is reported, and the window still goes
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], boxes[0]);
    app->setErrorSink(&GuardedApplication::showErrorBox);
}

TEST_F(Panel, ModelNameFileFeedsTheDecoderAndAnOpenErrorIsShown) {
    writeBytes(paths.modelNameFile, "020 NAME-A\r\n020 NAME-B\r\n");
    auto form = open();
    EXPECT_EQ(form->Decode.modelLines.size(), 2u);
    EXPECT_EQ(namePrefix(20, form->Decode), "NAME-B");
    EXPECT_TRUE(errors.empty());

    StartSettings s = StartSettings::defaults();  // no settings file...
    s.openError = sj("ファイル /x/qlxsearch.dat は開けません");
    FormServices svc;
    svc.dialogs = std::make_shared<RecordingDialogs>();
    svc.showError = [this](const std::string& m) { errors.push_back(m); };
    TqsearchForm failed(svc, s);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], s.openError);
    EXPECT_FALSE(failed.FirstRun);  // ...yet no first-run hint, as creation stopped short
    EXPECT_TRUE(failed.Decode.modelLines.empty());
}
