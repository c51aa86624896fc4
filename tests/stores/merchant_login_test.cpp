#include "stores/merchant_login.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "../common/proxy_recorder.h"
#include "../common/raw_http_server.h"
#include "../common/sim_seeds.h"
#include "../common/windows_compat.h"
#include "sim/marketplace_sim.h"
#include "stores/session_check.h"
#include "support/text.h"

namespace tandrel {
namespace {

using sim::Fault;
using sim::MarketplaceSim;

std::string G(const char* utf8) {
    return Utf8ToGbk(utf8);
}

std::vector<std::string> Names(const sim::RecordedRequest& r) {
    std::vector<std::string> names;
    for (const auto& [name, value] : r.headers)
        names.push_back(name);
    return names;
}

class MerchantLoginTest : public ::testing::TestWithParam<std::uint64_t> {
  protected:
    void SetUp() override {
        if (GetParam() != 0) sim_.SetVariationSeed(GetParam());
        sim_.AddStore({.account = "shop_01 a",
                       .password = "p\\w\"x",
                       .mallId = "1001",
                       .mallName = "好店",
                       .mobile = "138"});
        sim_.AddStore({.account = "verify",
                       .password = "pw",
                       .mallId = "1002",
                       .mallName = "验证店",
                       .mobile = "139",
                       .requireVerification = true});
        sim_.AddStore(
            {.account = "中文号", .password = "密码", .mallId = "1003", .mallName = "C", .mobile = "137"});
    }
    std::vector<sim::RecordedRequest> Requests(std::string_view prefix) {
        std::vector<sim::RecordedRequest> out;
        for (auto& r : sim_.Requests())
            if (r.target.rfind(prefix, 0) == 0) out.push_back(r);
        return out;
    }

