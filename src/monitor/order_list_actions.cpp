#include "monitor/order_list_actions.h"

#include <algorithm>
#include <cmath>

#include "support/text.h"

namespace tandrel {
namespace {

// The leading decimal number of a cell, exactly: its digits scaled to a whole number by the fraction's
// length. (A floating-point reading is exact only to 2^53 where long double is double, so long ids such as
// group order numbers would compare equal.)
struct Decimal {
    bool negative = false;
    std::string digits;        // integer and fraction digits together, no leading zeros ("" is zero)
    std::size_t fraction = 0;  // how many of the digits stand after the point
};

Decimal LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    Decimal number;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) number.negative = text[i++] == '-';
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number.digits += text[i];
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++number.fraction)
            number.digits += text[i];
    }
    number.digits.erase(0, std::min(number.digits.find_first_not_of('0'), number.digits.size()));
    if (number.digits.empty()) number.negative = false;
    return number;
}

// Magnitudes as digit strings without leading zeros.
int CompareMagnitudes(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() > b.size() ? 1 : -1;
    const int c = a.compare(b);
    return c > 0 ? 1 : c < 0 ? -1 : 0;
}

std::string AddMagnitudes(const std::string& a, const std::string& b) {
    std::string sum;
    int carry = 0;
    for (std::size_t k = 0; k < std::max(a.size(), b.size()) || carry; ++k) {
        int d = carry;
        if (k < a.size()) d += a[a.size() - 1 - k] - '0';
        if (k < b.size()) d += b[b.size() - 1 - k] - '0';
        sum += static_cast<char>('0' + d % 10);
        carry = d / 10;
    }
    std::reverse(sum.begin(), sum.end());
    return sum;
}

std::string SubtractMagnitudes(const std::string& a, const std::string& b) {  // a >= b
    std::string difference;
    int borrow = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        int d = a[a.size() - 1 - k] - '0' - borrow - (k < b.size() ? b[b.size() - 1 - k] - '0' : 0);
        borrow = d < 0;
        difference += static_cast<char>('0' + (d + 10) % 10);
    }
    while (difference.size() > 1 && difference.back() == '0')
        difference.pop_back();
    std::reverse(difference.begin(), difference.end());
    return difference == "0" ? std::string() : difference;
}

// The sign of x - y truncated toward zero: 0 unless they are at least 1 apart. exact: the plain sign.
int TruncatedDifferenceSign(const Decimal& x, const Decimal& y, bool exact = false) {
    const std::size_t scale = std::max(x.fraction, y.fraction);
    const auto scaled = [scale](const Decimal& d) {
        return d.digits.empty() ? std::string() : d.digits + std::string(scale - d.fraction, '0');
    };
    const std::string a = scaled(x), b = scaled(y);
    std::string magnitude;
    int sign;
    if (x.negative != y.negative) {  // x - y = ±(|x| + |y|)
        magnitude = AddMagnitudes(a, b);
        sign = x.negative ? -1 : 1;
    } else {
        const int c = CompareMagnitudes(a, b);
        if (c == 0) return 0;
        magnitude = c > 0 ? SubtractMagnitudes(a, b) : SubtractMagnitudes(b, a);
        sign = (c > 0) != x.negative ? 1 : -1;
    }
    magnitude.erase(0, std::min(magnitude.find_first_not_of('0'), magnitude.size()));
    if (exact) return magnitude.empty() ? 0 : sign;
    return magnitude.size() > scale ? sign : 0;  // at least 10^scale, that is at least 1
}

}  // namespace

int NumericCellCompare(std::string_view a, std::string_view b) {
    return TruncatedDifferenceSign(LeadingNumber(a), LeadingNumber(b));
}

int TextCellCompare(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) return x > y ? 1 : -1;
    }
    return a.size() > b.size() ? 1 : -1;
}

bool SortOrderList(OrderTableModel& orders, int column) {
    const bool numeric = column == OrderTableModel::kNumber || column == OrderTableModel::kGoodsId ||
                         column == OrderTableModel::kGroupOrderId || column == OrderTableModel::kRemaining;
    const bool text = column == OrderTableModel::kStoreName || column == OrderTableModel::kNickname;
    if (!numeric && !text) return false;
    std::vector<OrderTableModel::Row> rows = orders.rows();
    const auto c = static_cast<std::size_t>(column);
    // Neighbours are exchanged only on a positive comparison, pass after pass until one exchanges nothing;
    // the numeric keys are read once rather than on every comparison.
    std::vector<Decimal> keys;
    if (numeric)
        for (const auto& row : rows)
            keys.push_back(LeadingNumber(row[c]));
    // The remaining time has a decimal place that matters: 0.9 hours comes before 1.2. The other numeric
    // columns hold whole numbers, where the truncated comparison is the same.
    const bool exact = column == OrderTableModel::kRemaining;
    const auto after = [&](std::size_t j) {
        if (!numeric) return TextCellCompare(rows[j][c], rows[j + 1][c]) > 0;
        return TruncatedDifferenceSign(keys[j], keys[j + 1], exact) > 0;
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
    return true;
}

std::filesystem::path ExportGoodsIds(const OrderTableModel& orders, const std::vector<int>& rows,
                                     const std::filesystem::path& dataDir,
                                     std::chrono::system_clock::time_point now, std::string* failure) {
    std::vector<std::string> ids;
    for (int row : rows)
        ids.push_back(orders.Cell(row, OrderTableModel::kGoodsId));
    return ExportIdList(ids, dataDir, now, failure);
}

std::string GoodsPageUrl(const Endpoints& endpoints, std::string_view goodsId) {
    // The id comes from a reply, where "/" may stand as "\/".
    return endpoints.mobile.Url("https", "/goods.html?goods_id=" + ReplaceAll(goodsId, "\\/", "/"));
}

}  // namespace tandrel
