#include "sim/marketplace_sim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "sim/captcha_image.h"
#include "sim/capturing_server.h"
#include "sim/reply_variation.h"

namespace tandrel::sim {
namespace {

using Json = nlohmann::ordered_json;  // members in the order written, as the real replies have them

constexpr char kSessionCookie[] = "SESSION_TOKEN";
constexpr char kVisitorCookie[] = "visitor_id";
constexpr char kJsonType[] = "application/json;charset=UTF-8";
constexpr char kHtmlType[] = "text/html;charset=UTF-8";
constexpr std::size_t kMaxRecorded = 10000;
constexpr int kDefaultPageSize = 20;
constexpr int kMaxPageSize = 100;
constexpr std::size_t kWorkerThreads = 24;  // idle keep-alive connections each hold one

// Error codes of our own choosing, except 2000021 and 1000000, which the program compares with.
constexpr long long kCodeOk = 1000000;
constexpr long long kCodeBadRequest = 2000001;
constexpr long long kCodeWrongPassword = 2000004;
constexpr long long kCodeNoSuchAccount = 2000010;
constexpr long long kCodeNeedsVerification = 2000021;
constexpr long long kCodeSessionExpired = 43001;
constexpr long long kCodeNoSuchMall = 40001;
constexpr long long kCodeNoSuchOrder = 50002;
constexpr long long kCodeNoSuchUser = 50003;

struct Reply {
    int status = 200;
    std::string contentType = kJsonType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

struct FaultRule {
    std::string prefix;
    Fault fault;
    int remaining;  // -1: until cleared
};

// The variation of the reply being written on this thread; null: replies are written plainly.
thread_local ReplyVariation* tVariation = nullptr;

std::string Dump(const Json& json) {
    if (tVariation) return tVariation->Json(json);
    // Compact, Chinese as raw UTF-8; malformed input texts become U+FFFD rather than failing the reply. Every
    // "/" goes out as "\/", as the real service writes it (JSON allows both, and the client has to undo it);
    // a "/" can only stand inside a string in compact JSON.
    std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

Reply JsonReply(const Json& json) {
    Reply reply;
    reply.body = Dump(json);
    return reply;
}

Reply HtmlReply(int status, std::string_view title, std::string_view message) {
    Reply reply;
    reply.status = status;
    reply.contentType = kHtmlType;
    reply.body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + std::string(title) +
                 "</title></head><body><h1>" + std::string(title) + "</h1><p>" + std::string(message) +
                 "</p></body></html>";
    return reply;
}

// Ids go out as JSON numbers when they look like one, as the real replies have them; anything else (leading
// zeros, letters, too long for 64 bits) as a string, so that no digit is lost.
Json IdValue(const std::string& id) {
    bool numeric = !id.empty() && id.size() <= 18 && (id == "0" || id[0] != '0') &&
                   std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!numeric) return id;
    long long value = 0;
    std::from_chars(id.data(), id.data() + id.size(), value);
    return value;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::uint32_t> Hex4(std::string_view text, std::size_t at) {
    if (at + 4 > text.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        int d = HexDigit(text[at + k]);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

// The string value of the member `key`, escapes decoded. The program builds its bodies by text replacement,
// so they need not be valid JSON (an unescaped quote, GBK bytes); a strict parser would reject a request that
// a lenient server still reads, and the bytes are compared as they came.
std::optional<std::string> StringMember(std::string_view body, std::string_view key) {
    std::string quoted = "\"" + std::string(key) + "\"";
    std::size_t i = body.find(quoted);
    if (i == std::string_view::npos) return std::nullopt;
    i += quoted.size();
    auto skipSpaces = [&] {
        while (i < body.size() && (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n'))
            ++i;
    };
    skipSpaces();
    if (i >= body.size() || body[i] != ':') return std::nullopt;
    ++i;
    skipSpaces();
    if (i >= body.size() || body[i] != '"') return std::nullopt;
    ++i;
    std::string out;
    while (i < body.size()) {
        char c = body[i++];
        if (c == '"') return out;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i >= body.size()) break;
        char e = body[i++];
        if (e != 'u') {
            static constexpr std::string_view kEscapes = "bfnrt", kMeanings = "\b\f\n\r\t";
            std::size_t k = kEscapes.find(e);
            out.push_back(k == std::string_view::npos ? e : kMeanings[k]);  // \" \\ \/ stand for themselves
            continue;
        }
        auto unit = Hex4(body, i);
        if (!unit) {
            out += "\\u";
            continue;
        }
        i += 4;
        std::uint32_t cp = *unit;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 6 <= body.size() && body[i] == '\\' && body[i + 1] == 'u') {
            auto low = Hex4(body, i + 2);
            if (low && *low >= 0xDC00 && *low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
                i += 6;
            }
        }
        AppendUtf8(out, cp);
    }
    return std::nullopt;  // unterminated
}

// "%XX" to its byte; "+" stays "+" (the program encodes a space as %20).
std::string PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// An HTTP date a year ahead, spelled out by hand because strftime follows the process locale, which a Qt
// program sets from the environment.
std::string ExpiresInAYear() {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t when = std::time(nullptr) + 365 * 24 * 3600;
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[40];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

int IntParam(const httplib::Request& req, const char* name, int fallback) {
    std::string text = req.get_param_value(name);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// The bytes of the huge body at [offset, offset + count): {"data":"xxx...x"} when there is room for it.
std::string HugeBodySlice(std::size_t total, std::size_t offset, std::size_t count) {
    static constexpr std::string_view kHead = "{\"data\":\"", kTail = "\"}";
    std::string slice(count, 'x');
    if (total < kHead.size() + kTail.size()) return slice;
    for (std::size_t k = 0; k < count; ++k) {
        std::size_t at = offset + k;
        if (at < kHead.size()) {
            slice[k] = kHead[at];
        } else if (at >= total - kTail.size()) {
            slice[k] = kTail[at - (total - kTail.size())];
        }
    }
    return slice;
}

RecordedRequest ParseRecorded(const std::string& raw, const httplib::Request& req) {
    RecordedRequest rec;
    // The head ends at the first empty line (CRLF or a bare LF, both of which the server accepts).
    std::size_t headLength = raw.size(), bodyStart = raw.size();
    for (std::size_t pos = 0;;) {
        std::size_t nl = raw.find('\n', pos);
        if (nl == std::string::npos) break;
        std::size_t length = nl - pos;
        if (length == 0 || (length == 1 && raw[pos] == '\r')) {
            headLength = pos;
            bodyStart = nl + 1;
            break;
        }
        pos = nl + 1;
    }
    rec.rawHead = raw.substr(0, headLength);

    std::string_view head(rec.rawHead);
    bool first = true;
    while (!head.empty()) {
        std::size_t nl = head.find('\n');
        std::string_view line = head.substr(0, nl);
        head = nl == std::string_view::npos ? std::string_view() : head.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            first = false;
            std::size_t sp1 = line.find(' ');
            std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
            rec.method = std::string(line.substr(0, sp1));
            if (sp1 != std::string_view::npos) rec.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        rec.headers.emplace_back(std::string(line.substr(0, colon)),
                                 std::string(TrimSpaces(line.substr(colon + 1))));
    }
    if (rec.method.empty()) {  // nothing captured; should not happen, but keep what httplib parsed
        rec.method = req.method;
        rec.target = req.target;
    }
    bool chunked = rec.Header("Transfer-Encoding").find("chunked") != std::string::npos;
    rec.body = chunked || bodyStart >= raw.size() ? req.body : raw.substr(bodyStart);
    return rec;
}

}  // namespace

std::string RecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoreCase(key, name)) return value;
    }
    return {};
}

struct MarketplaceSim::Impl {
    CapturingServer server;
    std::thread thread;
    std::atomic<bool> listenReturned{false};
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable wake;  // ends stalls when the simulator stops
    bool stopping = false;
    std::vector<SimStore> stores;
    std::map<std::string, std::vector<SimOrder>> orders;  // by mall id
    std::map<std::string, SimUser> users;                 // by uid
    std::map<std::string, std::string> sessions;          // token -> mall id
    std::set<std::string> smsRequested;                   // accounts that may now log in
    std::map<std::string, int> smsCounts;
    std::vector<FaultRule> faults;
    std::shared_ptr<ReplyVariation> variation;
    double stallSeconds = 30;
    std::size_t hugeBodyBytes = 100u * 1000u * 1000u;
    std::deque<RecordedRequest> requests;
    std::string captcha;
    std::mt19937_64 random{std::random_device{}()};

    void Serve(const httplib::Request& req, httplib::Response& res);
    Reply Route(const httplib::Request& req);
    void Record(const httplib::Request& req);
    Fault TakeFault(const std::string& path);
    bool Stall();  // false when the simulator stopped meanwhile
    void StreamHugeBody(httplib::Response& res);
    Reply BinaryReply();

    Reply Login(const httplib::Request& req);
    Reply Captcha();
    Reply SmsCode(const httplib::Request& req);
    Reply SessionCheck(const httplib::Request& req, bool mallPath);
    Reply MallInfo(const std::string& mallId);
    Reply OrderDetail(const httplib::Request& req);
    Reply User(const httplib::Request& req, const std::string& uid);
    Reply OrderList(const httplib::Request& req);
    Reply GoodsPicture(const std::string& path);

    // These expect the mutex held.
    std::optional<std::string> SessionMall(const httplib::Request& req) const;
    const SimStore* StoreByAccount(const std::string& account) const;
    const SimStore* StoreByMall(const std::string& mallId) const;
    std::string RandomHex(std::size_t digits);
};

namespace {

void Apply(const Reply& reply, httplib::Response& res) {
    if (tVariation) return tVariation->Write(reply.status, reply.contentType, reply.body, reply.headers, res);
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.headers.emplace(name, value);
    res.set_content(reply.body, reply.contentType.c_str());
}

Json SessionExpired() {
    return Json{
        {"success", false}, {"errorCode", kCodeSessionExpired}, {"errorMsg", "会话已过期，请重新登录"}};
}

}  // namespace

void MarketplaceSim::Impl::Serve(const httplib::Request& req, httplib::Response& res) {
    Record(req);
    std::shared_ptr<ReplyVariation> varied;
    {
        std::lock_guard lock(mutex);
        varied = variation;
    }
    struct VariationScope {
        explicit VariationScope(ReplyVariation* v) { tVariation = v; }
        ~VariationScope() { tVariation = nullptr; }
    } scope(varied.get());
    switch (TakeFault(req.path)) {
        case Fault::None:
            Apply(Route(req), res);
            return;
        case Fault::HtmlErrorPage:
            Apply(HtmlReply(200, "系统繁忙", "请稍后再试"), res);
            return;
        case Fault::Status500:
            Apply(HtmlReply(500, "500 Internal Server Error", "服务器内部错误"), res);
            return;
        case Fault::TruncatedJson: {
            Reply reply = Route(req);
            reply.body.resize(reply.body.size() / 2);
            Apply(reply, res);
            return;
        }
        case Fault::BinaryBytes:
            Apply(BinaryReply(), res);
            return;
        case Fault::Stall:
            if (Stall()) {
                Apply(Route(req), res);
            } else {
                CapturingServer::DropCurrentConnection();
            }
            return;
        case Fault::CloseWithoutReply:
            CapturingServer::DropCurrentConnection();
            return;
        case Fault::HugeBody:
            StreamHugeBody(res);
            return;
    }
}

Reply MarketplaceSim::Impl::Route(const httplib::Request& req) {
    const std::string& path = req.path;
    bool get = req.method == "GET" || req.method == "HEAD";
    bool post = req.method == "POST";
    if (post && path == "/chats/auth") return Login(req);
    if (get && path == "/captchaCode/getCaptchaCode") return Captcha();
    if (post && path == "/earth/api/user/getLoginVerificationCode") return SmsCode(req);
    if (get && (path == "/mall" || path == "/userinfo")) return SessionCheck(req, path == "/mall");
    static constexpr std::string_view kMallPrefix = "/mall/", kInfoSuffix = "/info";
    if (get && path.size() > kMallPrefix.size() + kInfoSuffix.size() && path.starts_with(kMallPrefix) &&
        path.ends_with(kInfoSuffix)) {
        std::string id =
            path.substr(kMallPrefix.size(), path.size() - kMallPrefix.size() - kInfoSuffix.size());
        if (id.find('/') == std::string::npos) return MallInfo(id);
    }
    if (post && path == "/mars/shop/orderDetail") return OrderDetail(req);
    static constexpr std::string_view kUsersPrefix = "/chats/users/";
    if (get && path.size() > kUsersPrefix.size() && path.starts_with(kUsersPrefix)) {
        return User(req, path.substr(kUsersPrefix.size()));
    }
    if (get && path == "/chats/ungroupOrders") return OrderList(req);
    static constexpr std::string_view kGoodsPrefix = "/goods/";
    if (get && path.size() > kGoodsPrefix.size() && path.starts_with(kGoodsPrefix)) return GoodsPicture(path);
    return HtmlReply(404, "404 Not Found", "The requested URL was not found on this server.");
}

void MarketplaceSim::Impl::Record(const httplib::Request& req) {
    RecordedRequest rec = ParseRecorded(CapturingServer::CurrentRawRequest(), req);
    std::lock_guard lock(mutex);
    requests.push_back(std::move(rec));
    if (requests.size() > kMaxRecorded) requests.pop_front();
}

Fault MarketplaceSim::Impl::TakeFault(const std::string& path) {
    std::lock_guard lock(mutex);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (!path.starts_with(it->prefix)) continue;
        Fault fault = it->fault;
        if (it->remaining > 0 && --it->remaining == 0) faults.erase(it);
        return fault;
    }
    return Fault::None;
}

bool MarketplaceSim::Impl::Stall() {
    std::unique_lock lock(mutex);
    auto duration = std::chrono::duration<double>(stallSeconds);
    wake.wait_for(lock, duration, [this] { return stopping; });
    return !stopping;
}

void MarketplaceSim::Impl::StreamHugeBody(httplib::Response& res) {
    std::size_t total;
    {
        std::lock_guard lock(mutex);
        total = hugeBodyBytes;
    }
    res.status = 200;
    res.set_content_provider(
        total, kJsonType, [this, total](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (server.ShuttingDown()) return false;
            std::string slice = HugeBodySlice(total, offset, std::min<std::size_t>(length, 64 * 1024));
            return sink.write(slice.data(), slice.size());
        });
}

Reply MarketplaceSim::Impl::BinaryReply() {
    Reply reply;
    reply.contentType = "application/octet-stream";
    {
        std::lock_guard lock(mutex);
        reply.body.resize(512);
        for (auto& c : reply.body)
            c = static_cast<char>(random() & 0xFF);
    }
    // Whatever the dice said, the body must hold what breaks naive readers: a NUL early on and bytes that are
    // not UTF-8.
    reply.body[1] = '\0';
    reply.body[100] = '\0';
    reply.body[2] = '\xFF';
    reply.body[3] = '\xFE';
    return reply;
}

Reply MarketplaceSim::Impl::Login(const httplib::Request& req) {
    std::lock_guard lock(mutex);
    Reply reply;
    // The front end hands out its visitor cookie on every answer, so a login that asks for verification
    // leaves the client with a cookie to send along with the SMS request.
    reply.headers.emplace_back("Set-Cookie", std::string(kVisitorCookie) + "=" + RandomHex(16) +
                                                 "; Path=/; Expires=" + ExpiresInAYear() + "; HttpOnly");
    auto username = StringMember(req.body, "username");
    auto password = StringMember(req.body, "password");
    if (!username || !password) {
        reply.body = Dump(Json{{"auth", false}, {"error_code", kCodeBadRequest}, {"error_msg", "参数错误"}});
        return reply;
    }
    std::string account = PercentDecode(*username);
    const SimStore* store = StoreByAccount(account);
    if (!store || store->password != *password) {
        reply.body =
            Dump(Json{{"auth", false}, {"error_code", kCodeWrongPassword}, {"error_msg", "账号或密码错误"}});
        return reply;
    }
    if (store->requireVerification && !smsRequested.contains(account)) {
        reply.body = Dump(Json{{"auth", false},
                               {"error_code", kCodeNeedsVerification},
                               {"error_msg", "需要手机验证"},
                               {"mobile", store->mobile}});
        return reply;
    }
    std::string token = RandomHex(32);
    sessions[token] = store->mallId;
    // Header names are case-insensitive, and servers spell them as they like; a client that misses one of
    // these lines has no session. Cookie values are bytes, not text: the zone is raw UTF-8 whose last byte
    // stands right before ";", the tag a Latin-1 byte right before the line break (a reader that takes them
    // for GBK lead bytes swallows the ";" or the CR).
    reply.headers.emplace_back("SET-COOKIE", std::string(kZoneCookiePair) + "; Path=/");
    reply.headers.emplace_back("set-cookie",
                               std::string(kSessionCookie) + "=" + token + "; Path=/; HttpOnly");
    reply.headers.emplace_back("Set-cookie", std::string(kTagCookiePair));
    // Comes after the cookie lines (the server sorts its header lines by name), so a cookie line that
    // swallowed its line break would carry this line into the client's Cookie header.
    reply.headers.emplace_back("X-Trace-Id", RandomHex(16));
    reply.body = Dump(Json{{"auth", true}, {"mall_id", IdValue(store->mallId)}, {"mobile", store->mobile}});
    return reply;
}

Reply MarketplaceSim::Impl::Captcha() {
    std::string token;
    {
        std::lock_guard lock(mutex);
        token = RandomHex(32);
    }
    // Written by hand: the image must be the last member, and its slashes escaped as "\/", which JSON
    // allows and the client has to undo.
    std::string base64;
    for (char c : Base64Encode(captcha)) {
        if (c == '/') base64 += '\\';
        base64 += c;
    }
    Reply reply;
    reply.body =
        "{\"success\":true,\"token\":\"" + token + "\",\"image\":\"data:image\\/png;base64," + base64 + "\"}";
    return reply;
}

Reply MarketplaceSim::Impl::SmsCode(const httplib::Request& req) {
    auto username = StringMember(req.body, "username");
    if (!username)
        return JsonReply(Json{{"success", false}, {"errorCode", kCodeBadRequest}, {"errorMsg", "参数错误"}});
    std::lock_guard lock(mutex);
    ++smsCounts[*username];
    if (!StoreByAccount(*username)) {
        return JsonReply(
            Json{{"success", false}, {"errorCode", kCodeNoSuchAccount}, {"errorMsg", "账号不存在"}});
    }
    smsRequested.insert(*username);
    return JsonReply(Json{{"success", true}, {"errorCode", kCodeOk}, {"errorMsg", nullptr}});
}

Reply MarketplaceSim::Impl::SessionCheck(const httplib::Request& req, bool mallPath) {
    std::lock_guard lock(mutex);
    auto mallId = SessionMall(req);
    if (!mallId) {
        // Must not contain the text "mall_id": the program searches the raw reply for it.
        return JsonReply(Json{{"error_code", kCodeSessionExpired}, {"error_msg", "会话已过期，请重新登录"}});
    }
    const SimStore* store = StoreByMall(*mallId);
    std::string name = store ? store->mallName : std::string();
    if (mallPath && store && store->mallPathLacksMallId) {
        return JsonReply(Json{{"success", true}, {"result", Json{{"id", IdValue(*mallId)}, {"name", name}}}});
    }
    // The store's name comes before its id, as the real reply has it: a reader that takes the UTF-8 for GBK
    // runs past the end of a name with an odd number of bytes (three Chinese characters) and misses the id.
    Json json{{"mall_name", name}, {"mall_id", IdValue(*mallId)}};
    if (!mallPath) json["mobile"] = store ? store->mobile : std::string();
    return JsonReply(json);
}

Reply MarketplaceSim::Impl::MallInfo(const std::string& mallId) {
    std::lock_guard lock(mutex);
    const SimStore* store = StoreByMall(mallId);
    if (!store) return JsonReply(Json{{"error_code", kCodeNoSuchMall}, {"error_msg", "店铺不存在"}});
    return JsonReply(
        Json{{"mall_id", IdValue(mallId)}, {"mall_name", store->mallName}, {"mall_desc", ""}, {"logo", ""}});
}

Reply MarketplaceSim::Impl::OrderDetail(const httplib::Request& req) {
    std::lock_guard lock(mutex);
    auto mallId = SessionMall(req);
    if (!mallId) return JsonReply(SessionExpired());
    auto orderSn = StringMember(req.body, "orderSn");
    auto it = orders.find(*mallId);
    if (orderSn && it != orders.end()) {
        for (const SimOrder& order : it->second) {
            if (order.orderSn != *orderSn) continue;
            Json result{{"order_sn", order.orderSn}};
            if (!order.groupOrderId.empty()) result["group_order_id"] = order.groupOrderId;
            return JsonReply(Json{{"success", true}, {"errorCode", kCodeOk}, {"result", result}});
        }
    }
    return JsonReply(Json{{"success", false}, {"errorCode", kCodeNoSuchOrder}, {"errorMsg", "订单不存在"}});
}

Reply MarketplaceSim::Impl::User(const httplib::Request& req, const std::string& uid) {
    std::lock_guard lock(mutex);
    if (!SessionMall(req)) return JsonReply(SessionExpired());
    auto it = users.find(uid);
    if (it == users.end()) {
        return JsonReply(
            Json{{"success", false}, {"errorCode", kCodeNoSuchUser}, {"errorMsg", "用户不存在"}});
    }
    return JsonReply(Json{{"userinfo", Json{{"nickname", it->second.nickname}, {"uid", IdValue(uid)}}}});
}

Reply MarketplaceSim::Impl::OrderList(const httplib::Request& req) {
    int pageNo = std::max(1, IntParam(req, "pageNo", 1));
    int pageSize = IntParam(req, "pageSize", kDefaultPageSize);
    if (pageSize < 1 || pageSize > kMaxPageSize) pageSize = kDefaultPageSize;

    std::lock_guard lock(mutex);
    auto mallId = SessionMall(req);
    if (!mallId) return JsonReply(SessionExpired());
    static const std::vector<SimOrder> kNone;
    auto it = orders.find(*mallId);
    const std::vector<SimOrder>& all = it == orders.end() ? kNone : it->second;

    Json list = Json::array();
    std::size_t first = static_cast<std::size_t>(pageNo - 1) * static_cast<std::size_t>(pageSize);
    for (std::size_t i = first; i < all.size() && i < first + static_cast<std::size_t>(pageSize); ++i) {
        const SimOrder& order = all[i];
        list.push_back(Json{{"orderSn", order.orderSn},
                            {"createdDuration", order.createdDuration},
                            {"uid", IdValue(order.uid)},
                            {"orderGoodsList", Json{{"goodsId", IdValue(order.goodsId)},
                                                    {"thumbUrl", order.thumbUrl},
                                                    {"goodsName", order.goodsName}}}});
    }
    return JsonReply(Json{{"success", true}, {"total", all.size()}, {"orders", std::move(list)}});
}

Reply MarketplaceSim::Impl::GoodsPicture(const std::string& path) {
    Reply reply;
    reply.contentType = "image/png";
    reply.body = MakeGoodsPng(std::hash<std::string>{}(path));
    return reply;
}

std::optional<std::string> MarketplaceSim::Impl::SessionMall(const httplib::Request& req) const {
    // The first SESSION_TOKEN pair of the (first) Cookie header decides, as with most servers.
    std::string cookie = req.get_header_value("Cookie");
    std::string_view rest(cookie);
    while (!rest.empty()) {
        std::size_t semi = rest.find(';');
        std::string_view pair = TrimSpaces(rest.substr(0, semi));
        rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos || TrimSpaces(pair.substr(0, eq)) != kSessionCookie) continue;
        auto session = sessions.find(std::string(TrimSpaces(pair.substr(eq + 1))));
        if (session == sessions.end()) return std::nullopt;
        return session->second;
    }
    return std::nullopt;
}

const SimStore* MarketplaceSim::Impl::StoreByAccount(const std::string& account) const {
    for (const SimStore& store : stores) {
        if (store.account == account) return &store;
    }
    return nullptr;
}

const SimStore* MarketplaceSim::Impl::StoreByMall(const std::string& mallId) const {
    for (const SimStore& store : stores) {
        if (store.mallId == mallId) return &store;
    }
    return nullptr;
}

std::string MarketplaceSim::Impl::RandomHex(std::size_t digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(digits, '0');
    for (auto& c : out)
        c = kHex[random() & 0xF];
    return out;
}

MarketplaceSim::MarketplaceSim() : impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    do {  // a picture whose Base64 has a "/" to escape, so clients must unescape it
        impl.captcha = MakeCaptchaPng(impl.random());
    } while (Base64Encode(impl.captcha).find('/') == std::string::npos);

