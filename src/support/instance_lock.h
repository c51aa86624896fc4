#pragma once
// One monitoring process per data folder. A window or a headless run holds the lock file in its data folder
// for as long as it runs, so a second one on the same folder (which would poll every store twice as often and
// write the same store file) can tell and end. The operating system drops the lock when the process ends,
// however it ends; the file itself stays and means nothing unlocked. The store commands do not take it.

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
    // Another process holds it. (When the file cannot be made at all, say in a read-only folder, neither is
    // true: the run goes on, and the folder's own errors speak for themselves.)
    bool busy() const { return busy_; }

  private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    bool held_ = false;
    bool busy_ = false;
};

// The message of a monitoring process that finds the lock held (UTF-8).
std::string AlreadyRunningText(const std::filesystem::path& dataDir);

}  // namespace tandrel
