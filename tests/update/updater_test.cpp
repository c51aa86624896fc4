#include "update/updater.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "../common/temp_dir.h"
#include "../common/windows_compat.h"
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

using testing::SignedFor;

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
    UpdaterOptions Options(std::optional<std::string> key = std::nullopt) {
        UpdaterOptions o;
        o.programDir = programDir_;
        o.referer = "http://vendor.example/";
        o.publicKey = key.value_or(key_.PublicKey());
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
    // Serves the package, signed by the vendor's key for the record's tag and version.
    std::string Serve(const std::vector<PackageEntry>& entries) {
        const std::string package = testing::MakePackage(scratch_, entries);
        sim_.vendor().SetPackage(package);
        fields_[kFieldPackageSignature - 1] = SignedFor(key_, package, "qevanstor", fields_[1], fields_[0]);
        return package;
    }
    bool PackageRequested() {
        for (const auto& r : sim_.Requests())
            if (r.target.find("zujian") != std::string::npos) return true;
        return false;
    }
    std::vector<fs::path> StagingFolders() {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(programDir_))
            if (entry.is_directory()) found.push_back(entry.path());
        return found;
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    testing::SigningKey key_;
    fs::path programDir_ = dir_ / "program";
    fs::path unpackDir_ = dir_ / "current";  // the process's current directory: never written
    fs::path scratch_ = dir_ / "scratch";
    std::vector<std::string> fields_ = sim::VendorService::DefaultFields("1.3.1");
    std::vector<fs::path> started_;
};

TEST_F(UpdaterTest, DownloadsUnpacksIntoAStagingFolderAndStartsTheUpdaterFromThere) {
    Serve({kUpdaterProgram, {"data/", ""}, {"data/readme.txt", "new files"}});
    UpdaterOptions options = Options();
    options.startProgram = nullptr;  // really started, detached
    EXPECT_EQ(Download(options), UpdateOutcome::Installed);
    EXPECT_FALSE(fs::exists(programDir_ / "m_update1.3.2_2.zip"));  // removed after unpacking
    const auto staging = StagingFolders();
    ASSERT_EQ(staging.size(), 1u);
    EXPECT_EQ(fs::status(staging[0]).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(testing::ReadBytes(staging[0] / "data/readme.txt"), "new files");
    const auto perms = fs::status(staging[0] / std::string(UpdaterProgramName())).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
    for (int i = 0; i < 500 && !fs::exists(staging[0] / "started.marker"); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(fs::exists(staging[0] / "started.marker"));
    EXPECT_TRUE(IsEmptyOrMissing(unpackDir_));

    const auto request = sim_.Requests().back();
    EXPECT_EQ(request.target, "/app/zujian/m_update1.3.2_2.zip");
    EXPECT_EQ(request.Header("Referer"), "http://vendor.example/");
    EXPECT_NE(request.rawHead.find("\r\nAccept:*/*\r\nReferer:http://vendor.example/\r\nUser-Agent:" +
                                   std::string(kPackageUserAgent) + "\r\n"),
              std::string::npos)
        << request.rawHead;
}

// An updater that was unpacked but never ran to its end is started again, without a download, but only
// while it is the file verified for this tag and version.
TEST_F(UpdaterTest, TheRecordedUpdaterIsStartedAgainOnlyWhileItIsUnchanged) {
    Serve({kUpdaterProgram});
    ASSERT_EQ(Download(Options()), UpdateOutcome::Installed);
    ASSERT_EQ(started_.size(), 1u);
    const fs::path recorded = started_[0];
    const auto requests = sim_.Requests().size();
    {
        Updater updater(Record(), Options());
        EXPECT_EQ(updater.Begin({}, {}), UpdaterBegin::StaleUpdaterStarted);
    }
    EXPECT_EQ(started_, (std::vector<fs::path>{recorded, recorded}));
    EXPECT_EQ(sim_.Requests().size(), requests);

    std::ofstream(recorded, std::ios::app) << "echo planted\n";
    started_.clear();
    EXPECT_EQ(Download(Options()), UpdateOutcome::Installed);  // a new download, a new staging folder
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_NE(started_[0], recorded);
    EXPECT_FALSE(fs::exists(recorded));
    EXPECT_EQ(StagingFolders().size(), 1u);

    // Field 7 clears it all away.
    RemoveLeftoverUpdater(programDir_);
    EXPECT_TRUE(fs::is_empty(programDir_));
}

TEST_F(UpdaterTest, NothingHappensWithoutANewerVersion) {
    fields_[0] = "1.3.1";
    Updater updater(Record(), Options());
    EXPECT_EQ(updater.Begin({}, {}), UpdaterBegin::NotNewer);
    EXPECT_FALSE(PackageRequested());
}

// A replayed release, properly signed for its own old version, is no update: with the dots removed 1.2.10
// and 0.0.132 counted as newer than 1.3.1.
TEST_F(UpdaterTest, ASignedPackageForAnOlderVersionIsRefused) {
    for (const char* older : {"1.2.10", "0.0.132", "1.3.1.0"}) {
        fields_[0] = fields_[1] = older;
        Serve({kUpdaterProgram});
        Updater updater(Record(), Options());
        EXPECT_EQ(updater.Begin({}, {}), UpdaterBegin::NotNewer) << older;
    }
    EXPECT_FALSE(PackageRequested());
    EXPECT_TRUE(started_.empty());
}

TEST_F(UpdaterTest, ALeftoverPackageIsDeletedAndAFailedDownloadLeavesNone) {
    std::ofstream(programDir_ / "m_update1.3.2_2.zip") << "left over from an earlier run";
    std::ofstream(programDir_ / "m_update1.3.2_2.zip.part") << "killed half-way";
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
    EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
    EXPECT_TRUE(fs::is_empty(programDir_));
    EXPECT_TRUE(started_.empty());
}

TEST_F(UpdaterTest, OnlyAValidSignatureIsInstalled) {
    testing::SigningKey other;
    const std::string package = Serve({kUpdaterProgram});
    const std::string good = fields_[kFieldPackageSignature - 1];
    for (const std::string& signature :
         {std::string(), SignedFor(other, package, "qevanstor", "1.3.2", "1.3.2"),
          SignedFor(key_, package + "x", "qevanstor", "1.3.2", "1.3.2"), std::string("bm90IGEgc2ln")}) {
        fields_[kFieldPackageSignature - 1] = signature;
        EXPECT_EQ(Download(Options()), UpdateOutcome::Failed);
    }
    EXPECT_TRUE(fs::is_empty(programDir_));
    EXPECT_TRUE(started_.empty());

    fields_[kFieldPackageSignature - 1] = good;
    EXPECT_EQ(Download(Options()), UpdateOutcome::Installed);
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0].filename(), fs::path(std::string(UpdaterProgramName())));
    EXPECT_EQ(started_[0].parent_path().parent_path(), programDir_);
}

