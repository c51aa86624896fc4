#include "stores/store_table_model.h"

#include "support/qt_text.h"

namespace tandrel {

int StoreTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StoreTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant StoreTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount) return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    // The password never reaches a view, even one that shows hidden columns.
    if (index.column() == kPassword) return {};
    if (role == Qt::ToolTipRole && index.column() == kState) {
        const std::string& tip = stateTips_[static_cast<std::size_t>(index.row())];
        if (!tip.empty()) return FromGbk(tip);
    }
    return FromGbk(rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
}

QVariant StoreTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kTitles[kColumnCount] = {"序号",     "店铺账号", "店铺ID", "店铺名",
                                                      "登录状态", "",         ""};
    return section >= 0 && section < kColumnCount ? QString::fromUtf8(kTitles[section]) : QVariant();
}

int StoreTableModel::ColumnWidth(int column) {
    static constexpr int kWidths[kColumnCount] = {40, 100, 90, 120, 190, 0, 0};
    return column >= 0 && column < kColumnCount ? kWidths[column] : 0;
}

void StoreTableModel::Clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    stateTips_.clear();
    conditions_.clear();
    endResetModel();
}

int StoreTableModel::AppendRow() {
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.emplace_back();
    stateTips_.emplace_back();
    conditions_.push_back(StoreCondition::Waiting);
    endInsertRows();
    return row;
}

void StoreTableModel::SetCell(int row, int column, std::string text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kColumnCount) return;
    rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = std::move(text);
    emit dataChanged(index(row, column), index(row, column));
}

void StoreTableModel::SetStateTip(int row, std::string text) {
    if (row < 0 || row >= rowCount()) return;
    stateTips_[static_cast<std::size_t>(row)] = std::move(text);
    emit dataChanged(index(row, kState), index(row, kState), {Qt::ToolTipRole});
}

const std::string& StoreTableModel::StateTip(int row) const {
    static const std::string empty;
    if (row < 0 || row >= rowCount()) return empty;
    return stateTips_[static_cast<std::size_t>(row)];
}

StoreCondition StoreTableModel::Condition(int row) const {
    if (row < 0 || row >= rowCount()) return StoreCondition::Waiting;
    return conditions_[static_cast<std::size_t>(row)];
}

const std::string& StoreTableModel::Cell(int row, int column) const {
    static const std::string empty;
    if (row < 0 || row >= rowCount() || column < 0 || column >= kColumnCount) return empty;
    return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void StoreTableModel::Show(const std::vector<WatchedStore>& stores, StoreState::Clock::time_point now) {
    std::vector<std::array<std::string, kColumnCount>> rows;
    std::vector<std::string> tips;
    std::vector<StoreCondition> conditions;
    rows.reserve(stores.size());
    tips.reserve(stores.size());
    conditions.reserve(stores.size());
    for (std::size_t i = 0; i < stores.size(); ++i) {
        const WatchedStore& s = stores[i];
        rows.push_back({std::to_string(i + 1), s.account, s.id, s.name, StoreConditionText(s.state.condition),
                        s.password, s.cookie});
        tips.push_back(StoreStateTip(s.state, now));
        conditions.push_back(s.state.condition);
    }
    bool sameStores = rows.size() == rows_.size();
    for (std::size_t i = 0; sameStores && i < rows.size(); ++i)
        sameStores = rows[i][kStoreId] == rows_[i][kStoreId];
    if (!sameStores) {
        beginResetModel();
        rows_ = std::move(rows);
        stateTips_ = std::move(tips);
        conditions_ = std::move(conditions);
        endResetModel();
        return;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] == rows_[i] && tips[i] == stateTips_[i] && conditions[i] == conditions_[i]) continue;
        rows_[i] = std::move(rows[i]);
        stateTips_[i] = std::move(tips[i]);
        conditions_[i] = conditions[i];
        const int row = static_cast<int>(i);
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
    }
}

void StoreTableModel::TrackCurrentRow(int row) {
    selectedStoreId_.clear();
    if (row < 0 || row >= rowCount()) return;  // the account keeps its previous value
    selectedStoreId_ = Cell(row, kStoreId);
    selectedAccount_ = Cell(row, kAccount);
}

bool StoreStateFilterAccepts(StoreStateFilter filter, StoreCondition condition) {
    switch (filter) {
        case StoreStateFilter::All:
            return true;
        case StoreStateFilter::Normal:
            return IsWatched(condition);
        case StoreStateFilter::Abnormal:
            return condition == StoreCondition::Failing || condition == StoreCondition::Offline;
        case StoreStateFilter::Paused:
            return condition == StoreCondition::Paused;
    }
    return true;
}

StoreListProxy::StoreListProxy(StoreTableModel& stores, QObject* parent)
    : QSortFilterProxyModel(parent), stores_(stores) {
    setSourceModel(&stores_);
    setDynamicSortFilter(true);
}

void StoreListProxy::SetStateFilter(StoreStateFilter filter) {
    if (filter == filter_) return;
    filter_ = filter;
    invalidateRowsFilter();
}

bool StoreListProxy::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    return StoreStateFilterAccepts(filter_, stores_.Condition(sourceRow));
}

int StoreListProxy::SourceRow(int shownRow) const {
    const QModelIndex source = mapToSource(index(shownRow, 0));
    return source.isValid() ? source.row() : -1;
}

int StoreListProxy::ShownRow(int sourceRow) const {
    const QModelIndex shown = mapFromSource(stores_.index(sourceRow, 0));
    return shown.isValid() ? shown.row() : -1;
}

}  // namespace tandrel