    MarketplaceSim sim_;
    Endpoints endpoints_ = Endpoints::AllAt(sim_.baseUrl());
    MarketplaceSession session_{endpoints_};
};

TEST(UrlEncodeUtf8, KeepsOnlyLettersDigitsDashAndDot) {
    EXPECT_EQ(UrlEncodeUtf8("shop_01 a"), "shop%5F01%20a");
    EXPECT_EQ(UrlEncodeUtf8("a.b-c@d"), "a.b-c%40d");
    EXPECT_EQ(UrlEncodeUtf8(G("中")), "%E4%B8%AD");
    EXPECT_EQ(UrlEncodeUtf8(""), "");
}

TEST(MillisTimestamp, IsUnixMillisecondsOnAUtcPlus8Computer) {
    setenv("TZ", "CST-8", 1);
    tzset();
    const std::chrono::system_clock::time_point at{std::chrono::milliseconds(1528016705005LL)};
    EXPECT_EQ(MillisTimestamp(at), "1528016705005");
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_EQ(MillisTimestamp(at), std::to_string(1528016705LL - 8 * 3600) + "005");
    EXPECT_EQ(MillisTimestamp().size(), 13u);
}

TEST_P(MerchantLoginTest, SendsTheAppLoginExactly) {
    const auto result = MerchantLogin(endpoints_, "shop_01 a", "p\\w\"x");
    ASSERT_EQ(result.code, kLoginOk) << GbkToUtf8(result.message);
    EXPECT_EQ(result.storeId, "1001");
    EXPECT_EQ(result.mobile, "138");
    EXPECT_EQ(result.message, G("登录成功"));
    EXPECT_FALSE(result.loginCookies.empty());
    EXPECT_EQ(result.loginCookies.find(' '), std::string::npos);

    const auto r = Requests("/chats/auth").at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.body, R"({"username":"shop%5F01%20a","password":"p\\w\"x"})");
    // The client writes Host first, where HTTP clients put it; the other lines keep the block's order.
    EXPECT_EQ(Names(r), (std::vector<std::string>{"Host", "Referer", "User-Agent", "Content-Type", "Accept",
                                                  "Accept-Language", "Content-Length"}));
    EXPECT_EQ(r.Header("Referer"), "file:///index.html#pages/login");
    EXPECT_NE(r.Header("User-Agent").find("Mobile Safari/537.36  pddmt_android_version/1.10.0"),
              std::string::npos);
    EXPECT_EQ(r.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    EXPECT_EQ(r.Header("Host"), endpoints_.merchant.Host());
    EXPECT_EQ(r.Header("Cookie"), "");
}

TEST_P(MerchantLoginTest, GivesTheFourResultCodes) {
    EXPECT_EQ(MerchantLogin(endpoints_, "", "x").code, kLoginEmptyInput);
    const auto empty = MerchantLogin(endpoints_, "x", "");
    EXPECT_EQ(empty.code, kLoginEmptyInput);
    EXPECT_EQ(empty.message, G("账号、密码都不能为空，请填写"));
    EXPECT_TRUE(sim_.Requests().empty());  // nothing was sent

    const auto verify = MerchantLogin(endpoints_, "verify", "pw");
    EXPECT_EQ(verify.code, kLoginNeedsVerification);
    EXPECT_EQ(verify.message, G("需要手机验证"));
    EXPECT_EQ(verify.mobile, "139");

    const auto wrong = MerchantLogin(endpoints_, "shop_01 a", "nope");
    EXPECT_EQ(wrong.code, kLoginFailed);
    EXPECT_FALSE(wrong.message.empty());

    EXPECT_EQ(MerchantLogin(endpoints_, G("中文号"), G("密码")).code, kLoginOk);  // UTF-8 on the wire

    // (A connection closed without a reply is retried once by the client on a fresh connection, as HTTP
    // clients do for reused connections, so that fault stays on for the whole attempt.)
    for (auto fault : {Fault::HtmlErrorPage, Fault::Status500, Fault::TruncatedJson, Fault::BinaryBytes,
                       Fault::CloseWithoutReply}) {
        sim_.SetFault("/chats/auth", fault);
        const auto broken = MerchantLogin(endpoints_, "shop_01 a", "p\\w\"x");
        EXPECT_EQ(broken.code, kLoginFailed) << static_cast<int>(fault);
        sim_.ClearFaults();
    }
    // An HTML page is no answer of the back end's: it says so (a JSON answer without a message still
    // says "{null}", below).
    sim_.SetFault("/chats/auth", Fault::HtmlErrorPage, 1);
    EXPECT_EQ(MerchantLogin(endpoints_, "shop_01 a", "p\\w\"x").message, G("服务器应答无法识别"));
    const auto refused = MerchantLogin(Endpoints::AllAt(MarketplaceSim::RefusedBaseUrl()), "a", "b");
    EXPECT_EQ(refused.code, kLoginFailed);
}

TEST_P(MerchantLoginTest, LooksUpTheStoreNameOrFallsBack) {
    EXPECT_EQ(LookupStoreName(endpoints_, "1001"), G("好店"));
    const auto r = Requests("/mall/1001/info").at(0);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(Names(r),
              (std::vector<std::string>{"Host", "Connection", "Accept", "Origin", "AccessToken", "User-Agent",
                                        "Content-Type", "Referer", "Accept-Language"}));
    EXPECT_EQ(r.Header("Origin"), "http://" + endpoints_.mobile.Host());
    EXPECT_EQ(r.Header("Referer").rfind("http://" + endpoints_.mobile.Host() + "/personal.html?ts=", 0), 0u);
    EXPECT_EQ(LookupStoreName(endpoints_, "9999"), G("店铺名"));
    sim_.SetFault("/mall/", Fault::BinaryBytes);
    EXPECT_EQ(LookupStoreName(endpoints_, "1001"), G("店铺名"));
}

TEST_P(MerchantLoginTest, RequestsAnSmsCodeWithTheLoginsOwnCookie) {
    // The shared cookie belongs to whatever else runs meanwhile: it is neither sent nor changed.
    session_.currentCookie() = "other=2";
    std::string cookie = "pre=1";
    std::string message;
    EXPECT_EQ(RequestSmsCode(endpoints_, "verify", cookie, &message), 1000000);
    EXPECT_EQ(sim_.SmsRequestsFor("verify"), 1);
    const auto r = Requests("/earth/api/user/getLoginVerificationCode").at(0);
    EXPECT_EQ(r.body, R"({"username":"verify"})");
    EXPECT_EQ(r.Header("Cookie"), "pre=1");
    EXPECT_EQ(r.Header("Referer"), "http://" + endpoints_.merchant.Host() + "/Pdd.html");
    EXPECT_EQ(session_.currentCookie(), "other=2");
    EXPECT_NE(cookie.find("pre=1"), std::string::npos) << cookie;  // kept, with the reply's merged in
    // After the code was requested, the same login goes through.
    EXPECT_EQ(MerchantLogin(endpoints_, "verify", "pw").code, kLoginOk);

    sim_.SetFault("/earth", Fault::HtmlErrorPage, 1);
    EXPECT_EQ(RequestSmsCode(endpoints_, "verify", cookie, &message), 0);
    EXPECT_EQ(message, G("服务器应答无法识别"));  // an HTML page is no answer of the back end's
    RequestSmsCode(endpoints_, "a\"b", cookie, &message);
    EXPECT_EQ(Requests("/earth").back().body, R"({"username":"a\"b"})");
}

