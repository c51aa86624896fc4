#include "support/plain_text.h"

#include <ostream>

#include "support/text.h"

namespace tandrel {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kBel = 0x07;

bool IsLineBreak(unsigned char c) {
    return c == '\r' || c == '\n';
}

// One decoded character: its code (or -1 for bytes that are not a character) and its length in bytes.
struct Unit {
    long code;
    std::size_t length;
};

Unit DecodeUtf8(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    long code = 0;
    long least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return {-1, 1};
    }
    if (text.size() - i < length) return {-1, 1};
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {-1, 1};
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {-1, 1};
    return {code, length};
}

Unit NextUnit(std::string_view text, std::size_t i, TextBytes bytes) {
    if (bytes == TextBytes::Utf8) return DecodeUtf8(text, i);
    const auto c = static_cast<unsigned char>(text[i]);
    // A GBK lead byte and its trail are one character; a trail is 0x40 and up, never a control, so a lead
    // byte before a control stands alone.
    if (c > 0x80 && c < 0xFF && i + 1 < text.size()) {
        const auto trail = static_cast<unsigned char>(text[i + 1]);
        if (trail >= 0x40 && trail != 0x7F && trail != 0xFF) return {0x100, 2};
    }
    return {c, 1};
}

// Where a string sequence (OSC, DCS, SOS, PM, APC) that starts its body at i ends: after BEL, ESC \ or the
// 8-bit ST, or before a line break, or at the end.
std::size_t SkipString(std::string_view text, std::size_t i, TextBytes bytes) {
    while (i < text.size()) {
        const Unit u = NextUnit(text, i, bytes);
        if (u.code == kBel || u.code == 0x9C) return i + u.length;
        if (u.code == kEsc) return i + 1 < text.size() && text[i + 1] == '\\' ? i + 2 : i + 1;
        if (u.code >= 0 && IsLineBreak(static_cast<unsigned char>(u.code))) return i;
        i += u.length;
    }
    return i;
}

// Where a control sequence whose parameters start at i ends: after its final byte, or before the first byte
// that cannot belong to it.
std::size_t SkipCsi(std::string_view text, std::size_t i) {
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c <= 0x3F) {
            ++i;  // parameter and intermediate bytes
        } else {
            return c >= 0x40 && c <= 0x7E ? i + 1 : i;
        }
    }
    return i;
}

bool IsStringIntroducer(char c) {
    return c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_';
}

// Where the escape sequence whose ESC is at i ends.
std::size_t SkipEscape(std::string_view text, std::size_t i, TextBytes bytes) {
    ++i;
    if (i >= text.size()) return i;
    const char next = text[i];
    if (next == '[') return SkipCsi(text, i + 1);
    if (IsStringIntroducer(next)) return SkipString(text, i + 1, bytes);
    std::size_t k = i;
    while (k < text.size() && static_cast<unsigned char>(text[k]) >= 0x20 &&
           static_cast<unsigned char>(text[k]) <= 0x2F)
        ++k;  // intermediate bytes, as in ESC ( B
    if (k < text.size() && static_cast<unsigned char>(text[k]) >= 0x30 &&
        static_cast<unsigned char>(text[k]) <= 0x7E)
        return k + 1;
    return k;  // a lone ESC: the ESC (and any intermediates) go, what follows stays
}

}  // namespace

