#include "Unit1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QtMath>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <functional>

#include "DeviceTableModel.h"
#include "Glyphs.h"
#include "IniFile.h"
#include "SettingsPanel.h"
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
    std::string headers[DeviceGrid::kColumns] = {
        "No.", sj(" 機器名"), sj(" IPアドレス"), sj(" MACアドレス"), sj(" バージョン"), sj(" 稼働時間")};
};

const Texts& texts() {
    static const Texts t;
    return t;
}

// The table's first widths; a column is made wider where the font needs it.
constexpr int kColumnWidths[DeviceGrid::kColumns] = {22, 79, 87, 97, 78, 68};
constexpr int kTableWidth = 440;
constexpr int kCellPadding = 1;  // the style sheet's item padding, each side

// The widest text each column can hold besides its header: row numbers, the built-in
// name prefixes with four name characters, the zero-padded IP octets, the MAC groups,
// a version and the running time. `9` stands for the font's widest digit and `F` for
// its widest hexadecimal digit.
const std::vector<const char*> kWidestContent[DeviceGrid::kColumns] = {
    {" 99"},
    {"QLX-9999", "KWM-TZ9999", "VN30-49999", "???-9999"},
    {"999.999.999.999"},
    {"FF:FF:FF:FF:FF:FF"},
    {"99.99a 999999"},
    {"99999:99:99"},
};

// A control that still shows the text it was given keeps that text's bytes, so a
// value nobody edited is written back as it was read, even where code page 932 has
// two codes for one character or the bytes are not valid code page 932.
std::string kept(const QString& shown, const std::string& bytes) {
    return shown == toQ(bytes) ? bytes : fromQ(shown);
}

// The widest the text can be in the font with each `9` (or `F`) any digit (or
// hexadecimal digit), the same one throughout.
int widestAdvance(const QFontMetricsF& fm, const QString& pattern) {
    qreal best = 0;
    for (QChar c : QStringLiteral("0123456789ABCDEF")) {
        if (c > '9' && !pattern.contains('F'))
            break;
        QString text = pattern;
        text.replace('9', c).replace('F', c);
        best = std::max(best, fm.horizontalAdvance(text));
    }
    return qCeil(best);
}

}  // namespace

QLabel* panel(QWidget* parent, const char* utf8Caption, QRect geometry, QFrame::Shadow bevel) {
    auto* p = new QLabel(toQ(sj(utf8Caption)), parent);
    p->setGeometry(geometry);
    p->setAlignment(Qt::AlignCenter);
    p->setFrameStyle(bevel == QFrame::Plain ? QFrame::NoFrame : (QFrame::Panel | bevel));
    p->setAutoFillBackground(true);
    return p;
}

QPushButton* button(QWidget* parent, const char* utf8Caption, QRect geometry) {
    auto* b = new QPushButton(toQ(sj(utf8Caption)), parent);
    b->setGeometry(geometry);
    return b;
}

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
    return s;
}

}  // namespace

StartSettings StartSettings::defaults() { return startSettingsOf(FinderSettings::defaults()); }

