// The simulator's public side: start and stop, and the scenario that tests and the demo set up. What it
// serves is in the services (merchant_service, public_service), routed in sim_routes.
#include "sim/marketplace_sim.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "sim/captcha_image.h"
#include "sim/sim_socket.h"
#include "sim/sim_state.h"
#include "sim/vendor_service.h"
#include "support/pooled_thread.h"

namespace tandrel::sim {

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
        NameThisThread("sim-accept");
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
        const Socket fd = OpenTcpSocket();
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (fd == kNoSocket || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
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
    impl_->faults.push_back({pathPrefix, fault, times < 0 ? -1 : times, {}});
}

void MarketplaceSim::SetStoreFault(const std::string& mallId, const std::string& pathPrefix, Fault fault,
                                   int times) {
    if (times == 0) return;
    std::lock_guard lock(impl_->mutex);
    impl_->faults.push_back({pathPrefix, fault, times < 0 ? -1 : times, mallId});
}

void MarketplaceSim::SetReportedTotal(const std::string& mallId, long long total) {
    std::lock_guard lock(impl_->mutex);
    impl_->reportedTotals[mallId] = total;
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

VendorService& MarketplaceSim::vendor() {
    return impl_->vendor;
}

void MarketplaceSim::ClearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

}  // namespace tandrel::sim
