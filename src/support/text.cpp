#include "support/text.h"

#include <chrono>
#include <limits>
#include <mutex>
#include <unordered_map>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#ifdef _MSC_VER
#include <intrin.h>
#else
#include <x86intrin.h>
#endif
#define TANDREL_HAVE_RDTSC 1
#endif

namespace tandrel {
namespace {

constexpr unsigned char kWideSpaceByte = 0xA1;

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesAt(std::string_view text, std::size_t at, std::string_view needle, bool ignoreCase) {
    if (text.size() - at < needle.size()) return false;
    if (!ignoreCase) return text.compare(at, needle.size(), needle) == 0;
    for (std::size_t k = 0; k < needle.size(); ++k)
        if (AsciiLower(text[at + k]) != AsciiLower(needle[k])) return false;
    return true;
}

bool IsSpaceAt(std::string_view text, std::size_t i) {
    if (text[i] == ' ') return true;
    return static_cast<unsigned char>(text[i]) == kWideSpaceByte && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) == kWideSpaceByte;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

std::uint32_t CycleCounterLow32() {
#ifdef TANDREL_HAVE_RDTSC
    return static_cast<std::uint32_t>(__rdtsc());
#else
    return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

int DrawBetween(int lo, int hi) {
    const std::uint32_t t = CycleCounterLow32();
    const std::uint32_t v = ((t * 214013u + 2531011u) >> 16) & 0x7FFFu;
    return lo + static_cast<int>(v % static_cast<std::uint32_t>(hi - lo + 1));
}

}  // namespace

std::string_view UpToNul(std::string_view bytes) {
    const auto nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from, bool ignoreCase) {
    if (needle.empty()) return from <= text.size() ? from : std::string_view::npos;
    for (std::size_t i = from; i < text.size(); i += CharLength(text, i))
        if (MatchesAt(text, i, needle, ignoreCase)) return i;
    return std::string_view::npos;
}

bool ContainsText(std::string_view text, std::string_view needle, bool ignoreCase) {
    return FindText(text, needle, 0, ignoreCase) != std::string_view::npos;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to, bool ignoreCase) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (MatchesAt(text, i, from, ignoreCase)) {
            out += to;
            i += from.size();
        } else {
            const auto n = CharLength(text, i);
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsSpaceAt(text, begin))
        begin += text[begin] == ' ' ? 1 : 2;
    // The end is found walking forward so that a trail byte A1 is never mistaken for half a space.
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const bool space = IsSpaceAt(text, i);
        const auto n = space ? (text[i] == ' ' ? 1 : 2) : CharLength(text, i);
        i += n;
        if (!space) end = i;
    }
    return text.substr(begin, end - begin);
}

std::string RemoveSpaces(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (IsSpaceAt(text, i)) {
            i += text[i] == ' ' ? 1 : 2;
            continue;
        }
        const auto n = CharLength(text, i);
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string RemoveChar(std::string_view text, char c) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto n = CharLength(text, i);
        if (!(n == 1 && text[i] == c)) out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    if (text.empty()) return pieces;
    if (separator.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const auto at = FindText(text, separator, start);
        if (at == std::string_view::npos) break;
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    if (start < text.size()) pieces.push_back(text.substr(start));
    return pieces;
}

std::string Join(const std::vector<std::string_view>& pieces, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i) out += separator;
        out += pieces[i];
    }
    return out;
}

std::int32_t TextToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(value >= kLimit ? kLimit - 1 : value);
}

std::string UnescapeText(std::string& text) {
    std::string result = ReplaceAll(text, "\\/", "/");
    const auto pieces = Split(result, "\\u");
    if (pieces.size() >= 2) {
        std::string accumulator;
        for (std::size_t p = 1; p < pieces.size(); ++p) {
            const std::string_view piece = pieces[p];
            // The first four characters are the hexadecimal code; lengths count characters, not bytes.
            std::size_t end = 0;
            int chars = 0;
            while (end < piece.size() && chars < 4) {
                end += CharLength(piece, end);
                ++chars;
            }
            if (chars < 4) {
                accumulator += piece;
                continue;
            }
            std::uint32_t code = 0;
            for (std::size_t k = 0, digit = 0; k < end; k += CharLength(piece, k), ++digit)
                code = code * 16 + static_cast<std::uint32_t>(HexDigitValue(piece[k]));
            accumulator += GbkFromCodeUnit(static_cast<std::uint16_t>(code));
            accumulator += piece.substr(end);
        }
        result = std::string(pieces[0]) + RemoveChar(accumulator, '\\');
    }
    text = result;
    return result;
}

std::string ExtractBetween(std::string_view text, std::string_view start, std::string_view end) {
    const auto first = FindText(text, start, 0, true);
    if (first == std::string_view::npos || start.empty()) return {};
    const auto p = first + start.size();
    const auto q = FindText(text, end, p, true);
    if (q == std::string_view::npos) return {};
    auto from = p;
    for (auto at = FindText(text, start, p, true); at != std::string_view::npos && at + start.size() <= q;
         at = FindText(text, start, at + CharLength(text, at), true))
        from = at + start.size();
    return std::string(Trim(text.substr(from, q - from)));
}

std::string RandomAlnumText(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        switch (DrawBetween(1, 3)) {
            case 1:
                out += static_cast<char>(DrawBetween('0', '9'));
                break;
            case 2:
                out += static_cast<char>(DrawBetween('A', 'Z'));
                break;
            default:
                out += static_cast<char>(DrawBetween('a', 'z'));
                break;
        }
    }
    return out;
}

const std::string& Gbk(const char* utf8) {
    // One cache for the process, never destroyed: the texts are literals, so it stays small, a reference
    // into it holds for the whole run, and no thread's end frees what another still reads. (A thread_local
    // map was freed at a thread's end on Windows before its destructor ran.)
    static std::mutex mutex;
    static auto& cache = *new std::unordered_map<const char*, std::string>;
    std::lock_guard lock(mutex);
    auto [it, inserted] = cache.try_emplace(utf8);
    if (inserted) it->second = Utf8ToGbk(utf8);
    return it->second;
}

}  // namespace tandrel