StartSettings StartSettings::fromFiles(const SettingsPaths& paths, const FileOps& files) {
    std::string settingsError;
    StartSettings s = startSettingsOf(readSettings(paths.settingsFile, &settingsError, files));
    s.settingsError = settingsError;
    s.settingsFile = paths.settingsFile;
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
      Run(NMUDP1, runTick_, grid_, *this, *services_.addresses, services_.finalWaitMs) {
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

void TqsearchForm::buildControls() {
    setWindowTitle("QLX search Ver 1.7");
    setFont(QFont("IPAPGothic", 9));

    Panel3 = new QFrame(this);
    Panel3->setGeometry(0, 0, 440, 256);
    Panel3->setFrameStyle(QFrame::NoFrame);

    Panel7 = panel(Panel3, "機器一覧", {0, 0, 440, 25}, QFrame::Raised);
    Panel5 = panel(Panel7, "", {296, 4, 89, 17}, QFrame::Sunken);
    // No accessible name: the label's text ("発見数:3") is what a screen reader reads.
    Panel5->setAccessibleDescription(toQ(sj("発見数")));
    BitBtn4 = button(Panel7, "設定", {392, 2, 41, 20});

    StringGrid1 = new QTableView(Panel3);
    StringGrid1->setGeometry(0, 24, 440, 190);
    StringGrid1->setModel(model_);
    StringGrid1->setAccessibleName(toQ(sj("機器一覧")));
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Cells clip their text as a plain grid does, with no "..." and little padding.
    StringGrid1->setTextElideMode(Qt::ElideNone);
    StringGrid1->setWordWrap(false);
    StringGrid1->setStyleSheet("QTableView::item { padding: 0px 1px; }");
    StringGrid1->verticalHeader()->hide();
    // 16 pixels a row: Qt's own minimum for the font would make it taller and leave no
    // strip below ten rows.
    StringGrid1->verticalHeader()->setMinimumSectionSize(16);
    StringGrid1->verticalHeader()->setDefaultSectionSize(16);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->horizontalHeader()->setFixedHeight(16);
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->horizontalHeader()->setHighlightSections(false);

    BitBtn1 = button(Panel3, "WEB接続", {6, 222, 100, 28});
    BitBtn1->setIcon(glyphIcon(Glyph::Web));
    BitBtn1->setEnabled(false);
    BitBtn3 = button(Panel3, "TELNET接続", {116, 222, 100, 28});
    BitBtn3->setIcon(glyphIcon(Glyph::Utility));
    BitBtn3->setEnabled(false);
    ComboBox1 = new QComboBox(Panel3);
    ComboBox1->setGeometry(240, 226, 89, 20);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);  // typed text is a key, not a fourth item
    for (const char* item : {"稼働時間", "IPアドレス", "機器名称"})
        ComboBox1->addItem(toQ(sj(item)));
    ComboBox1->setAccessibleName(toQ(sj("並べ替え")));
    BitBtn2 = button(Panel3, "検索", {336, 222, 97, 28});
    BitBtn2->setIcon(glyphIcon(Glyph::Search));

    Panel4 = panel(this, "検索中", {0, 0, 437, 188}, QFrame::Plain);
    QFont big = font();
    big.setPointSize(18);
    Panel4->setFont(big);
    Panel4->setStyleSheet("color: black;");
    Panel4->hide();

    Panel6 = new QFrame(this);
    Panel6->setGeometry(0, 0, 437, 256);
    Panel6->setFrameStyle(QFrame::NoFrame);
    Panel6->setAutoFillBackground(true);
    Panel6->hide();
    const SettingsPanelControls p = buildSettingsPanel(Panel6);
    GroupBox1 = p.GroupBox1;
    Label1 = p.Label1;
    Edit1 = p.Edit1;
    GroupBox2 = p.GroupBox2;
    Label3 = p.Label3;
    Edit4 = p.Edit4;
    Label2 = p.Label2;
    Edit2 = p.Edit2;
    Edit3 = p.Edit3;
    BitBtn7 = p.BitBtn7;
    CheckBox1 = p.CheckBox1;
    BitBtn5 = p.BitBtn5;
    BitBtn6 = p.BitBtn6;

    Timer1 = new QTimer(this);
    Timer1->setInterval(services_.tickMs);
    connect(Timer1, &QTimer::timeout, this, [this] { reportingErrors([this] { Timer1Timer(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn2Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn1Click(); }); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn3Click(); }); });
    connect(BitBtn4, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn4Click(); }); });
    connect(BitBtn5, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn5Click(); }); });
    connect(BitBtn6, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn6Click(); }); });
    connect(BitBtn7, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn7Click(); }); });
    connect(StringGrid1, &QTableView::clicked, this, [this] { reportingErrors([this] { StringGrid1Click(); }); });
    connect(StringGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!extendingHighlight_)
            reportingErrors([this] { StringGrid1Click(); });
    });
    StringGrid1->viewport()->installEventFilter(this);
    connect(StringGrid1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { keepCurrentHighlighted(); });
    connect(StringGrid1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { keepCurrentHighlighted(); });
    // A double-click anywhere on the table opens the selected row: a cell, the header
    // or the strip below the rows (the viewport's filter takes that one).
    connect(StringGrid1, &QTableView::doubleClicked, this, [this] { reportingErrors([this] { BitBtn1Click(); }); });
    connect(StringGrid1->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
            [this] { reportingErrors([this] { BitBtn1Click(); }); });
    sizeColumns();
}

