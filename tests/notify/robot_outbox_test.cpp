#include "notify/robot_outbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "../common/temp_dir.h"
#include "notify/robot_poster.h"
#include "sim/robot_sim.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using sim::RobotFault;
using sim::RobotSim;
using sim::RobotStyle;

ReportedGroup Group(int n) {
    ReportedGroup g;
    g.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1733700000000 + n));
    g.storeId = "100";
    g.storeName = Utf8ToGbk("小满的店");
    g.goodsId = std::to_string(n);
    g.nickname = Utf8ToGbk("开团\"人\"");
    g.groupOrderId = "g" + std::to_string(n);
    g.remainingHours = "5";
    g.orderSn = "sn" + std::to_string(n);
    return g;
}

struct Lines {
    std::mutex mutex;
    std::vector<std::string> lines;
    RobotPoster::FailureReport Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    std::string All() {
        std::lock_guard lock(mutex);
        std::string all;
        for (const auto& l : lines)
            all += l + "\n";
        return all;
    }
};

RobotPosterOptions Options(const std::filesystem::path& outbox) {
    RobotPosterOptions o;
    o.batchWindow = 100ms;
    o.retryDelay = 1h;  // one try per run: what failed waits for the next
    o.timeoutSeconds = 2;
    o.outboxFile = outbox;
    return o;
}

int CountGoods(const std::string& text) {
    int n = 0;
    for (std::size_t at = text.find("商品ID："); at != std::string::npos; at = text.find("商品ID：", at + 1))
        ++n;
    return n;
}

std::string Read(const std::filesystem::path& path) {
    std::string text;
    ReadWholeFile(path, text, 64 << 20);
    return text;
}

TEST(RobotOutbox, TheTextReadsBackAsItWasWritten) {
    OutboxContent content;
    content.unsent = 7;
    content.entries.push_back({Group(1), 2});
    content.entries.push_back({WatchNotice{"店铺已掉线：小满", "第一行\n第二行"}, 0});
    OutboxContent back;
    std::size_t skipped = 0;
    ASSERT_TRUE(ReadOutboxText(OutboxText(content), back, skipped));
    EXPECT_EQ(skipped, 0u);
    EXPECT_EQ(back.unsent, 7u);
    ASSERT_EQ(back.entries.size(), 2u);
    const auto& g = std::get<ReportedGroup>(back.entries[0].item);
    EXPECT_EQ(g.storeName, Utf8ToGbk("小满的店"));
    EXPECT_EQ(g.nickname, Utf8ToGbk("开团\"人\""));
    EXPECT_EQ(g.orderSn, "sn1");
    EXPECT_EQ(g.time, Group(1).time);
    EXPECT_EQ(back.entries[0].failures, 2);
    EXPECT_EQ(std::get<WatchNotice>(back.entries[1].item).text, "第一行\n第二行");
}

// What did not go in one run goes in the next, once, and the file is gone once it has.
TEST(RobotOutbox, ARobotDownForAWholeRunGetsTheGroupsFromTheNextRunOnce) {
    testing::TempDir dir;
    const auto outbox = dir / "outbox" / "robot1.json";
    RobotSim robot(RobotStyle::ErrCode);
    robot.SetFault(RobotFault::Status500);
    Lines first;
    {
        RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send", ""}, Options(outbox), first.Sink());
        poster.Post(Group(1));
        poster.Post(Group(2));
        ASSERT_TRUE(robot.WaitForRequests(1, 5s));
        poster.PostNotice({"店铺已掉线：小满的店", "请登录"});  // arrives while the robot fails
        const auto start = std::chrono::steady_clock::now();
        poster.Drain(2s);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    }
    EXPECT_NE(first.All().find("2个团和1条提醒已保留，下次运行时补发"), std::string::npos) << first.All();
    ASSERT_TRUE(std::filesystem::exists(outbox));
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(outbox).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::filesystem::status(outbox.parent_path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
#endif

    robot.SetFault(RobotFault::None);
    const std::size_t before = robot.Requests().size();
    Lines second;
    {
        RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send", ""}, Options(outbox), second.Sink());
        EXPECT_EQ(poster.CarriedOrderNumbers(), (std::unordered_set<std::string>{"sn1", "sn2"}));
        ASSERT_TRUE(robot.WaitForRequests(before + 1, 5s));
        poster.Drain(2s);
    }
    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), before + 1);  // once, not again at the end
    const std::string text = Json::parse(requests.back().body)["text"]["content"];
    EXPECT_EQ(CountGoods(text), 2);
    EXPECT_NE(text.find("【提醒】店铺已掉线：小满的店"), std::string::npos);
    EXPECT_NE(second.All().find("机器人消息已补发：2个团已送达"), std::string::npos) << second.All();
    EXPECT_FALSE(std::filesystem::exists(outbox));

    // A third run has nothing to send.
    { RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send", ""}, Options(outbox), {}); }
    EXPECT_EQ(robot.Requests().size(), before + 1);
}