    if (const auto seed = SeedFromEnvironment()) SetVariationSeed(*seed);

    CapturingServer& server = impl.server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    auto handler = [&impl](const httplib::Request& req, httplib::Response& res) { impl.Serve(req, res); };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    server.Patch(".*", handler);
    server.Options(".*", handler);
    impl.port = server.bind_to_any_port("127.0.0.1");
    if (impl.port <= 0) throw std::runtime_error("marketplace simulator: cannot bind a port on 127.0.0.1");
    impl.thread = std::thread([&impl] {
        impl.server.listen_after_bind();
        impl.listenReturned = true;
    });
    // stop() is ignored until the accept loop runs, so the destructor must not be able to come first.
    while (!server.is_running() && !impl.listenReturned)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MarketplaceSim::~MarketplaceSim() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    impl_->server.BeginShutdown();
    impl_->server.stop();
    impl_->thread.join();
}

int MarketplaceSim::port() const {
    return impl_->port;
}

std::string MarketplaceSim::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

std::string MarketplaceSim::RefusedBaseUrl() {
    // A socket bound to a port but never listening: connections to it are refused, and no other program can
    // take the port while this process holds it. It is kept open for the life of the process.
    static const int port = [] {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            throw std::runtime_error("marketplace simulator: cannot reserve a port on 127.0.0.1");
        }
        return static_cast<int>(ntohs(addr.sin_port));
    }();
    return "http://127.0.0.1:" + std::to_string(port);
}

