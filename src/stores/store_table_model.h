#pragma once
// The store list: one row per stored store, in file order, with the password and cookie in hidden columns.
// The monitoring cycle reads the stores from here, not from the file. Cells hold GBK texts.

#include <QAbstractTableModel>
#include <array>
#include <string>
#include <vector>

namespace tandrel {

class StoreTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { kNumber, kAccount, kStoreId, kName, kState, kPassword, kCookie, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static int ColumnWidth(int column);

    void Clear();
    int AppendRow();  // the new row's index, every cell empty
    void SetCell(int row, int column, std::string text);
    const std::string& Cell(int row, int column) const;  // empty for a row or column that does not exist

    // Selection tracking: the store id and account of the row last made current (-1: none).
    void TrackCurrentRow(int row);
    const std::string& selectedStoreId() const { return selectedStoreId_; }
    const std::string& selectedAccount() const { return selectedAccount_; }

  private:
    std::vector<std::array<std::string, kColumnCount>> rows_;
    std::string selectedStoreId_;
    std::string selectedAccount_;
};

}  // namespace tandrel
