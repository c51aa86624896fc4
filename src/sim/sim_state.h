#pragma once
// The simulator's state, shared by its parts: the routing (sim_routes), the fault plumbing (sim_faults) and
// the services (merchant_service, public_service), each of which defines its own members of Impl.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/capturing_server.h"
#include "sim/marketplace_sim.h"
#include "sim/reply_variation.h"
#include "sim/sim_http.h"
#include "sim/vendor_service.h"

namespace tandrel::sim {

inline constexpr char kSessionCookie[] = "SESSION_TOKEN";
inline constexpr char kVisitorCookie[] = "visitor_id";
inline constexpr std::size_t kMaxRecorded = 10000;
inline constexpr int kDefaultPageSize = 20;
inline constexpr int kMaxPageSize = 100;
inline constexpr std::size_t kWorkerThreads = 24;  // idle keep-alive connections each hold one

// Error codes of our own choosing, except 2000021 and 1000000, which the program compares with.
inline constexpr long long kCodeOk = 1000000;
inline constexpr long long kCodeBadRequest = 2000001;
inline constexpr long long kCodeWrongPassword = 2000004;
inline constexpr long long kCodeNoSuchAccount = 2000010;
inline constexpr long long kCodeNeedsVerification = 2000021;
inline constexpr long long kCodeSessionExpired = 43001;
inline constexpr long long kCodeNoSuchMall = 40001;
inline constexpr long long kCodeNoSuchOrder = 50002;
inline constexpr long long kCodeNoSuchUser = 50003;
inline constexpr long long kCodeTooFrequent = 54001;

struct FaultRule {
    std::string prefix;
    Fault fault;
    int remaining;       // -1: until cleared
    std::string mallId;  // empty: every store's requests; otherwise only those with this store's session
};

struct MarketplaceSim::Impl {
    CapturingServer server;
    std::thread thread;
    std::atomic<bool> listenReturned{false};
    int port = 0;
    VendorService vendor;  // answers its own paths before the routing table

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
    std::map<std::string, long long> reportedTotals;  // by mall id: the order list's "total" says this
    std::shared_ptr<ReplyVariation> variation;        // null: replies are written plainly
    double stallSeconds = 30;
    std::size_t hugeBodyBytes = 100u * 1000u * 1000u;
    std::deque<RecordedRequest> requests;
    std::size_t recordLimit = kMaxRecorded;
    int rateLimit = 0;
    std::chrono::steady_clock::duration rateWindow{};
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> recentByMall;
    int rateLimited = 0;
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0};
    std::string captcha;
    std::mt19937_64 random{std::random_device{}()};

    void Serve(const httplib::Request& req, httplib::Response& res);
    Reply Route(const httplib::Request& req);
    void Record(const httplib::Request& req);
    Fault TakeFault(const httplib::Request& req);
    bool OverRateLimit(const httplib::Request& req);
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
    Reply GoodsPicture(const std::string& path);  // the mobile site's picture host

    // These expect the mutex held.
    std::optional<std::string> SessionMall(const httplib::Request& req) const;
    const SimStore* StoreByAccount(const std::string& account) const;
    const SimStore* StoreByMall(const std::string& mallId) const;
    std::string RandomHex(std::size_t digits);
};

}  // namespace tandrel::sim