void MarketplaceSim::AddStore(SimStore store) {
    std::lock_guard lock(impl_->mutex);
    for (SimStore& existing : impl_->stores) {
        if (existing.account == store.account) {
            existing = std::move(store);
            return;
        }
    }
    impl_->stores.push_back(std::move(store));
}

void MarketplaceSim::SetOrders(const std::string& mallId, std::vector<SimOrder> orders) {
    std::lock_guard lock(impl_->mutex);
    impl_->orders[mallId] = std::move(orders);
}

void MarketplaceSim::AddOrder(const std::string& mallId, SimOrder order) {
    std::lock_guard lock(impl_->mutex);
    auto& list = impl_->orders[mallId];
    auto it =
        std::find_if(list.begin(), list.end(), [&](const SimOrder& o) { return o.orderSn == order.orderSn; });
    if (it != list.end()) {
        *it = std::move(order);
    } else {
        list.push_back(std::move(order));
    }
}

void MarketplaceSim::RemoveOrder(const std::string& mallId, const std::string& orderSn) {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->orders.find(mallId);
    if (it == impl_->orders.end()) return;
    std::erase_if(it->second, [&](const SimOrder& o) { return o.orderSn == orderSn; });
}

void MarketplaceSim::AddUser(SimUser user) {
    std::lock_guard lock(impl_->mutex);
    std::string uid = user.uid;
    impl_->users[uid] = std::move(user);
}

