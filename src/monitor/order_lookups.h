#pragma once
// The per-order look-ups of the monitoring cycle and the monitoring log's lines.

#include <chrono>
#include <string>
#include <string_view>

#include "stores/merchant_login.h"

namespace tandrel {

// Where the monitoring log goes: the main window's edit box, or stdout when headless. Texts are GBK.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void AppendText(const std::string& text) = 0;
    virtual void Clear() {}  // the periodic rescan empties the log
};

// One look-up's request, for callers that send it themselves; the reply goes to the matching Read function.
struct LookupRequest {
    std::string url;
    int method = 0;  // HttpMethod
    std::string block, body;
};
LookupRequest GroupOrderIdRequest(const Endpoints& endpoints, std::string_view orderSn);
std::string ReadGroupOrderId(const std::string& reply, std::string* failure = nullptr);
LookupRequest OpenerNicknameRequest(const Endpoints& endpoints, std::string_view uid);
std::string ReadOpenerNickname(const std::string& reply, std::string* failure = nullptr);

// The group order id of an order number, empty on failure (failure receives the reply's errorMsg).
std::string LookupGroupOrderId(MarketplaceSession& session, std::string_view orderSn,
                               std::string* failure = nullptr);
// The nickname of the buyer with this uid, empty on failure.
std::string LookupOpenerNickname(MarketplaceSession& session, std::string_view uid,
                                 std::string* failure = nullptr);
// The address of one page (from 1) of the store's open group orders.
std::string OrderListUrl(const Endpoints& endpoints, int page);

// "[yyyy-MM-dd HH:mm:ss]" in local time; with a 12-hour clock the hour is 01-12 and no AM/PM is written.
std::string StatusTimestamp();
std::string StatusTimestamp(std::chrono::system_clock::time_point now, bool use24Hour);
// Whether the user's locale writes times with the 24-hour clock.
bool LocaleUses24HourClock();

void AppendStatusLine(LogSink& log, std::string_view line);

}  // namespace tandrel
