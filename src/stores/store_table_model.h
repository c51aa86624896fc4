#pragma once
// The store list: one row per stored store, in file order, with the password and cookie in hidden columns.
// The monitoring cycle reads the stores from here, not from the file. Cells hold GBK texts.

#include <QAbstractTableModel>
#include <array>
#include <set>
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

    // The tooltip of a row's login state (GBK): why its last check failed, when it last read well.
    void SetStateTip(int row, std::string text);
    const std::string& StateTip(int row) const;

    // Stores the merchant paused (by store id): they are listed but neither checked nor polled. The set
    // outlives Clear(), so a reload keeps it.
    void SetPausedIds(std::set<std::string> ids) { pausedIds_ = std::move(ids); }
    const std::set<std::string>& pausedIds() const { return pausedIds_; }
    bool IsPaused(const std::string& storeId) const { return pausedIds_.count(storeId) > 0; }

    // Selection tracking: the store id and account of the row last made current (-1: none).
    void TrackCurrentRow(int row);
    const std::string& selectedStoreId() const { return selectedStoreId_; }
    const std::string& selectedAccount() const { return selectedAccount_; }

  private:
    std::vector<std::array<std::string, kColumnCount>> rows_;
    std::vector<std::string> stateTips_;  // one per row
    std::set<std::string> pausedIds_;
    std::string selectedStoreId_;
    std::string selectedAccount_;
};

}  // namespace tandrel
