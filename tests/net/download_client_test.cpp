#include "net/download_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "../common/raw_http_server.h"
#include "../common/temp_dir.h"
#include "../common/windows_compat.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"

namespace tandrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(DownloadUrl, SplitsSchemeHostPortAndPath) {
    auto p = SplitDownloadUrl("HTTPS://Files.Example.com/path?a=1");
    EXPECT_TRUE(p.https);
    EXPECT_EQ(p.host, "files.example.com");
    EXPECT_EQ(p.port, 443);
    EXPECT_EQ(p.path, "/path?a=1");
    p = SplitDownloadUrl("http://h.example:8080");
    EXPECT_FALSE(p.https);
    EXPECT_EQ(p.host, "h.example");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/");
    p = SplitDownloadUrl("host.example/x");
    EXPECT_EQ(p.host, "host.example");
    EXPECT_EQ(p.port, 80);
    EXPECT_EQ(p.path, "/x");
}

class DownloadClientTest : public ::testing::Test {
  protected:
    std::string PackageUrl() const { return sim_.baseUrl() + "/app/zujian/m_update1.3.1_2.zip"; }
    // A body whose every byte says where it is, so a reordered or repeated block shows.
    static std::string Body(std::size_t n) {
        std::string body(n, '\0');
        for (std::size_t i = 0; i < n; ++i)
            body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        return body;
    }
    bool Fetch(std::string directory, const DownloadClient::Progress& progress = {}) {
        DownloadClient client;
        EXPECT_TRUE(client.OpenRequest("get", PackageUrl()));
        client.AddHeader("Accept", "*/*");
        client.AddHeader("Referer", "http://vendor.example/");
        client.AddHeader("User-Agent", " Agent/1");
        client.SendRequest();
        return client.SaveToFile(directory, "pkg.zip", progress, 123);
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
};

TEST_F(DownloadClientTest, SavesTheBodyIntoTheDirectoryGivenWithoutATrailingSeparator) {
    const std::string body = Body(300 * 1024 + 17);
    sim_.vendor().SetPackage(body);
    std::string directory = dir_.path().string();
    DownloadClient client;
    ASSERT_TRUE(client.OpenRequest("GET", PackageUrl()));
    client.AddHeader("Accept", "*/*");
    client.AddHeader("Referer", "http://vendor.example/");
    client.AddHeader("User-Agent", " Agent/1");
    client.AddHeader("Accept", "*/*");  // replaces, does not repeat
    ASSERT_TRUE(client.SendRequest());
    EXPECT_EQ(client.ResponseHeader("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(client.ResponseHeader("content-type"), "application/zip");
    EXPECT_EQ(client.ResponseHeader("X-Absent"), "");
    ASSERT_TRUE(client.SaveToFile(directory, "pkg.zip"));
    EXPECT_EQ(directory,
              dir_.path().string() + static_cast<char>(std::filesystem::path::preferred_separator));
    EXPECT_EQ(ReadFile(dir_ / "pkg.zip"), body);

    const auto request = sim_.Requests().back();
    std::vector<std::string> names;
    for (const auto& [name, value] : request.headers)
        names.push_back(name);
    EXPECT_EQ(request.method, "GET");
    // "name:value" with no blank of our own: the value's leading blank is the one after the colon.
    EXPECT_NE(request.rawHead.find("\r\nUser-Agent: Agent/1\r\n"), std::string::npos);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Accept"), 1);
    EXPECT_LT(std::find(names.begin(), names.end(), "Accept"),
              std::find(names.begin(), names.end(), "Referer"));
    EXPECT_LT(std::find(names.begin(), names.end(), "Referer"),
              std::find(names.begin(), names.end(), "User-Agent"));
}

TEST_F(DownloadClientTest, ProgressComesAtMostEveryTenMillisecondsAndEndsWithTheTotal) {
    const std::string body = Body(200 * 1024);
    sim_.vendor().SetPackage(body, sim::PackageDelivery::Whole, 3ms);
    struct Call {
        std::int64_t user, total, received, elapsed;
        std::chrono::steady_clock::time_point at;
    };
    std::mutex mutex;
    std::vector<Call> calls;
    ASSERT_TRUE(
        Fetch(dir_.path().string(), [&](std::int64_t u, std::int64_t t, std::int64_t r, std::int64_t e) {
            std::lock_guard lock(mutex);
            calls.push_back({u, t, r, e, std::chrono::steady_clock::now()});
        }));
    ASSERT_GE(calls.size(), 3u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].user, 123);
        EXPECT_EQ(calls[i].total, static_cast<std::int64_t>(body.size()));
        if (i == 0) continue;
        EXPECT_GE(calls[i].at - calls[i - 1].at, 10ms);
        EXPECT_GE(calls[i].received, calls[i - 1].received);
    }
    EXPECT_EQ(calls.back().received, static_cast<std::int64_t>(body.size()));
    EXPECT_LT(calls.front().received, calls.back().received);  // it really reported on the way
}

TEST_F(DownloadClientTest, AReplyWithoutContentLengthGivesNoFile) {
    sim_.vendor().SetPackage(Body(50000), sim::PackageDelivery::NoLength);
    EXPECT_FALSE(Fetch(dir_.path().string()));
    EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(DownloadClientTest, ADownloadStoppedHalfWayLeavesNothingThatLooksWhole) {
    sim_.vendor().SetPackage(Body(400 * 1024), sim::PackageDelivery::StopHalfway);
    bool lastWasWhole = false;
    EXPECT_FALSE(Fetch(dir_.path().string(), [&](std::int64_t, std::int64_t t, std::int64_t r, std::int64_t) {
        lastWasWhole = r == t;
    }));
    EXPECT_FALSE(lastWasWhole);
    EXPECT_TRUE(fs::is_empty(dir_.path()));  // neither the file nor a partial one
}

TEST_F(DownloadClientTest, AnErrorStatusOrAMissingDirectoryWritesNothing) {
    EXPECT_FALSE(Fetch(dir_.path().string()));  // no package: 404
    EXPECT_TRUE(fs::is_empty(dir_.path()));
    sim_.vendor().SetPackage(Body(10));
    EXPECT_FALSE(Fetch((dir_ / "missing").string()));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    DownloadClient unreachable;
    ASSERT_TRUE(unreachable.OpenRequest("GET", sim::MarketplaceSim::RefusedBaseUrl() + "/x"));
    EXPECT_FALSE(unreachable.SendRequest());
    std::string directory = dir_.path().string();
    EXPECT_FALSE(unreachable.SaveToFile(directory, "x"));
}

TEST_F(DownloadClientTest, SendsABodyWholeInBlocks) {
    DownloadClient client;
    ASSERT_TRUE(client.OpenRequest("post", sim_.baseUrl() + "/echo"));
    const std::string body = Body(12000);
    std::int64_t lastSent = 0;
    ASSERT_TRUE(client.SendRequest(
        body, [&](std::int64_t, std::int64_t, std::int64_t sent, std::int64_t) { lastSent = sent; }));
    EXPECT_EQ(lastSent, 12000);
    const auto request = sim_.Requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, body);
}

// A server that announces far more than any package: nothing is written, not even a partial file.
TEST(DownloadClientLimits, AnOversizedContentLengthIsRefusedBeforeWriting) {
    testing::TempDir dir;
    std::atomic<bool> partSeen{false};
    testing::RawHttpServer server([&](const std::string&, const testing::RawHttpServer::Send& send) {
        if (!send("HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\n")) return;
        const std::string block(64 * 1024, 'z');
        for (int i = 0; i < 200 && send(block); ++i) {
            if (fs::exists(dir / "pkg.zip.part")) partSeen = true;
            std::this_thread::sleep_for(5ms);
        }
    });
    DownloadClient client;
    ASSERT_TRUE(client.OpenRequest("GET", server.baseUrl() + "/pkg.zip"));
    ASSERT_TRUE(client.SendRequest());
    std::string directory = dir.path().string();
    EXPECT_FALSE(client.SaveToFile(directory, "pkg.zip"));
    EXPECT_FALSE(partSeen);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(DownloadClientLimits, WritingStopsPastTheCap) {
    testing::TempDir dir;
    testing::RawHttpServer server([&](const std::string&, const testing::RawHttpServer::Send& send) {
        if (send("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n")) send(std::string(300000, 'z'));
    });
    DownloadClient client;
    client.maxBytes = 100000;
    ASSERT_TRUE(client.OpenRequest("GET", server.baseUrl() + "/pkg.zip"));
    ASSERT_TRUE(client.SendRequest());
    std::string directory = dir.path().string();
    EXPECT_FALSE(client.SaveToFile(directory, "pkg.zip"));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A link planted under the partial file's name must not redirect the body into another file; a stale
// partial file from a killed download is replaced.
TEST_F(DownloadClientTest, APlantedLinkOrAStalePartialFileIsNeverWrittenThrough) {
    TANDREL_SKIP_ON_WINDOWS("plants a symbolic link");
    const std::string body = Body(5000);
    sim_.vendor().SetPackage(body);
    const auto victim = dir_ / "victim.txt";
    std::ofstream(victim) << "precious";
    fs::create_directories(dir_ / "d");
    fs::create_symlink(victim, dir_ / "d" / "pkg.zip.part");
    Fetch((dir_ / "d").string());
    EXPECT_EQ(ReadFile(victim), "precious");

    fs::remove(dir_ / "d" / "pkg.zip.part");
    std::ofstream(dir_ / "d" / "pkg.zip.part") << "stale half of an earlier download";
    EXPECT_TRUE(Fetch((dir_ / "d").string()));
    EXPECT_EQ(ReadFile(dir_ / "d" / "pkg.zip"), body);
    EXPECT_FALSE(fs::exists(dir_ / "d" / "pkg.zip.part"));
    EXPECT_EQ(fs::status(dir_ / "d" / "pkg.zip").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace tandrel
