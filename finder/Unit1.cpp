#include "Unit1.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>

#include "DeviceTableModel.h"
#include "IniFile.h"
#include "guardedapp.h"
#include "cp932.h"
#include "qtext.h"

namespace {

using cp932::sj;

// The window's own texts, in one place.
struct Texts {
    std::string info = sj("情報");
    std::string warning = sj("警告");
    std::string firstRunHint = sj("セキュリティソフト等で通信許可を求められた場合、許可してください。");
    // The second sentence names what blocks the replies on Linux: the host firewall.
    std::string notFound = sj("対象機器が見つかりませんでした。") + "\r\r" +
                           sj("ファイアウォール（ufw、firewalld 等）で UDP ポート 9010 への応答の受信を許可する必要があります。");
    std::string badPath = sj("選択したファイルのパスには、シフトJIS（コードページ 932）で表せない文字が含まれているため、設定できません。");
    std::string foundBefore = sj("ネットワーク上から対象機器を ");
    std::string foundAfter = sj("台 確認できました。");
    std::string countBox = sj("発見数:");
};

const Texts& texts() {
    static const Texts t;
    return t;
}

// A control that still shows the text it was given keeps that text's bytes, so a
// value nobody edited is written back as it was read, even where code page 932 has
// two codes for one character or the bytes are not valid code page 932.
std::string kept(const QString& shown, const std::string& bytes) {
    return shown == toQ(bytes) ? bytes : fromQ(shown);
}

}  // namespace

namespace {

StartSettings startSettingsOf(const FinderSettings& f) {
    StartSettings s;
    s.testMode = f.TestMode;
    s.sortKey = f.SortKey;
    s.utilityName = f.UtilityName;
    s.webPort = f.WebPort;
    s.utilityPort = f.UtilityPort;
    s.utilityFile = f.UtilityFile;
    s.utilityCheck = f.UtilityCheck;
    s.allNetworks = f.Networks == "all";
    if (std::string error = parseProbeList(f.Probe, s.probes); !error.empty()) {
        s.probes.clear();
        s.probeError = "[system] probe " + error;
    }
    return s;
}

}  // namespace

StartSettings StartSettings::defaults() { return startSettingsOf(FinderSettings::defaults()); }

StartSettings StartSettings::fromFiles(const SettingsPaths& paths, const FileOps& files) {
    std::string settingsError;
    StartSettings s = startSettingsOf(readSettings(paths, &settingsError, files));
    s.settingsError = settingsError;
    s.settingsFile = paths.settingsFile;
    s.seedFile = paths.seedFile;
    s.settingsFileExists = IniFile(paths.settingsFile).exists();
    try {
        s.modelLines = loadModelLines(paths.modelNameFile);
    } catch (const SettingsError& e) {
        s.openError = e.what();
    }
    return s;
}

namespace {

FormServices withDefaults(FormServices s) {
    if (!s.dialogs)
        s.dialogs = qtDialogs();
    if (!s.addresses)
        s.addresses = systemAddressSource();
    if (!s.launcher)
        s.launcher = std::make_shared<DesktopLauncher>();
    if (!s.showError)
        s.showError = &GuardedApplication::showErrorBox;
    return s;
}

}  // namespace