std::string RemoveControls(std::string_view text, TextBytes bytes, LineBreaks breaks) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const Unit u = NextUnit(text, i, bytes);
        if (u.code < 0) {
            i += u.length;  // not UTF-8: dropped
            continue;
        }
        if (u.code == kEsc) {
            i = SkipEscape(text, i, bytes);
            continue;
        }
        if (bytes == TextBytes::Utf8 && u.code == 0x9B) {
            i = SkipCsi(text, i + u.length);
            continue;
        }
        if (bytes == TextBytes::Utf8 &&
            (u.code == 0x9D || u.code == 0x90 || u.code == 0x98 || u.code == 0x9E || u.code == 0x9F)) {
            i = SkipString(text, i + u.length, bytes);
            continue;
        }
        const bool lineBreak = u.code == '\r' || u.code == '\n';
        const bool control = (u.code < 0x20 && u.code != '\t' && !lineBreak) || u.code == 0x7F ||
                             (bytes == TextBytes::Utf8 && u.code >= 0x80 && u.code <= 0x9F);
        if (u.code == '\t' && breaks == LineBreaks::ToSpace) {
            out += ' ';  // a tab would start another column of a tab-separated line
        } else if (lineBreak && breaks == LineBreaks::ToSpace) {
            // A CR LF pair is one break, one space.
            if (!(u.code == '\n' && i > 0 && text[i - 1] == '\r')) out += ' ';
        } else if (!control) {
            out.append(text.substr(i, u.length));
        }
        i += u.length;
    }
    return out;
}

bool LooksLikeFormula(std::string_view text, TextBytes bytes) {
    const std::string utf8 = bytes == TextBytes::Gbk ? GbkToUtf8(text) : std::string(text);
    std::string_view rest = utf8;
    constexpr std::string_view kWideSpace = "\u3000";
    while (!rest.empty()) {
        if (rest.front() == ' ') {
            rest.remove_prefix(1);
        } else if (rest.substr(0, kWideSpace.size()) == kWideSpace) {
            rest.remove_prefix(kWideSpace.size());
        } else {
            break;
        }
    }
    if (rest.empty()) return false;
    if (std::string_view("=+-@\t\r\n").find(rest.front()) != std::string_view::npos) return true;
    for (const std::string_view wide : {"\uFF1D", "\uFF0B", "\uFF0D", "\uFF20"})
        if (rest.substr(0, wide.size()) == wide) return true;
    return false;
}

std::string SpreadsheetField(std::string_view text, TextBytes bytes) {
    std::string value = RemoveControls(text, bytes, LineBreaks::ToSpace);
    const bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits && LooksLikeFormula(value, bytes)) value.insert(0, 1, '\'');
    return value;
}

std::string DefuseMentions(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (c == '@') {
            out += "＠";
        } else if (c == '<') {
            out += "＜";
        } else if (c == '>') {
            out += "＞";
        } else {
            out += c;
        }
    }
    return out;
}

ControlFilterBuf::~ControlFilterBuf() {
    Emit(false);
    target_->pubsync();
}

ControlFilterBuf::int_type ControlFilterBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    held_ += traits_type::to_char_type(c);
    if (traits_type::to_char_type(c) == '\n') Emit(true);
    return c;
}

std::streamsize ControlFilterBuf::xsputn(const char* s, std::streamsize n) {
    held_.append(s, static_cast<std::size_t>(n));
    if (held_.find('\n') != std::string::npos || held_.size() > 65536) Emit(true);
    return n;
}

int ControlFilterBuf::sync() {
    Emit(true);
    return target_->pubsync();
}

void ControlFilterBuf::Emit(bool keepIncompleteTail) {
    std::size_t end = held_.size();
    if (keepIncompleteTail) {
        // A UTF-8 character whose last bytes have not come yet waits for them (at most three bytes back).
        for (std::size_t back = 1; back <= 3 && back <= held_.size(); ++back) {
            const auto c = static_cast<unsigned char>(held_[held_.size() - back]);
            if ((c & 0xC0) == 0x80) continue;
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > back) end = held_.size() - back;
            break;
        }
        // So does an escape at the very end, which may be the start of a sequence.
        if (end > 0 && static_cast<unsigned char>(held_[end - 1]) == kEsc) --end;
    }
    const std::string clean = RemoveControls(std::string_view(held_).substr(0, end), TextBytes::Utf8);
    target_->sputn(clean.data(), static_cast<std::streamsize>(clean.size()));
    held_.erase(0, end);
}

FilteredStream::FilteredStream(std::ostream& stream)
    : stream_(stream), original_(stream.rdbuf()), filter_(original_) {
    stream_.rdbuf(&filter_);
}

FilteredStream::~FilteredStream() {
    stream_.flush();
    stream_.rdbuf(original_);
}

}  // namespace tandrel
