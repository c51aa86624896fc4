#include "sim/reply_variation.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "sim/capturing_server.h"
#include "sim/marketplace_sim.h"

namespace tandrel::sim {
namespace {

// Members whose numbers real replies write either way ("total": 3 or "total": "3"); the program reads them as
// text. Error codes are left as numbers: the back end has never been seen quoting them.
bool NumberMayBeString(std::string_view key) {
    static constexpr std::string_view kKeys[] = {"total", "createdDuration", "mall_id", "id",
                                                 "uid",   "goodsId"};
    return std::find(std::begin(kKeys), std::end(kKeys), key) != std::end(kKeys);
}

// The next code point of UTF-8 text at i, or U+FFFD for a byte that does not start a valid sequence.
std::uint32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const int extra = lead >= 0xC2 && lead < 0xE0   ? 1
                      : lead >= 0xE0 && lead < 0xF0 ? 2
                      : lead >= 0xF0 && lead < 0xF5 ? 3
                                                    : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    std::uint32_t cp = lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const unsigned char next = byte(i + static_cast<std::size_t>(k));
        if ((next & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp;
}

void AppendHex4(std::uint32_t unit, bool upper, std::string& out) {
    static constexpr char kLower[] = "0123456789abcdef", kUpper[] = "0123456789ABCDEF";
    const char* digits = upper ? kUpper : kLower;
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += digits[(unit >> shift) & 0xF];
}

}  // namespace

std::optional<std::uint64_t> SeedFromEnvironment() {
    const char* text = std::getenv("TANDREL_SIM_SEED");
    if (!text || !*text) return std::nullopt;
    std::uint64_t seed = 0;
    const auto [end, ec] = std::from_chars(text, text + std::char_traits<char>::length(text), seed);
    if (ec != std::errc() || *end != '\0') return std::nullopt;
    return seed;
}

bool ReplyVariation::Coin(int oneIn) {
    return std::uniform_int_distribution<int>(0, oneIn - 1)(random_) == 0;
}

std::string ReplyVariation::Json(const nlohmann::ordered_json& value) {
    std::lock_guard lock(mutex_);
    slashMode_ = std::uniform_int_distribution<int>(0, 2)(random_);    // always "\/", never, either
    unicodeMode_ = std::uniform_int_distribution<int>(0, 3)(random_);  // raw, \u lower, \u upper, either
    std::string out;
    WriteValue(value, {}, out);
    return out;
}

void ReplyVariation::WriteValue(const nlohmann::ordered_json& value, std::string_view key, std::string& out) {
    switch (value.type()) {
        case nlohmann::ordered_json::value_t::object: {
            std::vector<std::pair<std::string, const nlohmann::ordered_json*>> members;
            for (auto it = value.begin(); it != value.end(); ++it)
                members.emplace_back(it.key(), &it.value());
            if (Coin()) std::shuffle(members.begin(), members.end(), random_);
            out += '{';
            for (std::size_t k = 0; k < members.size(); ++k) {
                if (k) out += ',';
                WriteString(members[k].first, out);
                out += ':';
                WriteValue(*members[k].second, members[k].first, out);
            }
            out += '}';
            return;
        }
        case nlohmann::ordered_json::value_t::array: {
            out += '[';
            bool first = true;
            for (const auto& element : value) {
                if (!first) out += ',';
                first = false;
                WriteValue(element, key, out);
            }
            out += ']';
            return;
        }
        case nlohmann::ordered_json::value_t::string:
            WriteString(value.get_ref<const std::string&>(), out);
            return;
        case nlohmann::ordered_json::value_t::number_integer:
        case nlohmann::ordered_json::value_t::number_unsigned: {
            const std::string digits = value.dump();
            if (NumberMayBeString(key) && Coin()) {
                out += '"' + digits + '"';
            } else {
                out += digits;
            }
            return;
        }
        default:
            out += value.dump();
            return;
    }
}

void ReplyVariation::WriteString(std::string_view text, std::string& out) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            const std::uint32_t cp = NextCodePoint(text, i);
            const bool escape = unicodeMode_ == 1 || unicodeMode_ == 2 || (unicodeMode_ == 3 && Coin());
            if (!escape) {
                if (cp == 0xFFFD) {
                    out += "\xEF\xBF\xBD";
                } else {
                    // Re-encode: the code point came from valid UTF-8.
                    char buffer[4];
                    int n = 0;
                    if (cp < 0x800) {
                        buffer[n++] = static_cast<char>(0xC0 | (cp >> 6));
                    } else if (cp < 0x10000) {
                        buffer[n++] = static_cast<char>(0xE0 | (cp >> 12));
                        buffer[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                    } else {
                        buffer[n++] = static_cast<char>(0xF0 | (cp >> 18));
                        buffer[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                        buffer[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                    }
                    if (cp >= 0x80) buffer[n++] = static_cast<char>(0x80 | (cp & 0x3F));
                    out.append(buffer, static_cast<std::size_t>(n));
                }
            } else if (cp >= 0x10000) {
                AppendHex4(0xD800 + ((cp - 0x10000) >> 10), unicodeMode_ == 2, out);
                AppendHex4(0xDC00 + ((cp - 0x10000) & 0x3FF), unicodeMode_ == 2, out);
            } else {
                AppendHex4(cp, unicodeMode_ == 2, out);
            }
            continue;
        }
        ++i;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += slashMode_ == 0 || (slashMode_ == 2 && Coin()) ? "\\/" : "/";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    AppendHex4(byte, false, out);
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

std::string ReplyVariation::NameCase(std::string_view name) {
    std::string out(name);
    switch (std::uniform_int_distribution<int>(0, 3)(random_)) {
        case 0:
            break;  // as the handler spelt it
        case 1:
            for (auto& c : out)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            break;
        case 2:
            for (auto& c : out)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            break;
        default:
            for (auto& c : out)
                if (Coin()) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string ReplyVariation::ShuffledCookie(std::string_view line) {
    // The pair stays first; the attributes after it come in any order, with or without a space.
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t semi = line.find(';', start);
        std::string_view part = line.substr(start, semi == std::string_view::npos ? semi : semi - start);
        while (!part.empty() && part.front() == ' ')
            part.remove_prefix(1);
        parts.emplace_back(part);
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    if (parts.size() > 2) std::shuffle(parts.begin() + 1, parts.end(), random_);
    std::string out = parts[0];
    const char* separator = Coin() ? "; " : ";";
    for (std::size_t k = 1; k < parts.size(); ++k)
        out += separator + parts[k];
    return out;
}

void ReplyVariation::Write(int status, const std::string& contentType, std::string body,
                           const std::vector<std::pair<std::string, std::string>>& headers,
                           httplib::Response& res) {
    std::lock_guard lock(mutex_);
    res.status = status;
    for (const auto& [name, value] : headers) {
        const bool cookie = std::equal(name.begin(), name.end(), std::string_view("set-cookie").begin(),
                                       std::string_view("set-cookie").end(), [](char a, char b) {
                                           return std::tolower(static_cast<unsigned char>(a)) == b;
                                       });
        res.headers.emplace(NameCase(name), cookie ? ShuffledCookie(value) : value);
    }
    if (Coin(3)) {
        // A tracking cookie of the front end's, its value bytes above 0x7F (never ";", "," or a line break).
        std::string value;
        for (int k = 0; k < 6; ++k)
            value += static_cast<char>(std::uniform_int_distribution<int>(0x80, 0xFE)(random_));
        res.headers.emplace(NameCase("Set-Cookie"), ShuffledCookie("_fp=" + value + "; Path=/; HttpOnly"));
    }
    if (Coin()) CapturingServer::CloseCurrentConnectionAfterReply();

    // Whole, chunked or trickling; large bodies are never trickled a byte at a time.
    int delivery = std::uniform_int_distribution<int>(0, 2)(random_);
    if (delivery == 2 && body.size() > 64 * 1024) delivery = 1;
    const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 64)(random_);
    const bool pause = body.size() <= 4096 && Coin(4);
    auto shared = std::make_shared<std::string>(std::move(body));
    if (delivery == 0 || shared->empty()) {
        res.set_content(*shared, contentType.c_str());
    } else if (delivery == 1) {
        res.set_chunked_content_provider(contentType, [shared, piece, sent = std::size_t{0}](
                                                          std::size_t, httplib::DataSink& sink) mutable {
            if (sent >= shared->size()) {
                sink.done();
                return true;
            }
            const std::size_t n = std::min(piece * 16, shared->size() - sent);
            if (!sink.write(shared->data() + sent, n)) return false;
            sent += n;
            return true;
        });
    } else {
        res.set_content_provider(
            shared->size(), contentType,
            [shared, piece, pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                const std::size_t n = std::min(piece, shared->size() - offset);
                // A short pause now and then, so pieces arrive in separate reads.
                if (pause) std::this_thread::sleep_for(std::chrono::microseconds(100));
                return sink.write(shared->data() + offset, n);
            });
    }
    // The content type under a name of varied case as well.
    const std::string type = res.get_header_value("Content-Type");
    res.headers.erase("Content-Type");
    res.headers.emplace(NameCase("Content-Type"), type);
}

}  // namespace tandrel::sim
