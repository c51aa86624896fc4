#include <algorithm>

#include "sim/sim_state.h"

namespace tandrel::sim {
namespace {

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

}  // namespace

bool MarketplaceSim::Impl::OverRateLimit(const httplib::Request& req) {
    std::lock_guard lock(mutex);
    if (rateLimit <= 0) return false;
    const auto mall = SessionMall(req);
    if (!mall) return false;
    auto& recent = recentByMall[*mall];
    const auto now = std::chrono::steady_clock::now();
    while (!recent.empty() && now - recent.front() >= rateWindow)
        recent.pop_front();
    if (static_cast<int>(recent.size()) >= rateLimit) {
        ++rateLimited;
        return true;
    }
    recent.push_back(now);
    return false;
}

void MarketplaceSim::SetRateLimit(int requests, std::chrono::milliseconds window) {
    std::lock_guard lock(impl_->mutex);
    impl_->rateLimit = requests;
    impl_->rateWindow = window;
    impl_->recentByMall.clear();
}

int MarketplaceSim::MostInFlight() const {
    return impl_->mostInFlight.load();
}

int MarketplaceSim::RateLimitedReplies() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->rateLimited;
}

void MarketplaceSim::Impl::Serve(const httplib::Request& req, httplib::Response& res) {
    const int now = ++inFlight;
    for (int most = mostInFlight.load(); now > most && !mostInFlight.compare_exchange_weak(most, now);) {
    }
    struct Leave {
        std::atomic<int>& count;
        ~Leave() { --count; }
    } leave{inFlight};
    Record(req);
    std::shared_ptr<ReplyVariation> varied;
    {
        std::lock_guard lock(mutex);
        varied = variation;
    }
    const VariationScope scope(varied.get());
    if (OverRateLimit(req)) {
        Reply busy =
            JsonReply(Json{{"success", false}, {"errorCode", kCodeTooFrequent}, {"errorMsg", "操作太频繁"}});
        busy.status = 429;
        Apply(busy, res);
        return;
    }
    switch (TakeFault(req)) {
        case Fault::None:
            if (vendor.Serve(req, res)) return;
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
        case Fault::SessionGone:
            Apply(
                JsonReply(Json{{"error_code", kCodeSessionExpired}, {"error_msg", "会话已过期，请重新登录"}}),
                res);
            return;
    }
}

Fault MarketplaceSim::Impl::TakeFault(const httplib::Request& req) {
    std::lock_guard lock(mutex);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (!req.path.starts_with(it->prefix)) continue;
        if (!it->mallId.empty() && SessionMall(req) != it->mallId) continue;
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

}  // namespace tandrel::sim
