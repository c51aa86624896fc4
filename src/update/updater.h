#pragma once
// The self-update without its window: a stale updater program is started at once; otherwise the package
// named by the version record is downloaded beside the program on a worker thread, checked, unpacked and its
// updater program started. The caller ends the process when the updater has been started.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/download_client.h"
#include "update/version_record.h"

namespace tandrel {

struct UpdaterOptions {
    std::filesystem::path
        programDir;                   // the package is saved here; a stale updater program is looked for here
    std::filesystem::path unpackDir;  // the process's current directory
    std::string_view localVersion = kVersionText;
    std::string referer;                            // the vendor's web site
    std::string publicKey{BuiltInUpdateKeyText()};  // Base64 Ed25519 key; empty: packages are not checked
    // Starts the updater program; null: a detached process in unpackDir.
    std::function<bool(const std::filesystem::path&)> startProgram;

    static std::string BuiltInUpdateKeyText();
};

// The three request headers of the package download, in order.
inline constexpr std::string_view kPackageUserAgent =
    " Mozilla/5.0 (Windows NT 6.1; WOW64; rv:23.0) Gecko/20100101 Firefox/23.0";
inline constexpr std::int64_t kUpdaterProgressUser = 123;

enum class UpdaterBegin {
    NotNewer,             // nothing to do: the window closes
    StaleUpdaterStarted,  // an updater program left beside the program was started: end the process
    Downloading,          // the download thread runs; finished will be called
};

enum class UpdateOutcome {
    Installed,  // the package was unpacked (or could not be) and the updater program started if present
    Failed,     // no usable package: no file, a bad signature or an unsafe entry; nothing was unpacked
};

class Updater {
  public:
    // progress: on the download's progress thread (user value 123 only). finished: on the download thread.
    using Progress = DownloadClient::Progress;
    using Finished = std::function<void(UpdateOutcome)>;

    Updater(VersionRecord record, UpdaterOptions options);
    // Stops a download in progress and waits for its thread.
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    UpdaterBegin Begin(Progress progress, Finished finished);
    void Cancel();

    std::filesystem::path packagePath() const;
    std::filesystem::path updaterPath() const;  // where the unpacked updater program is expected

    // Checks, unpacks and removes a downloaded package, then starts its updater program. Failed for a bad
    // signature or an unsafe entry (the package is removed and nothing unpacked).
    UpdateOutcome InstallPackage();

  private:
    void Download(Progress progress, Finished finished);
    bool Start(const std::filesystem::path& program);

    VersionRecord record_;
    UpdaterOptions options_;
    std::mutex clientMutex_;  // Cancel never reaches a client that is being destroyed
    DownloadClient* client_ = nullptr;
    std::atomic<bool> cancelled_{false};
    std::thread thread_;
};

}  // namespace tandrel