// What a version record may announce and a package may carry, from someone who controls the traffic.

TEST_F(UpdaterTest, WithoutAKeyNothingIsDownloadedOrStarted) {
    Serve({kUpdaterProgram});
    std::ofstream(programDir_ / std::string(UpdaterProgramName())) << "#!/bin/sh\n";  // planted
    Updater updater(Record(), Options(""));
    EXPECT_EQ(updater.Begin({}, {}), UpdaterBegin::NotAllowed);
    EXPECT_FALSE(PackageRequested());
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(updater.InstallPackage(), UpdateOutcome::Failed);
}

TEST_F(UpdaterTest, ASignatureOnlyCoversThePackageForItsOwnProductTagAndVersion) {
    const std::string package = testing::MakePackage(scratch_, {kUpdaterProgram});
    sim_.vendor().SetPackage(package);
    fields_[0] = fields_[1] = "1.3.3";
    sim_.vendor().SetVersionFields(fields_);
    const std::vector<std::string> replayed = {
        key_.Sign(package),  // the bytes alone: whatever version they are announced as
        SignedFor(key_, package, "qevanstor", "1.3.2", "1.3.2"),  // an older release under a newer number
        SignedFor(key_, package, "qevanstor", "1.3.3", "1.3.2"),  // another tag
        SignedFor(key_, package, "otherprod", "1.3.3", "1.3.3"),  // another product of the vendor
    };
    for (const std::string& signature : replayed) {
        fields_[kFieldPackageSignature - 1] = signature;
        EXPECT_EQ(Download(Options()), UpdateOutcome::Failed);
    }
    EXPECT_TRUE(started_.empty());
    fields_[kFieldPackageSignature - 1] = SignedFor(key_, package, "qevanstor", "1.3.3", "1.3.3");
    EXPECT_EQ(Download(Options()), UpdateOutcome::Installed);
    EXPECT_EQ(started_.size(), 1u);
}

