#include "SettingsPanel.h"

#include <QApplication>
#include <QStyle>

#include "cp932.h"
#include "qtext.h"

namespace {

QString text(const char* utf8) { return toQ(cp932::fromUtf8(utf8)); }

QLabel* label(QWidget* parent, const char* utf8, int x, int y) {
    auto* l = new QLabel(text(utf8), parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

// Edit fields are named for assistive tools; the labels beside them are their buddies.
QLineEdit* edit(QWidget* parent, const char* accessibleUtf8, QRect geometry) {
    auto* e = new QLineEdit(parent);
    e->setGeometry(geometry);
    e->setAccessibleName(text(accessibleUtf8));
    return e;
}

}  // namespace

SettingsPanelControls buildSettingsPanel(QFrame* Panel6) {
    SettingsPanelControls c;
    Panel6->setAccessibleName(text("設定"));
    c.GroupBox1 = new QGroupBox(text("WEB設定"), Panel6);
    c.GroupBox1->setGeometry(8, 8, 417, 57);
    c.Label1 = label(c.GroupBox1, "Port  (初期値 80)", 16, 28);
    c.Edit1 = edit(c.GroupBox1, "WEB Port", {120, 24, 81, 20});
    c.Label1->setBuddy(c.Edit1);

    c.GroupBox2 = new QGroupBox(text("ユーテリティ接続ボタン"), Panel6);
    c.GroupBox2->setGeometry(8, 72, 417, 121);
    c.Label3 = label(c.GroupBox2, "名称", 16, 20);
    c.Edit4 = edit(c.GroupBox2, "名称", {48, 16, 81, 20});
    c.Label3->setBuddy(c.Edit4);
    c.Label2 = label(c.GroupBox2, "Port", 16, 44);
    c.Edit2 = edit(c.GroupBox2, "Port", {48, 40, 81, 20});
    c.Label2->setBuddy(c.Edit2);
    c.Edit3 = edit(c.GroupBox2, "実行ファイル", {48, 64, 321, 20});
    c.BitBtn7 = new QPushButton(c.GroupBox2);
    c.BitBtn7->setGeometry(376, 64, 33, 20);
    c.BitBtn7->setIcon(QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon));
    c.BitBtn7->setAccessibleName(text("参照"));
    c.CheckBox1 = new QCheckBox(text("実行ファイルのチェックを行う"), c.GroupBox2);
    c.CheckBox1->setGeometry(48, 88, 169, 17);

    c.BitBtn5 = new QPushButton(text("適用"), Panel6);
    c.BitBtn5->setGeometry(272, 200, 75, 25);
    c.BitBtn6 = new QPushButton(text("キャンセル"), Panel6);
    c.BitBtn6->setGeometry(352, 200, 75, 25);
    return c;
}