// A post that would take longer than the end allows is abandoned at the deadline, and what it carried kept.
TEST(RobotOutbox, TheEndWaitsNoLongerThanItsDeadlineForAStalledRobot) {
    testing::TempDir dir;
    const auto outbox = dir / "outbox" / "robot1.json";
    RobotSim robot(RobotStyle::ErrCode);
    robot.SetFault(RobotFault::Stall);
    robot.SetStallSeconds(30);
    Lines lines;
    RobotPosterOptions o = Options(outbox);
    o.timeoutSeconds = 15;
    {
        RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send", ""}, o, lines.Sink());
        poster.Post(Group(1));
        ASSERT_TRUE(robot.WaitForRequests(1, 5s));
        const auto start = std::chrono::steady_clock::now();
        poster.Drain(1s);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1600ms);
    }
    EXPECT_NE(lines.All().find("机器人消息未能在退出前送达：1个团已存入待发文件"), std::string::npos)
        << lines.All();
    OutboxContent content;
    std::size_t skipped = 0;
    ASSERT_TRUE(ReadOutboxText(Read(outbox), content, skipped));
    ASSERT_EQ(content.entries.size(), 1u);
    EXPECT_EQ(std::get<ReportedGroup>(content.entries[0].item).orderSn, "sn1");
}

// A robot switched off in the dialog while a post is under way: the outbox file ends up holding exactly what
// was not delivered, and switching the robot on again sends that, once.
TEST(RobotOutbox, ARobotSwitchedOffDuringAPostLeavesTheFileTrue) {
    for (const bool postFails : {true, false}) {
        SCOPED_TRACE(postFails ? "the post fails" : "the post goes");
        testing::TempDir dir;
        const auto outbox = dir / "outbox" / "robot1.json";
        ASSERT_TRUE(MakePrivateFolders(outbox.parent_path()));
        OutboxContent waiting;
        for (int i = 1; i <= 3; ++i)
            waiting.entries.push_back({Group(i), 1});
        ASSERT_TRUE(SaveOutbox(outbox, waiting));
        RobotSim robot(RobotStyle::ErrCode);
        robot.SetFault(RobotFault::Stall);
        robot.SetStallSeconds(postFails ? 3 : 1);
        RobotPosterOptions o = Options(outbox);
        o.timeoutSeconds = postFails ? 1 : 5;
        o.retryDelay = 200ms;
        std::atomic<int> posts{0};
        Lines lines;
        const RobotTarget on{RobotKind::WeCom, robot.baseUrl() + "/send", ""};
        {
            RobotPoster poster(on, o, lines.Sink(), [&posts](bool, std::size_t) { ++posts; });
            ASSERT_TRUE(robot.WaitForRequests(1, 5s));
            poster.SetTarget({});
            for (int i = 0; i < 500 && posts == 0; ++i)
                std::this_thread::sleep_for(10ms);
            ASSERT_EQ(posts, 1);
            std::this_thread::sleep_for(300ms);
            EXPECT_EQ(std::filesystem::exists(outbox), postFails);
            robot.SetFault(RobotFault::None);
            poster.SetTarget(on);
            if (postFails) {
                ASSERT_TRUE(robot.WaitForRequests(2, 5s));
            }
            std::this_thread::sleep_for(500ms);  // five batch windows: anything else would have gone
            poster.Drain(2s);
        }
        const auto requests = robot.Requests();
        ASSERT_EQ(requests.size(), postFails ? 2u : 1u);
        if (postFails) {
            EXPECT_EQ(CountGoods(Json::parse(requests[1].body)["text"]["content"]), 3);
        }
        EXPECT_FALSE(std::filesystem::exists(outbox)) << Read(outbox);
    }
}

// A damaged, cut or huge file says so in a line, is set aside whole, and the robot works on.
TEST(RobotOutbox, ADamagedCutOrHugeFileIsSetAsideWithALine) {
    OutboxContent good;
    for (int i = 0; i < 3; ++i)
        good.entries.push_back({Group(i), 1});
    const std::string text = OutboxText(good);
    struct Case {
        std::string name, bytes, said;
    };
    const std::vector<Case> cases{
        {"garbage", std::string("\0\xff{{{not json", 13), "文件已损坏"},
        {"cut", text.substr(0, text.size() / 2), "文件已损坏"},
        {"not ours", R"({"entries":[]})", "文件已损坏"},
        {"huge", std::string(kOutboxMaxBytes + 10, ' '), "文件过大"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        const auto outbox = dir / "outbox" / "robot1.json";
        ASSERT_TRUE(MakePrivateFolders(outbox.parent_path()));
        ASSERT_TRUE(WriteFileAtomically(outbox, c.bytes));
        RobotSim robot(RobotStyle::ErrCode);
        Lines lines;
        {
            RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send", ""}, Options(outbox),
                               lines.Sink());
            poster.Post(Group(9));
            ASSERT_TRUE(robot.WaitForRequests(1, 5s));
            poster.Drain(2s);
        }
        EXPECT_NE(lines.All().find(c.said), std::string::npos) << lines.All();
        EXPECT_NE(lines.All().find("robot1.json.bad"), std::string::npos) << lines.All();
        auto bad = outbox;
        bad += ".bad";
        EXPECT_EQ(Read(bad), c.bytes);  // nothing of it is lost
        ASSERT_EQ(robot.Requests().size(), 1u);
        EXPECT_EQ(CountGoods(Json::parse(robot.Requests()[0].body)["text"]["content"]), 1);
    }
}

