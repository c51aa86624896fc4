// Conversions between UTF-8 and GBK (code page 936). The tables are read once from the platform's own CP936
// converter, so the mapping is the platform's exactly; the per-character work afterwards is a table look-up.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "support/text.h"

// The one platform seam of the code-page layer: Decoder turns one or two CP936 bytes into a single UTF-16
// code unit (0 for none), on Windows with the system's own conversion, elsewhere with iconv.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace tandrel {
namespace {

class Decoder {
  public:
    std::uint16_t operator()(const char* bytes, int length) const {
        wchar_t unit[2] = {};
        const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, length, unit, 2);
        return n == 1 ? static_cast<std::uint16_t>(unit[0]) : 0;
    }
};

}  // namespace
}  // namespace tandrel
#else
#include <iconv.h>

namespace tandrel {
namespace {

class Decoder {
  public:
    Decoder() : cd_(iconv_open("UTF-16LE", "CP936")) {}
    ~Decoder() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    std::uint16_t operator()(const char* bytes, int length) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return 0;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char in[2] = {bytes[0], length > 1 ? bytes[1] : '\0'};
        unsigned char out[8] = {};
        char* inPtr = in;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t inLeft = static_cast<std::size_t>(length), outLeft = sizeof out;
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
            return 0;
        // Only a single BMP code unit counts as a mapping.
        if (sizeof out - outLeft != 2) return 0;
        return static_cast<std::uint16_t>(out[0] | out[1] << 8);
    }

  private:
    iconv_t cd_;
};

}  // namespace
}  // namespace tandrel
#endif

