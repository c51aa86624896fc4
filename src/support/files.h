#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace tandrel {

enum class ReadStatus { Ok, Missing, TooLarge, Failed };

// Reads a whole file; files above maxBytes are not read (TooLarge) so that a stray huge file cannot exhaust
// memory.
ReadStatus ReadWholeFile(const std::filesystem::path& path, std::string& out, std::uintmax_t maxBytes);

// A file made anew for writing. Created exclusively, so an existing file or a link planted under its name
// makes the creation fail instead of redirecting the write; readable and writable by the user alone, set on
// the open descriptor. Closed (not removed) on destruction.
class ExclusiveFile {
  public:
    explicit ExclusiveFile(const std::filesystem::path& path);
    ~ExclusiveFile();
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    int error() const { return error_; }  // errno of a failed creation
    bool Write(std::string_view bytes);
    bool Sync();
    // Permission bits on the open file (ignored on Windows, where the folder's access list decides).
    bool SetMode(unsigned mode);
    bool Close();

  private:
    int fd_ = -1;
    int error_ = 0;
};

// Opens path for appending, creating it (for the user alone) when missing; never through a link, and shut
// against other writers until closed. Null with error set on failure.
std::FILE* OpenForAppend(const std::filesystem::path& path, int& error);

// Replaces the file with bytes: written to a temporary file beside it (created exclusively under an
// unpredictable name), flushed to disk, then renamed over it, so a crash leaves either the old file or the
// new one, never a truncated one.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Creates the folder and any missing parents; the ones made here are private to the user (0700 on POSIX;
// on Windows the user's profile ACL does this). Folders that exist are left as they are. False when the
// folder does not exist afterwards.
bool MakePrivateFolders(const std::filesystem::path& folder);

// Opens a file for appending, created private to the user (0600 on POSIX) when missing and never through a
// link. Gives a descriptor (POSIX) or a C stream (Windows); -1 / null with errno set on failure.
#ifdef _WIN32
std::FILE* OpenPrivateForAppend(const std::filesystem::path& path);
#else
int OpenPrivateForAppend(const std::filesystem::path& path, bool readable = false);
#endif

// File names are Unicode: a UTF-8 name becomes a path that reaches the system as UTF-16 on Windows (never
// through the ANSI code page, which cannot hold every Chinese name), and as the same bytes elsewhere.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace tandrel
