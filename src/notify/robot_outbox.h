#pragma once
// The messages a robot has not yet confirmed, kept in a file of the data folder (outbox/robotN.json) so that
// they outlive the run: a robot down at the end of one run gets them from the next, once. The file is
// private to the user and replaced atomically, never written through a link; what it holds is bounded, and
// a damaged file is set aside whole (nothing in it is lost) with a line that says so.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "notify/robot_message.h"

namespace tandrel {

struct OutboxEntry {
    RobotItem item;
    int failures = 0;  // failed posts it was in
};

struct OutboxContent {
    std::vector<OutboxEntry> entries;
    std::size_t unsent = 0;  // groups past the bound, only counted
};

// The most groups a file holds; further ones are counted into unsent.
inline constexpr std::size_t kOutboxMaxEntries = 1000;
// The most notices it holds besides: they are few (one per store and incident) and never give way to groups.
inline constexpr std::size_t kOutboxMaxNotices = 1000;
// A bigger file is no outbox of ours: it is set aside unread.
inline constexpr std::size_t kOutboxMaxBytes = 8 * 1024 * 1024;

// The file's text (UTF-8 JSON) and its reading: groups beyond their bound are counted into unsent; notices
// beyond theirs, and entries that do not read as one, are skipped and counted in skipped. False when the text
// is not an outbox at all.
std::string OutboxText(const OutboxContent& content);
bool ReadOutboxText(std::string_view text, OutboxContent& content, std::size_t& skipped);

struct OutboxLoad {
    OutboxContent content;
    std::string problem;  // UTF-8, one line, or empty
};

// Reads the file; a missing file is an empty outbox. A damaged, huge or unreadable file gives a problem and
// is renamed aside (".bad") so that the next save does not overwrite it.
OutboxLoad LoadOutbox(const std::filesystem::path& path);
// Writes the file (its folder made private when missing), or removes it when content is empty. False when
// it could not be written.
bool SaveOutbox(const std::filesystem::path& path, const OutboxContent& content);

}  // namespace tandrel
