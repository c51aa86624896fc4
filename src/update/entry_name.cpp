#include "update/entry_name.h"

namespace tandrel {

bool IsSafeEntryName(std::string_view name) {
    if (name.empty() || name.front() == '/') return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == ':' || u < 0x20 || u == 0x7F) return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        if (name.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace tandrel
