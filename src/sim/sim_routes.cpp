#include "sim/sim_state.h"

namespace tandrel::sim {

// Every path the simulator answers, in one table: the service that answers it, by method and path.
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
    {
        std::lock_guard lock(mutex);
        if (recordLimit == 0) return;
    }
    RecordedRequest rec = ParseRecorded(CapturingServer::CurrentRawRequest(), req);
    std::lock_guard lock(mutex);
    // Stamped under the lock, so that the records stand in the order of their stamps.
    rec.at = std::chrono::steady_clock::now();
    requests.push_back(std::move(rec));
    while (requests.size() > recordLimit)
        requests.pop_front();
}

void MarketplaceSim::SetRecordLimit(std::size_t count) {
    std::lock_guard lock(impl_->mutex);
    impl_->recordLimit = count;
    while (impl_->requests.size() > count)
        impl_->requests.pop_front();
}

}  // namespace tandrel::sim
