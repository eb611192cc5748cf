#pragma once
// The finder's main window: device list, buttons and the search run. The window
// wires the plain parts together (endpoint, decoder, grid) and stays thin.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceGrid.h"
#include "guardedapp.h"
#include "Dialogs.h"
#include "Discovery.h"
#include "Launch.h"
#include "LocalAddress.h"
#include "DiscoveryRun.h"
#include "QtRunTimer.h"
#include "Settings.h"
#include "TableSort.h"
#include "net/NMUDP.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;
class QTimer;
class DeviceTableModel;

// What the window gets from outside besides its settings; tests replace each part.
struct FormServices {
    std::shared_ptr<Dialogs> dialogs;          // null: modal Qt boxes
    std::shared_ptr<AddressSource> addresses;  // null: the system's
    SearchTargets targets;                     // --address, --all-networks, --probe; empty: look it up
    int tickMs = 1000;                         // Timer1's interval
    int finalWaitMs = 1000;                    // the blocking wait at the end of a run
    std::shared_ptr<Launcher> launcher;        // null: the desktop's
    std::function<QString()> openFileDialog;   // Browse; "" when cancelled. null: Qt's dialog
    // Where an error outside any event handler goes (the save at exit). null: the error box.
    std::function<void(const std::string& message)> showError;
    FileOps files = FileOps::system();         // the settings file's reads and writes
};

// Values the settings file gives the window at creation (CP932 texts).
struct StartSettings {
    std::string testMode;                 // "1": numeric model names
    std::vector<std::string> modelLines;  // the model-name file's lines
    std::string sortKey;                  // text of ComboBox1
    std::string utilityName;              // caption of BitBtn3
    std::string webPort, utilityPort, utilityFile, utilityCheck;
    bool settingsFileExists = false;      // false: the first search shows the hint
    std::string settingsFile;             // where the window saves; empty: nowhere
    std::string seedFile;                 // what a first save into settingsFile starts from
    std::string openError;                // the model-name file could not be read
    std::string settingsError;            // the settings file is there but cannot be read
    bool allNetworks = false;             // [system] networks=all
    std::vector<ProbeRange> probes;       // [system] probe
    std::string probeError;               // what is wrong with [system] probe; it is not used
    // The values used while no settings file has been written.
    static StartSettings defaults();
    // Both files read as the finder starts; a model-name file that cannot be read
    // leaves openError set and no lines.
    static StartSettings fromFiles(const SettingsPaths& paths, const FileOps& files = FileOps::system());
};

class TqsearchForm : public QWidget, private RunRows {
    // First, because the search run below is built from them.
    FormServices services_;
    DeviceGrid grid_;

public:
    explicit TqsearchForm(FormServices services = {},
                          StartSettings settings = StartSettings::defaults(),
                          QWidget* parent = nullptr);
    ~TqsearchForm() override;

    // Controls, named as the window's design names them.
    QFrame* Panel3;
    QLabel* Panel7;
    QLabel* Panel5;
    QPushButton* BitBtn4;
    QTableView* StringGrid1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn3;
    QComboBox* ComboBox1;
    QPushButton* BitBtn2;
    QLabel* Panel4;
    QFrame* Panel6;  // the settings panel
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLineEdit* Edit1;  // web port
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QLineEdit* Edit4;  // utility name
    QLabel* Label2;
    QLineEdit* Edit2;  // utility port
    QLineEdit* Edit3;  // utility program file
    QPushButton* BitBtn7;
    QCheckBox* CheckBox1;
    QPushButton* BitBtn5;
    QPushButton* BitBtn6;
    QMenu* PopupMenu1;     // the table's menu
    QAction* Copy1;        // "コピー", Ctrl+C: the highlighted rows to the clipboard
    QAction* SelectAll1;   // "すべて選択", Ctrl+A: every row highlighted
    QTimer* Timer1;
    TNMUDP NMUDP1;

private:
    QtRunTimer runTick_{Timer1};  // Timer1 as the run sees it
    QTimer* paceTimer_ = nullptr;  // paces the unicast requests of a run
    QtRunTimer paceTick_{paceTimer_};

public:
    // The search run holds the search state (SendsLeft, FoundCount, LocalOctets), the
    // receive log Memo1, Panel1 and Panel2 (host name and address of the last run) and
    // Decode, the model-name lines (Memo2) and TestMode as the decoder reads them.
    DiscoveryRun Run;

    // WebPort, UtilityName, UtilityPort, UtilityFile, UtilityCheck as held; the sort key
    // lives only in ComboBox1 and TestMode in Run.Decode.
    FinderSettings Settings;
    std::string SettingsFile;
    std::string SeedFile;  // the settings file beside the program that a first save copies
    bool FirstRun = false;

    DeviceGrid& grid() { return grid_; }
    DeviceTableModel* gridModel() { return model_; }
    // The table's current row as a grid row (data rows start at 1).
    int selectedRow() const;
    void selectRow(int gridRow);
    // Call after changing grid() directly, so the view follows.
    void gridChanged();

    // Handlers.
    void FormCreate(const StartSettings& settings);
    void FormDestroy();
    void BitBtn2Click();
    void searche();
    void Timer1Timer();
    void SendData();
    void NMUDP1DataReceived(TNMUDP& sender, int numberBytes, const std::string& fromIP, int port);
    void data_chk(const std::string& fromIP, const std::string& hex);
    void NMUDP1InvalidHost(bool& handled);

    // Where the table rules, settings and launching hook in.
    void ApplySettings(const StartSettings& settings);
    void IniSave();
    void ListSort(int column);
    void ListCheck();
    void StringGrid1Click();
    void BitBtn1Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void BitBtn7Click();
    void Copy1Click();
    void SelectAll1Click();

    Dialogs& dialogs() { return *services_.dialogs; }

protected:
    // A shift-click or a drag on the table only extends the highlight; the current row
    // stays the one last pressed without shift or reached with the keyboard.
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool tableMouse(QObject* watched, QEvent* event);

private:
    // Unit1Controls.cpp: the controls, their wiring and the columns' widths.
    static const std::string& headerText(int column);
    void buildControls();
    void rowsChanged(int gridRow) override;
    void endRun();
    void paceTimerTimer();
    void restoreIdle();
    std::string selectedIp() const;
    QString highlightedText() const;
    void StringGrid1ContextPopup(const QPoint& at);
    void closePanel();
    void keepCurrentHighlighted();
    void sizeColumns();
    void followRowCount();

    DeviceTableModel* model_;
    TextCompare collate_;
    bool extendingHighlight_ = false;
    bool fixingHighlight_ = false;
    int numberDigits_ = 0;  // digits the number column is sized for
    int tableExtra_ = 0;    // how much wider than designed the table is
    std::string sortKey_;  // the sort text as read, kept while ComboBox1 shows it unedited
};
