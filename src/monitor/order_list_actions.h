#pragma once
// What the merchant does with the order list: sort it by a column, open a goods page, export goods ids.

#include <chrono>
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

// Ascending by the column, exchanging neighbours only when the comparison is positive, so rows that compare
// equal keep their order. The hidden column does nothing and gives false.
bool SortOrderList(OrderTableModel& orders, int column);

// Writes the goods ids of the rows (one per line) to the export file, making its folder when missing; no
// rows, no file. The path written to; failure receives why nothing was written (UTF-8, empty on success).
std::filesystem::path ExportGoodsIds(const OrderTableModel& orders, const std::vector<int>& rows,
                                     const std::filesystem::path& dataDir,
                                     std::chrono::system_clock::time_point now,
                                     std::string* failure = nullptr);

// The goods page on the mobile site.
std::string GoodsPageUrl(const Endpoints& endpoints, std::string_view goodsId);

}  // namespace tandrel
