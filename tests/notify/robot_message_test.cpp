#include "notify/robot_message.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "net/http_request.h"
#include "support/text.h"

namespace tandrel {
namespace {

using Json = nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::system_clock;

ReportedGroup Group(std::string goodsId, bool old = false) {
    ReportedGroup g;
    g.time = system_clock::time_point(milliseconds(1733700000000));
    g.storeId = "555001";
    g.storeName = Utf8ToGbk("小满的店");
    g.goodsId = std::move(goodsId);
    g.nickname = Utf8ToGbk("开团的人\"引号\"");
    g.groupOrderId = "9000123";
    g.remainingHours = "3.8";
    g.orderSn = "241208-1234";
    g.old = old;
    return g;
}

// Expected values worked out with openssl outside the program, e.g.
//   printf '%s\n%s' 1733700000000 SECa1b2c3d4e5f6 | openssl dgst -sha256 -hmac SECa1b2c3d4e5f6 -binary |
//   base64 printf '' | openssl dgst -sha256 -hmac "$(printf '1733700000\nSECa1b2c3d4e5f6')" -binary | base64
TEST(RobotSignature, MatchesIndependentlyComputedValues) {
    EXPECT_EQ(DingTalkSign("SECa1b2c3d4e5f6", 1733700000000), "L+lwfuuZclpcZTeGAAOTJ2lGYidM67eh0f0zQwy8DDs=");
    EXPECT_EQ(FeishuSign("SECa1b2c3d4e5f6", 1733700000), "GJZmJiIjRtcnTD9rT6ID93PF14MhDJQ58aF8LiIAMBE=");
    // UTF-8 secret bytes with characters that need URL-encoding in the result.
    EXPECT_EQ(DingTalkSign("秘密+/=", 1700000000123), "Yh6O8Ols51J37rRbWMmfh0uSV2kycvtti4U8Jr9aEl0=");
    EXPECT_EQ(UrlEncode("L+lw/x=="), "L%2Blw%2Fx%3D%3D");
}

TEST(RobotRequest, EachKindHasItsOwnShape) {
    const auto now = system_clock::time_point(milliseconds(1733700000000));
    const std::vector<ReportedGroup> groups{Group("111")};

    auto wecom =
        BuildRobotRequest(RobotKind::WeCom, "https://h/cgi-bin/webhook/send?key=K", "ignored", groups, now);
    EXPECT_EQ(wecom.url, "https://h/cgi-bin/webhook/send?key=K");
    EXPECT_EQ(wecom.contentType, "application/json; charset=utf-8");
    Json body = Json::parse(wecom.body);
    EXPECT_EQ(body["msgtype"], "text");
    EXPECT_EQ(body["text"]["content"], MessageText(groups));

    auto ding = BuildRobotRequest(RobotKind::DingTalk, "https://h/robot/send?access_token=T",
                                  "SECa1b2c3d4e5f6", groups, now);
    EXPECT_EQ(ding.url,
              "https://h/robot/send?access_token=T&timestamp=1733700000000&sign="
              "L%2BlwfuuZclpcZTeGAAOTJ2lGYidM67eh0f0zQwy8DDs%3D");
    EXPECT_EQ(Json::parse(ding.body)["text"]["content"], MessageText(groups));
    // Without a secret the address stays as given.
    EXPECT_EQ(BuildRobotRequest(RobotKind::DingTalk, "https://h/x", "", groups, now).url, "https://h/x");

    auto feishu = BuildRobotRequest(RobotKind::Feishu, "https://h/hook/abc", "SECa1b2c3d4e5f6", groups, now);
    EXPECT_EQ(feishu.url, "https://h/hook/abc");
    body = Json::parse(feishu.body);
    EXPECT_EQ(body["timestamp"], "1733700000");
    EXPECT_EQ(body["sign"], "GJZmJiIjRtcnTD9rT6ID93PF14MhDJQ58aF8LiIAMBE=");
    EXPECT_EQ(body["msg_type"], "text");
    EXPECT_EQ(body["content"]["text"], MessageText(groups));
    EXPECT_FALSE(
        Json::parse(BuildRobotRequest(RobotKind::Feishu, "u", "", groups, now).body).contains("sign"));

    auto hook = BuildRobotRequest(RobotKind::Webhook, "http://127.0.0.1:9/x", "",
                                  {Group("1"), Group("2", true)}, now);
    body = Json::parse(hook.body);
    ASSERT_EQ(body["groups"].size(), 2u);
    EXPECT_EQ(body["groups"][0]["storeName"], "小满的店");
    EXPECT_EQ(body["groups"][0]["nickname"], "开团的人\"引号\"");
    EXPECT_EQ(body["groups"][0]["storeId"], "555001");
    EXPECT_EQ(body["groups"][0]["groupOrderId"], "9000123");
    EXPECT_EQ(body["groups"][0]["remainingHours"], "3.8");
    EXPECT_EQ(body["groups"][0]["orderSn"], "241208-1234");
    EXPECT_EQ(body["groups"][0]["old"], false);
    EXPECT_EQ(body["groups"][1]["old"], true);
    EXPECT_EQ(body["groups"][1]["goodsId"], "2");
    EXPECT_FALSE(body["groups"][0]["time"].get<std::string>().empty());
}

TEST(RobotMessage, OneLinePerFieldInChinese) {
    const std::string text = GroupText(Group("777"));
    EXPECT_NE(text.find("\n店铺：小满的店\n"), std::string::npos);
    EXPECT_NE(text.find("\n商品ID：777\n"), std::string::npos);
    EXPECT_NE(text.find("\n开团账号：开团的人\"引号\"\n"), std::string::npos);
    EXPECT_NE(text.find("\n剩余时间：3.8小时\n"), std::string::npos);
    EXPECT_NE(text.find("\n团ID：9000123"), std::string::npos);
    EXPECT_EQ(text.rfind("【新开团】", 0), 0u);
    EXPECT_EQ(GroupText(Group("1", true)).rfind("【老团】", 0), 0u);
}

// A buyer picks the nickname: it must not page the whole chat group, nor carry escapes or extra lines.
TEST(RobotMessage, ANicknameMentionsNobodyAndCarriesNoControls) {
    ReportedGroup g = Group("777");
    g.nickname = Utf8ToGbk("@all <at user_id=\"all\">x</at>\x1b]0;t\x07\r\n团ID：1");
    const std::string text = GroupText(g);
    EXPECT_EQ(text.find("@all"), std::string::npos) << text;
    EXPECT_EQ(text.find("<at"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("\n开团账号：＠all ＜at user_id=\"all\"＞x＜/at＞ 团ID：1\n"), std::string::npos)
        << text;
    const auto answer = ReadRobotAnswer(RobotKind::WeCom, PlainReply{400, "bad\x1b[2J\x1b]0;x\x07!", {}});
    EXPECT_EQ(answer.summary, "服务器答复 HTTP 400（bad!）");
}

TEST(RobotMessage, BigBatchesAreCutToTheServiceLimitWithoutLosingAGroup) {
    std::vector<ReportedGroup> groups;
    for (int i = 0; i < 60; ++i)
        groups.push_back(Group(std::to_string(1000 + i)));
    groups[7].nickname = std::string(5000, 'n');  // a runaway field is cut in the text
    const auto messages = SplitIntoMessages(RobotKind::WeCom, groups);
    ASSERT_GT(messages.size(), 1u);
    std::size_t total = 0;
    for (const auto& m : messages) {
        EXPECT_LE(MessageText(m).size(), MessageByteBudget(RobotKind::WeCom));
        for (const auto& g : m)
            EXPECT_EQ(g.goodsId, std::to_string(1000 + total++));
    }
    EXPECT_EQ(total, groups.size());
    EXPECT_EQ(SplitIntoMessages(RobotKind::DingTalk, groups).size(), 1u);
}

TEST(RobotAnswer, ReadsEachServicesWayOfSayingOkOrNo) {
    const auto read = [](RobotKind kind, int status, std::string body) {
        return ReadRobotAnswer(kind, PlainReply{status, std::move(body), {}});
    };
    EXPECT_TRUE(read(RobotKind::WeCom, 200, R"({"errcode":0,"errmsg":"ok"})").ok);
    auto refused = read(RobotKind::WeCom, 200, R"({"errcode":93000,"errmsg":"invalid webhook url"})");
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.rateLimited);
    EXPECT_NE(refused.summary.find("invalid webhook url"), std::string::npos);
    EXPECT_TRUE(read(RobotKind::WeCom, 200, R"({"errcode":45009,"errmsg":"freq"})").rateLimited);
    EXPECT_TRUE(read(RobotKind::DingTalk, 200, R"({"errcode":130101,"errmsg":"send too fast"})").rateLimited);
    EXPECT_TRUE(read(RobotKind::Feishu, 200, R"({"code":0,"msg":"success","data":{}})").ok);
    EXPECT_TRUE(read(RobotKind::Feishu, 200, R"({"StatusCode":0,"StatusMessage":"success"})").ok);
    EXPECT_FALSE(read(RobotKind::Feishu, 200, R"({"code":19021,"msg":"sign match fail"})").ok);
    EXPECT_TRUE(read(RobotKind::Feishu, 200, R"({"code":11232,"msg":"frequency limited"})").rateLimited);
    EXPECT_FALSE(read(RobotKind::WeCom, 200, "<html>not json</html>").ok);
    EXPECT_FALSE(read(RobotKind::WeCom, 500, R"({"errcode":0})").ok);
    EXPECT_TRUE(read(RobotKind::Webhook, 204, "").ok);
    EXPECT_TRUE(read(RobotKind::Webhook, 429, "").rateLimited);
    auto none = ReadRobotAnswer(RobotKind::WeCom, PlainReply{0, {}, "无法连接服务器（Connection refused）"});
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.summary, "无法连接服务器（Connection refused）");
    EXPECT_EQ(ReadRobotAnswer(RobotKind::WeCom, PlainReply{0, {}, {}}).summary, "无应答");
    EXPECT_EQ(read(RobotKind::WeCom, 500, "oops").summary, "服务器答复 HTTP 500（oops）");
    EXPECT_EQ(refused.summary.rfind("机器人拒绝（", 0), 0u);
}

TEST(RobotKindText, KnownNamesOnly) {
    EXPECT_EQ(ParseRobotKind(" WeCom "), RobotKind::WeCom);
    EXPECT_EQ(ParseRobotKind(""), RobotKind::None);
    EXPECT_EQ(ParseRobotKind("feishu"), RobotKind::Feishu);
    EXPECT_EQ(ParseRobotKind("slack"), std::nullopt);
}

}  // namespace
}  // namespace tandrel
