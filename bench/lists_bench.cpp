// The window's two lists at an agency's size: 20,000 order rows from 500 stores, and those 500 stores. Every
// operation the merchant sets off (a sort, a filter, a search), a row arriving while the list is sorted and
// filtered, and the store list taking a change of one store's state must each stay well under 100 ms, the
// time in which the window still answers. The baselines are the least each could cost: the same work done on
// bare vectors, without the models and their views' bookkeeping.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "monitor/order_list_actions.h"
#include "monitor/order_table_model.h"
#include "stores/store_book.h"
#include "stores/store_table_model.h"
#include "support/text.h"

namespace {

using tandrel::OrderListProxy;
using tandrel::OrderTableModel;

constexpr int kRows = 20000;
constexpr int kStores = 500;

struct RowCells {
    std::string storeName, goodsId, nickname, groupOrderId, hours, thumbUrl, storeId;
};

// Rows as monitoring makes them: ids of marketplace length, Chinese and Latin nicknames, a picture address.
std::vector<RowCells> MakeRows(int count, unsigned seed) {
    std::mt19937 random(seed);
    const auto digits = [&](int n) {
        std::string s(static_cast<std::size_t>(n), '0');
        for (char& c : s)
            c = static_cast<char>('0' + random() % 10);
        s[0] = static_cast<char>('1' + random() % 9);
        return s;
    };
    const std::string shop = tandrel::Utf8ToGbk("店铺"), user = tandrel::Utf8ToGbk("买家小");
    std::vector<RowCells> rows;
    for (int i = 0; i < count; ++i) {
        const int store = static_cast<int>(random() % kStores);
        rows.push_back(
            {shop + std::to_string(store), digits(12), random() % 2 ? user + digits(3) : "buyer_" + digits(5),
             digits(18), std::to_string(random() % 24) + "." + std::to_string(random() % 10),
             "https://img.example.com/goods/" + digits(12) + ".jpeg", std::to_string(100000 + store)});
    }
    return rows;
}

void Fill(OrderTableModel& orders, const std::vector<RowCells>& rows) {
    for (const RowCells& r : rows)
        orders.AddOrderRow(r.storeName, r.goodsId, r.nickname, r.groupOrderId, r.hours, r.thumbUrl,
                           r.storeId);
}

const std::vector<RowCells>& Rows() {
    static const std::vector<RowCells> rows = MakeRows(kRows, 29);
    return rows;
}

void BM_OrderSort(benchmark::State& state) {
    OrderTableModel orders;
    OrderListProxy shown(orders);
    Fill(orders, Rows());
    int n = 0;
    const int columns[] = {OrderTableModel::kGoodsId, OrderTableModel::kRemaining, OrderTableModel::kNickname,
                           OrderTableModel::kGroupOrderId};
    for (auto _ : state) {
        // Another column each time (a click on the same one only reverses the order).
        shown.sort(columns[n % 4], n % 8 < 4 ? Qt::AscendingOrder : Qt::DescendingOrder);
        ++n;
        benchmark::DoNotOptimize(shown.rowCount());
    }
}

void BM_PlainSort(benchmark::State& state) {
    std::vector<std::string> cells;
    for (const RowCells& r : Rows())
        cells.push_back(r.goodsId);
    std::vector<int> order(cells.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<int>(i);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return cells[static_cast<std::size_t>(a)] < cells[static_cast<std::size_t>(b)];
        });
        benchmark::DoNotOptimize(order.data());
    }
}

void BM_OrderStoreFilter(benchmark::State& state) {
    OrderTableModel orders;
    OrderListProxy shown(orders);
    Fill(orders, Rows());
    shown.sort(OrderTableModel::kRemaining, Qt::DescendingOrder);  // sorted too: the rows let in are sorted
    int n = 0;
    for (auto _ : state) {
        shown.SetStoreFilter(n++ % 2 ? std::string() : std::to_string(100000 + n % kStores));
        benchmark::DoNotOptimize(shown.rowCount());
    }
}

void BM_PlainStoreFilter(benchmark::State& state) {
    int n = 0;
    for (auto _ : state) {
        const std::string id = std::to_string(100000 + ++n % kStores);
        std::vector<int> kept;
        for (std::size_t i = 0; i < Rows().size(); ++i)
            if (Rows()[i].storeId == id) kept.push_back(static_cast<int>(i));
        benchmark::DoNotOptimize(kept.data());
    }
}

