#include "monitor/order_list_actions.h"

#include <algorithm>
#include <cmath>

#include "support/qt_text.h"
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

namespace {

// The leading number of a cell as the sort reads it, without copying: its sign, its whole digits without
// leading zeros and its fraction digits without trailing zeros.
struct NumberView {
    bool negative = false;
    std::string_view whole, fraction;
};

NumberView ReadNumberView(std::string_view text, bool wholeOnly) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    NumberView n;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) n.negative = text[i++] == '-';
    while (i < text.size() && text[i] == '0')
        ++i;
    const std::size_t wholeStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    n.whole = text.substr(wholeStart, i - wholeStart);
    if (!wholeOnly && i < text.size() && text[i] == '.') {
        const std::size_t fractionStart = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        n.fraction = text.substr(fractionStart, i - fractionStart);
        while (!n.fraction.empty() && n.fraction.back() == '0')
            n.fraction.remove_suffix(1);
    }
    if (n.whole.empty() && n.fraction.empty()) n.negative = false;
    return n;
}

// A total order on the numbers (so a sort can rely on it), exact at any length.
int CompareNumbers(const NumberView& a, const NumberView& b) {
    if (a.negative != b.negative) return a.negative ? -1 : 1;
    int magnitude = 0;
    if (a.whole.size() != b.whole.size())
        magnitude = a.whole.size() < b.whole.size() ? -1 : 1;
    else if (const int c = a.whole.compare(b.whole); c != 0)
        magnitude = c;
    else
        magnitude = a.fraction.compare(b.fraction);
    magnitude = magnitude < 0 ? -1 : magnitude > 0 ? 1 : 0;
    return a.negative ? -magnitude : magnitude;
}

bool IsLead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

std::uint32_t LowerAscii(std::uint32_t c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// The unit of the character at i and its length in bytes.
std::uint32_t UnitAt(std::string_view s, std::size_t i, std::size_t& length) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        length = 1;
        return LowerAscii(b);
    }
    if (IsLead(b) && i + 1 < s.size()) {
        length = 2;
        const auto t = static_cast<unsigned char>(s[i + 1]);
        if (b == 0xA3 && t >= 0xA1 && t <= 0xFE) return LowerAscii(t - 0x80u);
        if (b == 0xA1 && t == 0xA1) return ' ';
        return 0x10000u | (std::uint32_t{b} << 8) | t;
    }
    length = 1;  // a byte that starts no character: it matches only itself
    return 0x20000u | b;
}

}  // namespace

std::vector<std::uint32_t> SearchUnits(std::string_view gbk) {
    std::vector<std::uint32_t> units;
    for (std::size_t i = 0, length = 0; i < gbk.size(); i += length)
        units.push_back(UnitAt(gbk, i, length));
    return units;
}

bool HoldsSearchUnits(std::string_view gbk, const std::vector<std::uint32_t>& units) {
    if (units.empty()) return true;
    for (std::size_t start = 0, first = 0; start < gbk.size(); start += first) {
        UnitAt(gbk, start, first);
        std::size_t i = start, k = 0, length = 0;
        while (k < units.size() && i < gbk.size() && UnitAt(gbk, i, length) == units[k]) {
            ++k;
            i += length;
        }
        if (k == units.size()) return true;
    }
    return false;
}

OrderListProxy::OrderListProxy(OrderTableModel& orders, QObject* parent)
    : QSortFilterProxyModel(parent), orders_(orders) {
    setSourceModel(&orders_);
    // A row that arrives lands in its sorted place and is filtered as it comes.
    setDynamicSortFilter(true);
}

bool OrderListProxy::Sortable(int column) {
    return column >= 0 && column < OrderTableModel::kColumnCount && OrderTableModel::ColumnWidth(column) > 0;
}

void OrderListProxy::SetStoreFilter(std::string storeId) {
    if (storeId == storeFilter_) return;
    storeFilter_ = std::move(storeId);
    invalidateRowsFilter();
}

void OrderListProxy::SetSearchText(const QString& text) {
    // Pasted text may carry line breaks or controls: they are no part of any cell.
    QString typed;
    for (const QChar c : text)
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format) typed += c;
    typed = typed.trimmed();
    const std::string gbk = ToGbk(typed);
    std::vector<std::uint32_t> units = SearchUnits(gbk);
    // The ideographic space counts as a blank at either end, like the ASCII one.
    while (!units.empty() && units.back() == ' ')
        units.pop_back();
    std::size_t lead = 0;
    while (lead < units.size() && units[lead] == ' ')
        ++lead;
    units.erase(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(lead));
    // A character without a GBK form came out as "?", which would match a real "?": it matches nothing.
    const bool unmatchable = FromGbk(gbk) != typed;
    if (units == search_ && unmatchable == searchUnmatchable_) return;
    search_ = std::move(units);
    searchUnmatchable_ = unmatchable;
    invalidateRowsFilter();
}

bool OrderListProxy::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (!storeFilter_.empty() && orders_.Cell(sourceRow, OrderTableModel::kStoreId) != storeFilter_)
        return false;
    if (searchUnmatchable_) return false;
    if (search_.empty()) return true;
    for (int column : {OrderTableModel::kGoodsId, OrderTableModel::kNickname, OrderTableModel::kGroupOrderId})
        if (HoldsSearchUnits(orders_.Cell(sourceRow, column), search_)) return true;
    return false;
}

bool OrderListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const int column = left.column();
    const std::string& a = orders_.Cell(left.row(), column);
    const std::string& b = orders_.Cell(right.row(), column);
    if (column == OrderTableModel::kStoreName || column == OrderTableModel::kNickname) return a < b;
    // Only the remaining time has a decimal place that matters (0.9 hours before 1.2); the other number
    // columns hold whole numbers and compare by their whole part, as they always have.
    const bool wholeOnly = column != OrderTableModel::kRemaining;
    return CompareNumbers(ReadNumberView(a, wholeOnly), ReadNumberView(b, wholeOnly)) < 0;
}

int OrderListProxy::SourceRow(int shownRow) const {
    const QModelIndex source = mapToSource(index(shownRow, 0));
    return source.isValid() ? source.row() : -1;
}

int OrderListProxy::ShownRow(int sourceRow) const {
    const QModelIndex shown = mapFromSource(orders_.index(sourceRow, 0));
    return shown.isValid() ? shown.row() : -1;
}

std::vector<int> OrderListProxy::ShownSourceRows() const {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(rowCount()));
    for (int row = 0; row < rowCount(); ++row)
        rows.push_back(SourceRow(row));
    return rows;
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
