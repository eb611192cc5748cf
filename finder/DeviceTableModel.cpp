#include "DeviceTableModel.h"

#include <QStringList>
#include <algorithm>

#include "qtext.h"

DeviceTableModel::DeviceTableModel(DeviceGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), shownRows_(grid.rowCount() - 1) {}

int DeviceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int DeviceTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : DeviceGrid::kColumns;
}

QVariant DeviceTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() + 1 >= grid_.rowCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return shown(grid_.cell(index.column(), index.row() + 1));
    return {};
}

QString DeviceTableModel::shown(const std::string& cell) {
    QString text = toQ(cell);
    for (QChar& c : text)
        if (c.unicode() == 0)
            c = ' ';
        else if (c.category() == QChar::Other_Control)
            c = '?';
    return text;
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= DeviceGrid::kColumns)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return toQ(grid_.cell(section, 0));
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QString DeviceTableModel::rowsText(std::vector<int> viewRows) const {
    std::sort(viewRows.begin(), viewRows.end());
    viewRows.erase(std::unique(viewRows.begin(), viewRows.end()), viewRows.end());
    const auto line = [this](int gridRow) {
        QStringList cells;
        for (int c = 0; c < DeviceGrid::kColumns; ++c)
            cells << shown(grid_.cell(c, gridRow));
        return cells.join('\t') + '\n';
    };
    QString text;
    for (int row : viewRows) {
        const int gridRow = row + 1;
        if (row < 0 || gridRow >= grid_.rowCount())
            continue;
        bool filled = false;
        for (int c = 0; c < DeviceGrid::kColumns && !filled; ++c)
            filled = !grid_.cell(c, gridRow).empty();
        if (filled)
            text += line(gridRow);
    }
    return text.isEmpty() ? text : line(0) + text;
}

void DeviceTableModel::refresh(int gridRow) {
    const int want = grid_.rowCount() - 1;
    if (want > shownRows_) {
        beginInsertRows({}, shownRows_, want - 1);
        shownRows_ = want;
        endInsertRows();
    } else if (want < shownRows_) {
        beginRemoveRows({}, want, shownRows_ - 1);
        shownRows_ = want;
        endRemoveRows();
    }
    if (gridRow == 0)
        emit headerDataChanged(Qt::Horizontal, 0, DeviceGrid::kColumns - 1);
    if (shownRows_ == 0)
        return;
    const int first = gridRow == 0 ? 0 : gridRow - 1;
    const int last = gridRow == 0 ? shownRows_ - 1 : gridRow - 1;
    if (first < shownRows_)
        emit dataChanged(index(first, 0), index(std::min(last, shownRows_ - 1), DeviceGrid::kColumns - 1));
}
