#pragma once
// The self-update without its window. Only a portable copy with a public key built in updates itself. An
// updater left by an earlier run is started at once when it is the one recorded when its package was
// verified; otherwise the package named by the version record is downloaded beside the program on a worker
// thread, its signature checked, unpacked into a staging folder of its own beside the program, and the
// updater program it carried started from there. The caller ends the process when the updater has been
// started.

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
    // The package is saved here, and the staging folder and the record of a verified updater are made here.
    std::filesystem::path programDir;
    std::string_view localVersion = kVersionText;
    std::string_view productCode = kProductCode;
    std::string referer;                            // the vendor's web site
    std::string publicKey{BuiltInUpdateKeyText()};  // Base64 Ed25519 key; empty: no self-update
    // Starts the updater program; null: a detached process working in its staging folder.
    std::function<bool(const std::filesystem::path&)> startProgram;

    static std::string BuiltInUpdateKeyText();
};

// The three request headers of the package download, in order.
inline constexpr std::string_view kPackageUserAgent =
    " Mozilla/5.0 (Windows NT 6.1; WOW64; rv:23.0) Gecko/20100101 Firefox/23.0";
inline constexpr std::int64_t kUpdaterProgressUser = 123;

// Whether this copy may replace itself: a public key is built in (without one, nothing could tell the
// vendor's package from anyone's) and the copy is portable (an installed copy's files belong to the package
// manager or the installer). Otherwise a newer version only shows the manual download page.
bool SelfUpdateAllowed(std::string_view publicKey, const std::filesystem::path& programDir);

// Removes what an earlier update left beside the program: its staging folders, the record of its verified
// updater, and an updater program directly beside the program (version record field 7).
void RemoveLeftoverUpdater(const std::filesystem::path& programDir);

enum class UpdaterBegin {
    NotNewer,             // nothing to do: the window closes
    NotAllowed,           // no key, or a tag that is not a name: nothing fetched; the manual download page
    StaleUpdaterStarted,  // an updater program left beside the program was started: end the process
    Downloading,          // the download thread runs; finished will be called
};

enum class UpdateOutcome {
    Installed,  // the package was verified and unpacked, and the updater program it carried started
    Failed,     // no usable package: no file, a bad signature, an unsafe entry or no updater in it
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
    // The updater program started from its staging folder; empty until one was.
    std::filesystem::path updaterPath() const { return updaterPath_; }

    // Checks, unpacks into a new staging folder and removes a downloaded package, records its updater
    // program's SHA-256 and starts it. Failed for a bad signature, an unsafe entry or a package without an
    // updater program (the package and the staging folder are removed, nothing is started).
    UpdateOutcome InstallPackage();

  private:
    void Download(Progress progress, Finished finished);
    bool Start(const std::filesystem::path& program);
    bool StartRecordedUpdater();

    VersionRecord record_;
    UpdaterOptions options_;
    std::mutex clientMutex_;  // Cancel never reaches a client that is being destroyed
    DownloadClient* client_ = nullptr;
    std::atomic<bool> cancelled_{false};
    std::filesystem::path updaterPath_;
    std::thread thread_;
};

}  // namespace tandrel
