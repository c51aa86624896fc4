#include "stores/merchant_login.h"

#include <ctime>
#include <memory>

#include "net/http_request.h"
#include "support/base64.h"
#include "support/json_document.h"
#include "support/local_time.h"
#include "support/text.h"

namespace tandrel {
namespace {

constexpr std::string_view kNull = "{null}";
constexpr std::string_view kJsonAccept = "Accept: application/json, text/javascript, */*; q=0.01\r\n";
constexpr std::string_view kChrome50 =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/50.0.2661.102 Safari/537.36\r\n";

std::string ReplyText(const std::string& body) {
    return std::string(UpToNul(body));
}

std::string TrimmedText(const JsonDocument& doc, std::string_view path) {
    return std::string(Trim(doc.GetText(path)));
}

// Why there is no answer to read in a reply (GBK): the request's own failure (no connection, a timeout, a
// refused certificate, a redirect), or a reply that is no JSON object. Empty when there is one.
std::string UnreadableReply(const std::string& failure, const JsonDocument& doc) {
    if (!failure.empty()) return failure;
    // The reader is lenient, as the replies' own reader was: only a reply that opens no object at all is
    // beyond reading.
    if (doc.RootKind() != static_cast<int>(JsonKind::Object)) return Utf8ToGbk("服务器应答无法识别");
    return {};
}

}  // namespace

// The session block, used by the session check and the SMS request.
std::string SessionBlock(const Endpoints& e) {
    const std::string host = e.merchant.Host();
    return "Host: " + host + "\r\n" + std::string(kJsonAccept) + "Origin: http://" + host + "\r\n" +
           std::string(kChrome50) + "Content-Type: application/json; charset=UTF-8\r\n" + "Referer: http://" +
           host + "/Pdd.html\r\n";
}

std::string SessionReplyText(const std::string& body) {
    // Converted before it is read, as every reply is: read as GBK, UTF-8 text can swallow the quote that
    // ends it (a store name of three Chinese characters is nine bytes).
    std::string text = Utf8ToGbk(ReplyText(body));
    UnescapeText(text);
    return text;
}

bool SessionReplyAlive(const std::string& text) {
    JsonDocument doc;
    doc.Parse(text);
    return doc.GetText("mall_id") != kNull;
}

std::string UrlEncodeUtf8(std::string_view text) {
    if (text.empty()) return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : GbkToUtf8(text)) {
        const bool plain = c == '-' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z');
        if (plain) {
            out += c;
        } else {
            const auto b = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

namespace {

// The login's request: what it sends, and what the exchange writes back into.
struct LoginExchange {
    std::string url, body, block;
    std::string noCookie, cookies, failure;
};

std::unique_ptr<LoginExchange> MakeLoginExchange(const Endpoints& endpoints, std::string_view account,
                                                 std::string_view password) {
    auto x = std::make_unique<LoginExchange>();
    x->url = endpoints.merchant.Url("https", "/chats/auth");
    // The password goes out in UTF-8 and escaped as JSON requires, so quotes and backslashes arrive intact.
    x->body = "{\"username\":\"" + UrlEncodeUtf8(account) + "\",\"password\":\"" +
              JsonEscape(GbkToUtf8(password)) + "\"}";
    x->block =
        "Referer: file:///index.html#pages/login\r\n"
        "User-Agent: android Mozilla/5.0 (Linux; Android 7.1.1; OD105 Build/NMF26F; wv) AppleWebKit/537.36 "
        "(KHTML, like Gecko) Version/4.0 Chrome/53.0.2785.97 Mobile Safari/537.36  "
        "pddmt_android_version/1.10.0 "
        "pddmt_android_build/1100 pddmt_android_channel/gw\r\n"
        "Content-Type: application/json; charset=utf-8\r\n"
        "Content-Length: 55\r\n"
        "Host: " +
        endpoints.merchant.Host() + "\r\n";
    return x;
}

HttpArgs LoginArgs(LoginExchange& x) {
    // The body holds the password: it is never posted again wherever a redirect points.
    return {.url = x.url,
            .method = kHttpPost,
            .cookie = &x.noCookie,
            .returnedCookies = &x.cookies,
            .headerBlock = &x.block,
            .noRedirect = true,
            .bodyBytes = x.body,
            .failure = &x.failure};
}

LoginResult ReadLoginReply(const std::string& reply, LoginExchange& x) {
    LoginResult result;
    result.loginCookies = std::move(x.cookies);
    std::string text = Utf8ToGbk(ReplyText(reply));
    UnescapeText(text);
    JsonDocument doc;
    doc.Parse(text);
    if (std::string why = UnreadableReply(x.failure, doc); !why.empty()) {
        result.code = kLoginFailed;
        result.message = std::move(why);
        return result;
    }
    result.answered = true;
    const std::string auth = TrimmedText(doc, "auth");
    result.storeId = TrimmedText(doc, "mall_id");
    result.mobile = TrimmedText(doc, "mobile");
    if (result.mobile != kNull && result.storeId != kNull && auth == "true") {
        // Without an id the store could be saved but never found again, nor removed.
        if (result.storeId.find_first_not_of(" \t\r\n") == std::string::npos) {
            result.message = Utf8ToGbk("登录失败：后台未返回店铺ID");
            result.code = kLoginFailed;
            return result;
        }
        result.message = Utf8ToGbk("登录成功");
        result.code = kLoginOk;
        return result;
    }
    const std::string errorCode = TrimmedText(doc, "error_code");
    result.message = TrimmedText(doc, "error_msg");
    result.mobile = TrimmedText(doc, "mobile");
    result.code = errorCode == "2000021" || errorCode == "10008" ? kLoginNeedsVerification : kLoginFailed;
    return result;
}

LoginResult EmptyInput() {
    LoginResult result;
    result.message = Utf8ToGbk("账号、密码都不能为空，请填写");
    return result;
}

}  // namespace

LoginResult MerchantLogin(const Endpoints& endpoints, std::string_view account, std::string_view password) {
    if (account.empty() || password.empty()) return EmptyInput();
    const std::unique_ptr<LoginExchange> x = MakeLoginExchange(endpoints, account, password);
    const std::string reply = HttpFetch(LoginArgs(*x));
    return ReadLoginReply(reply, *x);
}

bool StartMerchantLogin(HttpMulti& multi, const Endpoints& endpoints, std::string_view account,
                        std::string_view password, std::function<void(const LoginResult&)> done) {
    if (account.empty() || password.empty()) {
        done(EmptyInput());
        return true;
    }
    std::shared_ptr<LoginExchange> x = MakeLoginExchange(endpoints, account, password);
    return multi.Start(LoginArgs(*x), [x, done = std::move(done)](std::string body, int) {
        done(ReadLoginReply(body, *x));
    });
}

std::string MillisTimestamp(std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const auto sinceEpoch = now.time_since_epoch();
    const auto millis =
        duration_cast<milliseconds>(sinceEpoch - floor<std::chrono::seconds>(sinceEpoch)).count();
    std::tm local = LocalTime(now);
#ifdef _WIN32
    const long long localSeconds = static_cast<long long>(_mkgmtime(&local));
#else
    const long long localSeconds = static_cast<long long>(timegm(&local));
#endif
    // Seconds from the local 1970-01-01 08:00:00: Unix time on a computer set to UTC+8.
    std::string t = std::to_string(localSeconds - 8 * 3600);
    std::string m = std::to_string(millis);
    t += std::string(3 - m.size(), '0') + m;
    while (t.size() <= 12)
        t += '0';
    return t;
}

std::string MillisTimestamp() {
    return MillisTimestamp(std::chrono::system_clock::now());
}

std::string LookupStoreName(const Endpoints& endpoints, std::string_view storeId) {
    const std::string url = endpoints.publicApi.Url("https", "/mall/" + std::string(storeId) + "/info");
    const std::string mobileHost = endpoints.mobile.Host();
    std::string block =
        "Host: " + endpoints.publicApi.Host() + "\r\nConnection: keep-alive\r\n" + std::string(kJsonAccept) +
        "Origin: http://" + mobileHost +
        "\r\nAccessToken: \r\n"
        "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/45.0.2454.101 Safari/537.36\r\n"
        "Content-Type: application/x-www-form-urlencoded;charset=UTF-8\r\n"
        "Referer: http://" +
        mobileHost + "/personal.html?ts=" + MillisTimestamp() + "\r\n";
    std::string cookie;
    const std::string reply = HttpRequest({.url = url, .cookie = &cookie, .headerBlock = &block});
    std::string text = Utf8ToGbk(ReplyText(reply));
    UnescapeText(text);
    std::string name = ExtractBetween(text, "\"mall_name\":\"", "\"");
    if (name.empty()) name = Utf8ToGbk("店铺名");
    return name;
}

int RequestSmsCode(const Endpoints& endpoints, std::string_view account, std::string& cookie,
                   std::string* message) {
    const std::string url = endpoints.merchant.Url("https", "/earth/api/user/getLoginVerificationCode");
    const std::string body = "{\"username\":\"" + JsonEscape(GbkToUtf8(account)) + "\"}";
    std::string block = SessionBlock(endpoints), failure;
    const std::string reply = HttpFetch({.url = url,
                                         .method = kHttpPost,
                                         .cookie = &cookie,
                                         .headerBlock = &block,
                                         .noRedirect = true,
                                         .bodyBytes = body,
                                         .failure = &failure});
    JsonDocument doc;
    doc.Parse(Utf8ToGbk(ReplyText(reply)));
    if (std::string why = UnreadableReply(failure, doc); !why.empty()) {
        if (message) *message = std::move(why);
        return 0;
    }
    if (message) *message = doc.GetText("errorMsg");
    return TextToInt(doc.GetText("errorCode"));
}

std::string FetchCaptcha(const Endpoints& endpoints, const std::function<void()>& pump) {
    const std::string url =
        endpoints.merchant.Url("https", "/captchaCode/getCaptchaCode?rd=" + RandomAlnumText(6));
    std::string cookie;
    const std::string reply = HttpFetch({.url = url, .cookie = &cookie, .noRedirect = true});
    std::string data = ExtractBetween(ReplyText(reply), ";base64,", "\"}");
    UnescapeText(data);
    return Base64Decode(data, pump);
}

std::string ReloginFailureText(const LoginResult& login) {
    std::string why = login.message == kNull ? std::string() : login.message;
    if (why.empty()) why = Utf8ToGbk(login.code == kLoginNeedsVerification ? "需要短信验证" : "无应答");
    return Utf8ToGbk("登录已失效，重新登录失败：") + why;
}

}  // namespace tandrel
