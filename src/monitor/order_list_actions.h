#pragma once
// What the merchant does with the order list: sort it by a column, open a goods page, export goods ids.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/order_table_model.h"
#include "support/endpoints.h"

namespace tandrel {

// Positive when a sorts after b. Numbers closer than 1 compare as equal; a text without a leading number
// counts as 0, and a trailing unit ("小时") is ignored.
int NumericCellCompare(std::string_view a, std::string_view b);
// Byte-wise on the GBK bytes; 1 when a sorts after b, otherwise -1 (also for equal texts).
int TextCellCompare(std::string_view a, std::string_view b);

// Ascending by the column, exchanging neighbours only when the comparison is positive, so rows that compare
// equal keep their order. The hidden column does nothing.
void SortOrderList(OrderTableModel& orders, int column);

// "2018年6月1日14时5分9秒", the time part shortened when it ends in zeros.
std::string ExportTimeText(std::chrono::system_clock::time_point now);
// The export file for count ids: <dataDir>/商品ID/商品ID：<count>个 导出时间：<time>.txt (name in GBK terms).
std::filesystem::path ExportFilePath(const std::filesystem::path& dataDir, std::size_t count,
                                     std::chrono::system_clock::time_point now);
// Appends the text to the file, creating it when missing, with other writers shut out. When it cannot all be
// written, the file is left as it was (a file it created is removed), failure receives the reason, and false.
bool AppendText(const std::filesystem::path& path, std::string_view text, std::string* failure);
// Appends text and CRLF to the file, creating it when missing; false when it cannot be written.
bool AppendTextLine(const std::filesystem::path& path, std::string_view text);
// Writes the goods ids of the rows (one per line) to the export file, making its folder when missing; no
// rows, no file. The path written to; failure receives why nothing was written (UTF-8, empty on success).
std::filesystem::path ExportGoodsIds(const OrderTableModel& orders, const std::vector<int>& rows,
                                     const std::filesystem::path& dataDir,
                                     std::chrono::system_clock::time_point now,
                                     std::string* failure = nullptr);

// The goods page on the mobile site.
std::string GoodsPageUrl(const Endpoints& endpoints, std::string_view goodsId);

}  // namespace tandrel
