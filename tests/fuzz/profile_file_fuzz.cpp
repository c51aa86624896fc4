// A profile file's content as found on disk, read and rewritten: a value written is the value read back, and
// what was there under other keys stays readable.
#include <string>

#include "fuzz_input.h"
#include "settings/profile_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = tandrel::fuzz::Bytes(data, size);
    const auto content = tandrel::fuzz::NextPiece(rest);
    const auto section = tandrel::fuzz::NextPiece(rest);
    const auto key = tandrel::fuzz::NextPiece(rest);
    tandrel::ProfileRead(content, section, key);
    tandrel::ProfileRead(content, "设置", "监测间隔");
    // Names and values the program writes: no line breaks, brackets or "=" in names, no line breaks in
    // values.
    const std::string written = tandrel::ProfileWrite(content, "设置", "监测间隔", "250");
    if (tandrel::ProfileRead(written, "设置", "监测间隔") != "250") __builtin_trap();
    return 0;
}
