#pragma once
// The store list: one row per stored store, in file order, with the password and cookie in hidden columns.
// The monitoring cycle reads the stores from here, not from the file. Cells hold GBK texts.

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
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
    // The row's state as the book had it at the last Show (Waiting for a row built cell by cell).
    StoreCondition Condition(int row) const;

    // Shows the stores as the book has them, in its order: rows are updated in place while the same stores
    // are listed (the selection stays), rebuilt otherwise.
    void Show(const std::vector<WatchedStore>& stores, StoreState::Clock::time_point now);

    // Selection tracking: the store id and account of the row last made current (-1: none).
    void TrackCurrentRow(int row);
    const std::string& selectedStoreId() const { return selectedStoreId_; }
    const std::string& selectedAccount() const { return selectedAccount_; }

  private:
    std::vector<std::array<std::string, kColumnCount>> rows_;
    std::vector<std::string> stateTips_;      // one per row
    std::vector<StoreCondition> conditions_;  // one per row
    std::string selectedStoreId_;
    std::string selectedAccount_;
};

// The store list's state filter (组合框_状态筛选): every store, or one of three groups that between them hold
// every store once.
enum class StoreStateFilter {
    All,       // 全部
    Normal,    // 正常: being read (waiting for its check, read well, or slowed down)
    Abnormal,  // 异常: failing, or offline until the merchant logs it in
    Paused,    // 已暂停
};
bool StoreStateFilterAccepts(StoreStateFilter filter, StoreCondition condition);

// The store list as the window shows it: filtered by state, in the book's order. A store whose state changes
// joins or leaves the rows shown at once. Every action on a shown row goes through SourceRow.
class StoreListProxy : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    explicit StoreListProxy(StoreTableModel& stores, QObject* parent = nullptr);

    void SetStateFilter(StoreStateFilter filter);
    StoreStateFilter stateFilter() const { return filter_; }
    int SourceRow(int shownRow) const;  // -1 when there is none
    int ShownRow(int sourceRow) const;  // -1 when it is filtered out

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    StoreTableModel& stores_;
    StoreStateFilter filter_ = StoreStateFilter::All;
};

}  // namespace tandrel
