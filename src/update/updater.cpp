#include "update/updater.h"

#include <random>
#include <system_error>

#include "settings/data_folder.h"
#include "support/files.h"
#include "support/text.h"
#include "update/update_package.h"

namespace tandrel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStagingPrefix = "m_update-staging-";
// Tag, version, staging folder name and the SHA-256 of the updater program, one a line.
constexpr std::string_view kVerifiedRecord = "m_update.verified";

bool IsStagingName(std::string_view name) {
    if (name.size() != kStagingPrefix.size() + 16 || name.substr(0, kStagingPrefix.size()) != kStagingPrefix)
        return false;
    for (char c : name.substr(kStagingPrefix.size())) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

// A folder beside the program made for one update alone: a new name, created here and now (an existing one
// is never reused), for the user alone.
fs::path MakeStagingFolder(const fs::path& programDir) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string name(kStagingPrefix);
        for (int i = 0; i < 16; ++i)
            name += kDigits[random() % 36];
        const fs::path folder = programDir / name;
        std::error_code ec;
        if (fs::create_directory(folder, ec)) {
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
            return folder;
        }
    }
    return {};
}

void RemoveStagingFolders(const fs::path& programDir) {
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(programDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (IsStagingName(PathToUtf8(it->path().filename()))) found.push_back(it->path());
    }
    for (const fs::path& folder : found)
        fs::remove_all(folder, ec);  // a link in its place goes itself; nothing it names is touched
}

}  // namespace

std::string UpdaterOptions::BuiltInUpdateKeyText() {
    return std::string(BuiltInUpdateKey());
}

bool SelfUpdateAllowed(std::string_view publicKey, const fs::path& programDir) {
    if (publicKey.empty()) return false;
    const bool writable = IsWritableFolder(programDir);
    return writable && ChooseDataFolder(programDir, writable, {}).portable;
}

void RemoveLeftoverUpdater(const fs::path& programDir) {
    if (programDir.empty()) return;
    std::error_code ec;
    fs::remove(programDir / std::string(UpdaterProgramName()), ec);
    fs::remove(programDir / std::string(kVerifiedRecord), ec);
    RemoveStagingFolders(programDir);
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

bool Updater::Start(const fs::path& program) {
    if (options_.startProgram) return options_.startProgram(program);
    return StartDetachedProgram(program, program.parent_path());
}

// The updater of an earlier run for this very tag and version, when it is still the file whose digest was
// recorded once its package had been verified.
bool Updater::StartRecordedUpdater() {
    std::string text;
    if (ReadWholeFile(options_.programDir / std::string(kVerifiedRecord), text, 4096) != ReadStatus::Ok)
        return false;
    const auto lines = Split(text, "\n");
    if (lines.size() < 4 || lines[0] != record_.Field(kFieldPackageTag) ||
        lines[1] != record_.Field(kFieldVersion) || !IsStagingName(lines[2]) || lines[3].size() != 64)
        return false;
    const fs::path program = options_.programDir / lines[2] / std::string(UpdaterProgramName());
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(program, ec)) || FileSha256(program) != lines[3])
        return false;
    updaterPath_ = program;
    return Start(program);
}

UpdaterBegin Updater::Begin(Progress progress, Finished finished) {
    if (!AnnouncesNewerVersion(record_, options_.localVersion)) return UpdaterBegin::NotNewer;
    if (options_.publicKey.empty() || !IsPackageTag(record_.Field(kFieldPackageTag)))
        return UpdaterBegin::NotAllowed;
    if (StartRecordedUpdater()) return UpdaterBegin::StaleUpdaterStarted;
    RemoveLeftoverUpdater(options_.programDir);
    std::error_code ec;
    fs::remove(packagePath(), ec);
    fs::remove(fs::path(packagePath()) += ".part", ec);
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
    const std::string& tag = record_.Field(kFieldPackageTag);
    const std::string& version = record_.Field(kFieldVersion);
    if (options_.publicKey.empty() || !IsPackageTag(tag) ||
        !VerifyPackageSignature(package, record_.Field(kFieldPackageSignature), options_.publicKey,
                                options_.productCode, tag, version)) {
        fs::remove(package, ec);
        return UpdateOutcome::Failed;
    }
    const fs::path staging = MakeStagingFolder(options_.programDir);
    const UnpackResult unpacked =
        staging.empty() ? UnpackResult::WriteFailed : UnpackPackage(package, staging);
    fs::remove(package, ec);
    const fs::path program = staging / std::string(UpdaterProgramName());
    const std::string digest =
        unpacked == UnpackResult::Ok && fs::is_regular_file(fs::symlink_status(program, ec))
            ? FileSha256(program)
            : std::string();
    // Recorded so that a later run may start this updater again, and no other.
    const std::string entry =
        tag + "\n" + version + "\n" + PathToUtf8(staging.filename()) + "\n" + digest + "\n";
    if (digest.empty() || !WriteFileAtomically(options_.programDir / std::string(kVerifiedRecord), entry)) {
        if (!staging.empty()) fs::remove_all(staging, ec);
        return UpdateOutcome::Failed;
    }
    updaterPath_ = program;
    return Start(program) ? UpdateOutcome::Installed : UpdateOutcome::Failed;
}

}  // namespace tandrel
