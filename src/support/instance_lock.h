#pragma once
// One monitoring process per data folder. A window or a headless run holds the lock file in its data folder
// for as long as it runs, so a second one on the same folder (which would poll every store twice as often and
// write the same store file) can tell and end. The operating system drops the lock when the process ends,
// however it ends; the file itself stays and means nothing unlocked. The store commands do not take it.
// A lock that cannot be had for any reason stops the run: running unlocked is what the lock is there to
// prevent. The file is private to the user and never opened through a link, which could point anywhere.

#include <filesystem>
#include <string>

namespace tandrel {

class InstanceLock {
  public:
    static constexpr const char* kFileName = "tandrel.lock";

    // Tries to take the lock of the folder at once.
    explicit InstanceLock(const std::filesystem::path& dataDir);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool held() const { return held_; }
    // Another process holds it.
    bool busy() const { return busy_; }
    // Why the lock is not held (UTF-8): another process has it, or the file could not be opened or locked.
    std::string RefusalText() const;

  private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::filesystem::path dataDir_;
    bool held_ = false;
    bool busy_ = false;
    std::string failure_;  // the system's reason when neither held nor busy
};

// The message of a monitoring process that finds the lock held (UTF-8).
std::string AlreadyRunningText(const std::filesystem::path& dataDir);

}  // namespace tandrel
