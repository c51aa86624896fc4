#pragma once
// The order list: one row per accepted open group in the order they came, eight GBK cells, the last two (the
// goods thumbnail address and the store id) hidden. The list is the only store of the rows; views sort and
// filter it through OrderListProxy and never reorder it.

#include <QAbstractTableModel>
#include <array>
#include <string>
#include <vector>

namespace tandrel {

class OrderTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column {
        kNumber,
        kStoreName,
        kGoodsId,
        kNickname,
        kGroupOrderId,
        kRemaining,
        kThumbUrl,
        kStoreId,
        kColumnCount
    };
    using Row = std::array<std::string, kColumnCount>;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static int ColumnWidth(int column);

    // Appends a row numbered after the rows already there; the row's index is returned.
    int AddOrderRow(std::string storeName, std::string goodsId, std::string nickname,
                    std::string groupOrderId, const std::string& hoursText, std::string thumbUrl,
                    std::string storeId = {});
    void Clear();
    const std::string& Cell(int row, int column) const;
    const std::vector<Row>& rows() const { return rows_; }

  signals:
    void rowAdded(int row);  // a view scrolls to it (the model's row)

  private:
    std::vector<Row> rows_;
};

}  // namespace tandrel