TEST_P(MerchantLoginTest, ALoginWithoutAStoreIdIsAFailedLogin) {
    // Saved, such a store could never be found again by its id, nor removed.
    for (const char* id : {"", "  ", "\u3000"}) {
        SCOPED_TRACE(id);
        sim_.AddStore({.account = "blank", .password = "pw", .mallId = id, .mallName = "B", .mobile = "136"});
        const auto result = MerchantLogin(endpoints_, "blank", "pw");
        EXPECT_EQ(result.code, kLoginFailed);
        EXPECT_EQ(result.message, G("登录失败：后台未返回店铺ID"));
    }
}

TEST_P(MerchantLoginTest, FetchesAndDecodesTheCaptcha) {
    EXPECT_EQ(FetchCaptcha(endpoints_), sim_.CaptchaImage());
    const auto r = Requests("/captchaCode/getCaptchaCode?rd=").at(0);
    EXPECT_EQ(r.target.size(), std::string("/captchaCode/getCaptchaCode?rd=").size() + 6);
    sim_.SetFault("/captchaCode", Fault::HtmlErrorPage, 1);
    EXPECT_TRUE(FetchCaptcha(endpoints_).empty());
}

TEST_P(MerchantLoginTest, TheSessionCheckTellsAliveFromDeadAndNeverLogsIn) {
    // Alive: one request.
    std::string cookie = sim_.IssueSession("1001");
    SessionReading reading = ReadStoreSession(endpoints_, cookie);
    EXPECT_EQ(reading.verdict, SessionVerdict::Alive);
    EXPECT_EQ(reading.reason, "");
    ASSERT_EQ(sim_.Requests().size(), 1u);
    EXPECT_EQ(sim_.Requests()[0].target, "/mall");

    // Dead: "/userinfo" asked as well, the back end's reason kept; a login is the caller's decision.
    sim_.ClearRequests();
    sim_.ExpireSessions("1001");
    reading = ReadStoreSession(endpoints_, cookie);
    EXPECT_EQ(reading.verdict, SessionVerdict::Dead);
    EXPECT_FALSE(reading.reason.empty());
    const auto all = sim_.Requests();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].target, "/userinfo");
    std::string none;
    EXPECT_EQ(ReadStoreSession(endpoints_, none).verdict, SessionVerdict::Dead);
    EXPECT_TRUE(Requests("/chats/auth").empty());
}

