#include "notify/robot_poster.h"

#include <gtest/gtest.h>

#include <mutex>
#include <nlohmann/json.hpp>

#include "sim/marketplace_sim.h"
#include "sim/robot_sim.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using sim::RobotFault;
using sim::RobotSim;
using sim::RobotStyle;

ReportedGroup Group(int n) {
    ReportedGroup g;
    g.time = std::chrono::system_clock::now();
    g.storeId = "100";
    g.storeName = "store";
    g.goodsId = std::to_string(n);
    g.nickname = "nick";
    g.groupOrderId = "g" + std::to_string(n);
    g.remainingHours = "5";
    g.orderSn = "sn" + std::to_string(n);
    return g;
}

// Collects the poster's failure lines and its outcomes.
struct Watch {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::vector<std::pair<bool, std::size_t>> posts;
    RobotPoster::FailureReport Lines() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    RobotPoster::PostObserver Posts() {
        return [this](bool ok, std::size_t n) {
            std::lock_guard lock(mutex);
            posts.emplace_back(ok, n);
        };
    }
    std::size_t LineCount() {
        std::lock_guard lock(mutex);
        return lines.size();
    }
    bool WaitPosts(std::size_t n, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard lock(mutex);
                if (posts.size() >= n) return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
};

RobotPosterOptions Fast() {
    RobotPosterOptions o;
    o.batchWindow = 150ms;
    o.retryDelay = 300ms;
    o.timeoutSeconds = 2;
    return o;
}

int CountGoods(const std::string& content) {
    int n = 0;
    for (std::size_t at = content.find("商品ID："); at != std::string::npos;
         at = content.find("商品ID：", at + 1))
        ++n;
    return n;
}

TEST(RobotPoster, EachKindSendsItsExactRequest) {
    struct Case {
        RobotKind kind;
        RobotStyle style;
        std::string path, secret;
    };
    for (const Case& c :
         {Case{RobotKind::WeCom, RobotStyle::ErrCode, "/cgi-bin/webhook/send?key=abc", ""},
          Case{RobotKind::DingTalk, RobotStyle::ErrCode, "/robot/send?access_token=t1", "SECx"},
          Case{RobotKind::Feishu, RobotStyle::FeishuCode, "/open-apis/bot/v2/hook/h1", "s3"},
          Case{RobotKind::Webhook, RobotStyle::PlainOk, "/mine", ""}}) {
        SCOPED_TRACE(std::string(RobotKindName(c.kind)));
        RobotSim robot(c.style);
        Watch watch;
        {
            RobotPoster poster({c.kind, robot.baseUrl() + c.path, c.secret}, Fast(), watch.Lines(),
                               watch.Posts());
            poster.Post(Group(1));
            ASSERT_TRUE(watch.WaitPosts(1, 5s));
        }
        const auto requests = robot.Requests();
        ASSERT_EQ(requests.size(), 1u);
        const auto& r = requests[0];
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.contentType, "application/json; charset=utf-8");
        EXPECT_EQ(r.rawHead.find("Cookie"), std::string::npos);
        const Json body = Json::parse(r.body);
        switch (c.kind) {
            case RobotKind::WeCom:
                EXPECT_EQ(r.target, c.path);
                EXPECT_EQ(body["msgtype"], "text");
                EXPECT_EQ(CountGoods(body["text"]["content"]), 1);
                break;
            case RobotKind::DingTalk:
                EXPECT_EQ(r.target.rfind(c.path + "&timestamp=", 0), 0u);
                EXPECT_NE(r.target.find("&sign="), std::string::npos);
                EXPECT_EQ(body["msgtype"], "text");
                break;
            case RobotKind::Feishu: {
                EXPECT_EQ(r.target, c.path);
                const std::string ts = body["timestamp"];
                EXPECT_EQ(body["sign"], FeishuSign("s3", std::stoll(ts)));
                EXPECT_EQ(body["msg_type"], "text");
                EXPECT_EQ(CountGoods(body["content"]["text"]), 1);
                break;
            }
            default:
                EXPECT_EQ(body["groups"][0]["goodsId"], "1");
                break;
        }
        EXPECT_EQ(watch.LineCount(), 0u);
    }
}

TEST(RobotPoster, ABurstGoesOutAsOneMessage) {
    RobotSim robot(RobotStyle::ErrCode);
    Watch watch;
    RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send?key=k", ""}, Fast(), watch.Lines(),
                       watch.Posts());
    for (int i = 0; i < 5; ++i)
        poster.Post(Group(i));
    ASSERT_TRUE(watch.WaitPosts(1, 5s));
    std::this_thread::sleep_for(400ms);
    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(CountGoods(Json::parse(requests[0].body)["text"]["content"]), 5);
}

