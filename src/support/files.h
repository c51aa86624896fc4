#pragma once

#include <cstdint>
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

// Paths cross narrow-string interfaces (SQLite's file names, say) as UTF-8, whatever the local code page:
// on Windows path::string() would give the local code page.
std::string PathToUtf8(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(std::string_view utf8);

}  // namespace tandrel