TEST_P(MerchantLoginTest, ABrokenReplyIsNoAnswerNeverADeadSession) {
    // A dead session costs the merchant a password login; a network fault must not.
    std::string cookie = sim_.IssueSession("1001");
    for (auto fault :
         {Fault::HtmlErrorPage, Fault::Status500, Fault::BinaryBytes, Fault::CloseWithoutReply}) {
        sim_.SetFault("/mall", fault);
        sim_.SetFault("/userinfo", fault);
        const SessionReading reading = ReadStoreSession(endpoints_, cookie);
        EXPECT_EQ(reading.verdict, SessionVerdict::NoAnswer) << static_cast<int>(fault);
        EXPECT_FALSE(reading.reason.empty()) << static_cast<int>(fault);
        sim_.ClearFaults();
    }
    EXPECT_EQ(ReadStoreSession(endpoints_, cookie).verdict, SessionVerdict::Alive);
    EXPECT_TRUE(Requests("/chats/auth").empty());
}

TEST_P(MerchantLoginTest, TheSessionCheckAsksUserinfoWhenMallLacksTheId) {
    sim_.AddStore({.account = "u",
                   .password = "p",
                   .mallId = "1004",
                   .mallName = "U",
                   .mobile = "1",
                   .mallPathLacksMallId = true});
    std::string cookie = sim_.IssueSession("1004");
    EXPECT_EQ(ReadStoreSession(endpoints_, cookie).verdict, SessionVerdict::Alive);
    const auto all = sim_.Requests();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].target, "/userinfo");
}

TEST_P(MerchantLoginTest, KeepsCookieBytesAsTheyCameAndNeverSendsALineBreak) {
    // The login sets cookies whose values end in bytes above 0x7F, one right before ";", one right before the
    // line break, on lines whose names are spelt in three ways, followed by another header line.
    const auto login = MerchantLogin(endpoints_, "shop_01 a", "p\\w\"x");
    ASSERT_EQ(login.code, kLoginOk);
    const std::string& cookies = login.loginCookies;
    EXPECT_NE(cookies.find(sim::kZoneCookiePair), std::string::npos) << cookies;
    EXPECT_NE(cookies.find(sim::kTagCookiePair), std::string::npos) << cookies;
    EXPECT_NE(cookies.find("SESSION_TOKEN="), std::string::npos) << cookies;
    EXPECT_EQ(cookies.find_first_of("\r\n"), std::string::npos) << cookies;
    EXPECT_EQ(cookies.find("Path"), std::string::npos) << cookies;
    EXPECT_EQ(cookies.find("Trace"), std::string::npos) << cookies;

    // A later request carries them byte for byte, on one line, and the session they hold is alive.
    std::string cookie = cookies;
    sim_.ClearRequests();
    EXPECT_EQ(ReadStoreSession(endpoints_, cookie).verdict, SessionVerdict::Alive);
    const auto check = sim_.Requests().at(0);
    EXPECT_EQ(check.target, "/mall");
    const std::string sent = check.Header("Cookie");
    EXPECT_NE(sent.find(sim::kZoneCookiePair), std::string::npos) << sent;
    EXPECT_NE(sent.find(sim::kTagCookiePair), std::string::npos) << sent;
    EXPECT_EQ(check.Header("X-Trace-Id"), "");
    EXPECT_EQ(cookie.find_first_of("\r\n"), std::string::npos);
}

TEST_P(MerchantLoginTest, SessionCheckReadsAnIdAfterAThreeCharacterName) {
    // "鲜果店" is nine bytes of UTF-8, and the session reply names the store before its id.
    sim_.AddStore(
        {.account = "fruit", .password = "pw", .mallId = "1005", .mallName = "鲜果店", .mobile = "1"});
    std::string cookie = sim_.IssueSession("1005");
    EXPECT_EQ(ReadStoreSession(endpoints_, cookie).verdict, SessionVerdict::Alive);
    ASSERT_EQ(sim_.Requests().size(), 1u);
    EXPECT_EQ(sim_.Requests()[0].target, "/mall");
}

