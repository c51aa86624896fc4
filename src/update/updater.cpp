#include "update/updater.h"

#include <system_error>

#include "support/files.h"
#include "update/update_package.h"

namespace tandrel {

namespace fs = std::filesystem;

std::string UpdaterOptions::BuiltInUpdateKeyText() {
    return std::string(BuiltInUpdateKey());
}

Updater::Updater(VersionRecord record, UpdaterOptions options)
    : record_(std::move(record)), options_(std::move(options)) {}

Updater::~Updater() {
    Cancel();
    if (thread_.joinable()) thread_.join();
}

void Updater::Cancel() {
    cancelled_ = true;
    std::lock_guard lock(clientMutex_);
    if (client_) client_->Cancel();
}

fs::path Updater::packagePath() const {
    return options_.programDir / PackageFileName(record_);
}

fs::path Updater::updaterPath() const {
    return options_.unpackDir / std::string(UpdaterProgramName());
}

bool Updater::Start(const fs::path& program) {
    if (options_.startProgram) return options_.startProgram(program);
    return StartDetachedProgram(program, options_.unpackDir);
}

UpdaterBegin Updater::Begin(Progress progress, Finished finished) {
    if (!AnnouncesNewerVersion(record_, options_.localVersion)) return UpdaterBegin::NotNewer;
    std::error_code ec;
    const fs::path stale = options_.programDir / std::string(UpdaterProgramName());
    if (fs::exists(stale, ec)) {
        Start(stale);
        return UpdaterBegin::StaleUpdaterStarted;
    }
    fs::remove(packagePath(), ec);
    thread_ = std::thread([this, progress = std::move(progress), finished = std::move(finished)] {
        Download(progress, finished);
    });
    return UpdaterBegin::Downloading;
}

void Updater::Download(Progress progress, Finished finished) {
    UpdateOutcome outcome = UpdateOutcome::Failed;
    {
        DownloadClient client;
        {
            std::lock_guard lock(clientMutex_);
            client_ = &client;
        }
        if (!cancelled_ && client.OpenRequest("GET", PackageAddress(record_))) {
            client.AddHeader("Accept", "*/*");
            client.AddHeader("Referer", options_.referer);
            client.AddHeader("User-Agent", kPackageUserAgent);
            client.SendRequest();
            std::string directory = PathToUtf8(options_.programDir);
            auto onlyOurs = [&progress](std::int64_t user, std::int64_t total, std::int64_t received,
                                        std::int64_t elapsed) {
                if (user == kUpdaterProgressUser && progress) progress(user, total, received, elapsed);
            };
            client.SaveToFile(directory, PackageFileName(record_), onlyOurs, kUpdaterProgressUser);
        }
        std::lock_guard lock(clientMutex_);
        client_ = nullptr;
    }
    std::error_code ec;
    if (!cancelled_ && fs::exists(packagePath(), ec)) outcome = InstallPackage();
    if (finished && !cancelled_) finished(outcome);
}

UpdateOutcome Updater::InstallPackage() {
    std::error_code ec;
    const fs::path package = packagePath();
    if (!options_.publicKey.empty() &&
        !VerifyPackageSignature(package, record_.Field(kFieldPackageSignature), options_.publicKey)) {
        fs::remove(package, ec);
        return UpdateOutcome::Failed;
    }
    const UnpackResult unpacked = UnpackPackage(package, options_.unpackDir);
    fs::remove(package, ec);
    if (unpacked == UnpackResult::Refused) return UpdateOutcome::Failed;
    if (fs::exists(updaterPath(), ec)) Start(updaterPath());
    return UpdateOutcome::Installed;
}

}  // namespace tandrel
