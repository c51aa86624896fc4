// What whoever is away from the desk hears about the stores: an offline store at once, a failing one after
// its minutes, a recovery once, each once per incident, also across a restart; and the daily summary.
#include "notify/store_notices.h"

#include <gtest/gtest.h>

#include <fstream>

#include "../common/temp_dir.h"
#include "support/files.h"
#include "support/local_time.h"
#include "support/text.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;
using Steady = StoreBook::Clock;

class StoreNoticesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        book_.Add(ListedStore("11", "a1", Utf8ToGbk("一号店"), "p", "c"));
        book_.Add(ListedStore("22", "a2", Utf8ToGbk("二号店"), "p", "c"));
    }
    std::unique_ptr<StoreNotices> Make() {
        return std::make_unique<StoreNotices>(
            dir_.path(), [this](const WatchNotice& n) { told_.push_back(n); },
            [this](const std::string& line) { lines_.push_back(line); },
            [](std::function<void()> work) { work(); }, [this] { return wall_; });
    }
    void Review(StoreNotices& notices, int minutes = 3) {
        notices.Review(book_.Snapshot(), book_.now(), minutes);
    }
    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        for (const WatchNotice& n : told_)
            titles.push_back(n.title);
        return titles;
    }

    testing::TempDir dir_;
    Steady::time_point now_ = Steady::time_point(1000h);
    std::chrono::system_clock::time_point wall_ = std::chrono::system_clock::now();
    StoreBook book_{[this] { return now_; }};
    std::vector<WatchNotice> told_;
    std::vector<std::string> lines_;
};

