// Code-page conversion of outside bytes both ways. Whatever comes in, GBK read back from UTF-8 converts to
// the same UTF-8 again.
#include <string>

#include "fuzz_input.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = tandrel::fuzz::Bytes(data, size);
    const std::string utf8 = tandrel::GbkToUtf8(bytes);
    const std::string gbk = tandrel::Utf8ToGbk(bytes);
    if (tandrel::GbkToUtf8(tandrel::Utf8ToGbk(utf8)) != utf8) __builtin_trap();
    tandrel::GbkToUtf8(gbk);
    if (size >= 2) tandrel::GbkFromCodeUnit(static_cast<std::uint16_t>(data[0] << 8 | data[1]));
    return 0;
}
