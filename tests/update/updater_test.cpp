#include "update/updater.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "../common/temp_dir.h"
#include "package_maker.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"
#include "update/update_package.h"

namespace tandrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::PackageEntry;

// The updater program of the test: leaves a marker file in its working directory.
const PackageEntry kUpdaterProgram{std::string(UpdaterProgramName()),
                                   "#!/bin/sh\necho started > started.marker\n", 0755};

bool IsEmptyOrMissing(const fs::path& dir) {
    return !fs::exists(dir) || fs::is_empty(dir);
}

class UpdaterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(programDir_);
        fs::create_directories(scratch_);
        fields_[0] = "1.3.2";
        fields_[1] = "1.3.2";
        sim_.vendor().SetVersionFields(fields_);
    }
    VersionRecord Record() {
        std::string block;
        for (std::size_t i = 0; i < fields_.size(); ++i)
            block += (i ? "|" : "") + fields_[i];
        const std::string base = sim_.baseUrl();
        for (auto at = block.find("{base}"); at != std::string::npos; at = block.find("{base}"))
            block.replace(at, 6, base);
        return VersionRecord::Parse(block);
    }
    UpdaterOptions Options(std::string key = {}) {
        UpdaterOptions o;
        o.programDir = programDir_;
        o.unpackDir = unpackDir_;
        o.referer = "http://vendor.example/";
        o.publicKey = std::move(key);
        o.startProgram = [this](const fs::path& program) {
            started_.push_back(program);
            return true;
        };
        return o;
    }
    // Runs a download to its end.
    UpdateOutcome Download(UpdaterOptions options) {
        Updater updater(Record(), std::move(options));
        std::mutex mutex;
        std::condition_variable done;
        std::optional<UpdateOutcome> outcome;
        EXPECT_EQ(updater.Begin({},
                                [&](UpdateOutcome o) {
                                    std::lock_guard lock(mutex);
                                    outcome = o;
                                    done.notify_all();
                                }),
                  UpdaterBegin::Downloading);
        std::unique_lock lock(mutex);
        done.wait_for(lock, 20s, [&] { return outcome.has_value(); });
        return outcome.value_or(UpdateOutcome::Failed);
    }
    void Serve(const std::vector<PackageEntry>& entries) {
        sim_.vendor().SetPackage(testing::MakePackage(scratch_, entries));
    }
    bool PackageRequested() {
        for (const auto& r : sim_.Requests())
            if (r.target.find("zujian") != std::string::npos) return true;
        return false;
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    fs::path programDir_ = dir_ / "program";
    fs::path unpackDir_ = dir_ / "current";
    fs::path scratch_ = dir_ / "scratch";
    std::vector<std::string> fields_ = sim::VendorService::DefaultFields("1.3.1");
    std::vector<fs::path> started_;
};

