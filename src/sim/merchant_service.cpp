// The merchant back end: password login with SMS verification, the captcha, the session check, the order
// list and the look-ups, and the sessions they hand out.
#include "sim/captcha_image.h"
#include "sim/sim_state.h"

namespace tandrel::sim {
namespace {

Json SessionExpired() {
    return Json{
        {"success", false}, {"errorCode", kCodeSessionExpired}, {"errorMsg", "会话已过期，请重新登录"}};
}

}  // namespace

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
    const auto told = reportedTotals.find(*mallId);
    const long long total = told != reportedTotals.end() ? told->second : static_cast<long long>(all.size());
    return JsonReply(Json{{"success", true}, {"total", total}, {"orders", std::move(list)}});
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

}  // namespace tandrel::sim
