#include "monitor/order_list_actions.h"

#include <cmath>

namespace tandrel {
namespace {

long double LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long double value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    if (i < text.size() && text[i] == '.') {
        long double scale = 0.1L;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10)
            value += (text[i] - '0') * scale;
    }
    return negative ? -value : value;
}

}  // namespace

int NumericCellCompare(std::string_view a, std::string_view b) {
    // The sign of the difference truncated toward zero. (Taking its low 32 bits, as a 32-bit result would,
    // misorders long ids such as group order numbers, whose differences pass 2^31.)
    const long double difference = std::trunc(LeadingNumber(a) - LeadingNumber(b));
    return difference > 0 ? 1 : difference < 0 ? -1 : 0;
}

int TextCellCompare(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) return x > y ? 1 : -1;
    }
    return a.size() > b.size() ? 1 : -1;
}

void SortOrderList(OrderTableModel& orders, int column) {
    const bool numeric = column == OrderTableModel::kNumber || column == OrderTableModel::kGoodsId ||
                         column == OrderTableModel::kGroupOrderId || column == OrderTableModel::kRemaining;
    const bool text = column == OrderTableModel::kStoreName || column == OrderTableModel::kNickname;
    if (!numeric && !text) return;
    std::vector<OrderTableModel::Row> rows = orders.rows();
    const auto c = static_cast<std::size_t>(column);
    // Neighbours are exchanged only on a positive comparison, pass after pass until one exchanges nothing;
    // the numeric keys are read once rather than on every comparison.
    std::vector<long double> keys;
    if (numeric)
        for (const auto& row : rows)
            keys.push_back(LeadingNumber(row[c]));
    const auto after = [&](std::size_t j) {
        if (!numeric) return TextCellCompare(rows[j][c], rows[j + 1][c]) > 0;
        return std::trunc(keys[j] - keys[j + 1]) > 0;
    };
    for (std::size_t pass = 1; pass <= rows.size(); ++pass) {
        bool exchanged = false;
        for (std::size_t j = 0; j + pass < rows.size(); ++j) {
            if (!after(j)) continue;
            std::swap(rows[j], rows[j + 1]);
            if (numeric) std::swap(keys[j], keys[j + 1]);
            exchanged = true;
        }
        if (!exchanged) break;
    }
    orders.SetRows(std::move(rows));
}

std::filesystem::path ExportGoodsIds(const OrderTableModel& orders, const std::vector<int>& rows,
                                     const std::filesystem::path& dataDir,
                                     std::chrono::system_clock::time_point now) {
    std::vector<std::string> ids;
    for (int row : rows)
        ids.push_back(orders.Cell(row, OrderTableModel::kGoodsId));
    return ExportIdList(ids, dataDir, now);
}

std::string GoodsPageUrl(const Endpoints& endpoints, std::string_view goodsId) {
    return endpoints.mobile.Url("http", "/goods.html?goods_id=" + std::string(goodsId));
}

}  // namespace tandrel
