#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

// What the program keeps in its data folder, checked before anything there is read or written.
struct DataFolderEntry {
    std::filesystem::path name;  // directly in the data folder
    bool folder = false;         // made (0700) when missing; its own entries are checked too
};

// Makes sure the data folder is the merchant's alone before the program trusts what it holds: on POSIX the
// folder (made when missing) and every folder of entries belong to this account and are writable by nobody
// else; one of this account's that others could read or write is made private (0700), and note receives one
// line per folder so changed. No entry is a link, and no entry (nor any entry in its folders) belongs to
// another account, since anyone who could put it there could have chosen its contents. Returns the
// refusal, naming the folder or entry (UTF-8), or empty when the folder may be used. On Windows the folder's
// access list is left as it is: the user's profile grants it to the user (and the system's administrators).
std::string ClaimDataFolder(const std::filesystem::path& dataDir, const std::vector<DataFolderEntry>& entries,
                            std::string* note = nullptr);

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
