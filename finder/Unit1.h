#pragma once
// The finder's main window: device list, buttons and the search run. The window
// wires the plain parts together (endpoint, decoder, grid) and stays thin.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceGrid.h"
#include "Dialogs.h"
#include "Discovery.h"
#include "LocalAddress.h"
#include "net/NMUDP.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;
class DeviceTableModel;

// Runs an event handler of the window. An error it raises reaches the application's error
// box from the event loop itself, instead of unwinding through the toolkit's signal code;
// connect every handler through it.
void reportingErrors(const std::function<void()>& handler);

// What the window gets from outside besides its settings; tests replace each part.
struct FormServices {
    std::shared_ptr<Dialogs> dialogs;          // null: modal Qt boxes
    std::shared_ptr<AddressSource> addresses;  // null: the system's
    std::string fixedAddress;                  // the --address option; empty: look it up
    int tickMs = 1000;                         // Timer1's interval
    int finalWaitMs = 1000;                    // the blocking wait at the end of a run
};

// Values the settings file gives the window at creation (CP932 texts).
struct StartSettings {
    std::string testMode;                 // "1": numeric model names
    std::vector<std::string> modelLines;  // the model-name file's lines
    std::string sortKey;                  // text of ComboBox1
    std::string utilityName;              // caption of BitBtn3
    bool settingsFileExists = false;      // false: the first search shows the hint
    // The values used while no settings file has been written.
    static StartSettings defaults();
};

class TqsearchForm : public QWidget {
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
    QFrame* Panel6;  // the settings panel; its controls are added by the settings work
    QTimer* Timer1;
    TNMUDP NMUDP1;

    // Controls nothing shows, kept as plain state.
    std::vector<std::string> Memo1;  // receive log, two lines a datagram
    std::string Panel1;              // host name of the last run
    std::string Panel2;              // local address of the last run
    // Memo2 (model-name lines) and TestMode, as the decoder reads them.
    DecodeRules Decode;

    // Search state.
    int SendsLeft = 0;
    int FoundCount = 0;
    Octets LocalOctets{};
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

    Dialogs& dialogs() { return *services_.dialogs; }

private:
    void buildControls();
    void endRun();
    void restoreIdle();

    FormServices services_;
    DeviceGrid grid_;
    DeviceTableModel* model_;
};