void BM_OrderSearch(benchmark::State& state) {
    OrderTableModel orders;
    OrderListProxy shown(orders);
    Fill(orders, Rows());
    shown.sort(OrderTableModel::kGoodsId);
    int n = 0;
    for (auto _ : state) {
        // Each keystroke of a search: another text every time.
        shown.SetSearchText(QString::number(100 + n++ % 900));
        benchmark::DoNotOptimize(shown.rowCount());
    }
}

void BM_PlainSearch(benchmark::State& state) {
    int n = 0;
    for (auto _ : state) {
        const std::string text = std::to_string(100 + n++ % 900);
        std::vector<int> kept;
        for (std::size_t i = 0; i < Rows().size(); ++i) {
            const RowCells& r = Rows()[i];
            if (r.goodsId.find(text) != std::string::npos || r.nickname.find(text) != std::string::npos ||
                r.groupOrderId.find(text) != std::string::npos)
                kept.push_back(static_cast<int>(i));
        }
        benchmark::DoNotOptimize(kept.data());
    }
}

// One row arriving while the list is sorted and filtered (and searched), as monitoring adds them.
void BM_OrderNewRow(benchmark::State& state) {
    OrderTableModel orders;
    OrderListProxy shown(orders);
    Fill(orders, Rows());
    shown.sort(OrderTableModel::kGoodsId, Qt::DescendingOrder);
    shown.SetStoreFilter(Rows()[0].storeId);
    const std::vector<RowCells> more = MakeRows(4096, 7);
    std::size_t n = 0;
    for (auto _ : state) {
        const RowCells& r = more[n++ % more.size()];
        // Half of them of the store shown.
        orders.AddOrderRow(r.storeName, r.goodsId, r.nickname, r.groupOrderId, r.hours, r.thumbUrl,
                           n % 2 ? Rows()[0].storeId : r.storeId);
    }
    state.counters["rows"] = static_cast<double>(orders.rowCount());
}

// The same row into the model without a view.
void BM_ModelNewRow(benchmark::State& state) {
    OrderTableModel orders;
    Fill(orders, Rows());
    const std::vector<RowCells> more = MakeRows(4096, 7);
    std::size_t n = 0;
    for (auto _ : state) {
        const RowCells& r = more[n++ % more.size()];
        orders.AddOrderRow(r.storeName, r.goodsId, r.nickname, r.groupOrderId, r.hours, r.thumbUrl,
                           r.storeId);
    }
}

std::vector<tandrel::WatchedStore> Stores() {
    std::vector<tandrel::WatchedStore> stores;
    for (int i = 0; i < kStores; ++i) {
        tandrel::WatchedStore s = tandrel::ListedStore(
            std::to_string(100000 + i), "account" + std::to_string(i),
            tandrel::Utf8ToGbk("店铺") + std::to_string(i), "secret", "PASS_ID=" + std::string(120, 'x'));
        s.state.condition = tandrel::StoreCondition::Online;
        s.state.lastGood = "2026-12-09 17:00:00";
        stores.push_back(std::move(s));
    }
    return stores;
}

// A change of one store's state reaching the list while it is filtered by state (monitoring's every read
// well, failure or slow-down comes this way).
void BM_StoreListShow(benchmark::State& state) {
    tandrel::StoreBook book;
    tandrel::StoreTableModel list;
    tandrel::StoreListProxy shown(list);
    shown.SetStateFilter(tandrel::StoreStateFilter::Abnormal);
    for (const auto& store : Stores())
        book.Add(store);
    list.Show(book.Snapshot(), book.now());
    int n = 0;
    for (auto _ : state) {
        const std::string id = std::to_string(100000 + n++ % kStores);
        if (n % 2)
            book.Failed(id, "timeout");
        else
            book.ReadWell(id, "2026-12-09 17:00:01");
        list.Show(book.Snapshot(), book.now());
        benchmark::DoNotOptimize(shown.rowCount());
    }
}

// The copy of the book that every showing starts from.
void BM_StoreSnapshot(benchmark::State& state) {
    tandrel::StoreBook book;
    for (const auto& store : Stores())
        book.Add(store);
    for (auto _ : state)
        benchmark::DoNotOptimize(book.Snapshot());
}

