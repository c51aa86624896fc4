#pragma once
// The check every name in an update package passes before anything is unpacked. Plain C++, so that it is
// fuzzed with the other parsers of outside bytes.

#include <string_view>

namespace tandrel {

// A relative path below the target: no absolute path, drive letter or other colon, backslash, ".."
// component, control character or empty name.
bool IsSafeEntryName(std::string_view name);

}  // namespace tandrel
