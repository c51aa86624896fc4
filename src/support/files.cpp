#include "support/files.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tandrel {
namespace {

// The platform's exclusive creation: a new file or nothing, never through a link. -1 with errno set.
int CreateNew(const std::filesystem::path& path) {
#ifdef _WIN32
    // CREATE_NEW fails on any existing name; the reparse-point flag keeps a link from being followed.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) CloseHandle(handle);
    return fd;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    // The mode given to open is narrowed by the umask; the descriptor says what it is.
    if (fd >= 0) ::fchmod(fd, 0600);
    return fd;
#endif
}

std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
    // Unpredictable, so that nobody can plant something under the name beforehand.
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix = ".tmp";
    for (int i = 0; i < 12; ++i)
        suffix += kDigits[random() % 36];
    auto name = path.filename();
    name += suffix;
    return path.parent_path() / name;
}

}  // namespace

ExclusiveFile::ExclusiveFile(const std::filesystem::path& path) {
    fd_ = CreateNew(path);
    if (fd_ < 0) error_ = errno ? errno : EIO;
}

ExclusiveFile::~ExclusiveFile() {
    Close();
}

bool ExclusiveFile::Write(std::string_view bytes) {
    if (fd_ < 0) return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::size_t rest = bytes.size() - written;
#ifdef _WIN32
        constexpr std::size_t kChunk = 1 << 30;  // _write takes an unsigned int count
        const long long n =
            _write(fd_, bytes.data() + written, static_cast<unsigned>(rest < kChunk ? rest : kChunk));
#else
        const long long n = ::write(fd_, bytes.data() + written, rest);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool ExclusiveFile::Sync() {
#ifdef _WIN32
    return fd_ >= 0 && _commit(fd_) == 0;
#else
    return fd_ >= 0 && ::fsync(fd_) == 0;
#endif
}

bool ExclusiveFile::SetMode([[maybe_unused]] unsigned mode) {
#ifdef _WIN32
    return fd_ >= 0;
#else
    return fd_ >= 0 && ::fchmod(fd_, static_cast<mode_t>(mode)) == 0;
#endif
}

bool ExclusiveFile::Close() {
    if (fd_ < 0) return false;
#ifdef _WIN32
    const bool closed = _close(fd_) == 0;
#else
    const bool closed = ::close(fd_) == 0;
#endif
    fd_ = -1;
    return closed;
}

std::FILE* OpenForAppend(const std::filesystem::path& path, int& error) {
    error = 0;
#ifdef _WIN32
    // Shared for reading only: other writers are shut out until the file is closed.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = EACCES;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        error = EIO;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "ab");
    if (!file) {
        error = errno;
        _close(fd);
    }
    return file;
#else
    int fd = CreateNew(path);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "ab");
    if (!file) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    ::flock(fd, LOCK_EX);
    return file;
#endif
}

ReadStatus ReadWholeFile(const std::filesystem::path& path, std::string& out, std::uintmax_t maxBytes) {
    out.clear();
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return ReadStatus::Missing;
    if (!std::filesystem::is_regular_file(status)) return ReadStatus::Failed;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return ReadStatus::Failed;
    if (size > maxBytes) return ReadStatus::TooLarge;
    std::ifstream in(path, std::ios::binary);
    if (!in) return ReadStatus::Failed;
    out.resize(static_cast<std::size_t>(size));
    in.read(out.data(), static_cast<std::streamsize>(size));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return in.bad() ? ReadStatus::Failed : ReadStatus::Ok;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code ec;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const auto temporary = TemporaryBeside(path);
        ExclusiveFile file(temporary);
        if (!file.ok()) {
            if (file.error() == EEXIST) continue;  // taken: another name
            return false;
        }
        const bool written = file.Write(bytes) && file.Sync();
        if (!file.Close() || !written) {
            std::filesystem::remove(temporary, ec);
            return false;
        }
        std::filesystem::rename(temporary, path, ec);
        if (ec) {
            std::filesystem::remove(temporary, ec);
            return false;
        }
        return true;
    }
    return false;
}

