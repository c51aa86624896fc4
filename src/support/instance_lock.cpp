#include "support/instance_lock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tandrel {

InstanceLock::InstanceLock(const std::filesystem::path& dataDir) {
    const auto path = dataDir / kFileName;
#ifdef _WIN32
    // Wide path: the folder's name may hold characters outside the local code page.
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    OVERLAPPED at{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        busy_ = GetLastError() == ERROR_LOCK_VIOLATION;
        CloseHandle(handle);
        return;
    }
    handle_ = handle;
    held_ = true;
#else
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        busy_ = errno == EWOULDBLOCK;
        ::close(fd_);
        fd_ = -1;
        return;
    }
    held_ = true;
#endif
}

InstanceLock::~InstanceLock() {
#ifdef _WIN32
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
#else
    if (fd_ >= 0) ::close(fd_);
#endif
}

std::string AlreadyRunningText(const std::filesystem::path& dataDir) {
    const std::u8string folder = dataDir.u8string();
    return "Tandrel 已在此数据文件夹运行：" + std::string(folder.begin(), folder.end());
}

}  // namespace tandrel
