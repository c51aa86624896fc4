// Outside text on its way to a terminal, a log line or a robot: whatever the bytes, what comes out holds no
// control character but tab and line breaks, is valid UTF-8 without C1 controls when it is UTF-8, and is
// clean already (a second pass changes nothing). The stream filter keeps the same promise when the text
// arrives in two writes with a flush between them.
#include <sstream>
#include <string>

#include "fuzz_input.h"
#include "support/plain_text.h"

namespace {

bool Controlled(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F;
}

void CheckUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (Controlled(c)) __builtin_trap();
        // U+0080..U+009F are C2 80..C2 9F.
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = tandrel::fuzz::Bytes(data, size);
    const auto first = tandrel::fuzz::NextPiece(rest);
    const auto second = rest;

    const std::string utf8 = tandrel::RemoveControls(first, tandrel::TextBytes::Utf8);
    CheckUtf8(utf8);
    if (tandrel::RemoveControls(utf8, tandrel::TextBytes::Utf8) != utf8) __builtin_trap();
    const std::string gbk =
        tandrel::RemoveControls(first, tandrel::TextBytes::Gbk, tandrel::LineBreaks::ToSpace);
    for (const char c : gbk)
        if (Controlled(static_cast<unsigned char>(c)) || c == '\r' || c == '\n') __builtin_trap();
    tandrel::DefuseMentions(first);

    std::ostringstream sink;
    {
        tandrel::ControlFilterBuf filter(sink.rdbuf());
        std::ostream out(&filter);
        out << first << std::flush << second;
    }
    CheckUtf8(sink.str());
    return 0;
}