TEST_F(UpdaterTest, ATagThatIsNotANameIsRefusedBeforeAnyRequest) {
    for (const std::string& tag :
         std::vector<std::string>{"d/../../../x", "..\\x", "", std::string(65, 'a'), "1.3.2 ", "a:b"}) {
        SCOPED_TRACE(tag);
        fields_[1] = tag;
        Updater updater(Record(), Options());
        EXPECT_EQ(updater.Begin({}, {}), UpdaterBegin::NotAllowed);
    }
    EXPECT_FALSE(PackageRequested());
    EXPECT_TRUE(fs::is_empty(programDir_));
    EXPECT_TRUE(started_.empty());
    for (const char* fine : {"1.3.2", "a_b-C.9", "x"})
        EXPECT_TRUE(IsPackageTag(fine)) << fine;
    EXPECT_TRUE(IsPackageTag(std::string(64, 'a')));
}

TEST_F(UpdaterTest, OnlyTheUpdaterThatCameInTheVerifiedPackageIsStarted) {
    // A leftover updater nobody recorded is not started; a signed package without an updater starts none.
    std::ofstream(programDir_ / std::string(UpdaterProgramName())) << "#!/bin/sh\n";
    fs::create_directories(unpackDir_);
    std::ofstream(unpackDir_ / std::string(UpdaterProgramName())) << "#!/bin/sh\n";
    Serve({{"readme.txt", "x"}});
    {
        Updater updater(Record(), Options());
        EXPECT_NE(updater.Begin({}, {}), UpdaterBegin::StaleUpdaterStarted);
    }
    EXPECT_EQ(Download(Options()), UpdateOutcome::Failed);
    EXPECT_TRUE(started_.empty());
    EXPECT_TRUE(StagingFolders().empty());
}

// An installed copy leaves its files to the package manager; a portable one may update itself with a key.
TEST(SelfUpdate, OnlyAPortableCopyWithAKeyUpdatesItself) {
    testing::TempDir dir;
    EXPECT_TRUE(SelfUpdateAllowed("a2V5", dir.path()));
    EXPECT_FALSE(SelfUpdateAllowed("", dir.path()));
    EXPECT_FALSE(SelfUpdateAllowed("a2V5", "/usr/bin"));
    EXPECT_FALSE(SelfUpdateAllowed("a2V5", dir / "missing"));
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
    TANDREL_SKIP_ON_WINDOWS("plants a symbolic link");
    fs::create_directories(target_);
    fs::create_directories(dir_ / "elsewhere");
    fs::create_directory_symlink(dir_ / "elsewhere", target_ / "sub");
    EXPECT_EQ(Unpack({{"sub/x.txt", "1"}}), UnpackResult::Refused);
    EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
}

TEST_F(UnpackTest, APlantedLinkAtATemporaryNameIsNotWrittenThrough) {
    TANDREL_SKIP_ON_WINDOWS("plants a symbolic link");
    fs::create_directories(target_);
    const auto victim = dir_ / "victim.txt";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, target_ / "a.txt.part");
    Unpack({{"a.txt", "from the package"}});
    EXPECT_EQ(testing::ReadBytes(victim), "precious");
}

TEST_F(UnpackTest, KeepsPermissionsWithoutSetIdBitsAndOverwritesFiles) {
    fs::create_directories(target_);
    std::ofstream(target_ / "old.txt") << "old";
    EXPECT_EQ(Unpack({{"old.txt", "new"}, {"tool", "#!/bin/sh\n", 04777}, {"plain", "p", 0644, false}}),
              UnpackResult::Ok);
    EXPECT_EQ(testing::ReadBytes(target_ / "old.txt"), "new");
    EXPECT_EQ(fs::status(target_ / "tool").permissions(), static_cast<fs::perms>(0700));  // the owner's alone
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
    const std::string signature = run(script + " sign " + key.string() + " 1.3.2 1.3.2 " + package.string());
    EXPECT_TRUE(VerifyPackageSignature(package, signature, publicKey, "qevanstor", "1.3.2", "1.3.2"));
    EXPECT_FALSE(VerifyPackageSignature(package, signature, publicKey, "qevanstor", "1.3.2", "1.3.3"));
    // A tag that is not a name is refused by the tool as by the program.
    EXPECT_EQ(run(script + " sign " + key.string() + " ../x 1.3.2 " + package.string() + " 2>/dev/null"), "");
    std::ofstream(package, std::ios::app) << "!";
    EXPECT_FALSE(VerifyPackageSignature(package, signature, publicKey, "qevanstor", "1.3.2", "1.3.2"));
}

}  // namespace
}  // namespace tandrel
