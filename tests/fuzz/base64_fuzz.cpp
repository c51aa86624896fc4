// Base64 texts as replies carry them (captcha pictures): any bytes decode to some bytes, never more than
// three for every four characters.
#include <string>

#include "fuzz_input.h"
#include "support/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int pumps = 0;
    const std::string bytes = tandrel::Base64Decode(tandrel::fuzz::Bytes(data, size), [&pumps] { ++pumps; });
    if (bytes.size() > (size + 3) / 4 * 3) __builtin_trap();
    return 0;
}
