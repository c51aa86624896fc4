#include "support/files.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tandrel {
namespace {

std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> sequence{0};
#ifdef _WIN32
    const long pid = _getpid();
#else
    const long pid = static_cast<long>(getpid());
#endif
    auto name = path.filename();
    name += ".tmp" + std::to_string(pid) + "-" + std::to_string(sequence++);
    return path.parent_path() / name;
}

bool WriteAndSync(const std::filesystem::path& path, std::string_view bytes) {
#ifdef _WIN32
    // The wide-character open takes the UTF-16 name; _commit is the flush to disk.
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    constexpr std::size_t kChunk = 1 << 30;  // _write takes an unsigned int count
    const auto writeSome = [fd](const char* data, std::size_t n) {
        return static_cast<long long>(_write(fd, data, static_cast<unsigned>(n < kChunk ? n : kChunk)));
    };
    const auto sync = [fd] { return _commit(fd) == 0; };
    const auto closeFile = [fd] { return _close(fd) == 0; };
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const auto writeSome = [fd](const char* data, std::size_t n) {
        return static_cast<long long>(::write(fd, data, n));
    };
    const auto sync = [fd] { return ::fsync(fd) == 0; };
    const auto closeFile = [fd] { return ::close(fd) == 0; };
#endif
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const auto n = writeSome(bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            closeFile();
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    const bool synced = sync();
    return closeFile() && synced;
}

}  // namespace

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
    const auto temporary = TemporaryBeside(path);
    std::error_code ec;
    if (!WriteAndSync(temporary, bytes)) {
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
