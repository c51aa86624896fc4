#include "support/cookies.h"

#include <unordered_set>
#include <vector>

namespace tandrel {
namespace {

// Header text is bytes (ASCII by the protocol, anything above 0x7F passed through as it came), never GBK: a
// byte above 0x80 must not be read as the lead of a double-byte character, or it swallows the ";" or the line
// break after it.
std::string_view TrimSpacesAndTabs(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view needle, std::size_t from = 0) {
    if (needle.empty() || needle.size() > text.size()) return std::string_view::npos;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && Lower(text[i + k]) == Lower(needle[k]))
            ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

std::string WithoutSpaces(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != ' ') out += c;
    return out;
}

}  // namespace

std::vector<std::string_view> SplitBytes(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    if (text.empty() || separator.empty()) {
        if (!text.empty()) pieces.push_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string_view::npos;) {
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    if (start < text.size()) pieces.push_back(text.substr(start));
    return pieces;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string HeaderName(std::string_view line) {
    const auto colon = line.find(':');
    return colon == std::string_view::npos ? std::string()
                                           : std::string(TrimSpacesAndTabs(line.substr(0, colon)));
}

std::string HeaderValue(std::string_view line) {
    const auto colon = line.find(':');
    return colon == std::string_view::npos ? std::string()
                                           : std::string(TrimSpacesAndTabs(line.substr(colon + 1)));
}

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end) {
    const auto at = FindIgnoringCase(text, start);
    if (at == std::string_view::npos) return {};
    const auto p = at + start.size();
    const auto q = FindIgnoringCase(text, end, p);
    if (q == std::string_view::npos) return {};
    return std::string(text.substr(p, q - p));
}

std::string CookieName(std::string_view pair) {
    const auto eq = pair.find('=');
    return std::string(TrimSpacesAndTabs(eq == std::string_view::npos ? pair : pair.substr(0, eq)));
}

std::string DedupeList(std::string_view text, std::string_view separator) {
    std::unordered_set<std::string_view> seen;
    std::string out;
    for (auto piece : SplitBytes(text, separator)) {
        if (!seen.insert(piece).second) continue;
        out += piece;
        out += separator;
    }
    out.resize(out.size() >= separator.size() ? out.size() - separator.size() : 0);
    return out;
}

std::string MergeCookies(std::string& cookie, std::string& newCookies) {
    cookie = WithoutSpaces(cookie);
    newCookies = WithoutSpaces(newCookies);
    std::vector<std::string_view> working;
    std::unordered_set<std::string> names;
    // A pair that holds a line break would end the Cookie line and start a header of its own: it is dropped.
    for (auto piece : SplitBytes(newCookies, ";")) {
        if (HasLineBreak(piece)) continue;
        working.push_back(piece);
        names.insert(CookieName(piece));
    }
    for (auto piece : SplitBytes(cookie, ";")) {
        if (!HasLineBreak(piece) && names.insert(CookieName(piece)).second) working.push_back(piece);
    }
    std::string merged;
    constexpr std::string_view kDeleted = "=deleted";
    for (auto piece : working) {
        if (piece.size() >= kDeleted.size() && piece.substr(piece.size() - kDeleted.size()) == kDeleted)
            continue;
        merged += piece;
        merged += "; ";
    }
    merged.resize(merged.size() >= 2 ? merged.size() - 2 : 0);
    cookie = DedupeList(merged, "; ");
    return cookie;
}

}  // namespace tandrel
