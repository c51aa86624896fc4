#include "update/headless_check.h"

#include <gtest/gtest.h>

#include <sstream>

#include "../common/temp_dir.h"
#include "net/endpoints.h"
#include "net/http_request.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"

namespace tandrel {
namespace {

class HeadlessCheckTest : public ::testing::Test {
  protected:
    bool Check() {
        return RunHeadlessVersionCheck(
            Endpoints::AllAt(sim_.baseUrl()), [](const std::string& url) { return HttpGetPlain(url); },
            dir_.path(), out_, err_);
    }
    int RequestsFor(const std::string& path) {
        int n = 0;
        for (const auto& r : sim_.Requests())
            n += r.target == path;
        return n;
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    std::ostringstream out_, err_;
};

// Without a window no updater runs, so the rest of the check goes on as for the running version.
TEST_F(HeadlessCheckTest, ANewerVersionIsAnnouncedAndTheCheckGoesOn) {
    auto fields = sim::VendorService::DefaultFields("1.3.2");
    sim_.vendor().SetVersionFields(fields);
    EXPECT_TRUE(Check());
    EXPECT_EQ(out_.str(), "有新版本 1.3.2，请到 " + sim_.baseUrl() +
                              "/app/download.html 下载安装\n"
                              "有通知！请查收\n欢迎使用 Tandrel 演示版！这是服务器发来的启动通知。\n");
    EXPECT_EQ(err_.str(), "");
    EXPECT_EQ(RequestsFor("/zelapp/tongzhi.php"), 1 + 1 + 1 + 1);  // start-up, window notice, logo, support
    EXPECT_EQ(RequestsFor("/zelapp/logo.gif"), 1);
    EXPECT_EQ(sim_.vendor().visits(), 1);
}

}  // namespace
}  // namespace tandrel