TEST(RobotPoster, TheRateLimitIsKeptByBatchingNeverByDropping) {
    RobotSim robot(RobotStyle::ErrCode);
    robot.SetRateLimit(2, 1200ms);  // the robot refuses what the poster must never send
    Watch watch;
    RobotPosterOptions o = Fast();
    o.batchWindow = 50ms;
    o.messagesPerWindow = 2;
    o.rateWindow = 1300ms;
    RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send?key=k", ""}, o, watch.Lines(),
                       watch.Posts());
    // Four bursts spaced wider than the batch window: two go out at once, the rest wait and travel together.
    for (int i = 0; i < 8; ++i) {
        poster.Post(Group(i));
        if (i % 2 == 1) std::this_thread::sleep_for(200ms);
    }
    ASSERT_TRUE(robot.WaitForRequests(3, 5s));
    ASSERT_TRUE(watch.WaitPosts(3, 5s));
    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), 3u);
    int groups = 0;
    for (const auto& r : requests)
        groups += CountGoods(Json::parse(r.body)["text"]["content"]);
    EXPECT_EQ(groups, 8);
    EXPECT_GE(requests[2].at - requests[0].at, 1200ms);
    EXPECT_EQ(watch.LineCount(), 0u);  // no refusal: the limit was never hit
}

TEST(RobotPoster, AFailingRobotKeepsTheGroupsAndRetriesThemWithGrowingWaitsUntilTheyGo) {
    RobotSim robot(RobotStyle::ErrCode);
    robot.SetFault(RobotFault::RefuseInBody);
    Watch watch;
    RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send?key=bad", ""}, Fast(), watch.Lines(),
                       watch.Posts());
    poster.Post(Group(1));
    ASSERT_TRUE(watch.WaitPosts(1, 5s));
    poster.Post(Group(2));  // waits for the retry rather than hurrying it; fails with group 1
    ASSERT_TRUE(watch.WaitPosts(2, 5s));
    poster.Post(Group(3));
    ASSERT_TRUE(watch.WaitPosts(3, 5s));  // the third failure in a row
    robot.SetFault(RobotFault::None);
    ASSERT_TRUE(watch.WaitPosts(4, 10s));  // the kept groups go once the robot answers again

    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), 4u);
    const auto goods = [&](int i) { return std::string(Json::parse(requests[i].body)["text"]["content"]); };
    EXPECT_EQ(CountGoods(goods(0)), 1);
    EXPECT_EQ(CountGoods(goods(1)), 2);
    EXPECT_EQ(CountGoods(goods(2)), 3);
    EXPECT_EQ(CountGoods(goods(3)), 3);  // nothing was dropped after its second try
    EXPECT_TRUE(watch.posts[3].first);
    // Each wait is twice the one before: 300 ms, 600 ms, 1200 ms.
    EXPECT_GE(requests[1].at - requests[0].at, 290ms);
    EXPECT_GE(requests[2].at - requests[1].at, 590ms);
    EXPECT_GE(requests[3].at - requests[2].at, 1190ms);
    std::lock_guard lock(watch.mutex);
    ASSERT_EQ(watch.lines.size(), 2u);  // one line for the failure burst, one when the groups went
    EXPECT_EQ(watch.lines[0].rfind("机器人消息发送失败：机器人拒绝（", 0), 0u) << watch.lines[0];
    EXPECT_NE(watch.lines[0].find("invalid webhook url"), std::string::npos);
    EXPECT_NE(watch.lines[0].find("1个团已保留，稍后重发"), std::string::npos) << watch.lines[0];
    EXPECT_EQ(watch.lines[1], "机器人消息已补发：3个团已送达");
}

TEST(RobotPoster, TheKeptGroupsAreBounded) {
    Watch watch;
    RobotPosterOptions o = Fast();
    o.retryDelay = 1h;  // nothing goes out during the test once the first post failed
    o.messagesPerWindow = 100000;
    RobotPoster poster({RobotKind::WeCom, sim::MarketplaceSim::RefusedBaseUrl() + "/send", ""}, o,
                       watch.Lines(), watch.Posts());
    poster.Post(Group(0));
    ASSERT_TRUE(watch.WaitPosts(1, 5s));
    for (int i = 1; i < static_cast<int>(RobotPoster::kMaxKept) + 50; ++i)
        poster.Post(Group(i));
    // A store that goes offline meanwhile is told all the same: a notice never gives way to groups.
    poster.PostNotice({"店铺已掉线：小满的店", "请重新登录店铺"});
    RobotSim robot(RobotStyle::ErrCode);
    poster.SetTarget({RobotKind::WeCom, robot.baseUrl() + "/send", ""});
    poster.Drain(5s);
    int total = 0;
    std::string texts;
    for (const auto& r : robot.Requests()) {
        const std::string content = Json::parse(r.body)["text"]["content"];
        total += CountGoods(content);
        texts += content;
    }
    EXPECT_EQ(total, static_cast<int>(RobotPoster::kMaxKept));
    // What did not fit is not kept but counted, and the merchant is told in the message.
    EXPECT_NE(texts.find("另有 50 个新团未发送"), std::string::npos);
    EXPECT_NE(texts.find("店铺已掉线：小满的店"), std::string::npos);
}

