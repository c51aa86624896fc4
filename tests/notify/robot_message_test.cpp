#include "notify/robot_message.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

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

    // A note before the first message ("另有 N 个新团未发送") takes its room from that message, so its last
    // group is not cut off in the service's budget: a note one byte longer than the room left without it.
    const std::vector<RobotItem> items(groups.begin(), groups.end());
    const std::size_t budget = MessageByteBudget(RobotKind::WeCom);
    const auto plain = SplitIntoMessages(RobotKind::WeCom, items);
    const std::string note(budget - MessageText(plain.front()).size() - 1, 'x');
    const auto withNote = SplitIntoMessages(RobotKind::WeCom, items, note.size() + 2);
    ASSERT_LT(withNote.front().size(), plain.front().size());
    const std::string sent = Json::parse(BuildMessageRequest(RobotKind::WeCom, "http://127.0.0.1:9/send", "",
                                                             withNote.front(), system_clock::now(), note)
                                             .body)["text"]["content"];
    EXPECT_EQ(sent, note + "\n\n" + MessageText(withNote.front()));
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

// The form body as the service decodes it.
std::map<std::string, std::string> FormFields(const std::string& body) {
    const auto decode = [](std::string_view text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size()) {
                out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
                i += 2;
            } else {
                out += text[i] == '+' ? ' ' : text[i];
            }
        }
        return out;
    };
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string_view pair(body.data() + start, end - start);
        const std::size_t eq = pair.find('=');
        if (eq != std::string_view::npos) fields[decode(pair.substr(0, eq))] = decode(pair.substr(eq + 1));
        start = end + 1;
    }
    return fields;
}

