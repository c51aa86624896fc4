#include "sim/captcha_image.h"

#include <zlib.h>

#include <algorithm>
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

std::string Png(int width, int height, int bytesPerPixel, const std::vector<unsigned char>& pixels) {
    std::string raw;  // each row is preceded by its filter type, 0 (none)
    const auto rowBytes = static_cast<std::size_t>(width * bytesPerPixel);
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char*>(&pixels[static_cast<std::size_t>(y) * rowBytes]), rowBytes);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("simulated picture: compression failed");
    }
    packed.resize(packedSize);

    std::string header;
    AppendBigEndian(header, static_cast<std::uint32_t>(width));
    AppendBigEndian(header, static_cast<std::uint32_t>(height));
    // 8 bits per sample, grayscale (0) or RGB (2); deflate, no filter choice, no interlace.
    header.push_back('\x08');
    header.push_back(bytesPerPixel == 3 ? '\x02' : '\x00');
    header += std::string("\x00\x00\x00", 3);

    std::string png("\x89PNG\r\n\x1A\n", 8);
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", packed);
    AppendChunk(png, "IEND", std::string());
    return png;
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

    return Png(kWidth, kHeight, 1, pixels);
}

std::string MakeGoodsPng(std::uint64_t seed) {
    constexpr int kSide = 96;
    std::mt19937_64 random(seed);
    const auto channel = [&] { return static_cast<int>(random() % 156) + 60; };
    const int tint[3] = {channel(), channel(), channel()};
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kSide * kSide * 3));
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            // A parcel in the middle, lighter than the background and with a darker band across it.
            const bool parcel = x >= 22 && x < 74 && y >= 26 && y < 78;
            const bool band = parcel && y >= 44 && y < 52;
            for (int c = 0; c < 3; ++c) {
                int value = tint[c] - y / 3;
                if (parcel) value = band ? tint[c] / 2 : std::min(255, tint[c] + 70);
                pixels[static_cast<std::size_t>((y * kSide + x) * 3 + c)] =
                    static_cast<unsigned char>(std::clamp(value, 0, 255));
            }
        }
    }
    return Png(kSide, kSide, 3, pixels);
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
