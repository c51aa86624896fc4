#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tandrel {

// Standard-alphabet Base64 to bytes. Spaces (ASCII and full-width) and CRLF pairs are ignored; the first
// character outside the alphabet ends its group of four, and the last group's ending decides how many of its
// bytes are kept, so padded and unpadded input both decode. Malformed input yields some bytes, never a fault.
// When given, pump is called every few thousand groups so that a window can keep handling its events.
std::string Base64Decode(std::string_view text, const std::function<void()>& pump = {});

}  // namespace tandrel
