// Parsing an order-list reply and reading every order's paths, against nlohmann::json doing the same; and the
// reader's time and memory on shapes that stress it (deep objects inside a wide array, runaway nesting, the
// smallest possible entries). Memory is reported per input byte: "peak/B" is the most the parse holds at
// once, "alloc/B" all it asks for.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "alloc_counter.h"
#include "support/json_document.h"
#include "support/text.h"

namespace {

std::string OrderListReply(int orders) {
    std::string nick = tandrel::Utf8ToGbk("买家昵称");
    std::string reply =
        "{\"success\":true,\"errorCode\":1000000,\"total\":" + std::to_string(orders) + ",\"orders\":[";
    for (int i = 0; i < orders; ++i) {
        if (i) reply += ',';
        const auto n = std::to_string(i);
        reply += "{\"orderSn\":\"201208-" + std::to_string(100000000 + i) +
                 "\",\"createdDuration\":" + std::to_string(i * 37 % 86400) +
                 ",\"uid\":" + std::to_string(5000000 + i) + ",\"nickname\":\"" + nick + n +
                 "\",\"orderStatus\":1,\"groupStatus\":0,\"payTime\":1765000000" +
                 ",\"orderGoodsList\":{\"goodsId\":" + std::to_string(300000 + i) + ",\"goodsName\":\"" +
                 nick + "\\u4e2d" +
                 "\",\"goodsPrice\":1990,\"goodsNumber\":1,\"thumbUrl\":\"https:\\/\\/img.example\\/" + n +
                 ".jpg\"}}";
    }
    reply += "]}";
    return reply;
}

void BM_Tandrel(benchmark::State& state, int orders) {
    const std::string reply = OrderListReply(orders);
    tandrel::JsonDocument doc;
    std::size_t sink = 0;
    for (auto _ : state) {
        doc.Parse(reply);
        sink += doc.GetText("total").size();
        std::vector<std::string> names;
        const int count = doc.MemberNames("orders", names);
        for (int i = 0; i < count; ++i) {
            const std::string prefix = "orders[" + std::to_string(i);
            sink += doc.GetText(prefix + "].orderSn").size();
            sink += doc.GetText(prefix + "].createdDuration").size();
            sink += doc.GetText(prefix + "].orderGoodsList.goodsId").size();
            sink += doc.GetText(prefix + "].uid").size();
            sink += doc.GetText(prefix + "].orderGoodsList.thumbUrl").size();
        }
    }
    benchmark::DoNotOptimize(sink);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}

void BM_Nlohmann(benchmark::State& state, int orders) {
    // nlohmann needs valid UTF-8, so it reads the UTF-8 form of the same reply.
    const std::string reply = tandrel::GbkToUtf8(OrderListReply(orders));
    std::size_t sink = 0;
    for (auto _ : state) {
        const auto doc = nlohmann::json::parse(reply);
        sink += doc["total"].get<int>();
        const auto& list = doc["orders"];
        for (const auto& order : list) {
            sink += order["orderSn"].get_ref<const std::string&>().size();
            sink += order["createdDuration"].get<int>();
            sink += order["orderGoodsList"]["goodsId"].get<int>();
            sink += order["uid"].get<long>();
            sink += order["orderGoodsList"]["thumbUrl"].get_ref<const std::string&>().size();
        }
    }
    benchmark::DoNotOptimize(sink);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}

// About 1 MB: an array of objects each nested `depth` levels deep ({"a":{"a":...1...}}).
std::string NestedWide(int depth = 1000, std::size_t size = 1 << 20) {
    std::string element;
    for (int d = 0; d < depth; ++d)
        element += "{\"a\":";
    element += '1';
    element.append(static_cast<std::size_t>(depth), '}');
    std::string text = "[";
    while (text.size() + element.size() + 2 < size) {
        if (text.size() > 1) text += ',';
        text += element;
    }
    return text + "]";
}

// 100,000 levels, cut by the reader at its limit.
std::string RunawayNesting() {
    return "{\"v\":1,\"d\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
}

// The most entries per byte: empty elements, and empty containers.
std::string Commas() {
    return "[" + std::string(1 << 20, ',') + "]";
}
std::string EmptyArrays() {
    std::string text = "[[]";
    while (text.size() < (1u << 20))
        text += ",[]";
    return text + "]";
}

void BM_TandrelShape(benchmark::State& state, std::string (*make)()) {
    const std::string text = make();
    std::size_t peak = 0, asked = 0;
    for (auto _ : state) {
        const bench::Counting counting;
        {
            tandrel::JsonDocument doc;
            doc.Parse(text);
            benchmark::DoNotOptimize(doc.GetText("[0]"));
        }
        peak = counting.Figures().peak;
        asked = counting.Figures().total;
    }
    state.counters["peak/B"] = static_cast<double>(peak) / static_cast<double>(text.size());
    state.counters["alloc/B"] = static_cast<double>(asked) / static_cast<double>(text.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_NlohmannShape(benchmark::State& state, std::string (*make)()) {
    const std::string text = make();
    std::size_t peak = 0;
    for (auto _ : state) {
        const bench::Counting counting;
        {
            const auto doc = nlohmann::json::parse(text);
            benchmark::DoNotOptimize(doc.size());
        }
        peak = counting.Figures().peak;
    }
    state.counters["peak/B"] = static_cast<double>(peak) / static_cast<double>(text.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

const bool registered = [] {
    const auto shape = [](const char* name, std::string (*make)(), bool withBaseline) {
        const std::string group = std::string("json_shape:") + name;
        benchmark::RegisterBenchmark((group + "/tandrel").c_str(), BM_TandrelShape, make)
            ->Unit(benchmark::kMillisecond);
        if (withBaseline)
            benchmark::RegisterBenchmark((group + "/nlohmann (baseline)").c_str(), BM_NlohmannShape, make)
                ->Unit(benchmark::kMillisecond);
    };
    shape(
        "nested_wide_1MB", [] { return NestedWide(); }, true);
    shape("runaway_nesting", RunawayNesting, false);
    shape(
        "orders_2000", [] { return OrderListReply(2000); }, false);
    shape("commas_1MB", Commas, false);
    shape("empty_arrays_1MB", EmptyArrays, false);

    for (int orders : {20, 2000}) {
        const std::string group = "json_parse_read_orders:" + std::to_string(orders);
        benchmark::RegisterBenchmark((group + "/tandrel").c_str(), BM_Tandrel, orders);
        benchmark::RegisterBenchmark((group + "/nlohmann (baseline)").c_str(), BM_Nlohmann, orders);
    }
    return true;
}();

}  // namespace
