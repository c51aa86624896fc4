#include "monitor/order_table_model.h"

#include "support/qt_text.h"

namespace tandrel {

int OrderTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int OrderTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant OrderTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount) return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    return FromGbk(Cell(index.row(), index.column()));
}

QVariant OrderTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kTitles[kColumnCount] = {"序号",       "店铺名",   "商品ID", "开团账号",
                                                      "开团订单号", "剩余时间", "",       ""};
    return section >= 0 && section < kColumnCount ? QString::fromUtf8(kTitles[section]) : QVariant();
}

int OrderTableModel::ColumnWidth(int column) {
    static constexpr int kWidths[kColumnCount] = {50, 100, 90, 100, 130, 62, 0, 0};
    return column >= 0 && column < kColumnCount ? kWidths[column] : 0;
}

int OrderTableModel::AddOrderRow(std::string storeName, std::string goodsId, std::string nickname,
                                 std::string groupOrderId, const std::string& hoursText, std::string thumbUrl,
                                 std::string storeId) {
    static const std::string hoursUnit = Utf8ToGbk("小时");
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.push_back(Row{std::to_string(row + 1), std::move(storeName), std::move(goodsId),
                        std::move(nickname), std::move(groupOrderId), hoursText + hoursUnit,
                        std::move(thumbUrl), std::move(storeId)});
    endInsertRows();
    emit rowAdded(row);
    return row;
}

void OrderTableModel::Clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

const std::string& OrderTableModel::Cell(int row, int column) const {
    static const std::string empty;
    if (row < 0 || row >= rowCount() || column < 0 || column >= kColumnCount) return empty;
    return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

}  // namespace tandrel