void BM_StoreStateFilter(benchmark::State& state) {
    tandrel::StoreBook book;
    tandrel::StoreTableModel list;
    tandrel::StoreListProxy shown(list);
    std::vector<tandrel::WatchedStore> stores = Stores();
    for (std::size_t i = 0; i < stores.size(); i += 3)
        stores[i].state.condition = tandrel::StoreCondition::Failing;
    list.Show(stores, book.now());
    int n = 0;
    for (auto _ : state) {
        shown.SetStateFilter(static_cast<tandrel::StoreStateFilter>(n++ % 4));
        benchmark::DoNotOptimize(shown.rowCount());
    }
}

void BM_PlainStateFilter(benchmark::State& state) {
    std::vector<tandrel::WatchedStore> stores = Stores();
    for (std::size_t i = 0; i < stores.size(); i += 3)
        stores[i].state.condition = tandrel::StoreCondition::Failing;
    int n = 0;
    for (auto _ : state) {
        const auto filter = static_cast<tandrel::StoreStateFilter>(n++ % 4);
        std::vector<int> kept;
        for (std::size_t i = 0; i < stores.size(); ++i)
            if (tandrel::StoreStateFilterAccepts(filter, stores[i].state.condition))
                kept.push_back(static_cast<int>(i));
        benchmark::DoNotOptimize(kept.data());
    }
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// What the lists hold at that size: the model's rows, and what the sorted, filtered view adds to them. Qt's
// containers take their memory from malloc, past the counting operator new: the proxy's mappings show in
// the resident growth (proxy_rss_KiB), not in proxy_B/row.
void BM_ListsMemory(benchmark::State& state) {
    for (auto _ : state) {
        const std::vector<RowCells>& rows = Rows();
        const std::vector<tandrel::WatchedStore> stores = Stores();
        bench::Counting counting;
        auto orders = std::make_unique<OrderTableModel>();
        Fill(*orders, rows);
        const std::size_t model = counting.Figures().live;
        const long residentBefore = ResidentKiB();
        auto shown = std::make_unique<OrderListProxy>(*orders);
        shown->sort(OrderTableModel::kGoodsId);
        shown->SetStoreFilter(rows[0].storeId);
        shown->SetStoreFilter({});
        const std::size_t withProxy = counting.Figures().live;
        state.counters["proxy_rss_KiB"] = static_cast<double>(ResidentKiB() - residentBefore);
        auto list = std::make_unique<tandrel::StoreTableModel>();
        tandrel::StoreBook book;
        list->Show(stores, book.now());
        tandrel::StoreListProxy storesShown(*list);
        storesShown.SetStateFilter(tandrel::StoreStateFilter::Normal);
        const std::size_t all = counting.Figures().live;
        state.counters["model_B/row"] = static_cast<double>(model) / kRows;
        state.counters["proxy_B/row"] = static_cast<double>(withProxy - model) / kRows;
        state.counters["stores_B/store"] = static_cast<double>(all - withProxy) / kStores;
        state.counters["total_MiB"] = static_cast<double>(all) / (1024.0 * 1024.0);
    }
}

}  // namespace

BENCHMARK(BM_OrderSort)->Name("order_sort_20k/tandrel")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSort)
    ->Name("order_sort_20k/stable_sort of one column (baseline)")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderStoreFilter)->Name("order_store_filter_20k/tandrel")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainStoreFilter)
    ->Name("order_store_filter_20k/loop over a vector (baseline)")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderSearch)->Name("order_search_20k/tandrel")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSearch)
    ->Name("order_search_20k/std::string::find (baseline)")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderNewRow)->Name("order_new_row_20k/tandrel")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModelNewRow)
    ->Name("order_new_row_20k/model without a view (baseline)")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoreListShow)->Name("store_list_show_500/tandrel")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoreSnapshot)
    ->Name("store_list_show_500/book snapshot (baseline)")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoreStateFilter)->Name("store_state_filter_500/tandrel")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainStateFilter)
    ->Name("store_state_filter_500/loop over a vector (baseline)")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListsMemory)
    ->Name("lists_memory_20k_rows_500_stores")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
