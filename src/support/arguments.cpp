#include "support/arguments.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>
#endif

namespace tandrel {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return args;
    if (count == argc) {
        for (int i = 0; i < count; ++i) {
            const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            if (n <= 0) continue;
            std::string utf8(static_cast<std::size_t>(n), '\0');
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8.data(), n, nullptr, nullptr);
            utf8.pop_back();  // the terminating NUL
            args[static_cast<std::size_t>(i)] = std::move(utf8);
        }
    }
    LocalFree(wide);
#endif
    return args;
}

}  // namespace tandrel
