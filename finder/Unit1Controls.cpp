// How the finder's window is built: its controls where the window's design puts them,
// their signals wired to the handlers in Unit1.cpp, and the table's columns sized to the
// font.
#include "Unit1.h"

#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QtMath>

#include "DeviceTableModel.h"
#include "Glyphs.h"
#include "SettingsPanel.h"
#include "cp932.h"
#include "qtext.h"

namespace {

using cp932::sj;

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

}  // namespace

const std::string& TqsearchForm::headerText(int column) {
    static const std::string headers[DeviceGrid::kColumns] = {
        "No.", sj(" 機器名"), sj(" IPアドレス"), sj(" MACアドレス"), sj(" バージョン"), sj(" 稼働時間")};
    return headers[column];
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
        int need = std::max(kColumnWidths[c], widestAdvance(head, toQ(headerText(c))) + headMargin);
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