TqsearchForm::TqsearchForm(FormServices services, StartSettings settings, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      services_(withDefaults(std::move(services))), grid_(11),
      Run(NMUDP1, runTick_, paceTick_, grid_, *this, *services_.addresses, services_.finalWaitMs) {
    Run.targets = services_.targets;
    // A launch that fails, at once or when the opener ends, is said in a warning box.
    services_.launcher->OnFailed = [this](const LaunchFailure& f) {
        dialogs().warning(texts().warning, launchFailureText(f));
    };
    collate_ = localeCompare();
    model_ = new DeviceTableModel(grid_, this);
    buildControls();

    NMUDP1.RemotePort = 0;
    NMUDP1.setLocalPort(0);
    NMUDP1.ReportLevel = 16;
    NMUDP1.OnDataReceived = [this](TNMUDP& s, int n, const std::string& ip, int port) {
        reportingErrors([&] { NMUDP1DataReceived(s, n, ip, port); });
    };
    NMUDP1.OnInvalidHost = [this](bool& handled) { NMUDP1InvalidHost(handled); };
    NMUDP1.Loaded();

    FormCreate(settings);
}

TqsearchForm::~TqsearchForm() {
    services_.launcher->OnFailed = nullptr;
    FormDestroy();
    // The grid goes before the child widgets; the view must not read it while they go.
    StringGrid1->setModel(nullptr);
}

void TqsearchForm::FormCreate(const StartSettings& settings) {
    Panel5->clear();
    Run.FoundCount = 0;
    Run.Memo1.clear();
    setFixedSize(Panel3->width(), Panel3->height());
    BitBtn1->setEnabled(false);
    for (int c = 0; c < DeviceGrid::kColumns; ++c)
        grid_.setCell(c, 0, headerText(c));
    model_->refresh();
    Panel4->move(1, 25);
    Panel6->move(1, 25);
    Panel4->raise();
    Panel6->raise();
    ApplySettings(settings);  // sizes the columns, and so the window, for the model names too
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (!settings.settingsError.empty()) {
        // Defaults run this session; the file itself is left alone (the saves fail).
        services_.showError(settings.settingsError);
        FirstRun = false;
    }
    if (!settings.probeError.empty())
        services_.showError(settings.probeError);
    if (!settings.openError.empty()) {
        // The start-up steps end at an unreadable model-name file, before FirstRun is set:
        // no first-run hint follows.
        services_.showError(settings.openError);
        FirstRun = false;
        return;
    }
    FirstRun = !settings.settingsFileExists && settings.settingsError.empty();
}

void TqsearchForm::ApplySettings(const StartSettings& settings) {
    SettingsFile = settings.settingsFile;
    SeedFile = settings.seedFile;
    Settings.WebPort = settings.webPort;
    Settings.UtilityName = settings.utilityName;
    Settings.UtilityPort = settings.utilityPort;
    Settings.UtilityFile = settings.utilityFile;
    Settings.UtilityCheck = settings.utilityCheck;
    Settings.TestMode = settings.testMode;
    ComboBox1->setEditText(toQ(settings.sortKey));
    sortKey_ = settings.sortKey;
    Run.Decode.testMode = settings.testMode;
    Run.targets.allNetworks = services_.targets.allNetworks || settings.allNetworks;
    Run.targets.probes = services_.targets.probes;
    Run.targets.probes.insert(Run.targets.probes.end(), settings.probes.begin(), settings.probes.end());

    Edit4->setText(toQ(Settings.UtilityName));
    Edit2->setText(toQ(DigitsOnly(Settings.UtilityPort)));
    Edit3->setText(toQ(Settings.UtilityFile));
    CheckBox1->setChecked(Settings.UtilityCheck == "1");
    Edit1->setText(toQ(DigitsOnly(Settings.WebPort)));
    BitBtn3->setText(toQ(Settings.UtilityName));

    Run.Decode.modelLines = settings.openError.empty() ? settings.modelLines : std::vector<std::string>{};
    sizeColumns();
}

// Runs from the destructor, so a failed save is shown here and the window still goes.
void TqsearchForm::FormDestroy() {
    try {
        IniSave();
    } catch (const std::exception& e) {
        services_.showError(e.what());
    }
}

void TqsearchForm::BitBtn2Click() {
    if (FirstRun)
        dialogs().information(texts().info, texts().firstRunHint);
    FirstRun = false;
    searche();
}

void TqsearchForm::searche() {
    Panel5->clear();
    StringGrid1->setEnabled(false);
    Panel4->show();
    selectRow(1);
    ComboBox1->setEnabled(false);
    BitBtn1->setEnabled(false);
    BitBtn2->setEnabled(false);
    BitBtn3->setEnabled(false);
    try {
        Run.start();
    } catch (...) {
        restoreIdle();
        throw;
    }
}

void TqsearchForm::Timer1Timer() {
    DiscoveryRun::Step step;
    try {
        step = Run.tick();
    } catch (...) {
        restoreIdle();
        throw;
    }
    if (step == DiscoveryRun::Step::Ended)
        endRun();
}

void TqsearchForm::paceTimerTimer() {
    try {
        Run.pace();
    } catch (...) {
        restoreIdle();
        throw;
    }
}

void TqsearchForm::endRun() {
    Panel4->hide();
    StringGrid1->setEnabled(true);
    BitBtn2->setEnabled(true);
    ComboBox1->setEnabled(true);
    ListCheck();
    Run.release();
    // Not one request left (no route, say): that is no search that found nothing.
    if (Run.nothingSent())
        throw UDPSockError(Run.nothingSentText());
    if (Run.FoundCount == 0) {
        dialogs().warning(texts().warning, texts().notFound);
        return;
    }
    Panel5->setText(toQ(texts().countBox + std::to_string(Run.FoundCount)));
    if (int column = sortColumnFor(fromQ(ComboBox1->currentText())))
        ListSort(column);
    dialogs().information(texts().info,
                          texts().foundBefore + std::to_string(Run.FoundCount) + texts().foundAfter);
}

// A run an error broke off leaves the window usable again instead of stuck in "検索中".
void TqsearchForm::restoreIdle() {
    Run.abort();
    Panel4->hide();
    StringGrid1->setEnabled(true);
    BitBtn2->setEnabled(true);
    ComboBox1->setEnabled(true);
    ListCheck();
}

void TqsearchForm::SendData() { Run.SendData(); }

void TqsearchForm::NMUDP1DataReceived(TNMUDP& sender, int numberBytes, const std::string& fromIP,
                                      int port) {
    Run.received(sender, numberBytes, fromIP, port);
}

void TqsearchForm::data_chk(const std::string& fromIP, const std::string& hex) { Run.data_chk(fromIP, hex); }

void TqsearchForm::rowsChanged(int gridRow) {
    model_->refresh(gridRow);
    followRowCount();
}

void TqsearchForm::NMUDP1InvalidHost(bool& handled) {
    std::string host;
    if (dialogs().prompt("Invalid Host!", "Specify a new host:", host)) {
        NMUDP1.RemoteHost = host;
        handled = true;
    }
}

int TqsearchForm::selectedRow() const {
    const QModelIndex current = StringGrid1->currentIndex();
    return current.isValid() ? current.row() + 1 : 1;
}

void TqsearchForm::selectRow(int gridRow) {
    if (gridRow < 1 || gridRow >= grid_.rowCount())
        return;
    StringGrid1->setCurrentIndex(model_->index(gridRow - 1, 0));
    StringGrid1->selectRow(gridRow - 1);
}

void TqsearchForm::gridChanged() {
    model_->refresh();
    followRowCount();
}

// The save takes the utility group from the panel as it stands, the web port as held.
void TqsearchForm::IniSave() {
    if (SettingsFile.empty())
        return;
    const UtilityFields panel{kept(Edit4->text(), Settings.UtilityName), fromQ(Edit2->text()),
                              kept(Edit3->text(), Settings.UtilityFile), CheckBox1->isChecked()};
    saveSettings(SettingsFile,
                 saveEntries(panel, Settings.WebPort, kept(ComboBox1->currentText(), sortKey_)), {},
                 services_.files, SeedFile);
}

void TqsearchForm::ListSort(int column) {
    ::ListSort(grid_, column, collate_);
    model_->refresh();
    followRowCount();
}

std::string TqsearchForm::selectedIp() const {
    const int row = selectedRow();
    return row < grid_.rowCount() ? grid_.cell(2, row) : std::string();
}

void TqsearchForm::ListCheck() {
    const ButtonStates s = ::ListCheck(BitBtn2->isEnabled(), selectedIp(), CheckBox1->isChecked(), [this] {
        return !findProgram(Settings.UtilityFile, ProgramSearch::system()).empty();
    });
    if (s.web)
        BitBtn1->setEnabled(*s.web);
    if (s.utility)
        BitBtn3->setEnabled(*s.utility);
}

void TqsearchForm::StringGrid1Click() { ListCheck(); }

void TqsearchForm::BitBtn1Click() {
    if (!BitBtn1->isEnabled())
        return;
    services_.launcher->openUrl(webAddress(selectedIp(), Settings.WebPort));
}

// The web button is the test: the utility button is enabled only while it is.
void TqsearchForm::BitBtn3Click() {
    if (!BitBtn1->isEnabled())
        return;
    services_.launcher->startUtility(Settings.UtilityFile, utilityParameters(selectedIp(), Settings.UtilityPort));
}

void TqsearchForm::BitBtn4Click() {
    for (QWidget* w : {static_cast<QWidget*>(ComboBox1), static_cast<QWidget*>(BitBtn1),
                       static_cast<QWidget*>(BitBtn2), static_cast<QWidget*>(BitBtn3),
                       static_cast<QWidget*>(BitBtn4)})
        w->setEnabled(false);
    Panel6->show();
    Panel6->raise();
}

void TqsearchForm::closePanel() {
    Panel6->hide();
    ComboBox1->setEnabled(true);
    BitBtn2->setEnabled(true);
    BitBtn4->setEnabled(true);
}

void TqsearchForm::BitBtn5Click() {
    Settings.UtilityName = kept(Edit4->text(), Settings.UtilityName);
    BitBtn3->setText(Edit4->text());
    Settings.UtilityPort = DigitsOnly(fromQ(Edit2->text()));
    Settings.UtilityFile = kept(Edit3->text(), Settings.UtilityFile);
    Settings.UtilityCheck = CheckBox1->isChecked() ? "1" : "0";
    Settings.WebPort = DigitsOnly(fromQ(Edit1->text()));
    closePanel();
    IniSave();  // a failure ends Apply here: the button rule waits for the next selection
    ListCheck();
}

// The two ports go back to what is held; the rest of the panel stays as typed.
void TqsearchForm::BitBtn6Click() {
    Edit1->setText(toQ(Settings.WebPort));
    Edit2->setText(toQ(Settings.UtilityPort));
    closePanel();
    ListCheck();
}

void TqsearchForm::BitBtn7Click() {
    const QString file = services_.openFileDialog ? services_.openFileDialog()
                                                  : QFileDialog::getOpenFileName(this);
    if (file.isEmpty())
        return;
    // A path stored with "?" in it would name no file; the old value is kept instead.
    if (toQ(fromQ(file)) != file) {
        dialogs().warning(texts().warning, texts().badPath);
        return;
    }
    Edit3->setText(file);
}

// The highlighted rows as shown, for the clipboard; empty when none of them lists an
// appliance, and then the clipboard keeps what it had.
QString TqsearchForm::highlightedText() const {
    std::vector<int> rows;
    for (const QModelIndex& index : StringGrid1->selectionModel()->selectedRows())
        rows.push_back(index.row());
    return model_->rowsText(std::move(rows));
}

void TqsearchForm::Copy1Click() {
    const QString text = highlightedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

// Every row highlighted; the current row, which the buttons act on, stays.
void TqsearchForm::SelectAll1Click() { StringGrid1->selectAll(); }

void TqsearchForm::StringGrid1ContextPopup(const QPoint& at) {
    Copy1->setEnabled(!highlightedText().isEmpty());
    PopupMenu1->popup(StringGrid1->viewport()->mapToGlobal(at));
}

// The current row is the one the buttons act on, so it is always highlighted: a click
// on the strip below the rows or a Ctrl+click that would take the highlight off it
// puts it back.
void TqsearchForm::keepCurrentHighlighted() {
    const QModelIndex current = StringGrid1->currentIndex();
    QItemSelectionModel* selection = StringGrid1->selectionModel();
    if (fixingHighlight_ || !current.isValid() || selection->isRowSelected(current.row(), {}))
        return;
    fixingHighlight_ = true;
    selection->select(current, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    fixingHighlight_ = false;
}

bool TqsearchForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched != StringGrid1->viewport() || extendingHighlight_)
        return QWidget::eventFilter(watched, event);
    return tableMouse(watched, event);
}

bool TqsearchForm::tableMouse(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        // The view reports double-clicks on cells only; the strip below the rows is
        // part of the table too.
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (!StringGrid1->indexAt(at).isValid())
            reportingErrors([this] { BitBtn1Click(); });
        return false;
    }
    bool extends = false;
    if (event->type() == QEvent::MouseButtonPress)
        extends = static_cast<QMouseEvent*>(event)->modifiers() & Qt::ShiftModifier;
    else if (event->type() == QEvent::MouseMove)
        extends = static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton;
    if (!extends)
        return false;
    // Let the view highlight as it does, then put the current row back.
    const QModelIndex current = StringGrid1->currentIndex();
    extendingHighlight_ = true;
    QCoreApplication::sendEvent(watched, event);
    if (current.isValid())
        StringGrid1->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    extendingHighlight_ = false;
    keepCurrentHighlighted();
    return true;
}
