#include "support/cookies.h"

#include <unordered_set>
#include <vector>

#include "support/text.h"

namespace tandrel {
namespace {

// Splits at the first occurrence of c (stepping over double-byte characters); npos when absent.
std::size_t FindChar(std::string_view text, char c) {
    return FindText(text, std::string_view(&c, 1));
}

}  // namespace

std::string HeaderName(std::string_view line) {
    const auto colon = FindChar(line, ':');
    return colon == std::string_view::npos ? std::string() : std::string(Trim(line.substr(0, colon)));
}

std::string HeaderValue(std::string_view line) {
    const auto colon = FindChar(line, ':');
    return colon == std::string_view::npos ? std::string() : std::string(Trim(line.substr(colon + 1)));
}

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end) {
    const auto at = FindText(text, start, 0, true);
    if (at == std::string_view::npos) return {};
    const auto p = at + start.size();
    const auto q = FindText(text, end, p, true);
    if (q == std::string_view::npos) return {};
    return std::string(text.substr(p, q - p));
}

std::string CookieName(std::string_view pair) {
    const auto eq = FindChar(pair, '=');
    return std::string(Trim(eq == std::string_view::npos ? pair : pair.substr(0, eq)));
}

std::string DedupeList(std::string_view text, std::string_view separator) {
    std::unordered_set<std::string_view> seen;
    std::string out;
    for (auto piece : Split(text, separator)) {
        if (!seen.insert(piece).second) continue;
        out += piece;
        out += separator;
    }
    out.resize(out.size() >= separator.size() ? out.size() - separator.size() : 0);
    return out;
}

std::string MergeCookies(std::string& cookie, std::string& newCookies) {
    cookie = RemoveSpaces(cookie);
    newCookies = RemoveSpaces(newCookies);
    std::vector<std::string_view> working = Split(newCookies, ";");
    std::unordered_set<std::string> names;
    for (auto piece : working)
        names.insert(CookieName(piece));
    for (auto piece : Split(cookie, ";")) {
        if (names.insert(CookieName(piece)).second) working.push_back(piece);
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
