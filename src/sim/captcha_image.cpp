#include "sim/captcha_image.h"

#include <zlib.h>

#include <random>
#include <stdexcept>
#include <vector>

namespace tandrel::sim {
namespace {

constexpr int kWidth = 100;
constexpr int kHeight = 36;

void AppendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void AppendChunk(std::string& png, const char (&type)[5], const std::string& data) {
    AppendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    AppendBigEndian(png, static_cast<std::uint32_t>(crc));
}

}  // namespace

std::string MakeCaptchaPng(std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth * kHeight));
    for (auto& p : pixels)
        p = static_cast<unsigned char>(200 + random() % 56);
    // A few dark strokes across the noise, as a captcha would have.
    for (int stroke = 0; stroke < 6; ++stroke) {
        int y = static_cast<int>(random() % kHeight);
        int slope = static_cast<int>(random() % 5) - 2;
        for (int x = 0; x < kWidth; ++x) {
            int yy = (y + slope * x / 10 + kHeight * 4) % kHeight;
            pixels[static_cast<std::size_t>(yy * kWidth + x)] = static_cast<unsigned char>(random() % 90);
        }
    }

    std::string raw;  // each row is preceded by its filter type, 0 (none)
    for (int y = 0; y < kHeight; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char*>(&pixels[static_cast<std::size_t>(y * kWidth)]), kWidth);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("captcha image: compression failed");
    }
    packed.resize(packedSize);

    std::string header;
    AppendBigEndian(header, kWidth);
    AppendBigEndian(header, kHeight);
    header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grayscale, deflate, no interlace

    std::string png("\x89PNG\r\n\x1A\n", 8);
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", packed);
    AppendChunk(png, "IEND", std::string());
    return png;
}

std::string Base64Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) << 16 |
                                                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                                     static_cast<unsigned char>(bytes[i + 2]));
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(kAlphabet[(v >> shift) & 0x3F]);
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) << 16);
        if (rest == 2) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]) << 8);
        out.push_back(kAlphabet[(v >> 18) & 0x3F]);
        out.push_back(kAlphabet[(v >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

}  // namespace tandrel::sim
