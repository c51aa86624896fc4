#pragma once
// The order list: one row per accepted open group, seven GBK cells, the last (the goods thumbnail address)
// hidden. The list is the only store of the rows.

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
                    std::string groupOrderId, const std::string& hoursText, std::string thumbUrl);
    void Clear();
    const std::string& Cell(int row, int column) const;
    const std::vector<Row>& rows() const { return rows_; }
    // Replaces every row (sorting keeps the cells and reorders the rows).
    void SetRows(std::vector<Row> rows);

  signals:
    void rowAdded(int row);  // a view scrolls to it

  private:
    std::vector<Row> rows_;
};

}  // namespace tandrel
