#include "net/endpoints.h"

#include <gtest/gtest.h>

namespace tandrel {
namespace {

TEST(Endpoints, BuiltInHostsKeepTheSchemeTheCallerAsksFor) {
    std::string error;
    const auto e = Endpoints::With("", "", "", "", "", &error);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(e.merchant.Url("https", "/chats/auth"), "https://" + e.merchant.Host() + "/chats/auth");
    EXPECT_EQ(e.merchant.Url("http", "/mall"), "http://" + e.merchant.Host() + "/mall");
    // The session check runs on the back end's first label under the cookie domain.
    const auto label = e.merchant.Host().substr(0, e.merchant.Host().find('.'));
    EXPECT_EQ(e.session.Host(), label + "." + e.cookieDomain);
    EXPECT_FALSE(e.merchant.overridden());
}

TEST(Endpoints, TheMarketplacesOwnHostsAreBuiltIn) {
    const auto e = Endpoints::With("", "", "", "", "", nullptr);
    EXPECT_EQ(e.merchant.Host(), "mms.pinduoduo.com");
    EXPECT_EQ(e.cookieDomain, "pinduoduo.com");
    EXPECT_EQ(e.session.Host(), "mms.pinduoduo.com");
    EXPECT_EQ(e.mobile.Host(), "mobile.yangkeduo.com");
    EXPECT_EQ(e.publicApi.Host(), "apiv3.yangkeduo.com");
}

TEST(Endpoints, AnOverrideReplacesSchemeAndHostEverywhere) {
    std::string error;
    const auto e = Endpoints::With("http://127.0.0.1:18080/", "", "https://gw.local:8443", "", "", &error);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(e.merchant.Url("https", "/chats/auth"), "http://127.0.0.1:18080/chats/auth");
    EXPECT_EQ(e.merchant.Host(), "127.0.0.1:18080");
    EXPECT_EQ(e.session.Url("http", "/mall"), "http://127.0.0.1:18080/mall");
    EXPECT_EQ(e.mobile.Url("http", "/goods.html?goods_id=1"), "https://gw.local:8443/goods.html?goods_id=1");
    EXPECT_FALSE(e.publicApi.overridden());
    const auto all = Endpoints::AllAt("http://127.0.0.1:9");
    EXPECT_EQ(all.vendorFallback.Url("http", "/zelapp/banben.html"), "http://127.0.0.1:9/zelapp/banben.html");
}

// The test build has no vendor address built in: only the overrides configure the vendor, and one of the
// two serves for both.
TEST(Endpoints, TheVendorIsConfiguredByEitherAddress) {
    std::string error;
    EXPECT_FALSE(Endpoints::With("", "", "", "", "", &error).vendorConfigured());
    EXPECT_FALSE(Endpoints::With("http://127.0.0.1:1", "", "", "", "", &error).vendorConfigured());
    const auto primary = Endpoints::With("", "", "", "http://127.0.0.1:2", "", &error);
    EXPECT_TRUE(primary.vendorConfigured());
    EXPECT_EQ(primary.vendorFallback.Url("http", "/zelapp/banben.html"),
              "http://127.0.0.1:2/zelapp/banben.html");
    const auto fallback = Endpoints::With("", "", "", "", "http://127.0.0.1:3", &error);
    EXPECT_TRUE(fallback.vendorConfigured());
    EXPECT_EQ(fallback.vendor.Url("http", "/zelapp/banben.php"), "http://127.0.0.1:3/zelapp/banben.php");
    const auto both = Endpoints::With("", "", "", "http://127.0.0.1:4", "http://127.0.0.1:5", &error);
    EXPECT_EQ(both.vendorFallback.Host(), "127.0.0.1:5");
    EXPECT_TRUE(error.empty()) << error;
}

TEST(Endpoints, MalformedOverridesAreNamedInTheError) {
    for (const char* bad :
         {"127.0.0.1:18080", "ftp://x", "http://", "http://host/path", "http://a b", "http://127.0.0.1:99999",
          "http://127.0.0.1:0", "http://host;x", "http://h:;x", "http://h:", "http://-h.com", "http://h..com",
          "http://[::1", "http://[::1]x", "http://h:80:80", "http://user@h", "http://h_x"}) {
        std::string error;
        Endpoints::With(bad, "", "", "", "", &error);
        EXPECT_NE(error.find("TANDREL_MERCHANT_URL"), std::string::npos) << bad;
    }
    for (const char* good : {"http://127.0.0.1:65535", "https://mms.example.com", "http://[::1]:8080/",
                             "http://Gate-1.local:1"}) {
        std::string error;
        Endpoints::With(good, "", "", "", "", &error);
        EXPECT_EQ(error, "") << good;
    }
}

}  // namespace
}  // namespace tandrel
