#include "app/reminders.h"

#include <algorithm>
#include <ostream>

#include "support/text.h"

namespace tandrel {

ReportedGroup ToReportedGroup(const ReportedOrder& order, const std::vector<std::string>& oldOrders,
                              std::chrono::system_clock::time_point now) {
    ReportedGroup g;
    g.time = now;
    g.storeId = order.storeId;
    g.storeName = order.storeName;
    g.goodsId = order.goodsId;
    g.nickname = order.nickname;
    g.groupOrderId = order.groupOrderId;
    g.remainingHours = order.hours;
    g.orderSn = order.orderSn;
    g.old = std::find(oldOrders.begin(), oldOrders.end(), order.orderSn) != oldOrders.end();
    return g;
}

std::unique_ptr<Notifier> AttachReminders(AppCore& core, LogSink& log, std::ostream& err,
                                          RobotPosterOptions options) {
    auto notifier = std::make_unique<Notifier>(
        core.dataDir(), core.dataDir() / "Config.ini",
        [&log, &err](const std::string& line) {
            err << line << '\n' << std::flush;
            AppendStatusLine(log, StatusTimestamp() + " " + Utf8ToGbk(line));
        },
        options);
    Notifier* target = notifier.get();
    core.AddReportListener([target, &core](const ReportedOrder& order) {
        target->OnGroupReported(
            ToReportedGroup(order, core.cycle().oldOrders(), std::chrono::system_clock::now()));
    });
    return notifier;
}

}  // namespace tandrel
