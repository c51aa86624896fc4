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

// Replaces the file with bytes: written to a temporary file beside it, flushed to disk, then renamed over it,
// so a crash leaves either the old file or the new one, never a truncated one.
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
