// Reply texts through the unescaping and the text helpers that read them: "\/" and "\u" sequences, markers,
// trimming, splitting and number reading, on arbitrary bytes.
#include <string>

#include "fuzz_input.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = tandrel::fuzz::Bytes(data, size);
    const auto text = tandrel::fuzz::NextPiece(rest);
    const auto start = tandrel::fuzz::NextPiece(rest);
    const auto end = tandrel::fuzz::NextPiece(rest);
    std::string copy(text);
    const std::string unescaped = tandrel::UnescapeText(copy);
    if (unescaped != copy) __builtin_trap();  // the result is also stored back
    tandrel::ExtractBetween(text, start, end);
    tandrel::FindText(text, start, 0, true);
    tandrel::ReplaceAll(text, start, end, true);
    tandrel::Trim(text);
    tandrel::RemoveSpaces(text);
    tandrel::RemoveChar(text, start.empty() ? ',' : start.front());
    tandrel::Join(tandrel::Split(text, start), end);
    tandrel::TextToInt(text);
    return 0;
}
