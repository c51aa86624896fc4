#include "support/files.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <unistd.h>
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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return static_cast<bool>(out);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const auto n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            ::close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
#endif
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

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace tandrel
