#include "app/windows_console.h"

#include <windows.h>

#include <cstdio>
#include <iostream>

namespace tandrel {
namespace {

bool Leads(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void AttachParentConsole() {
    const bool out = Leads(STD_OUTPUT_HANDLE), err = Leads(STD_ERROR_HANDLE), in = Leads(STD_INPUT_HANDLE);
    if ((out && err && in) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // The texts are UTF-8 (the Chinese log lines among them).
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    FILE* ignored = nullptr;
    if (!out) freopen_s(&ignored, "CONOUT$", "w", stdout);
    if (!err) freopen_s(&ignored, "CONOUT$", "w", stderr);
    if (!in) freopen_s(&ignored, "CONIN$", "r", stdin);
    std::cout.clear();
    std::cerr.clear();
    std::cin.clear();
}

}  // namespace tandrel