void MarketplaceSim::ExpireSessions(const std::string& mallId) {
    std::lock_guard lock(impl_->mutex);
    std::erase_if(impl_->sessions, [&](const auto& entry) { return entry.second == mallId; });
}

std::string MarketplaceSim::IssueSession(const std::string& mallId) {
    std::lock_guard lock(impl_->mutex);
    std::string token = impl_->RandomHex(32);
    impl_->sessions[token] = mallId;
    return std::string(kSessionCookie) + "=" + token;
}

void MarketplaceSim::SetFault(const std::string& pathPrefix, Fault fault, int times) {
    if (times == 0) return;
    std::lock_guard lock(impl_->mutex);
    impl_->faults.push_back({pathPrefix, fault, times < 0 ? -1 : times});
}

void MarketplaceSim::ClearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

void MarketplaceSim::SetVariationSeed(std::uint64_t seed) {
    std::lock_guard lock(impl_->mutex);
    impl_->variation = std::make_shared<ReplyVariation>(seed);
}

std::optional<std::uint64_t> MarketplaceSim::variationSeed() const {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->variation) return std::nullopt;
    return impl_->variation->seed();
}

void MarketplaceSim::SetStallSeconds(double seconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->stallSeconds = std::max(0.0, seconds);
}

void MarketplaceSim::SetHugeBodyBytes(std::size_t bytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->hugeBodyBytes = bytes;
}

std::string MarketplaceSim::CaptchaImage() const {
    return impl_->captcha;  // written once, before the server started
}

int MarketplaceSim::SmsRequestsFor(const std::string& account) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->smsCounts.find(account);
    return it == impl_->smsCounts.end() ? 0 : it->second;
}

std::vector<RecordedRequest> MarketplaceSim::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->requests.begin(), impl_->requests.end()};
}

void MarketplaceSim::ClearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

}  // namespace tandrel::sim
