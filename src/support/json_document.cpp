#include "support/json_document.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "support/text.h"

namespace tandrel {
namespace {

constexpr std::size_t kNotEnded = std::string_view::npos;
constexpr std::string_view kNull = "{null}";
constexpr std::string_view kIdeographicFullStop = "\xA1\xA3";

enum State : int {
    kExpectKey = 1,
    kInKey = 2,
    kAfterKey = 3,
    kExpectValue = 4,
    kExpectElement = 5,
    kInString = 6,
    kAfterValue = 7,
};

}  // namespace

std::string_view JsonDocument::View(const Slice& s) const {
    return std::string_view(s.generated ? names_ : text_).substr(s.offset, s.length);
}

std::uint32_t JsonDocument::InternPath(std::string path) {
    auto [it, inserted] =
        pathIds_.try_emplace(std::move(path), static_cast<std::uint32_t>(containers_.size()));
    if (inserted) containers_.push_back(Container{it->first});
    return it->second;
}

std::uint32_t JsonDocument::FindContainer(std::string_view path) const {
    const auto it = pathIds_.find(path);
    return it == pathIds_.end() ? kNone : it->second;
}

std::uint32_t JsonDocument::FindEntry(std::uint32_t container, std::string_view key) const {
    const Container& c = containers_[container];
    if (c.count <= kIndexThreshold) {
        for (auto e = c.first; e != kNone; e = items_[e].nextSibling)
            if (View(items_[e].key) == key) return e;
        return kNone;
    }
    auto [it, built] = keyIndex_.try_emplace(container);
    if (built) {
        it->second.reserve(c.count);
        for (auto e = c.first; e != kNone; e = items_[e].nextSibling)
            it->second.try_emplace(View(items_[e].key), e);  // the first occurrence wins
    }
    const auto found = it->second.find(key);
    return found == it->second.end() ? kNone : found->second;
}

void JsonDocument::AddEntry(JsonKind kind, Slice key, Slice value, std::uint32_t parent) {
    const auto index = static_cast<std::uint32_t>(items_.size());
    items_.push_back(Item{kind, key, value, parent, kNone});
    Container& c = containers_[parent];
    if (c.last == kNone)
        c.first = index;
    else
        items_[c.last].nextSibling = index;
    c.last = index;
    ++c.count;
}

bool JsonDocument::Parse(std::string_view input) {
    input = UpToNul(input);
    // Entries address the text with 32-bit offsets; nothing the marketplace sends comes near that.
    constexpr std::size_t kMaxText = std::numeric_limits<std::uint32_t>::max() - 1;
    text_.assign(input.substr(0, kMaxText));
    names_.clear();
    items_.clear();
    containers_.clear();
    pathIds_.clear();
    keyIndex_.clear();
    rootKind_ = 0;
    InternPath(".");

    const auto slice = [](std::size_t from, std::size_t to) {
        return Slice{static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to - from), false};
    };

    int state = kExpectValue;
    int depth = 0;
    std::vector<std::uint32_t> pathAt(kMaxDepth + 1, 0);
    std::vector<JsonKind> kindAt(kMaxDepth + 1, JsonKind::Object);
    std::vector<std::uint32_t> counterAt(kMaxDepth + 1, 0);
    Slice currentKey{};
    std::size_t tokenStart = 0, tokenEnd = kNotEnded, quoteStart = 0;
    char quote = 0;

