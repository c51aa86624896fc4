// Parsing an order-list reply and reading every order's paths, against nlohmann::json doing the same.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

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

const bool registered = [] {
    for (int orders : {20, 2000}) {
        const std::string group = "json_parse_read_orders:" + std::to_string(orders);
        benchmark::RegisterBenchmark((group + "/tandrel").c_str(), BM_Tandrel, orders);
        benchmark::RegisterBenchmark((group + "/nlohmann (baseline)").c_str(), BM_Nlohmann, orders);
    }
    return true;
}();

}  // namespace