bool MakePrivateFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    if (folder.empty() || std::filesystem::is_directory(folder, ec)) return !folder.empty();
#ifdef _WIN32
    std::filesystem::create_directories(folder, ec);
#else
    const auto parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !MakePrivateFolders(parent)) return false;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
#endif
    return std::filesystem::is_directory(folder, ec);
}

#ifdef _WIN32
std::string ClaimDataFolder(const std::filesystem::path& dataDir, const std::vector<DataFolderEntry>& entries,
                            std::string*) {
    if (!MakePrivateFolders(dataDir)) return "无法创建数据文件夹：" + PathToUtf8(dataDir);
    for (const DataFolderEntry& entry : entries)
        if (entry.folder && !MakePrivateFolders(dataDir / entry.name))
            return "无法创建数据文件夹：" + PathToUtf8(dataDir / entry.name);
    return {};
}
#else
namespace {

// One folder of the data folder, checked with lstat (never through a link) and made private when it is
// this account's; the refusal, or empty.
std::string ClaimFolder(const std::filesystem::path& folder, bool followLink, std::string* note) {
    struct stat st {};
    if ((followLink ? ::stat(folder.c_str(), &st) : ::lstat(folder.c_str(), &st)) != 0) {
        if (errno != ENOENT || ::mkdir(folder.c_str(), 0700) != 0 || ::lstat(folder.c_str(), &st) != 0)
            return "无法创建数据文件夹：" + PathToUtf8(folder);
    }
    if (S_ISLNK(st.st_mode)) return "数据文件夹中有链接，不使用：" + PathToUtf8(folder);
    if (!S_ISDIR(st.st_mode)) return "不是文件夹：" + PathToUtf8(folder);
    if (st.st_uid != ::geteuid()) return "文件夹属于另一个账号，不使用：" + PathToUtf8(folder);
    if ((st.st_mode & 077) != 0) {
        if (::chmod(folder.c_str(), 0700) != 0)
            return "无法将文件夹设为仅本账号可用，不使用：" + PathToUtf8(folder);
        if (note) *note += "已将文件夹设为仅本账号可用：" + PathToUtf8(folder) + "\n";
    }
    return {};
}

// An entry that is a link, or that another account owns, is refused.
std::string CheckEntry(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? "" : "无法读取：" + PathToUtf8(path);
    if (S_ISLNK(st.st_mode)) return "数据文件夹中有链接，不使用：" + PathToUtf8(path);
    if (st.st_uid != ::geteuid()) return "文件属于另一个账号，不使用：" + PathToUtf8(path);
    return {};
}

}  // namespace

std::string ClaimDataFolder(const std::filesystem::path& dataDir, const std::vector<DataFolderEntry>& entries,
                            std::string* note) {
    if (dataDir.empty()) return "没有数据文件夹";
    // The folder named may itself be a link the merchant made (to another disk, say); what it leads to is
    // checked. Its parents are made as MakePrivateFolders makes them.
    if (const auto parent = dataDir.parent_path(); !parent.empty() && parent != dataDir)
        MakePrivateFolders(parent);
    if (std::string refusal = ClaimFolder(dataDir, true, note); !refusal.empty()) return refusal;
    for (const DataFolderEntry& entry : entries) {
        const std::filesystem::path path = dataDir / entry.name;
        if (!entry.folder) {
            if (std::string refusal = CheckEntry(path); !refusal.empty()) return refusal;
            continue;
        }
        if (std::string refusal = ClaimFolder(path, false, note); !refusal.empty()) return refusal;
        std::error_code ec;
        for (const auto& inside : std::filesystem::directory_iterator(path, ec))
            if (std::string refusal = CheckEntry(inside.path()); !refusal.empty()) return refusal;
        if (ec) return "无法读取：" + PathToUtf8(path);
    }
    return {};
}
#endif

#ifdef _WIN32
std::FILE* OpenPrivateForAppend(const std::filesystem::path& path) {
    return _wfsopen(path.c_str(), L"a+b", _SH_DENYWR);
}
#else
int OpenPrivateForAppend(const std::filesystem::path& path, bool readable) {
    return ::open(path.c_str(), (readable ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                  0600);
}
#endif

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

}  // namespace tandrel
