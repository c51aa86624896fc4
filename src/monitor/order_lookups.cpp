#include "monitor/order_lookups.h"

#include <cstdio>
#include <ctime>

#include "net/http_request.h"
#include "support/json_document.h"
#include "support/local_time.h"
#include "support/plain_text.h"
#include "support/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#endif

namespace tandrel {
namespace {

constexpr std::string_view kNull = "{null}";

std::string JsonRequestBlock(const Endpoints& e, std::string_view chromeVersion) {
    const std::string host = e.merchant.Host();
    return "Host: " + host + "\r\nAccept: application/json, text/javascript, */*; q=0.01\r\nOrigin: http://" +
           host +
           "\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
           "Chrome/" +
           std::string(chromeVersion) +
           " Safari/537.36\r\nContent-Type: application/json; charset=UTF-8\r\n" + "Referer: http://" + host +
           "/Pdd.html\r\n";
}

}  // namespace

LookupRequest GroupOrderIdRequest(const Endpoints& e, std::string_view orderSn) {
    // The order number is JSON string text as it stood in the order list ("12\/34"): it goes out so, with
    // only what could break the body escaped; escaping it whole would send another number ("12\\/34").
    return {.url = e.merchant.Url("https", "/mars/shop/orderDetail"),
            .method = kHttpPost,
            .block = JsonRequestBlock(e, "55.0.2883.87"),
            .body = "{\"orderSn\":\"" + JsonStringText(GbkToUtf8(orderSn)) + "\"}"};
}

std::string ReadGroupOrderId(const std::string& reply, std::string* failure) {
    std::string text = Utf8ToGbk(UpToNul(reply));
    UnescapeText(text);
    JsonDocument doc;
    doc.Parse(text);
    if (doc.GetText("success") == "true") return doc.GetText("result.group_order_id");
    if (failure) *failure = doc.GetText("errorMsg");
    return {};
}

LookupRequest OpenerNicknameRequest(const Endpoints& e, std::string_view uid) {
    const std::string host = e.merchant.Host();
    return {
        .url = e.merchant.Url("https", "/chats/users/" + std::string(uid)),
        .method = kHttpGet,
        .block = "Host: " + host +
                 "\r\nConnection: keep-alive\r\nAccept: application/json, text/javascript, */*; q=0.01\r\n"
                 "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
                 "Chrome/55.0.2883.87 Safari/537.36\r\nReferer: http://" +
                 host + "/assets/chats/dist/indexMain.html?r=0.1520505137837871\r\n",
        .body = {}};
}

std::string ReadOpenerNickname(const std::string& reply, std::string* failure) {
    JsonDocument doc;
    doc.Parse(Utf8ToGbk(UpToNul(reply)));
    std::string nickname = doc.GetText("userinfo.nickname");
    if (nickname == kNull) {
        if (failure) *failure = doc.GetText("errorMsg");
        return {};
    }
    // Servers may write Chinese as "\uXXXX" and "/" as "\/": the merchant is shown the name, not its escapes.
    UnescapeText(nickname);
    return RemoveControls(nickname, TextBytes::Gbk, LineBreaks::ToSpace);
}

namespace {

std::string Send(MarketplaceSession& session, LookupRequest request) {
    return HttpRequest({.url = request.url,
                        .method = request.method,
                        .cookie = &session.currentCookie(),
                        .headerBlock = &request.block,
                        .bodyBytes = request.body});
}

}  // namespace

std::string LookupGroupOrderId(MarketplaceSession& session, std::string_view orderSn, std::string* failure) {
    return ReadGroupOrderId(Send(session, GroupOrderIdRequest(session.endpoints(), orderSn)), failure);
}

std::string LookupOpenerNickname(MarketplaceSession& session, std::string_view uid, std::string* failure) {
    return ReadOpenerNickname(Send(session, OpenerNicknameRequest(session.endpoints(), uid)), failure);
}

std::string OrderListUrl(const Endpoints& endpoints, int page) {
    return endpoints.merchant.Url("https",
                                  "/chats/ungroupOrders?pageNo=" + std::to_string(page) + "&pageSize=20");
}

bool LocaleUses24HourClock() {
#ifdef _WIN32
    char value[4] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ITIME, value, sizeof value);
    return value[0] == '1';
#else
    // The locale's time format: "%I" or "%r" mean a 12-hour clock.
    const std::string_view format = nl_langinfo(T_FMT);
    return format.find("%I") == std::string_view::npos && format.find("%r") == std::string_view::npos;
#endif
}

std::string StatusTimestamp(std::chrono::system_clock::time_point now, bool use24Hour) {
    const std::tm t = LocalTime(now);
    const int hour = use24Hour ? t.tm_hour : (t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12);
    char text[64];
    std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d]", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, hour, t.tm_min, t.tm_sec);
    return text;
}

std::string StatusTimestamp() {
    return StatusTimestamp(std::chrono::system_clock::now(), LocaleUses24HourClock());
}

void AppendStatusLine(LogSink& log, std::string_view line) {
    // Names and answers from outside are inside the line: nothing in it may act on a terminal or start a
    // forged line of its own.
    log.AppendText(RemoveControls(line, TextBytes::Gbk, LineBreaks::ToSpace) + "\r\n");
}

}  // namespace tandrel