TEST_F(StoreNoticesTest, AnOfflineStoreIsToldAtOnceOnceAndItsRecoveryOnce) {
    auto notices = Make();
    Review(*notices);
    EXPECT_TRUE(told_.empty());

    book_.Offline("22", Utf8ToGbk("密码错误<at user_id=\"all\">\x1b[2J"));
    Review(*notices);
    ASSERT_EQ(told_.size(), 1u);
    EXPECT_EQ(told_[0].title, "店铺已掉线：二号店");
    const std::string& text = told_[0].text;
    EXPECT_NE(text.find("二号店（ID 22）"), std::string::npos) << text;
    EXPECT_NE(text.find("状态：已掉线"), std::string::npos) << text;
    EXPECT_NE(text.find("原因：密码错误"), std::string::npos) << text;
    EXPECT_NE(text.find("请重新登录店铺"), std::string::npos) << text;
    // What the back end said reaches a chat group as plain text: no mention, no terminal escape.
    EXPECT_EQ(text.find("<at"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;

    // The same incident says nothing more, however often it is looked at or fails on.
    for (int i = 0; i < 3; ++i) {
        now_ += 10min;
        book_.Failed("22", "x");
        Review(*notices);
    }
    EXPECT_EQ(told_.size(), 1u);

    WatchedStore again = *book_.Find("22");
    book_.LoggedIn(again);
    Review(*notices);
    Review(*notices);
    ASSERT_EQ(Titles(), (std::vector<std::string>{"店铺已掉线：二号店", "店铺已恢复正常：二号店"}));
    EXPECT_NE(told_[1].text.find("已恢复正常"), std::string::npos);
    EXPECT_NE(told_[1].text.find("此前：已掉线"), std::string::npos) << told_[1].text;

    // A new incident is told again.
    book_.Offline("22", "y");
    Review(*notices);
    EXPECT_EQ(told_.size(), 3u);
}

TEST_F(StoreNoticesTest, AFailingStoreIsToldOnlyAfterItsMinutesAndNotAtAllWithZero) {
    auto notices = Make();
    book_.Failed("11", Utf8ToGbk("无法连接服务器"));
    Review(*notices);
    now_ += 2min + 59s;
    book_.Failed("11", Utf8ToGbk("无法连接服务器"));
    Review(*notices);
    EXPECT_TRUE(told_.empty());
    now_ += 1s;
    Review(*notices);
    ASSERT_EQ(Titles(), (std::vector<std::string>{"店铺检查失败：一号店"}));
    EXPECT_NE(told_[0].text.find("检查失败，重试中"), std::string::npos) << told_[0].text;
    EXPECT_NE(told_[0].text.find("原因：无法连接服务器"), std::string::npos) << told_[0].text;
    ASSERT_EQ(lines_.size(), 1u);  // the log hears that it lasts
    now_ += 1h;
    Review(*notices);
    EXPECT_EQ(told_.size(), 1u);

    // Going offline during it needs the merchant: told, once.
    book_.Offline("11", "refused");
    Review(*notices);
    Review(*notices);
    EXPECT_EQ(Titles(), (std::vector<std::string>{"店铺检查失败：一号店", "店铺已掉线：一号店"}));

    // A failure shorter than the minutes, and any failure with 0 minutes, tells nobody, its end neither.
    book_.Failed("22", "t");
    Review(*notices);
    now_ += 1min;
    book_.ReadWell("22", "12:00:00");
    Review(*notices);
    book_.Failed("22", "t");
    now_ += 5h;
    Review(*notices, 0);
    book_.ReadWell("22", "12:00:00");
    Review(*notices, 0);
    EXPECT_EQ(told_.size(), 2u);
}

TEST_F(StoreNoticesTest, ARestartWithinTheIncidentDoesNotTellItAgain) {
    {
        auto notices = Make();
        book_.Offline("11", "refused");
        now_ += 1s;
        book_.Failed("22", "timeout");
        now_ += 3min;
        Review(*notices);
        ASSERT_EQ(told_.size(), 2u);
    }
#ifndef _WIN32
    EXPECT_EQ(
        std::filesystem::status(dir_ / StoreNotices::kFileName).permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
    // The next run lists the stores afresh and finds them as they were.
    StoreBook fresh([this] { return now_; });
    fresh.Replace({ListedStore("11", "a1", Utf8ToGbk("一号店"), "p", "c"),
                   ListedStore("22", "a2", Utf8ToGbk("二号店"), "p", "c")});
    auto notices = Make();
    fresh.Offline("11", "refused");
    fresh.Failed("22", "timeout");
    now_ += 10min;
    notices->Review(fresh.Snapshot(), fresh.now(), 3);
    EXPECT_EQ(told_.size(), 2u);
    // Its end is still told, once.
    fresh.ReadWell("22", "12:00:00");
    notices->Review(fresh.Snapshot(), fresh.now(), 3);
    notices->Review(fresh.Snapshot(), fresh.now(), 3);
    ASSERT_EQ(told_.size(), 3u);
    EXPECT_EQ(told_[2].title, "店铺已恢复正常：二号店");
}

TEST_F(StoreNoticesTest, ADamagedOrForeignFileIsSaidAndStartedAfresh) {
    for (const std::string& bytes :
         {std::string("{\"incidents\": [1, {\"store\": 5}, {\"told\": \"offline\"}"),
          std::string("\xff\xfe\x00garbage", 10), std::string("[]")}) {
        std::ofstream(dir_ / StoreNotices::kFileName, std::ios::binary) << bytes;
        told_.clear();
        lines_.clear();
        auto notices = Make();
        book_.Offline("11", "refused");
        Review(*notices);
        EXPECT_EQ(told_.size(), 1u);
        ASSERT_EQ(lines_.size(), 1u);
        EXPECT_EQ(lines_[0].rfind("提醒记录无法读取，已重新开始：", 0), 0u) << lines_[0];
        book_.ReadWell("11", "12:00:00");
        Review(*notices);
    }
    // Members of the wrong kind are skipped, the rest is kept.
    std::ofstream(dir_ / StoreNotices::kFileName, std::ios::binary)
        << R"({"incidents": [7, {"store": "11", "told": "offline", "offline": true, "since": "x"}], "events": 3})";
    told_.clear();
    lines_.clear();
    auto notices = Make();
    book_.Offline("11", "refused");
    Review(*notices);
    EXPECT_TRUE(told_.empty());
    EXPECT_TRUE(lines_.empty());
}

TEST_F(StoreNoticesTest, ARemovedStoreForgetsItsIncident) {
    auto notices = Make();
    book_.Offline("22", "refused");
    Review(*notices);
    book_.Remove("22");
    Review(*notices);
    // Added again and logged in: a new store, nothing recovered.
    book_.LoggedIn(ListedStore("22", "a2", Utf8ToGbk("二号店"), "p", "c2"));
    Review(*notices);
    EXPECT_EQ(Titles(), (std::vector<std::string>{"店铺已掉线：二号店"}));
}

// Local midnight of today plus hours.
std::chrono::system_clock::time_point TodayAt(int hour, int minute) {
    std::tm t = LocalTime(std::chrono::system_clock::now());
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = 0;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

ReportedGroup Group(const std::string& sn, const std::string& store, std::chrono::system_clock::time_point at,
                    bool old = false) {
    ReportedGroup g;
    g.time = at;
    g.storeId = store;
    g.storeName = Utf8ToGbk(store == "11" ? "一号店" : store == "22" ? "二号店" : "旧店");
    g.goodsId = "g";
    g.orderSn = sn;
    g.old = old;
    return g;
}

TEST_F(StoreNoticesTest, TheSummaryComesAtItsHourOnceADayWithTheDaysGroupsAndTroubles) {
    const auto at21 = TodayAt(21, 0);
    ASSERT_TRUE(HistoryFile(dir_.path())
                    .Append({Group("a", "11", at21 - 25h),       // the day before: left out
                             Group("b", "11", at21 - 23h),       //
                             Group("c", "11", at21 - 1h),        //
                             Group("d", "11", at21 - 1h, true),  // a rescan's old group: counted once above
                             Group("e", "33", at21 - 2h),        // a store removed since
                             Group("f", "22", at21 + 1min)}));   // after the hour: tomorrow's
    wall_ = at21 - 3h;
    auto notices = Make();
    book_.Offline("22", "refused");
    Review(*notices);
    told_.clear();

    wall_ = at21 - 1min;
    notices->ReviewSummary(21, true, book_.Snapshot());
    notices->Flush();
    EXPECT_TRUE(told_.empty());

    wall_ = at21 + 5min;
    notices->ReviewSummary(21, true, book_.Snapshot());
    notices->Flush();
    ASSERT_EQ(told_.size(), 1u);
    EXPECT_EQ(told_[0].title.rfind("每日汇总：", 0), 0u) << told_[0].title;
    EXPECT_NE(told_[0].title.find("21:00 至"), std::string::npos) << told_[0].title;
    const std::string& text = told_[0].text;
    EXPECT_NE(text.find("开团订单：共3个\n一号店：2个\n二号店：0个\n旧店：1个"), std::string::npos) << text;
    EXPECT_NE(text.find("二号店：已掉线1次；现在仍已掉线，请重新登录店铺"), std::string::npos) << text;

    // Once a day: later in the hour, and after a restart, nothing more.
    wall_ = at21 + 30min;
    notices->ReviewSummary(21, true, book_.Snapshot());
    notices.reset();
    notices = Make();
    notices->ReviewSummary(21, true, book_.Snapshot());
    notices->Flush();
    EXPECT_EQ(told_.size(), 1u);
    notices->ReviewSummary(-1, true, book_.Snapshot());
    wall_ = at21 + 24h;
    notices->ReviewSummary(21, false, {});
    notices->Flush();
    ASSERT_EQ(told_.size(), 2u);
    EXPECT_NE(told_[1].text.find("历史记录已关闭"), std::string::npos) << told_[1].text;
}

}  // namespace
}  // namespace tandrel
