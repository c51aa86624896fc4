// Header lines and Set-Cookie values as a server may send them, merged into a session cookie.
#include <string>

#include "fuzz_input.h"
#include "support/cookies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = tandrel::fuzz::Bytes(data, size);
    const auto headers = tandrel::fuzz::NextPiece(rest);
    std::string cookie(tandrel::fuzz::NextPiece(rest));
    std::string fresh(tandrel::fuzz::NextPiece(rest));
    for (std::string_view lines = headers; !lines.empty();) {
        const auto eol = lines.find('\n');
        const auto line = lines.substr(0, eol);
        tandrel::HeaderName(line);
        tandrel::HeaderValue(line);
        tandrel::CookieName(line);
        lines.remove_prefix(eol == std::string_view::npos ? lines.size() : eol + 1);
    }
    tandrel::TextBetween(headers, "Set-Cookie:", ";");
    tandrel::DedupeList(headers, ";");
    const std::string merged = tandrel::MergeCookies(cookie, fresh);
    if (merged != cookie) __builtin_trap();  // the result is also stored back
    return 0;
}
