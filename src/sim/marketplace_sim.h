#pragma once
// An in-process stand-in for the marketplace's merchant back end and public API, listening on 127.0.0.1 for
// tests, benchmarks and the demo. It answers the requests the program makes, by path and with any Host
// header, with replies shaped like the real service's (compact UTF-8 JSON), records every request byte for
// byte, and can be told to misbehave on chosen paths.
//
// Cookies: every login reply sets "visitor_id" (on a "Set-Cookie" line, with an Expires date); a successful
// one also sets "SESSION_TOKEN" (on a lower-case "set-cookie" line), the only cookie that carries the
// session, and two cookies whose values hold bytes above 0x7F (kZoneCookiePair, kTagCookiePair) on lines
// spelt "SET-COOKIE" and "Set-cookie", followed by an "X-Trace-Id" line. JSON replies write every "/" as
// "\/". Every text in this API is UTF-8.
//
// Goods pictures: GET /goods/<anything> answers a small generated PNG, the same one for the same path.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tandrel::sim {

// The byte-valued cookies a successful login sets, as "name=value": a UTF-8 value whose last byte stands
// before ";" on its line, and a Latin-1 value at the end of its line.
inline constexpr std::string_view kZoneCookiePair = "mms_zone=\xE5\x8D\x8E\xE4\xB8\x9C";
inline constexpr std::string_view kTagCookiePair = "mms_tag=caf\xE9";

class VendorService;

// One open group order of a store.
struct SimOrder {
    std::string orderSn;        // order number
    long long createdDuration;  // seconds since the group was opened, as served
    std::string goodsId, uid, thumbUrl, goodsName;
    std::string groupOrderId;  // what the order-detail request answers; empty: the reply lacks the member
};

struct SimUser {
    std::string uid, nickname;
};

struct SimStore {
    std::string account, password;  // as the merchant types them
    std::string mallId, mallName, mobile;
    // Login answers error code 2000021 until an SMS code was requested for the account.
    bool requireVerification = false;
    bool mallPathLacksMallId = false;  // "/mall" answers without "mall_id", "/userinfo" with it
};

enum class Fault {
    None,
    HtmlErrorPage,      // status 200 with an HTML page
    Status500,          // status 500 with an HTML page
    TruncatedJson,      // the normal reply with its body cut to half (Content-Length says so)
    BinaryBytes,        // status 200, random bytes with NULs and invalid UTF-8
    Stall,              // the normal reply, after SetStallSeconds
    CloseWithoutReply,  // the connection is closed without a byte of reply
    HugeBody,           // status 200, SetHugeBodyBytes of JSON, streamed
    SessionGone,        // the back end's "session expired" reply, whatever the cookie
};

struct RecordedRequest {
    std::string method, target;                                // target = path + query as sent
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received, names as sent
    std::string rawHead;  // request line and header lines exactly as received, without the blank line
    std::string body;     // the bytes after the blank line (de-chunked when sent chunked)
    std::chrono::steady_clock::time_point at{};       // when it was received
    std::string Header(std::string_view name) const;  // first match, case-insensitive; "" when absent
};

// TANDREL_SIM_SEED as a number, when set: the seed of the replies' variation, to replay a failing run.
std::optional<std::uint64_t> SeedFromEnvironment();

class MarketplaceSim {
  public:
    // Starts listening on 127.0.0.1 on an ephemeral port, served by its own threads. Throws
    // std::runtime_error when no port can be bound.
    MarketplaceSim();
    // Stops promptly, also while a Stall or a HugeBody is in progress (those connections are dropped).
    ~MarketplaceSim();
    MarketplaceSim(const MarketplaceSim&) = delete;
    MarketplaceSim& operator=(const MarketplaceSim&) = delete;

    int port() const;
    std::string baseUrl() const;  // "http://127.0.0.1:<port>"
    // A 127.0.0.1 URL on which nothing listens; its port stays reserved for the life of the process.
    static std::string RefusedBaseUrl();

    // Scenario. Every method is thread-safe and may be called while requests are being served.
    void AddStore(SimStore store);  // replaces a store with the same account
    void SetOrders(const std::string& mallId, std::vector<SimOrder> orders);
    void AddOrder(const std::string& mallId, SimOrder order);  // appended; replaces one with the same orderSn
    void RemoveOrder(const std::string& mallId, const std::string& orderSn);  // the group filled
    void AddUser(SimUser user);                           // replaces one with the same uid
    void ExpireSessions(const std::string& mallId);       // its cookies stop working
    std::string IssueSession(const std::string& mallId);  // a valid "name=value" cookie pair, as if logged in
    // Requests whose path starts with pathPrefix get the fault, the next `times` of them or, with -1, until
    // cleared. The first matching rule set wins.
    void SetFault(const std::string& pathPrefix, Fault fault, int times = -1);
    // The same for the requests that carry one store's session only.
    void SetStoreFault(const std::string& mallId, const std::string& pathPrefix, Fault fault, int times = -1);
    // The store's order list says it holds this many groups, whatever it holds (a back end that miscounts).
    void SetReportedTotal(const std::string& mallId, long long total);
    void ClearFaults();
    void SetStallSeconds(double seconds);  // how long Fault::Stall waits (default 30)
    // From now on replies vary as real servers' do (member order, escapes, header case, cookie attributes,
    // chunked or trickling bodies, closed connections), drawn from a generator with this seed. A simulator
    // made while TANDREL_SIM_SEED is set starts varied with that seed.
    void SetVariationSeed(std::uint64_t seed);
    std::optional<std::uint64_t> variationSeed() const;  // none: replies are written plainly
    // From now on each store's session gets at most `requests` replies within any `window`; past that it is
    // answered HTTP 429 with the back end's busy error (code 54001), which does not count. 0: no limit (the
    // default).
    void SetRateLimit(int requests, std::chrono::milliseconds window);
    int RateLimitedReplies() const;  // the 429s answered so far
    int MostInFlight() const;        // the most requests being answered at once so far
    // Size of Fault::HugeBody (default 100 MB); the body is generated while sent, never held in memory.
    void SetHugeBodyBytes(std::size_t bytes);
    std::string CaptchaImage() const;                      // the PNG bytes that the captcha reply carries
    int SmsRequestsFor(const std::string& account) const;  // SMS-code requests naming the account
    // How many recorded requests are kept (default 10,000); 0 records none. A long run (the demo) records
    // none: each request held is about a kilobyte.
    void SetRecordLimit(std::size_t count);
    // Recorded requests, oldest first; only the most recent ones are kept.
    std::vector<RecordedRequest> Requests() const;
    void ClearRequests();
    // The vendor's version and notice service on the same port (faults and recording apply to it too).
    VendorService& vendor();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tandrel::sim
