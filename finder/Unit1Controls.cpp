// How the finder's window is built: its controls where the window's design puts them,
// their signals wired to the handlers in Unit1.cpp, and the table's columns sized to the
// font.
#include "Unit1.h"

#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTimer>
#include <set>

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

// The widest text each column can hold besides its header, as the decoder writes it:
// `9` stands for any digit, `F` for any hexadecimal digit (the same one throughout),
// `*` for the widest character a reply byte can show as. The number column and the
// names are not here: they follow the rows and the model names in effect.
const std::vector<const char*> kWidestContent[DeviceGrid::kColumns] = {
    {},
    {},
    {"999.999.999.999"},    // each octet zero-padded to three digits
    {"FF:FF:FF:FF:FF:FF"},
    {"999.999* 999999999"},  // a byte of up to three digits, a byte as a character, three more
    {"-999999:-99:-99"},     // a 32-bit count of seconds: six-digit hours, below zero when read so
};

// A text's width in a cell as the table's delegate gives it (the style's size for an
// item of that text in the table's font, the style sheet's padding included), and the
// grid line beside it, as the view sizes a column to its contents.
class CellWidth {
public:
    explicit CellWidth(QTableView* view) : view_(view) {
        option_.initFrom(view);
        option_.font = view->font();
        option_.fontMetrics = QFontMetrics(option_.font);
        option_.features = QStyleOptionViewItem::HasDisplay;
        option_.textElideMode = view->textElideMode();
        option_.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        option_.widget = view;
    }

    int operator()(const QString& text) {
        option_.text = text;
        const QSize size = view_->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option_, {}, view_);
        return size.width() + (view_->showGrid() ? 1 : 0);
    }

    // The widest `fixed` followed by `pattern` can be, trying each digit (or hexadecimal
    // digit) in turn.
    int widest(const QString& fixed, QString pattern, QChar widestByte) {
        pattern.replace('*', widestByte);
        int best = 0;
        for (QChar c : QStringLiteral("0123456789ABCDEF")) {
            if (c > '9' && !pattern.contains('F'))
                break;
            QString text = pattern;
            text.replace('9', c).replace('F', c);
            best = std::max(best, (*this)(fixed + text));
        }
        return best;
    }

    // The widest character one reply byte can show as: each byte alone as the table
    // shows it (one the code page cannot decode alone shows as U+FFFD, a control byte as
    // "?"), measured four in a row as a name's bytes are. A double-byte character takes
    // two bytes and is at most an em wide, so never wider than two of these.
    QChar widestByte() {
        QString shown;
        for (int b = 0; b < 256; ++b)
            for (QChar c : DeviceTableModel::shown(std::string(1, static_cast<char>(b))))
                if (!shown.contains(c))
                    shown += c;
        QChar widest = ' ';
        int best = 0;
        for (QChar c : shown)
            if (const int w = (*this)(QString(4, c)); w > best) {
                best = w;
                widest = c;
            }
        return widest;
    }

private:
    QTableView* view_;
    QStyleOptionViewItem option_;
};

int digits(int n) { return n < 10 ? 1 : 1 + digits(n / 10); }

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

    // The table's menu and keys, for pasting the list into tickets and spreadsheets.
    PopupMenu1 = new QMenu(this);
    Copy1 = PopupMenu1->addAction(toQ(sj("コピー")));
    Copy1->setShortcut(QKeySequence::Copy);
    SelectAll1 = PopupMenu1->addAction(toQ(sj("すべて選択")));
    SelectAll1->setShortcut(QKeySequence::SelectAll);
    for (QAction* a : {Copy1, SelectAll1}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        StringGrid1->addAction(a);
    }
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);

    Timer1 = new QTimer(this);
    Timer1->setInterval(services_.tickMs);
    connect(Timer1, &QTimer::timeout, this, [this] { reportingErrors([this] { Timer1Timer(); }); });
    paceTimer_ = new QTimer(this);
    paceTimer_->setInterval(static_cast<int>(DiscoveryRun::kPacePeriod.count()));
    paceTimer_->setTimerType(Qt::PreciseTimer);
    connect(paceTimer_, &QTimer::timeout, this, [this] { reportingErrors([this] { paceTimerTimer(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn2Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn1Click(); }); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn3Click(); }); });
    connect(BitBtn4, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn4Click(); }); });
    connect(BitBtn5, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn5Click(); }); });
    connect(BitBtn6, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn6Click(); }); });
    connect(BitBtn7, &QPushButton::clicked, this, [this] { reportingErrors([this] { BitBtn7Click(); }); });
    connect(Copy1, &QAction::triggered, this, [this] { Copy1Click(); });
    connect(SelectAll1, &QAction::triggered, this, [this] { SelectAll1Click(); });
    connect(StringGrid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { StringGrid1ContextPopup(at); });
    // The item is greyed only while the menu shows; Ctrl+C stays live.
    connect(PopupMenu1, &QMenu::aboutToHide, Copy1, [this] { Copy1->setEnabled(true); });
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
}

// Each column at least as wide as its header and as the widest text it can hold in the
// font the table is drawn with, never narrower than designed; the window and the
// controls right of the table's first width move over by what the table grew. Made
// again when the model names change and when the row numbers gain or lose a digit.
void TqsearchForm::sizeColumns() {
    CellWidth cell(StringGrid1);
    const QChar widestByte = cell.widestByte();
    // Row numbers up to the last row's; names: every model code's prefix, then four bytes.
    numberDigits_ = std::max(2, digits(grid_.rowCount() - 1));
    std::vector<std::pair<QString, QString>> content[DeviceGrid::kColumns];
    content[0].push_back({" ", QString(numberDigits_, '9')});
    std::set<std::string> prefixes;
    for (int code = 0; code < 256; ++code)
        prefixes.insert(namePrefix(code, Run.Decode));
    for (const std::string& prefix : prefixes)
        content[1].push_back({DeviceTableModel::shown(prefix), "****"});
    for (int c = 2; c < DeviceGrid::kColumns; ++c)
        for (const char* pattern : kWidestContent[c])
            content[c].push_back({{}, QString::fromLatin1(pattern)});

    int sum = 0;
    for (int c = 0; c < DeviceGrid::kColumns; ++c) {
        int need = std::max(kColumnWidths[c], StringGrid1->horizontalHeader()->sectionSizeHint(c));
        for (const auto& [fixed, pattern] : content[c])
            need = std::max(need, cell.widest(fixed, pattern, widestByte));
        StringGrid1->setColumnWidth(c, need);
        sum += need;
    }
    const int tableWidth =
        std::max(kTableWidth, sum + StringGrid1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                                      StringGrid1) +
                                  2 * StringGrid1->frameWidth());
    const int grown = tableWidth - kTableWidth - tableExtra_;
    tableExtra_ = tableWidth - kTableWidth;
    for (QWidget* w : {static_cast<QWidget*>(Panel3), static_cast<QWidget*>(Panel7),
                       static_cast<QWidget*>(StringGrid1), static_cast<QWidget*>(Panel4),
                       static_cast<QWidget*>(Panel6)})
        w->resize(w->width() + grown, w->height());
    for (QWidget* w : {static_cast<QWidget*>(Panel5), static_cast<QWidget*>(BitBtn4),
                       static_cast<QWidget*>(ComboBox1), static_cast<QWidget*>(BitBtn2)})
        w->move(w->x() + grown, w->y());
    setFixedSize(Panel3->size());
}

// The number column follows the rows: the hundredth row needs a third digit.
void TqsearchForm::followRowCount() {
    if (std::max(2, digits(grid_.rowCount() - 1)) != numberDigits_)
        sizeColumns();
}