TEST(RobotOutbox, WhatItHoldsIsBoundedAndBadEntriesAreSkipped) {
    Json entries = Json::array();
    for (int i = 0; i < 1500; ++i)
        entries.push_back({{"type", "group"},
                           {"time", 1733700000000 + i},
                           {"orderSn", "sn" + std::to_string(i)},
                           {"goodsId", std::to_string(i)}});
    entries.push_back({{"type", "group"}, {"orderSn", "no time"}});
    // Past what the system clock holds (it ends in 2262 where it counts nanoseconds), or before 1970.
    entries.push_back({{"type", "group"}, {"time", 17337000000200LL}, {"orderSn", "year 2519"}});
    entries.push_back({{"type", "group"}, {"time", -1}, {"orderSn", "before 1970"}});
    entries.push_back({{"type", "what"}});
    entries.push_back(42);
    entries.push_back({{"type", "notice"}, {"title", std::string(100000, 'x')}});
    OutboxContent content;
    std::size_t skipped = 0;
    ASSERT_TRUE(ReadOutboxText(Json{{"tandrelOutbox", 1}, {"unsent", 3}, {"entries", entries}}.dump(),
                               content, skipped));
    // The groups past the bound are counted; the notice is kept besides them, never counted as a group.
    EXPECT_EQ(content.entries.size(), kOutboxMaxEntries + 1);
    EXPECT_EQ(content.unsent, 3u + 500u);
    EXPECT_EQ(skipped, 5u);

    testing::TempDir dir;
    const auto outbox = dir / "outbox" / "robot1.json";
    ASSERT_TRUE(MakePrivateFolders(outbox.parent_path()));
    ASSERT_TRUE(WriteFileAtomically(outbox, Json{{"tandrelOutbox", 1}, {"entries", entries}}.dump()));
    RobotSim robot(RobotStyle::PlainOk);
    Lines lines;
    RobotPosterOptions o = Options(outbox);
    o.messagesPerWindow = 100;
    {
        RobotPoster poster({RobotKind::Webhook, robot.baseUrl() + "/hook", ""}, o, lines.Sink());
        poster.Drain(5s);
    }
    std::size_t groups = 0;
    std::string texts;
    for (const auto& r : robot.Requests()) {
        const Json body = Json::parse(r.body);
        groups += body["groups"].size();
        texts += body["text"].get<std::string>();
    }
    EXPECT_EQ(groups, 1000u);
    EXPECT_NE(texts.find("另有 500 个新团未发送"), std::string::npos);
    EXPECT_NE(texts.find("xxxxxxxx"), std::string::npos);
    EXPECT_NE(lines.All().find("有5条无法读取"), std::string::npos) << lines.All();
}

#ifndef _WIN32
// Someone who could write the folder plants a link where the file goes: it is neither read nor written
// through.
TEST(RobotOutbox, APlantedLinkIsNeverReadNorWrittenThrough) {
    testing::TempDir dir;
    const auto outbox = dir / "outbox" / "robot1.json";
    ASSERT_TRUE(MakePrivateFolders(outbox.parent_path()));
    OutboxContent planted;
    planted.entries.push_back({Group(66), 1});
    ASSERT_TRUE(WriteFileAtomically(dir / "elsewhere.json", OutboxText(planted)));
    std::filesystem::create_symlink(dir / "elsewhere.json", outbox);
    const std::string before = Read(dir / "elsewhere.json");

    RobotSim robot(RobotStyle::ErrCode);
    robot.SetFault(RobotFault::Status500);
    Lines lines;
    {
        RobotPoster poster({RobotKind::WeCom, robot.baseUrl() + "/send", ""}, Options(outbox), lines.Sink());
        EXPECT_TRUE(poster.CarriedOrderNumbers().empty());
        poster.Post(Group(1));
        ASSERT_TRUE(robot.WaitForRequests(1, 5s));
        poster.Drain(1s);
    }
    EXPECT_NE(lines.All().find("不是普通文件"), std::string::npos) << lines.All();
    EXPECT_EQ(Read(dir / "elsewhere.json"), before);
    EXPECT_FALSE(std::filesystem::is_symlink(outbox));
    EXPECT_EQ(std::filesystem::status(outbox).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    for (const auto& r : robot.Requests())
        EXPECT_EQ(r.body.find("商品ID：66"), std::string::npos);
}
#endif

}  // namespace
}  // namespace tandrel