namespace tandrel {
namespace {

constexpr unsigned kLeadFirst = 0x81, kLeadLast = 0xFE, kTrailFirst = 0x40, kTrailLast = 0xFE;
constexpr unsigned kTrailCount = kTrailLast - kTrailFirst + 1;
constexpr std::uint32_t kReplacement = 0xFFFD;

struct Tables {
    // Unicode BMP code unit -> GBK code: 0 for none, below 0x100 a single byte, otherwise lead << 8 | trail.
    std::array<std::uint16_t, 0x10000> toGbk{};
    // Double-byte GBK code -> UTF-16 code unit, 0 for none; index (lead - 0x81) * kTrailCount + trail - 0x40.
    std::array<std::uint16_t, (kLeadLast - kLeadFirst + 1) * kTrailCount> toUnicode{};
    // Single bytes 0x80..0xFF (0x80 is the euro sign in CP936).
    std::array<std::uint16_t, 0x80> highSingle{};
};

// Windows maps every double-byte code to a character: those GBK leaves undefined go to the private use area,
// the three user-defined ranges first (AAA1-AFFE, F8A1-FEFE, A140-A7A0, from U+E000), then the other
// undefined codes in code order (from U+E766). iconv leaves them all undefined; filling them the same way
// gives one table on every platform, and such characters survive a round trip instead of becoming "?". Where
// the converter already mapped them (Windows), nothing changes.
void FillPrivateUse(Tables& t) {
    std::uint32_t next = 0xE000;
    const auto fill = [&](unsigned lead, unsigned trail) {
        auto& unit = t.toUnicode[(lead - kLeadFirst) * kTrailCount + trail - kTrailFirst];
        if (unit == 0) {
            unit = static_cast<std::uint16_t>(next);
            if (t.toGbk[next] == 0) t.toGbk[next] = static_cast<std::uint16_t>(lead << 8 | trail);
        }
        ++next;
    };
    const auto fillRange = [&](unsigned leadFirst, unsigned leadLast, unsigned trailFirst,
                               unsigned trailLast) {
        for (unsigned lead = leadFirst; lead <= leadLast; ++lead)
            for (unsigned trail = trailFirst; trail <= trailLast; ++trail)
                if (trail != 0x7F) fill(lead, trail);
    };
    fillRange(0xAA, 0xAF, 0xA1, 0xFE);
    fillRange(0xF8, 0xFE, 0xA1, 0xFE);
    fillRange(0xA1, 0xA7, 0x40, 0xA0);
    for (unsigned lead = kLeadFirst; lead <= kLeadLast; ++lead) {
        for (unsigned trail = kTrailFirst; trail <= kTrailLast; ++trail) {
            auto& unit = t.toUnicode[(lead - kLeadFirst) * kTrailCount + trail - kTrailFirst];
            if (trail == 0x7F || unit != 0) continue;
            unit = static_cast<std::uint16_t>(next);
            if (t.toGbk[next] == 0) t.toGbk[next] = static_cast<std::uint16_t>(lead << 8 | trail);
            ++next;
        }
    }
}

std::unique_ptr<Tables> BuildTables() {
    auto t = std::make_unique<Tables>();
    Decoder decode;
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        const char byte = static_cast<char>(b);
        const auto unit = decode(&byte, 1);
        t->highSingle[b - 0x80] = unit;
        if (unit >= 0x80 && t->toGbk[unit] == 0) t->toGbk[unit] = static_cast<std::uint16_t>(b);
    }
    for (unsigned lead = kLeadFirst; lead <= kLeadLast; ++lead) {
        for (unsigned trail = kTrailFirst; trail <= kTrailLast; ++trail) {
            if (trail == 0x7F) continue;
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const auto unit = decode(pair, 2);
            if (unit < 0x80) continue;
            t->toUnicode[(lead - kLeadFirst) * kTrailCount + trail - kTrailFirst] = unit;
            // Where two codes decode to one character, the first (lowest) code is the one written back.
            if (t->toGbk[unit] == 0) t->toGbk[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
        }
    }
    FillPrivateUse(*t);
    for (unsigned c = 0; c < 0x80; ++c)
        t->toGbk[c] = static_cast<std::uint16_t>(c);
    return t;
}

const Tables& GetTables() {
    static std::once_flag once;
    static std::unique_ptr<Tables> tables;
    std::call_once(once, [] { tables = BuildTables(); });
    return *tables;
}

void AppendGbk(std::string& out, std::uint32_t code, const Tables& t) {
    const std::uint16_t gbk = code < 0x10000 && code != 0 ? t.toGbk[code] : 0;
    if (gbk == 0) {
        out += '?';
    } else if (gbk < 0x100) {
        out += static_cast<char>(gbk);
    } else {
        out += static_cast<char>(gbk >> 8);
        out += static_cast<char>(gbk & 0xFF);
    }
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[i]; a malformed or overlong one yields the replacement character and
// consumes a single byte, so decoding always moves on.
std::uint32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    int length;
    std::uint32_t code, minimum;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, code = b0 & 0x1Fu, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, code = b0 & 0x0Fu, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, code = b0 & 0x07u, minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (text.size() - i < static_cast<std::size_t>(length)) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        code = code << 6 | (b & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += static_cast<std::size_t>(length);
    return code;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    utf8 = UpToNul(utf8);
    const Tables& t = GetTables();
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out += utf8[i++];
            continue;
        }
        AppendGbk(out, DecodeUtf8(utf8, i), t);
    }
    return out;
}

std::string GbkToUtf8(std::string_view gbk) {
    gbk = UpToNul(gbk);
    const Tables& t = GetTables();
    std::string out;
    out.reserve(gbk.size() + gbk.size() / 2);
    for (std::size_t i = 0; i < gbk.size();) {
        const auto b0 = static_cast<unsigned char>(gbk[i]);
        if (b0 < 0x80) {
            out += static_cast<char>(b0);
            ++i;
            continue;
        }
        std::uint16_t unit = 0;
        if (b0 >= kLeadFirst && b0 <= kLeadLast && i + 1 < gbk.size()) {
            const auto b1 = static_cast<unsigned char>(gbk[i + 1]);
            if (b1 >= kTrailFirst && b1 <= kTrailLast) {
                unit = t.toUnicode[(b0 - kLeadFirst) * kTrailCount + b1 - kTrailFirst];
                i += 2;
            } else {
                ++i;
            }
        } else {
            unit = t.highSingle[b0 - 0x80];
            ++i;
        }
        if (unit == 0)
            out += '?';
        else
            AppendUtf8(out, unit);
    }
    return out;
}

std::string GbkFromCodeUnit(std::uint16_t unit) {
    std::string out;
    AppendGbk(out, unit, GetTables());
    return out;
}

}  // namespace tandrel
