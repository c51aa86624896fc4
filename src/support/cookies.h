#pragma once
// Session cookie texts ("a=1; b=2") and header lines. Only the first name=value pair of a Set-Cookie line is
// ever kept; attributes, domains and expiry dates are dropped. Header text is handled as bytes: it is not
// GBK, and a cookie value may hold any byte above 0x7F, which is kept as it came.

#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// Pieces between separators, compared byte for byte; an empty last piece is dropped, others are kept.
std::vector<std::string_view> SplitBytes(std::string_view text, std::string_view separator);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);  // ASCII letters only
// Whether the text holds a CR, an LF or a NUL, any of which would end a header line where it stands.
bool HasLineBreak(std::string_view text);

std::string HeaderName(std::string_view line);   // before the first ":", trimmed
std::string HeaderValue(std::string_view line);  // after the first ":", trimmed
// Text between the first start marker and the first end marker after it, ASCII letters matched without case;
// not trimmed; empty when a marker is missing.
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);
std::string CookieName(std::string_view pair);
// Drops every item equal to an earlier one (case-sensitive).
std::string DedupeList(std::string_view text, std::string_view separator);
// Merges the cookies a response set into the session cookie: new pairs first, then the old pairs they did not
// replace; pairs ending in "=deleted" and pairs holding a line break (HasLineBreak) are dropped. The result
// is stored in cookie and returned; newCookies is left with its spaces removed.
std::string MergeCookies(std::string& cookie, std::string& newCookies);

}  // namespace tandrel
