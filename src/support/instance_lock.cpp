#include "support/instance_lock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace tandrel {

InstanceLock::InstanceLock(const std::filesystem::path& dataDir) : dataDir_(dataDir) {
    const auto path = dataDir / kFileName;
#ifdef _WIN32
    // Wide path: the folder's name may hold characters outside the local code page.
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failure_ = "error " + std::to_string(GetLastError());
        return;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        failure_ = "not a plain file";
        CloseHandle(handle);
        return;
    }
    OVERLAPPED at{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        busy_ = GetLastError() == ERROR_LOCK_VIOLATION;
        if (!busy_) failure_ = "error " + std::to_string(GetLastError());
        CloseHandle(handle);
        return;
    }
    handle_ = handle;
    held_ = true;
#else
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd_ < 0) {
        failure_ = errno == ELOOP ? "the lock file is a link" : std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure_ = "the lock file is not a plain file";
        ::close(fd_);
        fd_ = -1;
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        busy_ = errno == EWOULDBLOCK;
        if (!busy_) failure_ = std::strerror(errno);
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

std::string InstanceLock::RefusalText() const {
    if (held_) return {};
    if (busy_) return AlreadyRunningText(dataDir_);
    const std::u8string file = (dataDir_ / kFileName).u8string();
    return "Tandrel 无法锁定数据文件夹，不开始监测：" + std::string(file.begin(), file.end()) + "（" +
           failure_ + "）";
}

std::string AlreadyRunningText(const std::filesystem::path& dataDir) {
    const std::u8string folder = dataDir.u8string();
    return "Tandrel 已在此数据文件夹运行：" + std::string(folder.begin(), folder.end());
}

}  // namespace tandrel
