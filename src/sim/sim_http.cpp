#include "sim/sim_http.h"

#include <charconv>
#include <ctime>

#include "sim/reply_variation.h"

namespace tandrel::sim {
namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::uint32_t> Hex4(std::string_view text, std::size_t at) {
    if (at + 4 > text.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        int d = HexDigit(text[at + k]);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

}  // namespace

namespace {
thread_local ReplyVariation* tVariation = nullptr;
}  // namespace

VariationScope::VariationScope(ReplyVariation* variation) {
    tVariation = variation;
}

VariationScope::~VariationScope() {
    tVariation = nullptr;
}

std::string Dump(const Json& json) {
    if (tVariation) return tVariation->Json(json);
    // Compact, Chinese as raw UTF-8; malformed input texts become U+FFFD rather than failing the reply. Every
    // "/" goes out as "\/", as the real service writes it (JSON allows both, and the client has to undo it);
    // a "/" can only stand inside a string in compact JSON.
    std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

Reply JsonReply(const Json& json) {
    Reply reply;
    reply.body = Dump(json);
    return reply;
}

Reply HtmlReply(int status, std::string_view title, std::string_view message) {
    Reply reply;
    reply.status = status;
    reply.contentType = kHtmlType;
    reply.body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + std::string(title) +
                 "</title></head><body><h1>" + std::string(title) + "</h1><p>" + std::string(message) +
                 "</p></body></html>";
    return reply;
}

Json IdValue(const std::string& id) {
    bool numeric = !id.empty() && id.size() <= 18 && (id == "0" || id[0] != '0') &&
                   std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!numeric) return id;
    long long value = 0;
    std::from_chars(id.data(), id.data() + id.size(), value);
    return value;
}

std::optional<std::string> StringMember(std::string_view body, std::string_view key) {
    std::string quoted = "\"" + std::string(key) + "\"";
    std::size_t i = body.find(quoted);
    if (i == std::string_view::npos) return std::nullopt;
    i += quoted.size();
    auto skipSpaces = [&] {
        while (i < body.size() && (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n'))
            ++i;
    };
    skipSpaces();
    if (i >= body.size() || body[i] != ':') return std::nullopt;
    ++i;
    skipSpaces();
    if (i >= body.size() || body[i] != '"') return std::nullopt;
    ++i;
    std::string out;
    while (i < body.size()) {
        char c = body[i++];
        if (c == '"') return out;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i >= body.size()) break;
        char e = body[i++];
        if (e != 'u') {
            static constexpr std::string_view kEscapes = "bfnrt", kMeanings = "\b\f\n\r\t";
            std::size_t k = kEscapes.find(e);
            out.push_back(k == std::string_view::npos ? e : kMeanings[k]);  // \" \\ \/ stand for themselves
            continue;
        }
        auto unit = Hex4(body, i);
        if (!unit) {
            out += "\\u";
            continue;
        }
        i += 4;
        std::uint32_t cp = *unit;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 6 <= body.size() && body[i] == '\\' && body[i + 1] == 'u') {
            auto low = Hex4(body, i + 2);
            if (low && *low >= 0xDC00 && *low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
                i += 6;
            }
        }
        AppendUtf8(out, cp);
    }
    return std::nullopt;  // unterminated
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string ExpiresInAYear() {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t when = std::time(nullptr) + 365 * 24 * 3600;
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &when);
#else
    gmtime_r(&when, &tm);
#endif
    char text[40];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

int IntParam(const httplib::Request& req, const char* name, int fallback) {
    std::string text = req.get_param_value(name);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

RecordedRequest ParseRecorded(const std::string& raw, const httplib::Request& req) {
    RecordedRequest rec;
    // The head ends at the first empty line (CRLF or a bare LF, both of which the server accepts).
    std::size_t headLength = raw.size(), bodyStart = raw.size();
    for (std::size_t pos = 0;;) {
        std::size_t nl = raw.find('\n', pos);
        if (nl == std::string::npos) break;
        std::size_t length = nl - pos;
        if (length == 0 || (length == 1 && raw[pos] == '\r')) {
            headLength = pos;
            bodyStart = nl + 1;
            break;
        }
        pos = nl + 1;
    }
    rec.rawHead = raw.substr(0, headLength);

    std::string_view head(rec.rawHead);
    bool first = true;
    while (!head.empty()) {
        std::size_t nl = head.find('\n');
        std::string_view line = head.substr(0, nl);
        head = nl == std::string_view::npos ? std::string_view() : head.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            first = false;
            std::size_t sp1 = line.find(' ');
            std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
            rec.method = std::string(line.substr(0, sp1));
            if (sp1 != std::string_view::npos) rec.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        rec.headers.emplace_back(std::string(line.substr(0, colon)),
                                 std::string(TrimSpaces(line.substr(colon + 1))));
    }
    if (rec.method.empty()) {  // nothing captured; should not happen, but keep what httplib parsed
        rec.method = req.method;
        rec.target = req.target;
    }
    bool chunked = rec.Header("Transfer-Encoding").find("chunked") != std::string::npos;
    rec.body = chunked || bodyStart >= raw.size() ? req.body : raw.substr(bodyStart);
    return rec;
}

void Apply(const Reply& reply, httplib::Response& res) {
    if (tVariation) return tVariation->Write(reply.status, reply.contentType, reply.body, reply.headers, res);
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.headers.emplace(name, value);
    res.set_content(reply.body, reply.contentType.c_str());
}

std::string RecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoreCase(key, name)) return value;
    }
    return {};
}

}  // namespace tandrel::sim
