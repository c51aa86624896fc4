#include "sim/marketplace_sim.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <thread>

#include "sim/sim_socket.h"
#include "support/base64.h"

namespace tandrel::sim {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Sends the bytes on a fresh connection and reads until the server closes it (or 5 s pass).
std::string Exchange(int port, const std::string& request, sim::Socket* socketOut = nullptr) {
    const sim::Socket fd = sim::ConnectToLoopback(port, 5);
    if (fd == sim::kNoSocket) return "connect failed";
    sim::SendSome(fd, request.data(), request.size());
    std::string reply;
    char buffer[4096];
    if (socketOut) {  // caller keeps the connection: read one reply's worth only
        ssize_t n = sim::RecvSome(fd, buffer, sizeof(buffer));
        if (n > 0) reply.assign(buffer, static_cast<std::size_t>(n));
        *socketOut = fd;
        return reply;
    }
    for (ssize_t n; (n = sim::RecvSome(fd, buffer, sizeof(buffer))) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    sim::CloseSocket(fd);
    return reply;
}

std::string Post(const std::string& path, const std::string& body, const std::string& cookie = "") {
    return "POST " + path +
           " HTTP/1.1\r\nHost: shop.example\r\nContent-Type: application/json; charset=utf-8\r\n" +
           (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string Get(const std::string& target, const std::string& cookie = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: shop.example\r\n" +
           (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "Connection: close\r\n\r\n";
}

std::string HeadOf(const std::string& reply) {
    return reply.substr(0, reply.find("\r\n\r\n") + 2);
}

std::string BodyOf(const std::string& reply) {
    auto at = reply.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : reply.substr(at + 4);
}

// The first value of the header line whose name is spelled exactly so.
std::string HeaderLine(const std::string& head, const std::string& name) {
    auto at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return {};
    at += name.size() + 4;
    return head.substr(at, head.find("\r\n", at) - at);
}

SimStore Store(std::string account, std::string password, std::string mallId) {
    SimStore store;
    store.account = std::move(account);
    store.password = std::move(password);
    store.mallId = std::move(mallId);
    store.mallName = "小熊的店";
    store.mobile = "138****5678";
    return store;
}

SimOrder Order(int n) {
    return {"SN" + std::to_string(n),
            600 + n,
            "7" + std::to_string(n),
            "9" + std::to_string(n),
            "http://img.example/t" + std::to_string(n) + ".jpg",
            "好物" + std::to_string(n),
            "G" + std::to_string(n)};
}

TEST(MarketplaceSimLogin, SetsItsCookiesInMixedCaseAndTheSessionOpensTheOrderList) {
    MarketplaceSim sim;
    sim.AddStore(Store("shop_01 a", "p\\w", "100200"));
    sim.SetOrders("100200", {Order(1)});

    // Account URL-encoded the way the program does it, password backslash doubled inside the JSON.
    std::string reply =
        Exchange(sim.port(), Post("/chats/auth", R"({"username":"shop%5F01%20a","password":"p\\w"})"));
    std::string head = HeadOf(reply), body = BodyOf(reply);
    EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(HeaderLine(head, "Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(body, R"({"auth":true,"mall_id":100200,"mobile":"138****5678"})");
    std::string session = HeaderLine(head, "set-cookie"), visitor = HeaderLine(head, "Set-Cookie");
    ASSERT_EQ(session.rfind("SESSION_TOKEN=", 0), 0u) << head;
    ASSERT_EQ(visitor.rfind("visitor_id=", 0), 0u) << head;
    for (const std::string& line : {session, visitor}) {
        EXPECT_NE(line.find("; Path=/"), std::string::npos) << line;
        EXPECT_NE(line.find("HttpOnly"), std::string::npos) << line;
    }
    // The byte-valued cookies, on lines spelt otherwise, and a header line after all the cookie lines.
    EXPECT_EQ(HeaderLine(head, "SET-COOKIE"), std::string(kZoneCookiePair) + "; Path=/");
    EXPECT_EQ(HeaderLine(head, "Set-cookie"), kTagCookiePair);
    EXPECT_LT(head.find(std::string(kTagCookiePair) + "\r\n"), head.find("\r\nX-Trace-Id: "));
    std::string cookie = visitor.substr(0, visitor.find(';')) + "; " + session.substr(0, session.find(';'));

    body = BodyOf(Exchange(sim.port(), Get("/chats/ungroupOrders?pageNo=1&pageSize=20", cookie)));
    EXPECT_EQ(
        body,
        R"({"success":true,"total":1,"orders":[{"orderSn":"SN1","createdDuration":601,"uid":91,)"
        R"("orderGoodsList":{"goodsId":71,"thumbUrl":"http:\/\/img.example\/t1.jpg","goodsName":"好物1"}}]})");
    // Only the session cookie carries the session.
    body = BodyOf(Exchange(
        sim.port(), Get("/chats/ungroupOrders?pageNo=1&pageSize=20", visitor.substr(0, visitor.find(';')))));
    EXPECT_EQ(json::parse(body)["success"], false);
    EXPECT_FALSE(json::parse(body).contains("total"));
}

TEST(MarketplaceSimGoods, ServesAPictureForEveryGoodsPath) {
    MarketplaceSim sim;
    httplib::Client client("127.0.0.1", sim.port());
    auto first = client.Get("/goods/1.png"), again = client.Get("/goods/1.png"),
         other = client.Get("/goods/2.png");
    ASSERT_TRUE(first && again && other);
    EXPECT_EQ(first->status, 200);
    EXPECT_EQ(first->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(first->body.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
    EXPECT_EQ(first->body, again->body);
    EXPECT_NE(first->body, other->body);
}

TEST(MarketplaceSimLogin, RefusesWrongPasswordAndWantsVerificationUntilAnSmsCodeWasRequested) {
    MarketplaceSim sim;
    SimStore store = Store("verify_me", "secret", "300");
    store.requireVerification = true;
    sim.AddStore(store);
    httplib::Client client("127.0.0.1", sim.port());
    const char* type = "application/json; charset=utf-8";

    auto wrong = client.Post("/chats/auth", R"({"username":"verify%5Fme","password":"nope"})", type);
    ASSERT_TRUE(wrong);
    EXPECT_EQ(json::parse(wrong->body)["auth"], false);
    EXPECT_EQ(json::parse(wrong->body)["error_msg"], "账号或密码错误");
    EXPECT_FALSE(wrong->has_header("set-cookie") &&
                 wrong->get_header_value("set-cookie").starts_with("SESSION"));

    auto login = [&] {
        return json::parse(
            client.Post("/chats/auth", R"({"username":"verify%5Fme","password":"secret"})", type)->body);
    };
    json verify = login();
    EXPECT_EQ(verify["error_code"], 2000021);
    EXPECT_EQ(verify["error_msg"], "需要手机验证");
    EXPECT_EQ(verify["mobile"], "138****5678");

    auto sms = [&](const std::string& account) {
        return json::parse(
            client
                .Post("/earth/api/user/getLoginVerificationCode", R"({"username":")" + account + "\"}", type)
                ->body);
    };
    json unknown = sms("nobody");
    EXPECT_NE(unknown["errorCode"], 1000000);
    EXPECT_FALSE(unknown["errorMsg"].get<std::string>().empty());
    EXPECT_EQ(sms("verify_me")["errorCode"], 1000000);
    EXPECT_EQ(sim.SmsRequestsFor("verify_me"), 1);
    EXPECT_EQ(sim.SmsRequestsFor("nobody"), 1);
    EXPECT_EQ(login()["auth"], true);
}

TEST(MarketplaceSimLogin, CaptchaCarriesTheImageAsEscapedBase64AtTheEnd) {
    MarketplaceSim sim;
    auto reply = httplib::Client("127.0.0.1", sim.port()).Get("/captchaCode/getCaptchaCode?rd=a1B2c3");
    ASSERT_TRUE(reply);
    const std::string& body = reply->body;
    auto start = body.find(";base64,"), end = body.find("\"}");
    ASSERT_NE(start, std::string::npos);
    ASSERT_EQ(end, body.size() - 2);
    std::string data = body.substr(start + 8, end - start - 8);
    EXPECT_NE(data.find("\\/"), std::string::npos);  // the client has to unescape
    for (auto at = data.find("\\/"); at != std::string::npos; at = data.find("\\/", at))
        data.erase(at, 1);
    EXPECT_EQ(Base64Decode(data), sim.CaptchaImage());
    EXPECT_EQ(sim.CaptchaImage().substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
    EXPECT_EQ(json::parse(body)["token"].get<std::string>().size(), 32u);
}

TEST(MarketplaceSimSession, MallAndUserinfoFollowTheCookieAndExpire) {
    MarketplaceSim sim;
    sim.AddStore(Store("plain", "x", "501"));
    SimStore odd = Store("odd", "x", "502");
    odd.mallPathLacksMallId = true;
    sim.AddStore(odd);
    std::string plain = sim.IssueSession("501"), other = sim.IssueSession("502");

    EXPECT_EQ(json::parse(BodyOf(Exchange(sim.port(), Get("/mall", "a=1; " + plain))))["mall_id"], 501);
    EXPECT_EQ(BodyOf(Exchange(sim.port(), Get("/mall", other))).find("mall_id"), std::string::npos);
    EXPECT_EQ(json::parse(BodyOf(Exchange(sim.port(), Get("/userinfo", other))))["mall_id"], 502);

    sim.ExpireSessions("501");
    for (const char* path : {"/mall", "/userinfo"}) {
        std::string body = BodyOf(Exchange(sim.port(), Get(path, plain)));
        EXPECT_EQ(body.find("mall_id"), std::string::npos) << path;
        EXPECT_TRUE(json::accept(body));
    }
    EXPECT_EQ(json::parse(BodyOf(Exchange(sim.port(), Get("/mall", other))))["success"],
              true);  // 502 lives on

    // The public store page needs no session.
    EXPECT_NE(BodyOf(Exchange(sim.port(), Get("/mall/501/info"))).find("\"mall_name\":\"小熊的店\""),
              std::string::npos);
    EXPECT_EQ(BodyOf(Exchange(sim.port(), Get("/mall/999/info"))).find("mall_name"), std::string::npos);
}

TEST(MarketplaceSimOrders, PagesByTwentyAndAnswersTheLookups) {
    MarketplaceSim sim;
    std::vector<SimOrder> orders;
    for (int i = 0; i < 45; ++i)
        orders.push_back(Order(i));
    orders[3].groupOrderId.clear();
    sim.SetOrders("7", orders);
    sim.AddUser({"93", "小明🙂"});
    std::string cookie = sim.IssueSession("7");

    auto page = [&](int n) {
        return json::parse(BodyOf(Exchange(
            sim.port(), Get("/chats/ungroupOrders?pageNo=" + std::to_string(n) + "&pageSize=20", cookie))));
    };
    std::vector<std::size_t> sizes;
    for (int n = 1; n <= 4; ++n) {
        json reply = page(n);
        EXPECT_EQ(reply["total"], 45);
        sizes.push_back(reply["orders"].size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{20, 20, 5, 0}));
    EXPECT_EQ(page(3)["orders"][0]["orderSn"], "SN40");
    sim.RemoveOrder("7", "SN44");
    sim.AddOrder("7", Order(3));  // same order number: replaced in place, not added
    EXPECT_EQ(page(3)["orders"].size(), 4u);

    auto detail = [&](const std::string& sn) {
        return BodyOf(
            Exchange(sim.port(), Post("/mars/shop/orderDetail", "{\"orderSn\":\"" + sn + "\"}", cookie)));
    };
    EXPECT_EQ(json::parse(detail("SN5"))["result"]["group_order_id"], "G5");
    EXPECT_EQ(json::parse(detail("SN3"))["result"]["group_order_id"], "G3");
    sim.SetOrders("7", {orders[3]});
    EXPECT_FALSE(json::parse(detail("SN3"))["result"].contains("group_order_id"));
    json missing = json::parse(detail("SN44"));
    EXPECT_EQ(missing["success"], false);
    EXPECT_FALSE(missing["errorMsg"].get<std::string>().empty());

    std::string user = BodyOf(Exchange(sim.port(), Get("/chats/users/93", cookie)));
    EXPECT_NE(user.find("\"nickname\":\"小明🙂\""), std::string::npos)
        << user;  // raw UTF-8, not \u escapes
    EXPECT_EQ(BodyOf(Exchange(sim.port(), Get("/chats/users/94", cookie))).find("userinfo"),
              std::string::npos);
    EXPECT_EQ(BodyOf(Exchange(sim.port(), Get("/chats/users/93"))).find("userinfo"), std::string::npos);
}

TEST(MarketplaceSimRecording, KeepsHeaderOrderNamesAndRawBodiesOfPipelinedRequests) {
    MarketplaceSim sim;
    std::string body("{\"a\":\"\xC4\xE3\"}\0tail", 15);  // GBK bytes and a NUL
    std::string first =
        "POST /chats/auth?x=1&y=%41 HTTP/1.1\r\nhost: h.example\r\nZ-Last: z\r\nReferer: "
        "file:///index.html\r\n"
        "content-length: " +
        std::to_string(body.size()) + "\r\nAccept:   spaced  \r\n\r\n" + body;
    std::string second = "GET /nowhere HTTP/1.1\r\nHost: h.example\r\nConnection: close\r\n\r\n";
    std::string replies = Exchange(sim.port(), first + second);  // both in one write
    EXPECT_NE(replies.find("HTTP/1.1 404"), std::string::npos);

    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const RecordedRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/chats/auth?x=1&y=%41");
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(r.headers, (Pairs{{"host", "h.example"},
                                {"Z-Last", "z"},
                                {"Referer", "file:///index.html"},
                                {"content-length", "15"},
                                {"Accept", "spaced"}}));
    EXPECT_EQ(r.rawHead, first.substr(0, first.find("\r\n\r\n") + 2));
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.Header("HOST"), "h.example");
    EXPECT_EQ(r.Header("Cookie"), "");
    EXPECT_EQ(requests[1].target, "/nowhere");
    EXPECT_EQ(requests[1].body, "");

    sim.ClearRequests();
    EXPECT_TRUE(sim.Requests().empty());
}

TEST(MarketplaceSimRecording, TakesLargeFormBodiesWithExpectContinue) {
    MarketplaceSim sim;
    const std::string body(20000, 'b');  // httplib alone would refuse a form body this large
    std::string reply =
        Exchange(sim.port(),
                 "PUT /echo HTTP/1.1\r\nHost: h\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                 "Expect: 100-continue\r\nContent-Length: 20000\r\nConnection: close\r\n\r\n" +
                     body);
    EXPECT_EQ(reply.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404", 0), 0u) << reply.substr(0, 100);
    auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "PUT");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].Header("content-type"), "application/x-www-form-urlencoded");
}

TEST(MarketplaceSimFaults, EachFaultMisbehavesOnItsPrefixAndCountsDown) {
    MarketplaceSim sim;
    sim.AddStore(Store("a", "b", "1"));
    std::string cookie = sim.IssueSession("1");
    const std::string normal = BodyOf(Exchange(sim.port(), Get("/mall", cookie)));
    auto fetch = [&](const std::string& path = "/mall") { return Exchange(sim.port(), Get(path, cookie)); };

    sim.SetFault("/mall", Fault::HtmlErrorPage, 1);
    std::string reply = fetch();
    EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(BodyOf(reply).rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(BodyOf(fetch()), normal);  // used up

    sim.SetFault("/mall", Fault::Status500, 1);
    EXPECT_EQ(fetch().substr(0, 12), "HTTP/1.1 500");

    sim.SetFault("/mall", Fault::TruncatedJson, 1);
    reply = fetch();
    EXPECT_EQ(BodyOf(reply), normal.substr(0, normal.size() / 2));
    EXPECT_EQ(HeaderLine(HeadOf(reply), "Content-Length"), std::to_string(normal.size() / 2));

    sim.SetFault("/mall", Fault::BinaryBytes, 1);
    EXPECT_NE(BodyOf(fetch()).find('\0'), std::string::npos);

    sim.SetFault("/userinfo", Fault::CloseWithoutReply);
    EXPECT_EQ(fetch("/userinfo"), "");
    EXPECT_EQ(fetch("/userinfo"), "");   // until cleared
    EXPECT_EQ(BodyOf(fetch()), normal);  // other paths unaffected
    sim.ClearFaults();
    EXPECT_NE(BodyOf(fetch("/userinfo")).find("mall_id"), std::string::npos);

    sim.SetHugeBodyBytes(3'000'000);
    sim.SetFault("/", Fault::HugeBody, 1);
    reply = fetch("/anything");
    EXPECT_EQ(HeaderLine(HeadOf(reply), "Content-Length"), "3000000");
    std::string huge = BodyOf(reply);
    ASSERT_EQ(huge.size(), 3'000'000u);
    EXPECT_EQ(huge.substr(0, 9), "{\"data\":\"");
    EXPECT_EQ(huge.substr(huge.size() - 3), "x\"}");

    sim.SetStallSeconds(0.3);
    sim.SetFault("/mall", Fault::Stall, 1);
    auto started = Clock::now();
    EXPECT_EQ(BodyOf(fetch()), normal);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(280));

    EXPECT_EQ(sim.Requests().size(), 12u);  // faulty requests are recorded too
}

TEST(MarketplaceSimLifetime, StopsPromptlyDuringAStallAndWithAnIdleConnection) {
    auto sim = std::make_unique<MarketplaceSim>();
    sim->SetFault("/mall", Fault::Stall);  // the default 30 s
    sim::Socket idle = sim::kNoSocket;
    EXPECT_NE(Exchange(sim->port(), "GET /x HTTP/1.1\r\nHost: h\r\n\r\n", &idle).find("404"),
              std::string::npos);

    bool answered = true;
    std::thread client([&, port = sim->port()] {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(10);
        answered = static_cast<bool>(c.Get("/mall"));
    });
    while (sim->Requests().size() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    auto started = Clock::now();
    sim.reset();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    client.join();
    EXPECT_FALSE(answered);
    sim::CloseSocket(idle);
}

TEST(MarketplaceSimLifetime, RefusedUrlRefusesAndUnknownPathsGet404Html) {
    std::string refused = MarketplaceSim::RefusedBaseUrl();
    ASSERT_EQ(refused.rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_EQ(refused, MarketplaceSim::RefusedBaseUrl());
    httplib::Client client(refused);
    auto result = client.Get("/mall");
    EXPECT_EQ(result.error(), httplib::Error::Connection);

    MarketplaceSim sim;
    EXPECT_EQ(sim.baseUrl(), "http://127.0.0.1:" + std::to_string(sim.port()));
    auto missing = httplib::Client(sim.baseUrl()).Get("/no/such/path");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(missing->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    auto wrongMethod = httplib::Client(sim.baseUrl()).Get("/chats/auth");
    ASSERT_TRUE(wrongMethod);
    EXPECT_EQ(wrongMethod->status, 404);
}

// --- Varied replies --------------------------------------------------------------------------------------

struct Fetched {
    std::string body;
    httplib::Headers headers;
};

Fetched FetchOrders(std::uint64_t seed) {
    MarketplaceSim sim;
    sim.SetVariationSeed(seed);
    sim.AddStore({.account = "a", .password = "p", .mallId = "7", .mallName = "店", .mobile = "1"});
    sim.SetOrders("7", {{.orderSn = "sn/1",
                         .createdDuration = 120,
                         .goodsId = "99",
                         .uid = "5",
                         .thumbUrl = "http://x/t.png",
                         .goodsName = "小明的货",
                         .groupOrderId = "G"}});
    httplib::Client client("127.0.0.1", sim.port());
    auto reply = client.Get("/chats/ungroupOrders?pageNo=1&pageSize=20", {{"Cookie", sim.IssueSession("7")}});
    if (!reply) return {};
    return {reply->body, reply->headers};
}

std::string Text(const json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

TEST(MarketplaceSimVariation, RepliesVaryInFormButNeverInMeaningAndASeedReplaysTheSame) {
    bool chunked = false, escapedChinese = false, rawChinese = false, escapedSlash = false,
         plainSlash = false, numberAsString = false, renamedHeader = false, extraCookie = false;
    for (std::uint64_t seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE(seed);
        const Fetched reply = FetchOrders(seed);
        ASSERT_FALSE(reply.body.empty());
        const json parsed = json::parse(reply.body);
        EXPECT_EQ(Text(parsed["total"]), "1");
        const json& order = parsed["orders"][0];
        EXPECT_EQ(Text(order["orderSn"]), "sn/1");
        EXPECT_EQ(Text(order["createdDuration"]), "120");
        EXPECT_EQ(Text(order["orderGoodsList"]["goodsId"]), "99");
        EXPECT_EQ(Text(order["orderGoodsList"]["thumbUrl"]), "http://x/t.png");
        chunked |= reply.headers.count("Transfer-Encoding") > 0;
        escapedChinese |= reply.body.find("\\u") != std::string::npos;
        rawChinese |= reply.body.find("\xE5\xB0\x8F") != std::string::npos;
        escapedSlash |= reply.body.find("sn\\/1") != std::string::npos;
        plainSlash |= reply.body.find("sn/1") != std::string::npos;
        numberAsString |= parsed["total"].is_string();
        for (const auto& [name, value] : reply.headers) {
            renamedHeader |= name == "content-type" || name == "CONTENT-TYPE";
            extraCookie |= name.size() == 10 && value.rfind("_fp=", 0) == 0;
        }
    }
    EXPECT_TRUE(chunked);
    EXPECT_TRUE(escapedChinese);
    EXPECT_TRUE(rawChinese);
    EXPECT_TRUE(escapedSlash);
    EXPECT_TRUE(plainSlash);
    EXPECT_TRUE(numberAsString);
    EXPECT_TRUE(renamedHeader);
    EXPECT_TRUE(extraCookie);
    // The same seed writes the same reply: a failing seed can be replayed.
    EXPECT_EQ(FetchOrders(7).body, FetchOrders(7).body);
}

}  // namespace
}  // namespace tandrel::sim
