#pragma once
// One open group as the monitoring cycle reported it: listed, logged and published once to every listener
// (the sounds, the reminders and the shell's own outputs). Texts are GBK, as the order list holds them.

#include <chrono>
#include <functional>
#include <string>

namespace tandrel {

struct ReportedGroup {
    std::chrono::system_clock::time_point time;
    std::string storeId, storeName, goodsId, nickname, groupOrderId;
    std::string remainingHours;  // as the order list shows it ("3.8")
    std::string orderSn;
    std::string thumbUrl;  // the goods picture's address
    bool old = false;      // reported before the last rescan already
};

// Called on the cycle's thread, in the order the listeners were added; a listener returns at once and hands
// anything slow to a worker.
using GroupListener = std::function<void(const ReportedGroup& group)>;

}  // namespace tandrel
