#pragma once
// One open group as it was reported to the merchant: what the robots, the desktop notification and the
// history file are told. Texts are GBK, as the order list holds them.

#include <chrono>
#include <string>

namespace tandrel {

struct ReportedGroup {
    std::chrono::system_clock::time_point time;
    std::string storeId, storeName, goodsId, nickname, groupOrderId;
    std::string remainingHours;  // as the order list shows it ("3.8")
    std::string orderSn;
    bool old = false;  // reported before the last rescan already
};

}  // namespace tandrel