TEST(RobotPoster, AFailedBatchIsRetriedOnItsOwnWhenNothingElseComes) {
    RobotSim robot(RobotStyle::FeishuStatusCode);
    robot.SetFault(RobotFault::Status500);
    Watch watch;
    RobotPoster poster({RobotKind::Feishu, robot.baseUrl() + "/hook/x", ""}, Fast(), watch.Lines(),
                       watch.Posts());
    poster.Post(Group(1));
    ASSERT_TRUE(watch.WaitPosts(1, 5s));
    robot.SetFault(RobotFault::None);
    ASSERT_TRUE(watch.WaitPosts(2, 5s));
    EXPECT_TRUE(watch.posts[1].first);
    ASSERT_EQ(watch.LineCount(), 2u);
    EXPECT_NE(watch.lines[0].find("服务器答复 HTTP 500"), std::string::npos) << watch.lines[0];
    EXPECT_EQ(watch.lines[1], "机器人消息已补发：1个团已送达");
}

TEST(RobotPoster, UnreachableOrSlowRobotsNeverHoldUpTheCaller) {
    Watch watch;
    {
        RobotPoster poster({RobotKind::DingTalk, sim::MarketplaceSim::RefusedBaseUrl() + "/robot/send", "s"},
                           Fast(), watch.Lines(), watch.Posts());
        for (int i = 0; i < 3; ++i) {
            const auto start = std::chrono::steady_clock::now();
            poster.Post(Group(i));
            EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
            ASSERT_TRUE(watch.WaitPosts(static_cast<std::size_t>(i + 1), 5s));
        }
    }
    EXPECT_EQ(watch.LineCount(), 1u);

    RobotSim slow(RobotStyle::ErrCode);
    slow.SetFault(RobotFault::Stall);
    slow.SetStallSeconds(30);
    Watch stalled;
    const auto start = std::chrono::steady_clock::now();
    {
        RobotPoster poster({RobotKind::WeCom, slow.baseUrl() + "/send", ""}, Fast(), stalled.Lines(),
                           stalled.Posts());
        poster.Post(Group(1));
        ASSERT_TRUE(slow.WaitForRequests(1, 5s));
    }  // the destructor abandons the stalled post
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(RobotPoster, ARobotThatSaysTooManyKeepsTheGroupsForLater) {
    RobotSim robot(RobotStyle::ErrCode);
    robot.SetRateLimit(1, 800ms);  // someone else uses the same robot
    Watch watch;
    RobotPosterOptions o = Fast();
    o.rateWindow = 900ms;
    RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send", ""}, o, watch.Lines(), watch.Posts());
    poster.Post(Group(1));
    ASSERT_TRUE(watch.WaitPosts(1, 5s));
    poster.Post(Group(2));
    ASSERT_TRUE(watch.WaitPosts(2, 5s));  // refused: too many
    poster.Post(Group(3));
    ASSERT_TRUE(watch.WaitPosts(3, 5s));  // after the hold-off, 2 and 3 together
    EXPECT_FALSE(watch.posts[1].first);
    EXPECT_TRUE(watch.posts[2].first);
    EXPECT_EQ(watch.posts[2].second, 2u);
}

// A robot that keeps refusing must not make the queue grow without end: past the bound, groups are counted.
TEST(RobotPoster, PastTheBoundGroupsAreCountedIntoOneLine) {
    RobotSim robot(RobotStyle::PlainOk);
    Watch watch;
    RobotPosterOptions o = Fast();
    o.batchWindow = 30s;  // everything waits, as it would behind a refusing robot
    o.messagesPerWindow = 100;
    RobotPoster poster({RobotKind::Webhook, robot.baseUrl() + "/hook", ""}, o, watch.Lines(), watch.Posts());
    for (int i = 0; i < 1500; ++i)
        poster.Post(Group(i));
    poster.Drain(10s);
    std::size_t groups = 0;
    std::string texts;
    for (const auto& r : robot.Requests()) {
        const Json body = Json::parse(r.body);
        groups += body["groups"].size();
        texts += body["text"].get<std::string>();
    }
    EXPECT_EQ(groups, 1000u);
    EXPECT_NE(texts.find("另有 500 个新团未发送"), std::string::npos);
}

TEST(RobotPoster, AnOrderlyEndSendsWhatIsWaitingAtOnce) {
    RobotSim robot(RobotStyle::FeishuCode);
    Watch watch;
    RobotPosterOptions o = Fast();
    o.batchWindow = 30s;
    RobotPoster poster({RobotKind::Feishu, robot.baseUrl() + "/hook", ""}, o, watch.Lines(), watch.Posts());
    for (int i = 0; i < 3; ++i)
        poster.Post(Group(i));
    const auto start = std::chrono::steady_clock::now();
    poster.Drain(5s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(CountGoods(Json::parse(requests[0].body)["content"]["text"]), 3);
}

}  // namespace
}  // namespace tandrel