// Each column at least as wide as its header and its widest content in the font the
// table is drawn with; the window and the controls right of the table's first width
// move over by what the table grew.
void TqsearchForm::sizeColumns() {
    const QFontMetricsF cell(StringGrid1->font());
    const QFontMetricsF head(StringGrid1->horizontalHeader()->font());
    const int cellMargin =
        2 * (StringGrid1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, StringGrid1) + 1 +
             kCellPadding) + 1;  // + the grid line
    const int headMargin =
        2 * StringGrid1->horizontalHeader()->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr,
                                                                  StringGrid1->horizontalHeader()) + 1;
    int sum = 0;
    for (int c = 0; c < DeviceGrid::kColumns; ++c) {
        int need = std::max(kColumnWidths[c], widestAdvance(head, toQ(texts().headers[c])) + headMargin);
        for (const char* content : kWidestContent[c])
            need = std::max(need, widestAdvance(cell, QString::fromLatin1(content)) + cellMargin);
        StringGrid1->setColumnWidth(c, need);
        sum += need;
    }
    const int tableWidth =
        std::max(kTableWidth, sum + StringGrid1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                                      StringGrid1) +
                                  2 * StringGrid1->frameWidth());
    const int extra = tableWidth - kTableWidth;
    for (QWidget* w : {static_cast<QWidget*>(Panel3), static_cast<QWidget*>(Panel7),
                       static_cast<QWidget*>(StringGrid1), static_cast<QWidget*>(Panel4),
                       static_cast<QWidget*>(Panel6)})
        w->resize(w->width() + extra, w->height());
    for (QWidget* w : {static_cast<QWidget*>(Panel5), static_cast<QWidget*>(BitBtn4),
                       static_cast<QWidget*>(ComboBox1), static_cast<QWidget*>(BitBtn2)})
        w->move(w->x() + extra, w->y());
}

void TqsearchForm::FormCreate(const StartSettings& settings) {
    Panel5->clear();
    FoundCount = 0;
    Memo1.clear();
    setFixedSize(Panel3->width(), Panel3->height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    BitBtn1->setEnabled(false);
    for (int c = 0; c < DeviceGrid::kColumns; ++c)
        grid_.setCell(c, 0, texts().headers[c]);
    model_->refresh();
    Panel4->move(1, 25);
    Panel6->move(1, 25);
    Panel4->raise();
    Panel6->raise();
    ApplySettings(settings);
    if (!settings.settingsError.empty()) {
        // Defaults run this session; the file itself is left alone (the saves fail).
        services_.showError(settings.settingsError);
        FirstRun = false;
    }
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
    Settings.WebPort = settings.webPort;
    Settings.UtilityName = settings.utilityName;
    Settings.UtilityPort = settings.utilityPort;
    Settings.UtilityFile = settings.utilityFile;
    Settings.UtilityCheck = settings.utilityCheck;
    Settings.TestMode = settings.testMode;
    ComboBox1->setEditText(toQ(settings.sortKey));
    sortKey_ = settings.sortKey;
    Decode.testMode = settings.testMode;
    Run.targets.allNetworks = services_.targets.allNetworks || settings.allNetworks;

    Edit4->setText(toQ(Settings.UtilityName));
    Edit2->setText(toQ(DigitsOnly(Settings.UtilityPort)));
    Edit3->setText(toQ(Settings.UtilityFile));
    CheckBox1->setChecked(Settings.UtilityCheck == "1");
    Edit1->setText(toQ(DigitsOnly(Settings.WebPort)));
    BitBtn3->setText(toQ(Settings.UtilityName));

    Decode.modelLines = settings.openError.empty() ? settings.modelLines : std::vector<std::string>{};
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

void TqsearchForm::endRun() {
    Panel4->hide();
    StringGrid1->setEnabled(true);
    BitBtn2->setEnabled(true);
    ComboBox1->setEnabled(true);
    ListCheck();
    Run.release();
    if (FoundCount == 0) {
        dialogs().warning(texts().warning, texts().notFound);
        return;
    }
    Panel5->setText(toQ(texts().countBox + std::to_string(FoundCount)));
    if (int column = sortColumnFor(fromQ(ComboBox1->currentText())))
        ListSort(column);
    dialogs().information(texts().info,
                          texts().foundBefore + std::to_string(FoundCount) + texts().foundAfter);
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

void TqsearchForm::rowsChanged(int gridRow) { model_->refresh(gridRow); }

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

void TqsearchForm::gridChanged() { model_->refresh(); }

// The save takes the utility group from the panel as it stands, the web port as held.
void TqsearchForm::IniSave() {
    if (SettingsFile.empty())
        return;
    const UtilityFields panel{kept(Edit4->text(), Settings.UtilityName), fromQ(Edit2->text()),
                              kept(Edit3->text(), Settings.UtilityFile), CheckBox1->isChecked()};
    saveSettings(SettingsFile,
                 saveEntries(panel, Settings.WebPort, kept(ComboBox1->currentText(), sortKey_)), {},
                 services_.files);
}

void TqsearchForm::ListSort(int column) {
    ::ListSort(grid_, column, collate_);
    model_->refresh();
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
