#pragma once
// The controls of the settings panel, placed as the finder has always shown them.
// The window owns the panel and handles the buttons; this only builds.
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

struct SettingsPanelControls {
    QGroupBox* GroupBox1;  // "WEB設定"
    QLabel* Label1;
    QLineEdit* Edit1;      // web port
    QGroupBox* GroupBox2;  // "ユーテリティ接続ボタン"
    QLabel* Label3;
    QLineEdit* Edit4;      // utility name
    QLabel* Label2;
    QLineEdit* Edit2;      // utility port
    QLineEdit* Edit3;      // utility program file
    QPushButton* BitBtn7;  // browse
    QCheckBox* CheckBox1;  // check the program file
    QPushButton* BitBtn5;  // apply
    QPushButton* BitBtn6;  // cancel
};

SettingsPanelControls buildSettingsPanel(QFrame* Panel6);
