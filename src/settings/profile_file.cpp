#include "settings/profile_file.h"

#include <vector>

#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

struct Line {
    std::string_view text;        // without its line break
    std::string_view terminator;  // "\r\n", "\n", "\r" or empty at the end of the file
};

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const auto end = content.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({content.substr(start), {}});
            break;
        }
        const std::size_t breakLength =
            content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n' ? 2 : 1;
        lines.push_back({content.substr(start, end - start), content.substr(end, breakLength)});
        start = end + breakLength;
    }
    return lines;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FindText(a, b, 0, true) == 0;
}

// The section name of a header line, or nullopt-like false when the line is not a header.
bool SectionOf(std::string_view line, std::string_view& name) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '[') return false;
    line.remove_prefix(1);
    const auto close = FindText(line, "]");
    name = TrimBlanks(close == std::string_view::npos ? line : line.substr(0, close));
    return true;
}

bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value) {
    const auto eq = FindText(line, "=");
    if (eq == std::string_view::npos) return false;
    key = TrimBlanks(line.substr(0, eq));
    value = TrimBlanks(line.substr(eq + 1));
    return true;
}

// Index of the first line of the section's body and one past its last line; npos when there is no section.
std::pair<std::size_t, std::size_t> FindSection(const std::vector<Line>& lines, std::string_view section) {
    std::string_view name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!SectionOf(lines[i].text, name) || !EqualNoCase(name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionOf(lines[end].text, name))
            ++end;
        return {i + 1, end};
    }
    return {std::string_view::npos, std::string_view::npos};
}

// The text without CR, LF and NUL (bytes that never occur inside a GBK character).
std::string OneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text)
        if (c != '\r' && c != '\n' && c != '\0') out += c;
    return out;
}

}  // namespace

std::string ProfileRead(std::string_view content, std::string_view section, std::string_view key) {
    const auto lines = SplitLines(content);
    const auto [begin, end] = FindSection(lines, section);
    if (begin == std::string_view::npos) return {};
    std::string_view k, v;
    for (std::size_t i = begin; i < end; ++i) {
        if (!KeyOf(lines[i].text, k, v) || !EqualNoCase(k, key)) continue;
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return std::string(v);
    }
    return {};
}

std::string ProfileWrite(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value) {
    // One entry is one line: a line break in any of the three would write lines of its own choosing (a
    // section of its own, say), and a NUL would end the file for readers.
    const std::string cleanSection = OneLine(section), cleanKey = OneLine(key);
    section = cleanSection;
    const auto lines = SplitLines(content);
    const std::string entry = cleanKey + "=" + OneLine(value);
    const auto [begin, end] = FindSection(lines, section);

    std::string out;
    out.reserve(content.size() + entry.size() + section.size() + 8);
    const auto appendLine = [&](std::string_view text, std::string_view terminator) {
        out += text;
        out += terminator;
    };
    if (begin == std::string_view::npos) {
        out = content;
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += "\r\n";
        out += "[" + std::string(section) + "]\r\n" + entry + "\r\n";
        return out;
    }

    std::string_view k, v;
    std::size_t replace = std::string_view::npos;
    std::size_t lastFilled = begin - 1;  // the header when the section is empty
    for (std::size_t i = begin; i < end; ++i) {
        if (!TrimBlanks(lines[i].text).empty()) lastFilled = i;
        if (replace == std::string_view::npos && KeyOf(lines[i].text, k, v) && EqualNoCase(k, key))
            replace = i;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // Only the last line can lack a break; a line written after it needs one.
        const std::string_view terminator = lines[i].terminator.empty() ? "\r\n" : lines[i].terminator;
        if (i == replace) {
            appendLine(entry, terminator);
            continue;
        }
        if (replace == std::string_view::npos && i == lastFilled) {
            appendLine(lines[i].text, terminator);
            appendLine(entry, "\r\n");
            continue;
        }
        appendLine(lines[i].text, lines[i].terminator);
    }
    return out;
}

std::string ProfileFile::Snapshot() const {
    std::string content;
    if (ReadWholeFile(path_, content, kMaxBytes) != ReadStatus::Ok) content.clear();
    return content;
}

std::string ProfileFile::Read(std::string_view section, std::string_view key) const {
    return ProfileRead(Snapshot(), section, key);
}

bool ProfileFile::Write(std::string_view section, std::string_view key, std::string_view value) const {
    std::string content;
    const auto status = ReadWholeFile(path_, content, kMaxBytes);
    if (status != ReadStatus::Ok && status != ReadStatus::Missing) return false;
    return WriteFileAtomically(path_, ProfileWrite(content, section, key, value));
}

}  // namespace tandrel