std::size_t Characters(const std::string& utf8) {
    std::size_t n = 0;
    for (const char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

TEST(PersonalChannels, PushPlusPostsTheTokenATitleAndPlainText) {
    const auto now = system_clock::time_point(milliseconds(1733700000000));
    const std::vector<RobotItem> items{Group("111"), WatchNotice{"店铺已掉线：小满的店", "请重新登录店铺"}};
    const auto request = BuildMessageRequest(RobotKind::PushPlus, "", "tok\"en", items, now);
    EXPECT_EQ(request.url, "https://www.pushplus.plus/send");
    EXPECT_EQ(request.contentType, "application/json; charset=utf-8");
    const Json body = Json::parse(request.body);
    EXPECT_EQ(body["token"], "tok\"en");
    EXPECT_EQ(body["template"], "txt");  // plain text: a name is never read as HTML
    EXPECT_EQ(body["title"], "有1个开团订单，另有1条提醒");
    const std::string content = body["content"];
    EXPECT_NE(content.find("商品ID：111"), std::string::npos);
    EXPECT_NE(content.find("【提醒】店铺已掉线：小满的店\n请重新登录店铺"), std::string::npos) << content;
    // An address given is used as given (a gateway of the merchant's own).
    EXPECT_EQ(BuildMessageRequest(RobotKind::PushPlus, "http://127.0.0.1:9/pp", "t", items, now).url,
              "http://127.0.0.1:9/pp");
}

TEST(PersonalChannels, ServerChanPostsAShortTitleAndEscapedMarkdown) {
    const auto now = system_clock::time_point(milliseconds(1733700000000));
    ReportedGroup g = Group("222");
    g.nickname = Utf8ToGbk("[点我](http://evil.example) # **大**");
    std::vector<RobotItem> items;
    for (int i = 0; i < 3; ++i)
        items.push_back(
            WatchNotice{"每日汇总：今天共有十二个开团订单，三个店铺正常，一个店铺掉线需要登录", "x"});
    items.push_back(g);
    const auto request = BuildMessageRequest(RobotKind::ServerChan, "", "SCT2841TqVLN4", items, now);
    EXPECT_EQ(request.url, "https://sctapi.ftqq.com/SCT2841TqVLN4.send");
    EXPECT_EQ(request.contentType, "application/x-www-form-urlencoded");
    const auto fields = FormFields(request.body);
    ASSERT_EQ(fields.count("title"), 1u);
    ASSERT_EQ(fields.count("desp"), 1u);
    EXPECT_LE(Characters(fields.at("title")), 32u);
    EXPECT_EQ(fields.at("title"), "有1个开团订单，另有3条提醒");
    const std::string desp = fields.at("desp");
    // Nothing the buyer wrote becomes a link, a heading or bold type.
    EXPECT_NE(desp.find("\\[点我\\]\\(http\\:\\/\\/evil\\.example\\) \\# \\*\\*大\\*\\*"), std::string::npos)
        << desp;
    EXPECT_NE(desp.find("商品ID：222  \n"), std::string::npos) << desp;  // every line stays a line

    // A title of one long notice is cut to the service's 32 characters.
    const auto one = FormFields(BuildMessageRequest(RobotKind::ServerChan, "", "SCTk", {items[0]}, now).body);
    EXPECT_EQ(Characters(one.at("title")), 32u);
    EXPECT_EQ(one.at("title").rfind("每日汇总：", 0), 0u);
}

TEST(PersonalChannels, AServerChanKeyMakesItsAddressAndNothingElse) {
    EXPECT_EQ(RobotAddress(RobotKind::ServerChan, "", "SCT123abc"), "https://sctapi.ftqq.com/SCT123abc.send");
    EXPECT_EQ(RobotAddress(RobotKind::ServerChan, "", "sctp1234tAbCd"),
              "https://1234.push.ft07.com/send/sctp1234tAbCd.send");
    EXPECT_EQ(RobotAddress(RobotKind::ServerChan, "", "sctpXt1"), "https://sctapi.ftqq.com/sctpXt1.send");
    EXPECT_EQ(RobotAddress(RobotKind::ServerChan, "https://my.gateway/x", "k"), "https://my.gateway/x");
    // A key that would change the address it goes into is refused, not sent.
    for (const char* key : {"a/../b", "k@evil.example", "k?x=1", "k#", "k ey", "sctp1.evil.example/t"}) {
        EXPECT_EQ(RobotAddress(RobotKind::ServerChan, "", key), "") << key;
        EXPECT_FALSE(RobotSettingProblem(RobotKind::ServerChan, "", key).empty()) << key;
    }
    EXPECT_FALSE(RobotSettingProblem(RobotKind::PushPlus, "", "").empty());  // the token names the receiver
    EXPECT_TRUE(RobotSettingProblem(RobotKind::PushPlus, "", "t").empty());
    EXPECT_FALSE(RobotSettingProblem(RobotKind::WeCom, "", "").empty());
    EXPECT_TRUE(RobotSettingProblem(RobotKind::None, "", "").empty());
}

// Answers as the services write them, and as they may: members in any order, escaped, with members added,
// quoted numbers, or a page that is no answer at all.
TEST(PersonalChannels, AnswersAreReadByTheirCodeWhateverElseTheyHold) {
    const auto read = [](RobotKind kind, std::string body, int status = 200) {
        return ReadRobotAnswer(kind, PlainReply{status, std::move(body), {}});
    };
    for (const char* ok :
         {R"({"code":200,"msg":"请求成功","data":"abc"})",
          R"({"data":"abc","msg":"\u8bf7\u6c42\u6210\u529f","code":200})",
          R"( { "count" : null , "code" : 200 , "extra" : {"code":1} } )", R"({"code":"200"})"})
        EXPECT_TRUE(read(RobotKind::PushPlus, ok).ok) << ok;
    auto refused =
        read(RobotKind::PushPlus, R"({"msg":"\u7528\u6237\u8d26\u53f7\u4f7f\u7528\u53d7\u9650","code":900})");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.summary.rfind("机器人拒绝：账号使用受限", 0), 0u) << refused.summary;
    EXPECT_FALSE(
        read(RobotKind::PushPlus, R"({"code":0})").ok);  // another service's success is not this one's

    for (const char* ok :
         {R"({"code":0,"message":"","data":{"pushid":"1","errno":0}})",
          R"({"data":{"error":"SUCCESS","errno":0},"message":"","code":0,"traceId":"t\/1"})"})
        EXPECT_TRUE(read(RobotKind::ServerChan, ok).ok) << ok;
    const auto bad = read(RobotKind::ServerChan, R"({"code":40001,"message":"bad pushtoken"})");
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.summary.find("bad pushtoken"), std::string::npos);
    EXPECT_FALSE(read(RobotKind::ServerChan, R"({"code":200})").ok);

    for (RobotKind kind : {RobotKind::PushPlus, RobotKind::ServerChan}) {
        for (const char* junk : {"", "<html><body>{\"code\":0} 502 Bad Gateway</body></html>", "{\"code\":",
                                 "[0]", "{\"code\":0.0}", "{\"code\":true}", "\xff\xfe{\"code\":200}"}) {
            const auto a = read(kind, junk);
            EXPECT_FALSE(a.ok) << junk;
            EXPECT_EQ(a.summary.rfind("机器人应答无法识别", 0), 0u) << a.summary;
        }
        EXPECT_FALSE(read(kind, R"({"code":0,"code":200})", 502).ok);
        EXPECT_TRUE(read(kind, "", 429).rateLimited);
    }
}

// The kinds are one table: every kind named once, every name read back, the dialog's captions and the
// settings' error text from the same place.
TEST(RobotKindTable, EveryKindIsOneEntry) {
    std::set<std::string_view> names;
    for (const RobotKindInfo& info : RobotKinds()) {
        EXPECT_TRUE(names.insert(info.name).second) << info.name;
        EXPECT_EQ(ParseRobotKind(info.name), info.kind);
        EXPECT_EQ(&KindInfo(info.kind), &info);
        EXPECT_FALSE(info.caption.empty());
        if (info.kind == RobotKind::None) continue;
        EXPECT_NE(RobotKindNames().find(info.name), std::string::npos);
        EXPECT_GT(info.byteBudget, 0u);
        EXPECT_GT(info.perMinute, 0);
        EXPECT_NE(info.build, nullptr);
        EXPECT_NE(info.read, nullptr);
    }
    EXPECT_EQ(names.size(), 7u);
    EXPECT_EQ(ParseRobotKind(" PushPlus "), RobotKind::PushPlus);
    EXPECT_EQ(ParseRobotKind("ServerChan"), RobotKind::ServerChan);
}

TEST(RobotKindText, KnownNamesOnly) {
    EXPECT_EQ(ParseRobotKind(" WeCom "), RobotKind::WeCom);
    EXPECT_EQ(ParseRobotKind(""), RobotKind::None);
    EXPECT_EQ(ParseRobotKind("feishu"), RobotKind::Feishu);
    EXPECT_EQ(ParseRobotKind("slack"), std::nullopt);
}

}  // namespace
}  // namespace tandrel
