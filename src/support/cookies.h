#pragma once
// Session cookie texts ("a=1; b=2") and header lines. Only the first name=value pair of a Set-Cookie line is
// ever kept; attributes, domains and expiry dates are dropped.

#include <string>
#include <string_view>

namespace tandrel {

std::string HeaderName(std::string_view line);   // before the first ":", trimmed
std::string HeaderValue(std::string_view line);  // after the first ":", trimmed
// Text between the first start marker and the first end marker after it, ASCII letters matched without case;
// not trimmed; empty when a marker is missing.
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);
std::string CookieName(std::string_view pair);
// Drops every item equal to an earlier one (case-sensitive).
std::string DedupeList(std::string_view text, std::string_view separator);
// Merges the cookies a response set into the session cookie: new pairs first, then the old pairs they did not
// replace; pairs ending in "=deleted" are dropped. The result is stored in cookie and returned; newCookies is
// left with its spaces removed.
std::string MergeCookies(std::string& cookie, std::string& newCookies);

}  // namespace tandrel