TEST_F(UpdaterTest, DownloadsUnpacksAndStartsTheUpdaterProgram) {
    Serve({kUpdaterProgram, {"data/", ""}, {"data/readme.txt", "new files"}});
    fs::create_directories(unpackDir_);
    UpdaterOptions options = Options();
    options.startProgram = nullptr;  // really started, detached
    EXPECT_EQ(Download(options), UpdateOutcome::Installed);
    EXPECT_FALSE(fs::exists(programDir_ / "m_update1.3.2_2.zip"));  // removed after unpacking
    EXPECT_EQ(testing::ReadBytes(unpackDir_ / "data/readme.txt"), "new files");
    const auto perms = fs::status(unpackDir_ / std::string(UpdaterProgramName())).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
    for (int i = 0; i < 500 && !fs::exists(unpackDir_ / "started.marker"); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(fs::exists(unpackDir_ / "started.marker"));

    const auto request = sim_.Requests().back();
    EXPECT_EQ(request.target, "/app/zujian/m_update1.3.2_2.zip");
    EXPECT_EQ(request.Header("Referer"), "http://vendor.example/");
    EXPECT_NE(request.rawHead.find("\r\nAccept:*/*\r\nReferer:http://vendor.example/\r\nUser-Agent:" +
                                   std::string(kPackageUserAgent) + "\r\n"),
              std::string::npos)
        << request.rawHead;
}

TEST_F(UpdaterTest, AStaleUpdaterProgramIsStartedWithoutADownload) {
    std::ofstream(programDir_ / std::string(UpdaterProgramName())) << "old";
    Updater updater(Record(), Options());
    EXPECT_EQ(updater.Begin({}, {}), UpdaterBegin::StaleUpdaterStarted);
    EXPECT_EQ(started_, std::vector<fs::path>{programDir_ / std::string(UpdaterProgramName())});
    EXPECT_FALSE(PackageRequested());
}

TEST_F(UpdaterTest, NothingHappensWithoutANewerVersion) {
    fields_[0] = "1.3.1";
    Updater updater(Record(), Options());
    EXPECT_EQ(updater.Begin({}, {}), UpdaterBegin::NotNewer);
    EXPECT_FALSE(PackageRequested());
}

TEST_F(UpdaterTest, ALeftoverPackageIsDeletedAndAFailedDownloadLeavesNone) {
    std::ofstream(programDir_ / "m_update1.3.2_2.zip") << "left over from an earlier run";
    EXPECT_EQ(Download(Options()), UpdateOutcome::Failed);  // the simulator has no package: 404
    EXPECT_TRUE(fs::is_empty(programDir_));
    sim_.vendor().SetPackage(testing::MakePackage(scratch_, {kUpdaterProgram}),
                             sim::PackageDelivery::NoLength);
    EXPECT_EQ(Download(Options()), UpdateOutcome::Failed);
    EXPECT_TRUE(fs::is_empty(programDir_));
    EXPECT_TRUE(started_.empty());
}

TEST_F(UpdaterTest, AZipSlipPackageIsRefusedWholeWithNothingWritten) {
    Serve({{"fine.txt", "ok"}, kUpdaterProgram, {"../escaped.txt", "gotcha"}});
    EXPECT_EQ(Download(Options()), UpdateOutcome::Failed);
    EXPECT_TRUE(IsEmptyOrMissing(unpackDir_));
    EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
    EXPECT_TRUE(fs::is_empty(programDir_));
    EXPECT_TRUE(started_.empty());
}

TEST_F(UpdaterTest, WithAKeyBuiltInOnlyAValidSignatureIsInstalled) {
    testing::SigningKey key, other;
    const std::string package = testing::MakePackage(scratch_, {kUpdaterProgram});
    sim_.vendor().SetPackage(package);

    // Unsigned.
    EXPECT_EQ(Download(Options(key.PublicKey())), UpdateOutcome::Failed);
    // Signed by someone else, and signed over other bytes.
    for (const std::string& signature :
         {other.Sign(package), key.Sign(package + "x"), std::string("bm90IGEgc2ln")}) {
        fields_[kFieldPackageSignature - 1] = signature;
        EXPECT_EQ(Download(Options(key.PublicKey())), UpdateOutcome::Failed);
    }
    EXPECT_TRUE(IsEmptyOrMissing(unpackDir_));
    EXPECT_TRUE(fs::is_empty(programDir_));
    EXPECT_TRUE(started_.empty());

    fields_[kFieldPackageSignature - 1] = key.Sign(package);
    EXPECT_EQ(Download(Options(key.PublicKey())), UpdateOutcome::Installed);
    EXPECT_EQ(started_, std::vector<fs::path>{unpackDir_ / std::string(UpdaterProgramName())});
}

TEST_F(UpdaterTest, WithoutAKeyAnUnsignedPackageIsInstalled) {
    Serve({kUpdaterProgram});
    EXPECT_EQ(Download(Options()), UpdateOutcome::Installed);
    EXPECT_EQ(started_.size(), 1u);
}

class UnpackTest : public ::testing::Test {
  protected:
    UnpackResult Unpack(const std::vector<PackageEntry>& entries) {
        fs::create_directories(dir_ / "scratch");
        testing::MakePackage(dir_ / "scratch", entries);
        return UnpackPackage(dir_ / "scratch" / "package.zip", target_, &detail_);
    }
    testing::TempDir dir_;
    fs::path target_ = dir_ / "target";
    std::string detail_;
};

TEST_F(UnpackTest, EveryKindOfUnsafeEntryRefusesThePackageBeforeAnythingIsWritten) {
    const std::vector<std::vector<PackageEntry>> hostile = {
        {{"a.txt", "1"}, {"/tmp/abs.txt", "2"}},
        {{"a.txt", "1"}, {"C:/windows/x.txt", "2"}},
        {{"a.txt", "1"}, {"dir\\..\\..\\x.txt", "2"}},
        {{"a.txt", "1"}, {"dir/../../x.txt", "2"}},
        {{"a.txt", "1"}, {"link", "/etc", S_IFLNK | 0777}},
    };
    for (const auto& entries : hostile) {
        SCOPED_TRACE(entries.back().name);
        EXPECT_EQ(Unpack(entries), UnpackResult::Refused);
        EXPECT_FALSE(detail_.empty());
        EXPECT_TRUE(IsEmptyOrMissing(target_));
    }
}

TEST_F(UnpackTest, AnExistingLinkInTheTargetIsNotFollowed) {
    fs::create_directories(target_);
    fs::create_directories(dir_ / "elsewhere");
    fs::create_directory_symlink(dir_ / "elsewhere", target_ / "sub");
    EXPECT_EQ(Unpack({{"sub/x.txt", "1"}}), UnpackResult::Refused);
    EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
}

TEST_F(UnpackTest, KeepsPermissionsWithoutSetIdBitsAndOverwritesFiles) {
    fs::create_directories(target_);
    std::ofstream(target_ / "old.txt") << "old";
    EXPECT_EQ(Unpack({{"old.txt", "new"}, {"tool", "#!/bin/sh\n", 04777}, {"plain", "p", 0644, false}}),
              UnpackResult::Ok);
    EXPECT_EQ(testing::ReadBytes(target_ / "old.txt"), "new");
    EXPECT_EQ(fs::status(target_ / "tool").permissions(), static_cast<fs::perms>(0755));
    EXPECT_TRUE(fs::exists(target_ / "plain"));
}

TEST_F(UnpackTest, AFileThatIsNotAnArchiveIsUnreadable) {
    fs::create_directories(dir_ / "scratch");
    std::ofstream(dir_ / "scratch" / "bad.zip") << "<html>not found</html>";
    EXPECT_EQ(UnpackPackage(dir_ / "scratch" / "bad.zip", target_), UnpackResult::Unreadable);
    EXPECT_TRUE(IsEmptyOrMissing(target_));
}

}  // namespace
}  // namespace tandrel

namespace tandrel {
namespace {

// The distributor's tool and the program agree: a key made and a package signed by scripts/sign-package
// verify, and a package changed afterwards does not.
TEST(SignPackageScript, ItsKeysAndSignaturesAreTheProgramsFormat) {
    testing::TempDir dir;
    const std::string script = TANDREL_SOURCE_DIR "/scripts/sign-package";
    const auto run = [](const std::string& command) {
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe))
                out += buffer;
            pclose(pipe);
        }
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    };
    const auto key = dir / "key.pem";
    const auto package = dir / "m_update1.3.2_2.zip";
    std::ofstream(package) << "package bytes";
    const std::string publicKey = run(script + " keygen " + key.string() + " 2>/dev/null");
    ASSERT_EQ(publicKey.size(), 44u) << publicKey;
    const std::string signature = run(script + " sign " + key.string() + " " + package.string());
    EXPECT_TRUE(VerifyPackageSignature(package, signature, publicKey));
    std::ofstream(package, std::ios::app) << "!";
    EXPECT_FALSE(VerifyPackageSignature(package, signature, publicKey));
}

}  // namespace
}  // namespace tandrel
