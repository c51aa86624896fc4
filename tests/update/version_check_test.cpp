#include "update/version_check.h"

#include <gtest/gtest.h>

#include <fstream>

#include "../common/raw_http_server.h"
#include "../common/temp_dir.h"
#include "net/endpoints.h"
#include "net/http_request.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"
#include "support/text.h"
#include "update/vendor_hosts.h"

namespace tandrel {
namespace {

using Outcome = VersionCheckResult::Outcome;

std::string Join(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += (i ? "|" : "") + fields[i];
    return out;
}

class VersionCheckTest : public ::testing::Test {
  protected:
    VersionCheckResult Run() {
        VersionCheckOptions options;
        options.programDir = dir_.path();
        options.startupNotice = [this](const std::string& notice) { shownNotices_.push_back(notice); };
        return RunVersionCheck(read_, VendorAddresses::From(Endpoints::AllAt(sim_.baseUrl())), options);
    }
    int RequestsFor(const std::string& path) {
        int n = 0;
        for (const auto& r : sim_.Requests())
            n += r.target == path;
        return n;
    }
    void SetField(int n, std::string value) {
        fields_[static_cast<std::size_t>(n - 1)] = std::move(value);
        sim_.vendor().SetVersionFields(fields_);
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    std::vector<std::string> fields_ = sim::VendorService::DefaultFields("1.3.1");
    std::vector<std::string> shownNotices_;
    PageReader read_ = [](const std::string& url) { return HttpGetPlain(url); };
};

TEST_F(VersionCheckTest, TheRunningVersionContinuesWithNoticesLogoCounterAndSupportText) {
    sim_.vendor().SetLogo("GIF89a-bytes");
    const auto result = Run();
    ASSERT_EQ(result.outcome, Outcome::Continue);
    EXPECT_EQ(result.record.Field(1), "1.3.1");
    EXPECT_EQ(result.record.Field(25), sim_.baseUrl() + "/app/download.html");
    ASSERT_EQ(shownNotices_.size(), 1u);
    EXPECT_EQ(GbkToUtf8(shownNotices_[0]), "欢迎使用 Tandrel 演示版！这是服务器发来的启动通知。");
    EXPECT_EQ(result.startupNotice, shownNotices_[0]);
    EXPECT_NE(GbkToUtf8(result.windowNotice).find("/换行"), std::string::npos);
    EXPECT_EQ(result.logo, "GIF89a-bytes");
    EXPECT_TRUE(result.visitCounted);
    EXPECT_EQ(sim_.vendor().visits(), 1);
    EXPECT_EQ(GbkToUtf8(result.supportText), "客服QQ：10000（演示）  工作时间 9:00-21:00");
}

TEST_F(VersionCheckTest, NoUsableRecordFails) {
    SetField(1, "1.3.1");
    fields_.resize(20);
    sim_.vendor().SetVersionFields(fields_);
    EXPECT_EQ(Run().outcome, Outcome::Failed);
    // 20 fields and a final "|": still 20.
    sim_.vendor().SetVersionPage("qevanstorStart===" + Join(fields_) + "|===Endqevanstor");
    sim_.vendor().SetVersionFallbackPage("");
    EXPECT_EQ(Run().outcome, Outcome::Failed);
    // An error page on both hosts.
    sim_.SetFault("/zelapp/banben", sim::Fault::Status500);
    EXPECT_EQ(Run().outcome, Outcome::Failed);
    EXPECT_TRUE(shownNotices_.empty());
    // Nothing listening.
    VersionCheckOptions options;
    EXPECT_EQ(
        RunVersionCheck(read_, VendorAddresses::From(Endpoints::AllAt(sim::MarketplaceSim::RefusedBaseUrl())),
                        options)
            .outcome,
        Outcome::Failed);
}

TEST_F(VersionCheckTest, TheFallbackPageServesAMissingVersionBlock) {
    sim_.vendor().SetVersionPage("<html>maintenance</html>");
    // The fallback is UTF-8: a Chinese field arrives converted to GBK.
    SetField(10, "备用");
    const auto result = Run();
    ASSERT_EQ(result.outcome, Outcome::Continue);
    EXPECT_EQ(result.record.Field(10), Utf8ToGbk("备用"));
    EXPECT_EQ(RequestsFor("/zelapp/banben.html"), 1);
    // With the primary block present the fallback is not asked.
    sim_.ClearRequests();
    sim_.vendor().SetVersionPage(std::nullopt);
    EXPECT_EQ(Run().outcome, Outcome::Continue);
    EXPECT_EQ(RequestsFor("/zelapp/banben.html"), 0);
}

TEST_F(VersionCheckTest, AStartMarkerInOtherLetterCaseIsFound) {
    sim_.vendor().SetVersionPage("<b>QevanStorSTART===" + Join(fields_) + "===ENDqevanstor</b>");
    sim_.vendor().SetVersionFallbackPage("");
    EXPECT_EQ(Run().outcome, Outcome::Continue);
}

TEST_F(VersionCheckTest, AnEmptyNoticeIsTakenFromTheFallbackPage) {
    sim_.vendor().SetNotice("7", "   ");
    sim_.vendor().SetFallbackNotice("7", "备用通知/换行第二行");
    sim_.vendor().SetNotice("", "");
    const auto result = Run();
    EXPECT_EQ(GbkToUtf8(result.windowNotice), "备用通知/换行第二行");
    EXPECT_TRUE(shownNotices_.empty());  // an empty start-up notice shows no box
}

TEST_F(VersionCheckTest, FieldFifteenZeroMeansNoWindowNotice) {
    SetField(15, "0");
    SetField(8, "0");
    SetField(12, "0");
    SetField(16, "0");
    const auto result = Run();
    ASSERT_EQ(result.outcome, Outcome::Continue);
    EXPECT_EQ(result.windowNotice, "");
    EXPECT_EQ(result.startupNotice, "");
    EXPECT_FALSE(result.visitCounted);
    EXPECT_EQ(sim_.vendor().visits(), 0);
    EXPECT_FALSE(result.supportText.empty());  // the support text is read whatever the record says
}

TEST_F(VersionCheckTest, ANewerVersionStopsBeforeTheNotices) {
    SetField(1, "1.3.2");
    const auto result = Run();
    EXPECT_EQ(result.outcome, Outcome::NewerVersion);
    EXPECT_EQ(RequestsFor("/zelapp/tongzhi.php"), 0);
    for (const char* older : {"1.3.1", "1.2.9", "1.2.10", "0.0.132"}) {
        SetField(1, older);
        EXPECT_EQ(Run().outcome, Outcome::Continue) << older;
    }
    // Compared component by component: 1.4 and 1.10 are newer than 1.3.1.
    for (const char* newer : {"1.4", "1.10"}) {
        SetField(1, newer);
        EXPECT_EQ(Run().outcome, Outcome::NewerVersion) << newer;
    }
}

// 亅 is 81 7C in GBK: its second byte is the "|" byte, but the block holds no "|" character.
TEST_F(VersionCheckTest, ATrailByteThatLooksLikeABarIsNoRecord) {
    sim_.vendor().SetVersionPage("qevanstorStart===维护中亅请稍候===Endqevanstor");
    SetField(10, "亅");  // and inside a field of the fallback's record it splits nothing
    const auto result = Run();
    ASSERT_EQ(result.outcome, Outcome::Continue);
    EXPECT_EQ(RequestsFor("/zelapp/banben.html"), 1);
    EXPECT_EQ(result.record.fields().size(), fields_.size());
    EXPECT_EQ(result.record.Field(10), Utf8ToGbk("亅"));
    EXPECT_EQ(result.record.Field(15), "7");
}

TEST_F(VersionCheckTest, FieldSevenRemovesALeftoverUpdaterProgram) {
    const auto leftover = dir_.path() / std::string(UpdaterProgramName());
    std::ofstream(leftover) << "old";
    Run();
    EXPECT_TRUE(std::filesystem::exists(leftover));
    SetField(7, "1");
    Run();
    EXPECT_FALSE(std::filesystem::exists(leftover));
}

TEST(FetchNoticeBlock, ReadsThePrimaryThenTheFallback) {
    std::vector<std::string> asked;
    PageReader read = [&asked](const std::string& url) -> std::string {
        asked.push_back(url);
        if (url == "p") return "kefuStart===" + Utf8ToGbk("主") + "===Endkefu";
        return "kefu2Start===备===End2kefu";  // UTF-8
    };
    EXPECT_EQ(GbkToUtf8(FetchNoticeBlock(read, "p", "f", "kefu", "")), "主");
    EXPECT_EQ(asked, std::vector<std::string>{"p"});
    EXPECT_EQ(GbkToUtf8(FetchNoticeBlock(read, "p", "f", "kefu", "2")), "备");
    EXPECT_EQ(FetchNoticeBlock(read, "p", "f", "kefu", "3"), "");
}

// The logo and the visit counter are addresses the record names; only the vendor's own hosts are asked.
TEST_F(VersionCheckTest, TheLogoAndTheCounterAreReadOnlyFromTheVendorsHosts) {
    testing::RawHttpServer elsewhere([](const std::string&, const testing::RawHttpServer::Send& send) {
        send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nGIF89a");
    });
    sim_.vendor().SetNotice("9", elsewhere.baseUrl() + "/router/admin?action=reboot");
    SetField(3, elsewhere.baseUrl() + "/");
    auto result = Run();
    ASSERT_EQ(result.outcome, Outcome::Continue);
    EXPECT_TRUE(elsewhere.targets().empty());
    EXPECT_TRUE(result.logo.empty());
    EXPECT_FALSE(result.visitCounted);
    // Addresses that only look like the vendor's.
    for (const std::string& disguised : std::vector<std::string>{
             sim_.baseUrl() + "@127.0.0.1:" + elsewhere.baseUrl().substr(17) + "/logo.gif",
             "file:///etc/passwd", "ftp://127.0.0.1/x"}) {
        sim_.vendor().SetNotice("9", disguised);
        EXPECT_TRUE(Run().logo.empty()) << disguised;
    }
    EXPECT_TRUE(elsewhere.targets().empty());
    // The vendor's own host still serves both.
    sim_.vendor().SetLogo("GIF89a-bytes");
    sim_.vendor().SetNotice("9", "{base}/zelapp/logo.gif");
    SetField(3, "{base}/");
    result = Run();
    EXPECT_EQ(result.logo, "GIF89a-bytes");
    EXPECT_TRUE(result.visitCounted);
}

// A vendor page, the logo or the counter that redirects leads only to the vendor's own hosts.
TEST(VendorPageReader, FollowsRedirectsOnlyAmongTheVendorsHosts) {
    testing::RawHttpServer elsewhere([](const std::string&, const testing::RawHttpServer::Send& send) {
        send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nforged");
    });
    testing::RawHttpServer fallback([](const std::string&, const testing::RawHttpServer::Send& send) {
        send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nreal");
    });
    std::string location;
    testing::RawHttpServer primary([&](const std::string&, const testing::RawHttpServer::Send& send) {
        send("HTTP/1.1 302 Found\r\nLocation: " + location +
             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    VendorAddresses addresses;
    addresses.versionPage = primary.baseUrl() + "/zelapp/banben.php";
    addresses.noticesPage = primary.baseUrl() + "/zelapp/tongzhi.php";
    addresses.versionFallback = fallback.baseUrl() + "/zelapp/banben.html";
    addresses.noticesFallback = fallback.baseUrl() + "/zelapp/tongzhi.html";
    const PageReader read = VendorPageReader(addresses);
    location = elsewhere.baseUrl() + "/zelapp/banben.php";
    EXPECT_EQ(read(addresses.versionPage), "");
    EXPECT_TRUE(elsewhere.targets().empty());
    location = fallback.baseUrl() + "/zelapp/banben.html";
    EXPECT_EQ(read(addresses.versionPage), "real");
}

}  // namespace
}  // namespace tandrel
