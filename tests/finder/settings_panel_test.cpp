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

    std::unique_ptr<TqsearchForm> open(const FileOps& files = FileOps::system()) {
        FormServices s;
        s.dialogs = dialogs;
        s.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
        s.showError = [this](const std::string& m) { errors.push_back(m); };
        s.files = files;
        return std::make_unique<TqsearchForm>(s, StartSettings::fromFiles(paths, files));
    }

    fs::path ini() const { return paths.settingsFile; }

    fs::path dir;
    SettingsPaths paths;
    std::vector<std::string> errors;
    std::shared_ptr<RecordingDialogs> dialogs = std::make_shared<RecordingDialogs>();
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
    EXPECT_EQ(form->Run.Decode.testMode, "0");
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
    // As wide as the window, which the table may have widened.
    EXPECT_EQ(form->Panel6->geometry(), QRect(1, 25, form->width() - 3, 256));
    EXPECT_FALSE(form->BitBtn7->accessibleName().isEmpty());  // a picture, no text
    EXPECT_FALSE(form->Panel6->accessibleName().isEmpty());
}

TEST_F(Panel, OpeningDisablesTheWindowsButtonsAndApplyWritesAllSixKeys) {
    writeBytes(ini(), "[system]\r\ntestmode=1\r\n");
    auto form = open();
    EXPECT_FALSE(form->FirstRun);
    EXPECT_EQ(form->Run.Decode.testMode, "1");
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
    // The start already said that the folder is no readable settings file.
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], cp932::fromUtf8("ファイル " + ini().string() + " は開けません"));
    EXPECT_EQ(errors[1], boxes[0]);
    app->setErrorSink(&GuardedApplication::showErrorBox);
}

TEST_F(Panel, ModelNameFileFeedsTheDecoderAndAnOpenErrorIsShown) {
    writeBytes(paths.modelNameFile, "020 NAME-A\r\n020 NAME-B\r\n");
    auto form = open();
    EXPECT_EQ(form->Run.Decode.modelLines.size(), 2u);
    EXPECT_EQ(namePrefix(20, form->Run.Decode), "NAME-B");
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
    EXPECT_TRUE(failed.Run.Decode.modelLines.empty());
}

// Values nobody edited go back as the bytes they were read as: the NEC-selected kanji
// ED 40 / ED 41 (which Unicode maps to the same characters as FA 5C / FA 5D) and bytes
// that are no valid code page 932 at all. Only an edited value is converted.
TEST_F(Panel, UneditedValuesAreSavedAsTheyWereRead) {
    const std::string nec = "\xED\x40\xED\x41";
    const std::string invalid = "a\x80\xA0\xFD\x81";  // single bytes CP932 has no character for, a cut lead byte
    const std::string file = "[utility]\r\nname=" + nec + "\r\nport=23\r\nfile=/opt/" + invalid +
                             "\r\ncheck=1\r\n[http]\r\nport=80\r\n[system]\r\nsort=" + nec + invalid +
                             "\r\ntestmode=1\r\n";
    writeBytes(ini(), file);

    auto form = open();
    form->BitBtn4->click();
    form->BitBtn5->click();  // Apply with nothing edited
    EXPECT_EQ(bytesOf(ini()), file);
    EXPECT_EQ(form->Settings.UtilityName, nec);
    form.reset();  // and the exit save
    EXPECT_EQ(bytesOf(ini()), file);
    EXPECT_TRUE(errors.empty());

    form = open();
    form->Edit4->setText(toQ(sj("端末")));  // edited: taken from the box
    form.reset();
    EXPECT_EQ(readSettings(paths.settingsFile).UtilityName, sj("端末"));
    EXPECT_EQ(readSettings(paths.settingsFile).UtilityFile, "/opt/" + invalid);
    EXPECT_EQ(readSettings(paths.settingsFile).SortKey, nec + invalid);
}

// A picked path that code page 932 cannot hold would be stored with "?" and name no
// file: the user is told and the old value stays.
TEST_F(Panel, BrowseRefusesAPathCodePage932CannotHold) {
    QString answer;
    FormServices s;
    s.dialogs = dialogs;
    s.addresses = std::make_shared<FixedAddressSource>("127.0.0.1");
    s.openFileDialog = [&] { return answer; };
    TqsearchForm form(s, StartSettings::defaults());
    form.BitBtn4->click();
    for (const char* utf8 : {"/opt/caf\u00e9/qterm", "/opt/\u00fcber", "/home/\ud55c\uad6d/qterm"}) {
        answer = QString::fromUtf8(utf8);
        dialogs->shown.clear();
        form.BitBtn7->click();
        EXPECT_EQ(q(form.Edit3), "qterm") << utf8;
        ASSERT_EQ(dialogs->shown.size(), 1u) << utf8;
        EXPECT_EQ(dialogs->shown[0].kind, "warning");
        EXPECT_EQ(dialogs->shown[0].title, sj("警告"));
        EXPECT_EQ(dialogs->shown[0].text,
                  sj("選択したファイルのパスには、シフトJIS（コードページ 932）で表せない文字が含まれているため、設定できません。"));
    }
    answer = QString::fromUtf8("/opt/端末/qterm");  // Japanese is fine
    dialogs->shown.clear();
    form.BitBtn7->click();
    EXPECT_EQ(form.Edit3->text(), answer);
    EXPECT_TRUE(dialogs->shown.empty());
}

