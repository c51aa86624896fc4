#include "net/http_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <tuple>

#include "../common/raw_http_server.h"
#include "sim/marketplace_sim.h"
#include "support/json_document.h"
#include "support/text.h"

namespace tandrel {
namespace {

using sim::MarketplaceSim;

constexpr const char* kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::vector<std::string> Names(const sim::RecordedRequest& r) {
    std::vector<std::string> names;
    for (const auto& [name, value] : r.headers)
        names.push_back(name);
    return names;
}

TEST(HeaderBlock, CompletesOnlyWhatIsMissingInTheFixedOrder) {
    EXPECT_EQ(CompleteHeaderBlock("", "http://h/x"),
              "Accept: */*\r\nReferer: http://h/x\r\nAccept-Language: zh-cn\r\nUser-Agent: "
              "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\nContent-Type: "
              "application/x-www-form-urlencoded");
    const std::string own =
        "Accept: application/json, text/javascript, */*; q=0.01\r\nContent-Type: application/json; "
        "charset=UTF-8";
    EXPECT_EQ(CompleteHeaderBlock(own, "u"),
              own + "\r\nReferer: u\r\nAccept-Language: zh-cn\r\nUser-Agent: " + kDefaultUserAgent);
    // The search is case-sensitive: "accept:" does not count.
    EXPECT_EQ(CompleteHeaderBlock("accept: x", "u").substr(0, 22), "accept: x\r\nAccept: */*");
}

TEST(HeaderBlock, CollectsTheFirstPairOfEverySetCookieLine) {
    EXPECT_EQ(CollectSetCookies("Content-Type: a\r\nSet-Cookie: a=1; Path=/\r\nSet-Cookie: b=2"), "a=1; b=2");
    EXPECT_EQ(CollectSetCookies("Set-Cookie: c=3"), "c=3");
    EXPECT_EQ(CollectSetCookies("X: y"), "");
    EXPECT_EQ(CollectSetCookies(""), "");
    // Header text is bytes: a value's bytes above 0x7F stay, and never swallow the ";" or the line break.
    EXPECT_EQ(CollectSetCookies(
                  "set-cookie: k=\xE5\x8D\x8E\xE4\xB8\x9C; Path=/\r\nSET-COOKIE: t=caf\xE9\r\nX-Id: 1"),
              "k=\xE5\x8D\x8E\xE4\xB8\x9C; t=caf\xE9");
    // Only lines named Set-Cookie count, and one holding a line break or a NUL is refused.
    EXPECT_EQ(CollectSetCookies("X-Set-Cookie: q=1"), "");
    EXPECT_EQ(CollectSetCookies("Set-Cookie: a=1\rX-Evil: 1\r\nSet-Cookie: b=2"), "b=2");
    EXPECT_EQ(CollectSetCookies(std::string("Set-Cookie: a=1\0x", 19)), "");
}

class HttpRequestTest : public ::testing::Test {
  protected:
    sim::RecordedRequest Last() {
        const auto all = sim_.Requests();
        EXPECT_FALSE(all.empty());
        return all.empty() ? sim::RecordedRequest{} : all.back();
    }
    MarketplaceSim sim_;
};

TEST_F(HttpRequestTest, SendsTheDefaultHeadersAndTheCookieAndNothingElse) {
    const std::string url = sim_.baseUrl() + "/nothing-here";
    std::string cookie = "x=1;y=2", block, headers;
    int status = -1;
    const auto body = HttpRequest({.url = url,
                                   .cookie = &cookie,
                                   .headerBlock = &block,
                                   .returnedHeaders = &headers,
                                   .status = &status});
    EXPECT_EQ(status, 404);
    EXPECT_FALSE(body.empty());     // an error status is not a failure: its body comes back
    EXPECT_EQ(cookie, "x=1; y=2");  // normalised even though the reply set no cookie
    EXPECT_EQ(block, CompleteHeaderBlock("", url));
    const auto r = Last();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(Names(r), (std::vector<std::string>{"Host", "Cookie", "Accept", "Referer", "Accept-Language",
                                                  "User-Agent", "Content-Type"}));
    EXPECT_EQ(r.Header("Cookie"), "x=1;y=2");
    EXPECT_EQ(r.Header("Referer"), url);
    EXPECT_EQ(r.Header("User-Agent"), kDefaultUserAgent);
}

TEST_F(HttpRequestTest, SendsTheCallersLinesInOrderWithTheRealBodyLength) {
    std::string block =
        "Host: example.test\r\nAccept: application/json\r\nContent-Length: 55\r\nX-Empty: \r\n";
    const std::string body(2 << 20, 'b');  // large enough that a client would ask for "100 Continue"
    std::string bytes("a\0b", 3);
    HttpRequest({.url = sim_.baseUrl() + "/echo",
                 .method = kHttpPost,
                 .bodyText = "text loses",
                 .headerBlock = &block,
                 .bodyBytes = bytes});
    auto r = Last();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.body, bytes);  // body bytes win over the body text, NUL bytes included
    EXPECT_EQ(r.Header("Content-Length"), "3");
    EXPECT_EQ(r.Header("Host"), "example.test");
    EXPECT_EQ(Names(r), (std::vector<std::string>{"Host", "Accept", "X-Empty", "Referer", "Accept-Language",
                                                  "User-Agent", "Content-Type", "Content-Length"}));
    HttpRequest({.url = sim_.baseUrl() + "/echo", .method = kHttpPut, .bodyText = body});
    r = Last();
    EXPECT_EQ(r.method, "PUT");
    EXPECT_EQ(r.body.size(), body.size());
    EXPECT_EQ(r.Header("Expect"), "");
    for (int method : {5, -1}) {
        HttpRequest({.url = sim_.baseUrl() + "/echo", .method = method});
        EXPECT_EQ(Last().method, "GET") << method;
    }
}

TEST_F(HttpRequestTest, LoginCookiesAreNormalisedAndMerged) {
    sim_.AddStore({.account = "shop", .password = "pw", .mallId = "77", .mallName = "M", .mobile = "138"});
    std::string cookie = "old=1; SESSION_TOKEN=stale", returned, headers;
    HttpRequest({.url = sim_.baseUrl() + "/chats/auth",
                 .method = kHttpPost,
                 .cookie = &cookie,
                 .returnedCookies = &returned,
                 .returnedHeaders = &headers,
                 .bodyBytes = R"({"username":"shop","password":"pw"})"});
    for (const char* other : {"set-cookie", "SET-COOKIE", "Set-cookie"})  // every spelling rewritten
        EXPECT_EQ(headers.find(other), std::string::npos) << other;
    EXPECT_NE(headers.find("Set-Cookie"), std::string::npos);
    EXPECT_EQ(returned.find(' '), std::string::npos);
    EXPECT_EQ(returned.find("Path"), std::string::npos);
    EXPECT_EQ(std::count(returned.begin(), returned.end(), ';'), 3) << returned;  // four cookies
    EXPECT_NE(returned.find(sim::kTagCookiePair), std::string::npos) << returned;
    EXPECT_NE(cookie.find("old=1"), std::string::npos);
    EXPECT_EQ(cookie.find("stale"), std::string::npos) << cookie;
}

TEST_F(HttpRequestTest, NoLineBreakReachesTheCookieLine) {
    std::string cookie = "a=1; b=2\r\nX-Evil: 1; c=\xE9", block = "X-Ok: 1\r\nX-Bad: 1\nX-Injected: 1";
    HttpRequest({.url = sim_.baseUrl() + "/x", .cookie = &cookie, .headerBlock = &block});
    const auto r = Last();
    EXPECT_EQ(r.Header("Cookie"), "a=1; c=\xE9");
    EXPECT_EQ(r.Header("X-Evil"), "");
    EXPECT_EQ(r.Header("X-Ok"), "1");
    EXPECT_EQ(r.Header("X-Injected"), "");
    EXPECT_EQ(cookie, "a=1; c=\xE9");  // and the merged cookie drops the broken pair
}

TEST_F(HttpRequestTest, FailuresGiveEmptyResultsAndANormalisedCookie) {
    std::string cookie = "a=1;a=2; sid=deleted", returned = "junk", headers = "junk";
    int status = -1;
    const auto body = HttpRequest({.url = MarketplaceSim::RefusedBaseUrl() + "/x",
                                   .cookie = &cookie,
                                   .returnedCookies = &returned,
                                   .returnedHeaders = &headers,
                                   .status = &status});
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(returned, "");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(cookie, "a=1");
    EXPECT_TRUE(HttpRequest({.url = "not a url"}).empty());
    EXPECT_TRUE(HttpRequest({.url = "file:///etc/passwd"}).empty());
}

TEST_F(HttpRequestTest, AStalledReplyEndsAtTheTimeout) {
    sim_.SetStallSeconds(20);
    sim_.SetFault("/slow", sim::Fault::Stall);
    const auto start = std::chrono::steady_clock::now();
    int status = -1;
    const auto body = HttpRequest({.url = sim_.baseUrl() + "/slow", .status = &status, .timeoutSeconds = 1});
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(status, 0);
    EXPECT_LT(seconds, 6.0);
}

TEST_F(HttpRequestTest, AHugeReplyIsRefused) {
    sim_.SetHugeBodyBytes(kMaxReplyBytes + (1 << 20));
    sim_.SetFault("/huge", sim::Fault::HugeBody);
    int status = -1;
    EXPECT_TRUE(HttpRequest({.url = sim_.baseUrl() + "/huge", .status = &status}).empty());
    EXPECT_EQ(status, 0);
}

TEST_F(HttpRequestTest, PlainGetsSendNoSessionAndFailEmpty) {
    sim_.AddStore({.account = "a", .password = "p", .mallId = "5", .mallName = "M", .mobile = "1"});
    EXPECT_FALSE(HttpGetPlain(sim_.baseUrl() + "/mall/5/info").empty());
    const auto r = Last();
    EXPECT_EQ(r.Header("Cookie"), "");
    EXPECT_EQ(r.Header("Referer"), "");
    EXPECT_TRUE(HttpGetPlain(sim_.baseUrl() + "/no-picture-here").empty());  // an error page is no picture
    EXPECT_TRUE(HttpGetPlain(MarketplaceSim::RefusedBaseUrl() + "/x.jpg").empty());
    const std::atomic<bool> cancelled{true};
    sim_.SetStallSeconds(20);
    sim_.SetFault("/slow", sim::Fault::Stall);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(HttpGetPlain(sim_.baseUrl() + "/slow", &cancelled).empty());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

// A page that trickles a byte now and then never stalls long enough to be given up for slowness; the read
// as a whole has a limit (60 s unless told).
TEST(HttpGetPlainLimit, ATricklingPageIsGivenUpAtTheLimit) {
    testing::RawHttpServer trickle([](const std::string&, const testing::RawHttpServer::Send& send) {
        if (!send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")) return;
        for (int i = 0; i < 100 && send("x"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        HttpGetPlain(trickle.baseUrl() + "/zelapp/banben.php", nullptr, std::chrono::seconds(2)).empty());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 6.0);
    EXPECT_EQ(kPlainGetLimit, std::chrono::seconds(60));
}

TEST_F(HttpRequestTest, ALentClientServesSeveralRequests) {
    HttpClient client;
    for (int i = 0; i < 3; ++i) {
        int status = 0;
        HttpRequest({.url = sim_.baseUrl() + "/echo", .status = &status, .client = &client});
        EXPECT_EQ(status, 404);
    }
    EXPECT_EQ(sim_.Requests().size(), 3u);
}

// --- Waiting through a scope
// --------------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Every thread that makes a request keeps a client of its own until it ends. Threads that asked plainly,
// in a wait scope, and one whose request was abandoned mid-reply, each end cleanly, again and again (on
// Windows the client of an ending thread was once closed after its storage was freed, and it crashed).
TEST_F(HttpRequestTest, ThreadsThatMadeRequestsEndCleanly) {
    sim_.SetStallSeconds(20);
    sim_.SetFault("/slow", sim::Fault::Stall);
    for (int round = 0; round < 6; ++round) {
        int plain = -1, scoped = -1, abandoned = -1;
        std::thread([&] { HttpRequest({.url = sim_.baseUrl() + "/echo", .status = &plain}); }).join();
        std::thread([&] {
            const HttpWaitScope scope(nullptr, [] { return false; });
            HttpRequest({.url = sim_.baseUrl() + "/echo", .status = &scoped});
            (void)Gbk("店铺");
        }).join();
        std::thread([&] {
            const auto start = Clock::now();
            const HttpWaitScope scope(nullptr, [&] { return MsSince(start) >= 50; });
            HttpRequest({.url = sim_.baseUrl() + "/slow", .status = &abandoned});
        }).join();
        EXPECT_EQ(plain, 404);  // the simulator knows no such page: a reply all the same
        EXPECT_EQ(scoped, 404);
        EXPECT_EQ(abandoned, 0);
    }
}

TEST_F(HttpRequestTest, AStalledReplyRunsThePumpAllAlongAndIsAbandonedAtOnce) {
    sim_.SetStallSeconds(20);
    sim_.SetFault("/slow", sim::Fault::Stall);
    const auto start = Clock::now();
    auto lastPump = start;
    long long longestGap = 0;
    int pumps = 0;
    Clock::time_point abandonedAt{};
    const HttpWaitScope scope(
        [&] {
            ++pumps;
            longestGap = std::max<long long>(longestGap, MsSince(lastPump));
            lastPump = Clock::now();
        },
        [&] {
            if (abandonedAt == Clock::time_point{} && MsSince(start) >= 300) abandonedAt = Clock::now();
            return abandonedAt != Clock::time_point{};
        });
    std::string cookie = "a=1";
    int status = -1;
    const auto body = HttpRequest({.url = sim_.baseUrl() + "/slow", .cookie = &cookie, .status = &status});
    const long long unwound = MsSince(abandonedAt);
    std::printf("stalled request in a scope: pump ran %d times, longest gap %lld ms, abandoned in %lld ms\n",
                pumps, longestGap, unwound);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cookie, "a=1");
    EXPECT_GE(pumps, 10);
    EXPECT_LT(longestGap, 200);
    EXPECT_LT(unwound, 200);
    EXPECT_TRUE(HttpWaitAbandoned());
    // Once abandoned, a request goes nowhere.
    sim_.ClearRequests();
    EXPECT_TRUE(HttpRequest({.url = sim_.baseUrl() + "/echo"}).empty());
    EXPECT_TRUE(sim_.Requests().empty());
}

TEST_F(HttpRequestTest, WithoutAScopeAStalledRequestBlocksUntilTheReply) {
    sim_.SetStallSeconds(0.4);
    sim_.SetFault("/slow", sim::Fault::Stall, 1);
    const auto start = Clock::now();
    int status = 0;
    HttpRequest({.url = sim_.baseUrl() + "/slow", .status = &status});
    std::printf("stalled request without a scope: blocked %lld ms\n", MsSince(start));
    EXPECT_EQ(status, 404);  // the normal reply, late
    EXPECT_FALSE(HttpWaitAbandoned());
}

TEST_F(HttpRequestTest, InAScopeRepliesAndCookiesAreWhatTheyAreWithout) {
    sim_.AddStore({.account = "a", .password = "p", .mallId = "5", .mallName = "M", .mobile = "1"});
    const auto login = [&] {
        std::string cookie = "x=1", returned;
        int status = 0;
        std::string body = HttpRequest({.url = sim_.baseUrl() + "/chats/auth",
                                        .method = kHttpPost,
                                        .bodyText = R"({"username":"a","password":"p"})",
                                        .cookie = &cookie,
                                        .returnedCookies = &returned,
                                        .status = &status});
        return std::make_tuple(status, body.find("\"auth\":true") != std::string::npos,
                               cookie.find("SESSION_TOKEN=") != std::string::npos, returned.size() > 10);
    };
    const auto plain = login();
    int pumps = 0;
    const HttpWaitScope outer([&] { ++pumps; }, nullptr);
    const HttpWaitScope inner(nullptr, [] { return false; });  // the outer scope's pump serves it
    EXPECT_EQ(login(), plain);
    EXPECT_EQ(std::get<0>(plain), 200);
    EXPECT_TRUE(std::get<1>(plain) && std::get<2>(plain) && std::get<3>(plain));
    // Several in a row on the thread's client, each one complete.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(login(), plain);
    EXPECT_FALSE(HttpWaitAbandoned());
}

TEST_F(HttpRequestTest, AnOuterScopeAbandonsTheRequestsOfInnerOnes) {
    bool stop = false;
    const HttpWaitScope outer(nullptr, [&] { return stop; });
    {
        const HttpWaitScope inner(nullptr, [] { return false; });
        EXPECT_FALSE(HttpWaitAbandoned());
        stop = true;
        EXPECT_TRUE(HttpWaitAbandoned());
        EXPECT_TRUE(HttpRequest({.url = sim_.baseUrl() + "/echo"}).empty());
    }
    stop = false;
    int status = 0;
    HttpRequest({.url = sim_.baseUrl() + "/echo", .status = &status});
    EXPECT_EQ(status, 404);
    EXPECT_EQ(sim_.Requests().size(), 1u);
}

// A server that answers every request with a redirect to where the test says.
std::string RedirectTo(const std::string& location, int status = 307) {
    return "HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: " + location +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

struct RedirectServers {
    // elsewhere stands for another host (another port is another origin); it answers 200 to whatever
    // reaches it, so a test sees whether anything did.
    testing::RawHttpServer elsewhere{[](const std::string&, const testing::RawHttpServer::Send& send) {
        send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nstolen");
    }};
    std::string location;
    testing::RawHttpServer first{[this](const std::string& target, const testing::RawHttpServer::Send& send) {
        if (target == "/same") {
            send(RedirectTo("/final"));
        } else if (target == "/final") {
            send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nhere");
        } else {
            send(RedirectTo(location));
        }
    }};
};

TEST(Redirects, ARequestThatCarriesAPasswordFollowsNone) {
    RedirectServers servers;
    servers.location = servers.elsewhere.baseUrl() + "/steal";
    std::string noCookie, failure;
    int status = -1;
    const std::string body = HttpFetch({.url = servers.first.baseUrl() + "/chats/auth",
                                        .method = kHttpPost,
                                        .cookie = &noCookie,
                                        .status = &status,
                                        .noRedirect = true,
                                        .bodyBytes = "{\"password\":\"secret\"}",
                                        .failure = &failure});
    EXPECT_TRUE(servers.elsewhere.targets().empty());
    EXPECT_NE(failure.find(servers.location), std::string::npos) << failure;
    EXPECT_EQ(servers.first.targets(), std::vector<std::string>{"/chats/auth"});
    EXPECT_EQ(body, "");
    std::string sameFailure;
    EXPECT_EQ(
        HttpFetch({.url = servers.first.baseUrl() + "/same", .noRedirect = true, .failure = &sameFailure}),
        "");
    EXPECT_NE(sameFailure, "");
}

TEST(Redirects, OthersFollowOnlyWithinTheirOriginOrTheListedOnes) {
    RedirectServers servers;
    const std::string other = servers.elsewhere.baseUrl();
    // Within the request's own scheme, host and port a redirect is followed.
    std::string failure = "junk";
    int status = 0;
    EXPECT_EQ(HttpRequest({.url = servers.first.baseUrl() + "/same", .status = &status, .failure = &failure}),
              "here");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(failure, "");
    // Another port or another host: refused before anything is sent there (another scheme is another
    // origin too, see below; ftp is no web address at all).
    const std::string firstPort = servers.first.baseUrl().substr(servers.first.baseUrl().rfind(':'));
    for (const std::string& location :
         {other + "/steal", "http://localhost" + firstPort + "/steal", std::string("ftp://127.0.0.1/x")}) {
        servers.location = location;
        std::string cookie = "PASS_ID=secret";
        EXPECT_EQ(HttpRequest({.url = servers.first.baseUrl() + "/orders",
                               .method = kHttpPost,
                               .cookie = &cookie,
                               .status = &status,
                               .bodyBytes = "x",
                               .failure = &failure}),
                  "")
            << location;
        EXPECT_EQ(status, 0);
        EXPECT_NE(failure, "") << location;
    }
    EXPECT_TRUE(servers.elsewhere.targets().empty());
    // A listed origin may be reached; plain GETs (the vendor's pages) follow the same rule.
    servers.location = other + "/page";
    const std::vector<std::string> listed{UrlOrigin(other)};
    EXPECT_EQ(HttpRequest({.url = servers.first.baseUrl() + "/x", .redirectOrigins = &listed}), "stolen");
    EXPECT_EQ(HttpGetPlain(servers.first.baseUrl() + "/banben.php"), "");
    EXPECT_EQ(HttpGetPlain(servers.first.baseUrl() + "/same"), "here");
    EXPECT_EQ(HttpGetPlain(servers.first.baseUrl() + "/banben.php", nullptr, kPlainGetLimit, &listed),
              "stolen");
    EXPECT_EQ(servers.elsewhere.targets(), (std::vector<std::string>{"/page", "/page"}));
}

TEST(Redirects, MultiTransfersKeepTheRuleAndSayWhy) {
    RedirectServers servers;
    servers.location = servers.elsewhere.baseUrl() + "/steal";
    HttpMulti multi;
    std::string failure;
    int got = -1;
    ASSERT_TRUE(multi.Start({.url = servers.first.baseUrl() + "/orders", .failure = &failure},
                            [&](std::string, int status) { got = status; }));
    for (int i = 0; i < 200 && multi.inFlight(); ++i)
        multi.Poll(std::chrono::milliseconds(20));
    EXPECT_EQ(got, 0);
    EXPECT_NE(failure.find(servers.location), std::string::npos);
    EXPECT_TRUE(servers.elsewhere.targets().empty());
}

TEST(UrlOrigins, AreSchemeHostAndPort) {
    EXPECT_EQ(UrlOrigin("https://MMS.Example.com/x?y"), "https://mms.example.com:443");
    EXPECT_EQ(UrlOrigin("http://127.0.0.1:8080"), "http://127.0.0.1:8080");
    EXPECT_NE(UrlOrigin("http://mms.example.com"), UrlOrigin("https://mms.example.com"));
    EXPECT_EQ(UrlOrigin("ftp://h/x"), "");
    EXPECT_EQ(UrlOrigin("not a url"), "");
}

}  // namespace
}  // namespace tandrel
