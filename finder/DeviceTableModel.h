#pragma once
// Shows a DeviceGrid in a table view: grid row 0 is the header, grid row r is view row r-1.
#include <QAbstractTableModel>
#include <vector>

#include "DeviceGrid.h"

class DeviceTableModel : public QAbstractTableModel {
public:
    explicit DeviceTableModel(DeviceGrid& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A cell's text as the table shows it: NUL as a blank (some views would end the
    // text there), every other control character as "?", so that a tab or a line break
    // in a reply can neither stretch a cell nor split a row.
    static QString shown(const std::string& cell);

    // The given view rows as the clipboard takes them: the header line, then a line for
    // each of them that holds anything, top to bottom; cells as shown, joined by tabs,
    // every line ended by a line feed. Empty when none of the rows holds anything.
    QString rowsText(std::vector<int> viewRows) const;

    // After the grid changed: follows its row count and repaints the given grid row
    // (0: every row).
    void refresh(int gridRow = 0);

private:
    DeviceGrid& grid_;
    int shownRows_;
};