// A settings file that cannot be read or written: the finder still starts (on the
// defaults), says which file, and the file keeps every byte.
TEST_F(Panel, UnreadableOrFullSettingsFileLosesNothing) {
    const std::string file = "; site settings\r\n[utility]\r\nname=Site\r\n[system]\r\ntestmode=1\r\n";
    struct Case {
        const char* name;
        bool failRead;
        std::size_t allowBytes;
        std::vector<std::string> want;  // the errors, start and exit
    } cases[] = {
        {"refused read", true, std::string::npos,
         {"ファイル " + ini().string() + " は開けません", ini().string() + " に書き込めません"}},
        {"full file system", false, 5, {ini().string() + " に書き込めません"}},
    };
    for (const auto& c : cases) {
        writeBytes(ini(), file);
        errors.clear();
        FileOps ops = FileOps::system();
        if (c.failRead)
            ops.read = [](int, void*, std::size_t) -> ssize_t { return errno = EACCES, -1; };
        std::size_t allow = c.allowBytes;
        ops.write = [&allow](int fd, const void* b, std::size_t n) -> ssize_t {
            if (allow == 0)
                return errno = ENOSPC, -1;
            n = std::min(n, allow);
            if (allow != std::string::npos)
                allow -= n;
            return ::write(fd, b, n);
        };
        auto form = open(ops);
        EXPECT_EQ(fromQ(form->BitBtn3->text()), c.failRead ? sj("TELNET接続") : "Site") << c.name;
        EXPECT_FALSE(form->FirstRun) << c.name << ": the file is there";
        form->Edit4->setText("Changed");
        form.reset();
        std::vector<std::string> want;
        for (const auto& w : c.want)
            want.push_back(cp932::fromUtf8(w));
        EXPECT_EQ(errors, want) << c.name;
        EXPECT_EQ(bytesOf(ini()), file) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << c.name;
    }
}

// The settings file beside the program belongs to someone else (root ran the finder
// there once): the window starts from its values, and saves go to this user's own file,
// which starts as a copy of it; the file beside the program stays as it was.
TEST_F(Panel, SeedFileGivesTheStartAndTheSavesGoToTheUsersOwnFile) {
    const fs::path beside = dir / "beside.Ini";
    const std::string seedText = "[http]\r\nport=8080\r\n[system]\r\ntestmode=1\r\nprobe=10.2.0.20\r\n";
    writeBytes(beside, seedText);
    paths.settingsFile = (dir / "config" / "qlxsearch" / "qlxsearch.Ini").string();
    paths.seedFile = beside.string();
    auto form = open();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(q(form->Edit1), "8080");
    EXPECT_EQ(form->Run.Decode.testMode, "1");
    ASSERT_EQ(form->Run.targets.probes.size(), 1u);
    EXPECT_TRUE(form->FirstRun) << "this user has no settings file yet";
    form->BitBtn4->click();
    form->Edit2->setText("2323");
    form->BitBtn5->click();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(bytesOf(beside), seedText);
    const std::string own = bytesOf(paths.settingsFile);
    EXPECT_NE(own.find("port=2323\r\n"), std::string::npos) << own;
    EXPECT_NE(own.find("testmode=1\r\nprobe=10.2.0.20\r\n"), std::string::npos) << own;
}

// A bad probe list in the settings file is said at start and not used; the rest of the
// settings are.
TEST_F(Panel, BadProbeListIsShownAtStartAndLeftOut) {
    writeBytes(ini(), "[http]\r\nport=8080\r\n[system]\r\nprobe=10.2.0.20, 10.3.0.0/16\r\n");
    auto form = open();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "[system] probe needs an IPv4 address A.B.C.D or a range A.B.C.D/NN with NN from 22 "
                         "to 32: 10.3.0.0/16");
    EXPECT_TRUE(form->Run.targets.probes.empty());
    EXPECT_EQ(q(form->Edit1), "8080");
    form.reset();
    EXPECT_NE(bytesOf(ini()).find("probe=10.2.0.20, 10.3.0.0/16\r\n"), std::string::npos) << "never written";
}