// A back end that answers each request with the reply the test sets, and a second one that records
// whether anything reached it.
struct ScriptedBackEnd {
    testing::RawHttpServer elsewhere{[](const std::string&, const testing::RawHttpServer::Send& send) {
        send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
    }};
    std::string reply;
    testing::RawHttpServer server{
        [this](const std::string&, const testing::RawHttpServer::Send& send) { send(reply); }};
    Endpoints endpoints = Endpoints::AllAt(server.baseUrl());
    void Json(const std::string& body) {
        reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
};

TEST(LoginFailures, EachHasItsOwnWordsAndARedirectIsAFailedLogin) {
    ScriptedBackEnd backEnd;
    const auto contains = [](const std::string& text, const char* utf8) {
        return text.find(Utf8ToGbk(utf8)) != std::string::npos;
    };
    // The back end's refusal, in its words; "{null}" only where its JSON has none.
    backEnd.Json(R"({"error_code":1,"error_msg":"密码错误"})");
    EXPECT_EQ(MerchantLogin(backEnd.endpoints, "a", "b").message, G("密码错误"));
    backEnd.Json(R"({"error_code":1})");
    EXPECT_EQ(MerchantLogin(backEnd.endpoints, "a", "b").message, "{null}");
    // A reply that is not the back end's JSON, and one with a raw NUL in it.
    backEnd.Json("<html>busy</html>");
    EXPECT_EQ(MerchantLogin(backEnd.endpoints, "a", "b").message, G("服务器应答无法识别"));
    backEnd.Json(std::string(R"({"error_msg":"x"})") + '\0' + "rest");
    EXPECT_TRUE(contains(MerchantLogin(backEnd.endpoints, "a", "b").message, "服务器应答无法识别"));
    // No connection.
    const auto refused = MerchantLogin(Endpoints::AllAt(MarketplaceSim::RefusedBaseUrl()), "a", "b");
    EXPECT_TRUE(contains(refused.message, "无法连接服务器")) << GbkToUtf8(refused.message);
    // A redirect: the password is not posted again, neither is the SMS request; the captcha is not
    // fetched from elsewhere.
    backEnd.reply = "HTTP/1.1 307 Moved\r\nLocation: " + backEnd.elsewhere.baseUrl() +
                    "/chats/auth\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    const auto redirected = MerchantLogin(backEnd.endpoints, "a", "b");
    EXPECT_EQ(redirected.code, kLoginFailed);
    EXPECT_TRUE(contains(redirected.message, "未跟随")) << GbkToUtf8(redirected.message);
    std::string smsMessage, smsCookie;
    EXPECT_EQ(RequestSmsCode(backEnd.endpoints, "a", smsCookie, &smsMessage), 0);
    EXPECT_TRUE(contains(smsMessage, "未跟随"));
    EXPECT_EQ(FetchCaptcha(backEnd.endpoints), "");
    EXPECT_TRUE(backEnd.elsewhere.targets().empty());
}

TEST(MarketplaceTransport, EveryExchangeWithTheBuiltInHostsGoesOverTls) {
    // The session cookie must never cross the network in clear text. Through a recording proxy, an https
    // request shows as "CONNECT host:443" and a plain one as "GET http://...".
    testing::ProxyRecorder proxy;
    const Endpoints e = Endpoints::With("", "", "", "", "", nullptr);
    MerchantLogin(e, "a", "b");
    LookupStoreName(e, "1");
    std::string cookie = "SESSION_TOKEN=secret";
    RequestSmsCode(e, "a", cookie);
    FetchCaptcha(e);
    ReadStoreSession(e, cookie);
    const auto lines = proxy.RequestLines();
    EXPECT_GE(lines.size(), 5u);  // login, store name, SMS code, captcha, /mall
    for (const auto& line : lines) {
        EXPECT_EQ(line.rfind("CONNECT ", 0), 0u) << line;
        EXPECT_NE(line.find(":443 "), std::string::npos) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, MerchantLoginTest, ::testing::ValuesIn(testing::SimSeeds()),
                         testing::SeedName);

}  // namespace
}  // namespace tandrel