    const auto inArray = [&] { return depth > 0 && kindAt[depth] == JsonKind::Array; };
    const auto elementKey = [&] {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, counterAt[depth]).ptr;
        const auto offset = names_.size();
        names_ += '[';
        names_.append(digits, end);
        names_ += ']';
        return Slice{static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(names_.size() - offset),
                     true};
    };
    const auto startToken = [&](std::size_t at) {
        tokenStart = at;
        tokenEnd = kNotEnded;
    };
    const auto storeToken = [&](Slice key, std::size_t at) {
        AddEntry(JsonKind::Literal, key, slice(tokenStart, tokenEnd == kNotEnded ? at : tokenEnd),
                 pathAt[depth]);
    };
    const auto open = [&](JsonKind kind, Slice key) {
        if (depth >= kMaxDepth) return false;
        std::string path;
        if (depth == 0) {
            rootKind_ = static_cast<int>(kind);
            path = ".";
        } else {
            AddEntry(kind, key, Slice{}, pathAt[depth]);
            const std::string_view parent = containers_[pathAt[depth]].path;
            path.reserve(parent.size() + 1 + key.length);
            if (parent != ".") path = parent;
            path += '.';
            path += View(key);
        }
        ++depth;
        pathAt[depth] = InternPath(std::move(path));
        kindAt[depth] = kind;
        counterAt[depth] = 0;
        currentKey = Slice{};
        return true;
    };
    const auto close = [&] {
        if (depth == 0) return false;
        counterAt[depth] = 0;
        --depth;
        return true;
    };

    const std::size_t n = text_.size();
    for (std::size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text_[i]);
        // Double-byte characters and escaped bytes are content in every state.
        if (c > 0x80) {
            i += i + 1 < n ? 2 : 1;
            continue;
        }
        if (c == '\\') {
            ++i;
            if (i < n) i += CharLength(text_, i);
            continue;
        }
        switch (c) {
            case '{':
            case '[': {
                const auto kind = c == '{' ? JsonKind::Object : JsonKind::Array;
                if (state == kInKey || state == kInString) break;
                if (state == kExpectValue) {
                    if (!open(kind, currentKey)) return false;
                } else if (state == kExpectElement) {
                    if (!inArray() || !open(kind, elementKey())) return false;
                } else {
                    return false;
                }
                state = kind == JsonKind::Object ? kExpectKey : kExpectElement;
                startToken(i + 1);
                break;
            }
            case ':':
                if (state == kInKey || state == kInString) break;
                if (state != kAfterKey) return false;
                state = kExpectValue;
                startToken(i + 1);
                break;
            case '"':
            case '\'':
                if (state == kExpectKey) {
                    quote = static_cast<char>(c);
                    quoteStart = i + 1;
                    state = kInKey;
                } else if (state == kInKey) {
                    if (c != static_cast<unsigned char>(quote)) break;
                    currentKey = slice(quoteStart, i);
                    state = kAfterKey;
                } else if (state == kExpectValue || state == kExpectElement) {
                    quote = static_cast<char>(c);
                    quoteStart = i + 1;
                    state = kInString;
                } else if (state == kInString) {
                    if (c != static_cast<unsigned char>(quote)) break;
                    AddEntry(JsonKind::String, inArray() ? elementKey() : currentKey, slice(quoteStart, i),
                             pathAt[depth]);
                    state = kAfterValue;
                } else {
                    return false;
                }
                break;
            case ',':
                if (state == kInKey || state == kInString) break;
                if (state == kExpectValue) {
                    storeToken(currentKey, i);
                    state = kExpectKey;
                } else if (state == kExpectElement) {
                    storeToken(elementKey(), i);
                    ++counterAt[depth];
                    startToken(i + 1);
                } else if (state == kAfterValue) {
                    if (inArray()) {
                        ++counterAt[depth];
                        state = kExpectElement;
                        startToken(i + 1);
                    } else {
                        state = kExpectKey;
                    }
                } else {
                    return false;
                }
                break;
            case '}':
                if (state == kInKey || state == kInString) break;
                if (state == kExpectValue) {
                    storeToken(currentKey, i);
                } else if (state == kExpectKey || state == kExpectElement) {
                    if (depth == 0 || kindAt[depth] != JsonKind::Object) return false;
                } else if (state != kAfterValue) {
                    return false;
                }
                if (!close()) return false;
                state = kAfterValue;
                break;
            case ']':
                if (state == kInKey || state == kInString) break;
                if (state == kExpectElement) {
                    if (!inArray()) return false;
                    storeToken(elementKey(), i);
                } else if (state != kAfterValue) {
                    return false;
                }
                if (!close()) return false;
                state = kAfterValue;
                break;
            default:
                // Control bytes (tab, line breaks...) are skipped before a bare value and end it after.
                if (c <= 15 && (state == kExpectValue || state == kExpectElement) && tokenEnd == kNotEnded) {
                    if (i == tokenStart)
                        tokenStart = i + 1;
                    else
                        tokenEnd = i;
                }
                break;
        }
        ++i;
    }
    return true;
}

std::string JsonDocument::NormalizePath(std::string_view path) {
    while (!path.empty() && path.front() == '.')
        path.remove_prefix(1);
    const std::string bracketed = ReplaceAll(path, "[", ".[");
    if (bracketed.empty()) return ".";
    std::string out;
    out.reserve(bracketed.size() + 1);
    if (bracketed.front() != '.') out += '.';
    for (char ch : bracketed) {
        if (ch == '.' && !out.empty() && out.back() == '.') continue;  // ".." becomes "."
        out += ch;
    }
    if (out.size() > 1 && out.back() == '.') out.pop_back();
    return out;
}

std::string JsonDocument::GetText(std::string_view path) const {
    const std::string normalized = NormalizePath(path);
    if (normalized == ".") return std::string(kNull);
    const auto dot = normalized.rfind('.');
    const std::string_view key = std::string_view(normalized).substr(dot + 1);
    const std::string_view parent =
        dot == 0 ? std::string_view(".") : std::string_view(normalized).substr(0, dot);
    const auto container = FindContainer(parent);
    if (container == kNone) return std::string(kNull);
    const auto e = FindEntry(container, key);
    if (e == kNone) return std::string(kNull);
    const Item& item = items_[e];
    switch (item.kind) {
        case JsonKind::String:
        case JsonKind::Literal:
        case JsonKind::Boolean: {
            const auto value = View(item.value);
            if (std::memchr(value.data(), '\xA1', value.size()) == nullptr) return std::string(value);
            return ReplaceAll(value, kIdeographicFullStop, ".");
        }
        case JsonKind::Object:
            return "{object}";
        case JsonKind::Array:
            return "[array]";
    }
    return "?unknown?";
}

int JsonDocument::MemberNames(std::string_view path, std::vector<std::string>& names) const {
    names.clear();
    const auto container = FindContainer(NormalizePath(path));
    if (container == kNone) return 0;
    for (auto e = containers_[container].first; e != kNone; e = items_[e].nextSibling)
        names.emplace_back(View(items_[e].key));
    return static_cast<int>(names.size());
}

JsonEntry JsonDocument::Entry(std::size_t index) const {
    if (index >= items_.size()) return {};
    const Item& item = items_[index];
    return JsonEntry{true, item.kind, std::string(View(item.key)), std::string(View(item.value)),
                     std::string(containers_[item.parent].path)};
}

std::string JsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
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
                if (static_cast<unsigned char>(c) < 0x20) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += kHex[(c >> 4) & 0xF];
                    out += kHex[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string JsonStringText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            const char e = text[i + 1];
            std::size_t length = 0;  // of a whole escape sequence starting here
            if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
                length = 2;
            } else if (e == 'u' && i + 6 <= text.size() && isHex(text[i + 2]) && isHex(text[i + 3]) &&
                       isHex(text[i + 4]) && isHex(text[i + 5])) {
                length = 6;
            }
            if (length) {
                out.append(text.substr(i, length));
                i += length - 1;
                continue;
            }
        }
        out += JsonEscape(std::string_view(&c, 1));
    }
    return out;
}

}  // namespace tandrel
