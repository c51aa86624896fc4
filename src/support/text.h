#pragma once
// Text helpers for the program's GBK byte strings. A byte above 0x80 leads a double-byte character, and every
// search here steps over such characters so that a trail byte is never taken for an ASCII character.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

inline bool IsLeadByte(unsigned char c) {
    return c > 0x80;
}

// Length in bytes of the character that starts at text[i] (2 for a lead byte with a trail, else 1).
inline std::size_t CharLength(std::string_view text, std::size_t i) {
    return IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

// The text up to, not including, its first NUL byte.
std::string_view UpToNul(std::string_view bytes);

// Code-page conversion (exact CP936). What GBK cannot hold becomes "?"; malformed UTF-8 becomes "?" too.
// Both end the input at its first NUL byte.
std::string Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);
// One UTF-16 code unit as GBK; "?" for a code without a GBK form (a lone surrogate half, for instance).
std::string GbkFromCodeUnit(std::uint16_t unit);

// First occurrence of needle at or after from (a character boundary), or npos. With ignoreCase, ASCII letters
// match in either case.
std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from = 0,
                     bool ignoreCase = false);
bool ContainsText(std::string_view text, std::string_view needle, bool ignoreCase = false);
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to,
                       bool ignoreCase = false);

// Spaces are the ASCII space and the full-width space (bytes A1 A1); tabs and line breaks are not.
std::string_view Trim(std::string_view text);
std::string RemoveSpaces(std::string_view text);
// Removes every occurrence of the single ASCII byte c that is not the trail byte of a double-byte character.
std::string RemoveChar(std::string_view text, char c);

// Pieces between separators, keeping empty pieces inside and at the start, dropping an empty last piece;
// an empty text gives no pieces.
std::vector<std::string_view> Split(std::string_view text, std::string_view separator);
std::string Join(const std::vector<std::string_view>& pieces, std::string_view separator);

// Integer reading of a stored text: leading white space, an optional sign, the digits up to the first other
// character ("3.7" gives 3, "" and "abc" give 0); saturates at the 32-bit limits.
std::int32_t TextToInt(std::string_view text);

// Replaces "\/" by "/" and decodes "\u" sequences; the result is also stored back into text.
std::string UnescapeText(std::string& text);

// Text between the start marker and the next end marker, ASCII letters matched without case, trimmed.
// When the start marker repeats before the end marker, the last repetition counts.
std::string ExtractBetween(std::string_view text, std::string_view start, std::string_view end);

// n random characters from 0-9, A-Z and a-z (cache-defeating query values, not secrets).
std::string RandomAlnumText(int n);

// A fixed text of the program's own (a UTF-8 literal) in GBK, converted once per thread and literal.
const std::string& Gbk(const char* utf8);

}  // namespace tandrel
