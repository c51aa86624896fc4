#pragma once
// What the merchant does with the order list: sort it by a column, show one store's rows or those matching a
// search, open a goods page, export goods ids.

#include <QSortFilterProxyModel>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/goods_id_export.h"
#include "monitor/order_table_model.h"
#include "net/endpoints.h"

namespace tandrel {

// Positive when a sorts after b. Numbers closer than 1 compare as equal; a text without a leading number
// counts as 0, and a trailing unit ("小时") is ignored.
int NumericCellCompare(std::string_view a, std::string_view b);
// Byte-wise on the GBK bytes; 1 when a sorts after b, otherwise -1 (also for equal texts).
int TextCellCompare(std::string_view a, std::string_view b);

// The order list as a view shows it: sorted by a column and filtered by store and search text, while the
// model keeps its rows in the order they came. Every action on a shown row goes through SourceRow.
//
// Sorting is stable (rows that compare equal keep the order they came in, either way round): the remaining
// time by its exact value, the other number columns by their whole part, the names byte-wise on GBK.
// A row that arrives while sorted or filtered lands in its place, or stays out.
class OrderListProxy : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    explicit OrderListProxy(OrderTableModel& orders, QObject* parent = nullptr);

    // The hidden columns do not sort.
    static bool Sortable(int column);
    // Only the rows of this store (its id, GBK); empty: every store.
    void SetStoreFilter(std::string storeId);
    const std::string& storeFilter() const { return storeFilter_; }
    // Only the rows whose goods id, nickname or group order number holds the text, as typed: letter case,
    // full- or half-width letters and digits and the spaces around it do not matter. Empty: every row.
    void SetSearchText(const QString& text);

    // The model's row of a shown row (-1 when there is none), and the shown row of a model row (-1 when it is
    // filtered out).
    int SourceRow(int shownRow) const;
    int ShownRow(int sourceRow) const;
    // The model's rows of every shown row, in the order shown.
    std::vector<int> ShownSourceRows() const;

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    OrderTableModel& orders_;
    std::string storeFilter_;
    std::vector<std::uint32_t> search_;  // folded, see SearchUnits
    bool searchUnmatchable_ = false;     // the text holds a character no GBK cell can hold
};

// The text as the search compares it: one unit per character, ASCII letters in lower case, full-width ASCII
// (GBK A3A1-A3FE) as its half-width form, the ideographic space as a space.
std::vector<std::uint32_t> SearchUnits(std::string_view gbk);
// Whether the GBK text holds the units at a character boundary (never across a two-byte character).
bool HoldsSearchUnits(std::string_view gbk, const std::vector<std::uint32_t>& units);

// Writes the goods ids of the rows (one per line) to the export file, making its folder when missing; no
// rows, no file. The path written to; failure receives why nothing was written (UTF-8, empty on success).
std::filesystem::path ExportGoodsIds(const OrderTableModel& orders, const std::vector<int>& rows,
                                     const std::filesystem::path& dataDir,
                                     std::chrono::system_clock::time_point now,
                                     std::string* failure = nullptr);

// The goods page on the mobile site.
std::string GoodsPageUrl(const Endpoints& endpoints, std::string_view goodsId);

}  // namespace tandrel
