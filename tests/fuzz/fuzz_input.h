#pragma once
// Splits one fuzz input into several texts, so a target can feed an operation that takes more than one.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tandrel::fuzz {

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The text up to the next NUL byte (which is consumed), or all that is left.
inline std::string_view NextPiece(std::string_view& rest) {
    const auto nul = rest.find('\0');
    const auto piece = rest.substr(0, nul);
    rest.remove_prefix(nul == std::string_view::npos ? rest.size() : nul + 1);
    return piece;
}

}  // namespace tandrel::fuzz
