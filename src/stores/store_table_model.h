#pragma once
// The store list: one row per stored store, in file order, with the password and cookie in hidden columns.
// The monitoring cycle reads the stores from here, not from the file. Cells hold GBK texts.

#include <QAbstractTableModel>
#include <array>
#include <set>
#include <string>
#include <vector>

#include "stores/store_book.h"

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

    // The tooltip of a row's login state (GBK): why its last check failed, when it last read well.
    void SetStateTip(int row, std::string text);
    const std::string& StateTip(int row) const;

    // Shows the stores as the book has them, in its order: rows are updated in place while the same stores
    // are listed (the selection stays), rebuilt otherwise.
    void Show(const std::vector<WatchedStore>& stores, StoreState::Clock::time_point now);

    // Selection tracking: the store id and account of the row last made current (-1: none).
    void TrackCurrentRow(int row);
    const std::string& selectedStoreId() const { return selectedStoreId_; }
    const std::string& selectedAccount() const { return selectedAccount_; }

  private:
    std::vector<std::array<std::string, kColumnCount>> rows_;
    std::vector<std::string> stateTips_;  // one per row
    std::string selectedStoreId_;
    std::string selectedAccount_;
};

}  // namespace tandrel
