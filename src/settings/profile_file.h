#pragma once
// An INI ("profile") file read and written the way Windows programs have always done it: "[section]" headers
// and "key=value" lines, ASCII letters of section and key names matched without case, surrounding blanks and
// one pair of quotes around a value dropped on reading, everything the program does not write kept as it is.
// Texts are bytes (GBK here); line breaks may be CRLF, LF or CR, and new lines are written with CRLF.

#include <filesystem>
#include <string>
#include <string_view>

namespace tandrel {

// Pure text operations, for one snapshot of the file's content.
std::string ProfileRead(std::string_view content, std::string_view section, std::string_view key);
std::string ProfileWrite(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value);

class ProfileFile {
  public:
    // Files above this size are not ours: they read as empty and are never rewritten.
    static constexpr std::uintmax_t kMaxBytes = 1 << 20;

    explicit ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

    const std::filesystem::path& path() const { return path_; }
    // The whole content, empty when the file is missing, unreadable or too large.
    std::string Snapshot() const;
    std::string Read(std::string_view section, std::string_view key) const;
    // Creates the file on the first write; false (and the file untouched) when it cannot be written.
    bool Write(std::string_view section, std::string_view key, std::string_view value) const;

  private:
    std::filesystem::path path_;
};

}  // namespace tandrel
