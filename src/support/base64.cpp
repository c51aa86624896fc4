#include "support/base64.h"

#include <array>
#include <cstdint>

#include "support/text.h"

namespace tandrel {
namespace {

constexpr std::size_t kGroupsPerPump = 4096;

constexpr std::array<std::int8_t, 256> MakeAlphabetTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table)
        v = -1;
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}
constexpr auto kAlphabet = MakeAlphabetTable();

}  // namespace

std::string Base64Decode(std::string_view text, const std::function<void()>& pump) {
    const std::string cleaned = ReplaceAll(RemoveSpaces(text), "\r\n", "");
    std::string out;
    out.reserve(cleaned.size() / 4 * 3 + 3);
    std::size_t removeAtEnd = 0;
    for (std::size_t g = 0, pos = 0; pos < cleaned.size(); ++g, pos += 4) {
        std::uint32_t values[4] = {0, 0, 0, 0};
        std::size_t endedAt = 0;  // 1-based position of the character that ended the group; 0 when none did
        for (std::size_t k = 0; k < 4; ++k) {
            if (pos + k >= cleaned.size()) {
                endedAt = k + 1;
                break;
            }
            const auto v = kAlphabet[static_cast<unsigned char>(cleaned[pos + k])];
            if (v < 0) {
                endedAt = k + 1;
                break;
            }
            values[k] = static_cast<std::uint32_t>(v);
        }
        out += static_cast<char>(values[0] << 2 | values[1] >> 4);
        out += static_cast<char>((values[1] & 0x0F) << 4 | values[2] >> 2);
        out += static_cast<char>((values[2] & 0x03) << 6 | values[3]);
        removeAtEnd = endedAt == 0 ? 0 : 5 - endedAt;
        if (pump && (g + 1) % kGroupsPerPump == 0) pump();
    }
    out.resize(out.size() >= removeAtEnd ? out.size() - removeAtEnd : 0);
    return out;
}

}  // namespace tandrel
