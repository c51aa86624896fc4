#include "stores/session_check.h"

#include <memory>

#include "net/http_request.h"
#include "stores/merchant_login.h"
#include "support/json_document.h"
#include "support/text.h"

namespace tandrel {
namespace {

constexpr std::string_view kNull = "{null}";
constexpr std::string_view kBusyCode = "54001";

}  // namespace

SessionReading ReadSessionReply(int status, const std::string& body, const std::string& failure) {
    if (!failure.empty()) return {SessionVerdict::NoAnswer, failure};
    if (status == 0) return {SessionVerdict::NoAnswer, Utf8ToGbk("无应答")};
    if (status == 429) return {SessionVerdict::Busy, Utf8ToGbk("请求过于频繁")};
    if (status >= 500) return {SessionVerdict::NoAnswer, "HTTP " + std::to_string(status)};
    const std::string text = SessionReplyText(body);
    const std::string_view trimmed = Trim(text);
    JsonDocument doc;
    const bool json = !trimmed.empty() && trimmed.front() == '{' && doc.Parse(text);
    if (json && (doc.GetText("error_code") == kBusyCode || doc.GetText("errorCode") == kBusyCode))
        return {SessionVerdict::Busy, Utf8ToGbk("请求过于频繁")};
    if (json && SessionReplyAlive(text)) return {SessionVerdict::Alive, {}};
    if (!json && status != 401 && status != 403) {
        return {SessionVerdict::NoAnswer, status >= 200 && status <= 299 ? Utf8ToGbk("回复不是会话数据")
                                                                         : "HTTP " + std::to_string(status)};
    }
    std::string why = json ? doc.GetText("error_msg") : std::string(kNull);
    if (why == kNull) why = json ? doc.GetText("errorMsg") : std::string(kNull);
    if (why == kNull || Trim(why).empty()) why = Utf8ToGbk("登录已失效");
    return {SessionVerdict::Dead, why};
}

bool LoginRefused(const LoginResult& login) {
    if (login.code == kLoginNeedsVerification) return true;
    return login.code == kLoginFailed && login.answered;
}

SessionReading ReadStoreSession(const Endpoints& e, std::string& cookie, int stallSeconds) {
    const auto ask = [&](std::string_view path) {
        std::string block = SessionBlock(e), failure;
        int status = 0;
        const std::string body = HttpRequest({.url = e.session.Url("https", path),
                                              .cookie = &cookie,
                                              .headerBlock = &block,
                                              .status = &status,
                                              .stallSeconds = stallSeconds,
                                              .failure = &failure});
        return ReadSessionReply(status, body, failure);
    };
    const SessionReading mall = ask("/mall");
    // "/mall" may lack the id of a live session; "/userinfo" has it.
    if (mall.verdict != SessionVerdict::Dead) return mall;
    return ask("/userinfo");
}

bool StartSessionRead(HttpMulti& multi, const Endpoints& e, std::string& cookie, bool userinfo,
                      int stallSeconds, std::function<void(const SessionReading&)> done) {
    // What the transfer writes into lives with its callback.
    auto block = std::make_shared<std::string>(SessionBlock(e));
    auto failure = std::make_shared<std::string>();
    return multi.Start({.url = e.session.Url("https", userinfo ? "/userinfo" : "/mall"),
                        .cookie = &cookie,
                        .headerBlock = block.get(),
                        .stallSeconds = stallSeconds,
                        .failure = failure.get()},
                       [block, failure, done = std::move(done)](std::string body, int status) {
                           done(ReadSessionReply(status, body, *failure));
                       });
}

}  // namespace tandrel
