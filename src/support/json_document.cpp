#include "support/json_document.h"

#include <algorithm>
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

// Kinds and key forms as packed into an item.
enum : int { kString = 0, kLiteral = 1, kObject = 2, kArray = 3 };
enum : int { kNoKey = 0, kTextKey = 1, kElementKey = 2 };
constexpr std::uint32_t kRefMask = (1u << 28) - 1;

constexpr JsonKind PublicKind(int kind) {
    switch (kind) {
        case kString:
            return JsonKind::String;
        case kLiteral:
            return JsonKind::Literal;
        case kObject:
            return JsonKind::Object;
        default:
            return JsonKind::Array;
    }
}

std::uint64_t KeyHash(std::string_view key) {
    return std::hash<std::string_view>{}(key)&0xFFFFFFFFu;
}

}  // namespace

std::uint32_t JsonDocument::Add(int kind, int keyForm, std::uint32_t ref, std::uint32_t at) {
    const auto index = static_cast<std::uint32_t>(count_);
    if (count_ % kBlockItems == 0 && count_ / kBlockItems == blocks_.size())
        blocks_.push_back(std::make_unique<Item[]>(kBlockItems));
    At(index) = Item{at, static_cast<std::uint32_t>(kind) << 30 | static_cast<std::uint32_t>(keyForm) << 28 |
                             (ref & kRefMask)};
    ++count_;
    return index;
}

std::size_t JsonDocument::QuotedEnd(std::size_t from) const {
    const char quote = text_[from - 1];
    const std::size_t n = text_.size();
    for (std::size_t i = from; i < n;) {
        const auto c = static_cast<unsigned char>(text_[i]);
        if (c > 0x80) {
            i += i + 1 < n ? 2 : 1;
        } else if (c == '\\') {
            ++i;
            if (i < n) i += CharLength(text_, i);
        } else if (c == static_cast<unsigned char>(quote)) {
            return i;
        } else {
            ++i;
        }
    }
    return n;
}

std::size_t JsonDocument::LiteralEnd(std::size_t from) const {
    const std::size_t n = text_.size();
    for (std::size_t i = from; i < n;) {
        const auto c = static_cast<unsigned char>(text_[i]);
        if (c > 0x80) {
            i += i + 1 < n ? 2 : 1;
        } else if (c == '\\') {
            ++i;
            if (i < n) i += CharLength(text_, i);
        } else if (c == ',' || c == '}' || c == ']' || c <= 15) {
            return i;
        } else {
            ++i;
        }
    }
    return n;
}

std::string_view JsonDocument::KeyOf(const Item& item, char (&digits)[16]) const {
    const std::uint32_t ref = item.word & kRefMask;
    switch ((item.word >> 28) & 3u) {
        case kTextKey:
            return std::string_view(text_).substr(ref, QuotedEnd(ref) - ref);
        case kElementKey: {
            digits[0] = '[';
            char* end = std::to_chars(digits + 1, digits + sizeof digits - 1, ref).ptr;
            *end++ = ']';
            return std::string_view(digits, static_cast<std::size_t>(end - digits));
        }
        default:
            return {};
    }
}

std::string_view JsonDocument::ValueOf(const Item& item) const {
    switch (KindOf(item)) {
        case kString:
            return std::string_view(text_).substr(item.at, QuotedEnd(item.at) - item.at);
        case kLiteral:
            return std::string_view(text_).substr(item.at, LiteralEnd(item.at) - item.at);
        default:
            return {};
    }
}

bool JsonDocument::Parse(std::string_view input) {
    input = UpToNul(input);
    // Entries address the text with 28-bit offsets; replies are capped far below that.
    text_.assign(input.substr(0, kRefMask));
    count_ = 0;
    wide_.clear();
    wideIds_.clear();
    rootChildren_ = 0;
    dottedKeys_ = emptyKeys_ = false;
    rootKind_ = 0;

    struct Level {
        std::uint32_t item;  // kRoot for the outermost container
        std::uint32_t counter;
        bool array;
        std::uint32_t children = 0;
    };
    // Level 0 is outside everything; what is stored there belongs to the root, as the root's own entries do.
    std::vector<Level> levels{Level{kRoot, 0, false, 0}};
    int keyForm = kNoKey;
    std::uint32_t keyAt = 0;
    std::size_t tokenStart = 0, tokenEnd = kNotEnded, stringAt = 0;
    char quote = 0;
    int state = kExpectValue;

    const auto depth = [&] { return levels.size() - 1; };
    const auto inArray = [&] { return depth() > 0 && levels.back().array; };
    const auto startToken = [&](std::size_t at) {
        tokenStart = at;
        tokenEnd = kNotEnded;
    };
    // An element's key is its number in the array; a member's, the key last read.
    const auto add = [&](int kind, bool element, std::uint32_t at) {
        ++(levels.back().item == kRoot ? rootChildren_ : levels.back().children);
        if (element) return Add(kind, kElementKey, levels.back().counter, at);
        return Add(kind, keyForm, keyAt, at);
    };
    const auto open = [&](int kind, bool element) {
        if (depth() >= static_cast<std::size_t>(kMaxDepth)) return false;
        std::uint32_t item = kRoot;
        if (depth() == 0)
            rootKind_ = static_cast<int>(PublicKind(kind));
        else
            item = add(kind, element, kNone);
        levels.push_back(Level{item, 0, kind == kArray, 0});
        keyForm = kNoKey;
        return true;
    };
    const auto close = [&] {
        if (depth() == 0) return false;
        const Level& level = levels.back();
        if (level.item != kRoot) {
            At(level.item).at = static_cast<std::uint32_t>(count_);
            if (level.children > kIndexThreshold) wideIds_.push_back(level.item);
        }
        levels.pop_back();
        return true;
    };
    const auto storeToken = [&](bool element) {
        add(kLiteral, element, static_cast<std::uint32_t>(tokenStart));
    };

    const auto run = [&]() -> bool {
        const std::size_t n = text_.size();
        for (std::size_t i = 0; i < n;) {
            if (state == kInKey || state == kInString) {
                // Inside quotes only the closing quote, a backslash or a double-byte character matters.
                while (i < n && text_[i] != quote && text_[i] != '\\' &&
                       static_cast<unsigned char>(text_[i]) <= 0x80)
                    ++i;
                if (i == n) break;
            }
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
                    const int kind = c == '{' ? kObject : kArray;
                    if (state == kInKey || state == kInString) break;
                    if (state == kExpectValue) {
                        if (!open(kind, false)) return false;
                    } else if (state == kExpectElement) {
                        if (!inArray() || !open(kind, true)) return false;
                    } else {
                        return false;
                    }
                    state = kind == kObject ? kExpectKey : kExpectElement;
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
                        keyAt = static_cast<std::uint32_t>(i + 1);
                        state = kInKey;
                    } else if (state == kInKey) {
                        if (c != static_cast<unsigned char>(quote)) break;
                        keyForm = kTextKey;
                        emptyKeys_ = emptyKeys_ || i == keyAt;
                        dottedKeys_ =
                            dottedKeys_ || std::memchr(text_.data() + keyAt, '.', i - keyAt) != nullptr;
                        state = kAfterKey;
                    } else if (state == kExpectValue || state == kExpectElement) {
                        quote = static_cast<char>(c);
                        stringAt = i + 1;
                        state = kInString;
                    } else if (state == kInString) {
                        if (c != static_cast<unsigned char>(quote)) break;
                        add(kString, inArray(), static_cast<std::uint32_t>(stringAt));
                        state = kAfterValue;
                    } else {
                        return false;
                    }
                    break;
                case ',':
                    if (state == kInKey || state == kInString) break;
                    if (state == kExpectValue) {
                        storeToken(false);
                        state = kExpectKey;
                    } else if (state == kExpectElement) {
                        storeToken(true);
                        ++levels.back().counter;
                        startToken(i + 1);
                    } else if (state == kAfterValue) {
                        if (inArray()) {
                            ++levels.back().counter;
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
                        storeToken(false);
                    } else if (state == kExpectKey || state == kExpectElement) {
                        if (depth() == 0 || levels.back().array) return false;
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
                        storeToken(true);
                    } else if (state != kAfterValue) {
                        return false;
                    }
                    if (!close()) return false;
                    state = kAfterValue;
                    break;
                default:
                    // Control bytes (tab, line breaks...) are skipped before a bare value and end it after.
                    if (c <= 15 && (state == kExpectValue || state == kExpectElement) &&
                        tokenEnd == kNotEnded) {
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
    };
    const bool ok = run();
    // Containers left open by an error or by the end of the text hold what was stored after them.
    while (depth() > 0)
        close();
    std::sort(wideIds_.begin(), wideIds_.end());
    return ok;
}
void JsonDocument::NormalizeInto(std::string_view path, std::string& out) {
    // Leading dots go, "[" gains a dot before it, runs of dots become one and a trailing dot goes; a "[" that
    // is the trail byte of a double-byte character stays as it is.
    while (!path.empty() && path.front() == '.')
        path.remove_prefix(1);
    out.resize(path.size() * 2 + 1);
    char* const begin = out.data();
    char* o = begin;
    *o++ = '.';
    for (std::size_t i = 0; i < path.size();) {
        const char c = path[i];
        if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
            *o++ = c;
            *o++ = path[i + 1];
            i += 2;
            continue;
        }
        if (c == '.' || c == '[') {
            if (o[-1] != '.') *o++ = '.';
            if (c == '[') *o++ = '[';
        } else {
            *o++ = c;
        }
        ++i;
    }
    if (o - begin > 1 && o[-1] == '.') --o;
    out.resize(static_cast<std::size_t>(o - begin));
}

std::string JsonDocument::NormalizePath(std::string_view path) {
    std::string out;
    NormalizeInto(path, out);
    return out;
}

JsonDocument::Probe JsonDocument::ProbeFor(std::string_view key) {
    Probe probe{key, kNone};
    // "[12]" is also how an element's number reads; only the plain spelling matches one.
    if (key.size() >= 3 && key.front() == '[' && key.back() == ']' && (key[1] != '0' || key.size() == 3)) {
        std::uint32_t n = 0;
        const auto digits = key.substr(1, key.size() - 2);
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (error == std::errc() && end == digits.data() + digits.size() && n <= kRefMask) probe.element = n;
    }
    return probe;
}

bool JsonDocument::KeyIs(const Item& item, const Probe& probe) const {
    const std::uint32_t ref = item.word & kRefMask;
    switch ((item.word >> 28) & 3u) {
        case kTextKey: {
            const std::size_t n = probe.text.size();
            if (ref + n >= text_.size() || (n > 0 && text_[ref] != probe.text[0])) return false;
            return (n == 0 || std::memcmp(text_.data() + ref, probe.text.data(), n) == 0) &&
                   QuotedEnd(ref) == ref + n;
        }
        case kElementKey:
            return probe.element == ref;
        default:
            return probe.text.empty();
    }
}

const JsonDocument::Wide& JsonDocument::WideOf(std::uint32_t container) const {
    if (const auto it = wide_.find(container); it != wide_.end()) return it->second;
    Wide wide;
    const std::uint32_t end = ChildrenEnd(container);
    bool nested = false;
    for (auto e = FirstChild(container); e < end; e = NextSibling(e)) {
        const Item& item = At(e);
        if (((item.word >> 28) & 3u) != kElementKey || (item.word & kRefMask) != wide.count)
            wide.numbered = false;
        nested = nested || IsContainer(item);
        ++wide.count;
    }
    if (wide.numbered) {
        // Elements are found by their number; where none is a container, the n-th is simply the n-th entry.
        if (nested) {
            wide.positions.reserve(wide.count);
            for (auto e = FirstChild(container); e < end; e = NextSibling(e))
                wide.positions.push_back(e);
        }
    } else {
        char digits[16];
        wide.byHash.reserve(wide.count);
        for (auto e = FirstChild(container); e < end; e = NextSibling(e))
            wide.byHash.push_back(std::uint64_t{KeyHash(KeyOf(At(e), digits))} << 32 | e);
        std::sort(wide.byHash.begin(), wide.byHash.end());  // by hash, then in document order
    }
    return wide_.emplace(container, std::move(wide)).first->second;
}

void JsonDocument::ChildrenWithKey(std::uint32_t container, const Probe& probe,
                                   std::vector<std::uint32_t>& out) const {
    const bool wide = container == kRoot ? rootChildren_ > kIndexThreshold
                                         : std::binary_search(wideIds_.begin(), wideIds_.end(), container);
    if (!wide) {
        const std::uint32_t end = ChildrenEnd(container);
        for (auto e = FirstChild(container); e < end; e = NextSibling(e))
            if (KeyIs(At(e), probe)) out.push_back(e);
        return;
    }
    // A wide container is looked up through its index, so reading every member stays linear.
    const Wide& index = WideOf(container);
    if (index.numbered) {
        if (probe.element >= index.count) return;
        out.push_back(index.positions.empty() ? FirstChild(container) + probe.element
                                              : index.positions[probe.element]);
        return;
    }
    const std::uint64_t hash = KeyHash(probe.text);
    for (auto it = std::lower_bound(index.byHash.begin(), index.byHash.end(), hash << 32);
         it != index.byHash.end() && (*it >> 32) == hash; ++it) {
        const auto e = static_cast<std::uint32_t>(*it);
        if (KeyIs(At(e), probe)) out.push_back(e);
    }
}

void JsonDocument::Resolve(std::string_view path, std::vector<std::uint32_t>& containers) const {
    // A container's path is its parent's (nothing for a parent whose path is ".") then "." and its key, so
    // keys holding dots, or empty keys, can give one path to containers at different depths. Each step tries
    // every key the rest of the path can begin with.
    containers.clear();
    auto& todo = todo_;
    auto& found = found_;
    todo.assign(1, Step{kRoot, 0});
    if (path == ".") containers.push_back(kRoot);
    while (!todo.empty()) {
        const Step step = todo.back();
        todo.pop_back();
        if (step.matched == 0 && emptyKeys_) {
            // Under a container whose path is ".", a container with the empty key has the path "." too.
            found.clear();
            ChildrenWithKey(step.container, ProbeFor({}), found);
            for (const auto e : found) {
                if (!IsContainer(At(e))) continue;
                if (path == ".") containers.push_back(e);
                todo.push_back(Step{e, 0});
            }
        }
        if (path == "." || step.matched >= path.size() || path[step.matched] != '.') continue;
        for (std::size_t keyEnd = step.matched + 1;; ++keyEnd) {
            keyEnd = std::min(path.find('.', keyEnd), path.size());
            const auto key = path.substr(step.matched + 1, keyEnd - step.matched - 1);
            if (step.matched > 0 || !key.empty()) {
                found.clear();
                ChildrenWithKey(step.container, ProbeFor(key), found);
                for (const auto e : found) {
                    if (!IsContainer(At(e))) continue;
                    if (keyEnd == path.size())
                        containers.push_back(e);
                    else
                        todo.push_back(Step{e, static_cast<std::uint32_t>(keyEnd)});
                }
            }
            // Without keys holding dots, a key ends at the path's next dot.
            if (keyEnd >= path.size() || !dottedKeys_) break;
        }
    }
}

std::string JsonDocument::GetText(std::string_view path) const {
    std::string& normalized = path_;
    NormalizeInto(path, normalized);
    if (normalized == ".") return std::string(kNull);
    const auto dot = normalized.rfind('.');
    const Probe key = ProbeFor(std::string_view(normalized).substr(dot + 1));
    const std::string_view parent =
        dot == 0 ? std::string_view(".") : std::string_view(normalized).substr(0, dot);
    auto& containers = containers_;
    Resolve(parent, containers);
    std::uint32_t first = kNone;
    for (const auto container : containers) {
        found_.clear();
        ChildrenWithKey(container, key, found_);
        if (!found_.empty()) first = std::min(first, found_.front());
    }
    if (first == kNone) return std::string(kNull);
    const Item& item = At(first);
    switch (KindOf(item)) {
        case kObject:
            return "{object}";
        case kArray:
            return "[array]";
        default: {
            const auto value = ValueOf(item);
            if (std::memchr(value.data(), '\xA1', value.size()) == nullptr) return std::string(value);
            return ReplaceAll(value, kIdeographicFullStop, ".");
        }
    }
}

int JsonDocument::MemberNames(std::string_view path, std::vector<std::string>& names) const {
    names.clear();
    std::vector<std::uint32_t> containers, members;
    NormalizeInto(path, path_);
    Resolve(path_, containers);
    for (const auto container : containers) {
        const std::uint32_t end = ChildrenEnd(container);
        for (auto e = FirstChild(container); e < end; e = NextSibling(e))
            members.push_back(e);
    }
    // Containers of one path may nest (an empty key), so their members are merged in document order.
    if (containers.size() > 1) {
        std::sort(members.begin(), members.end());
        members.erase(std::unique(members.begin(), members.end()), members.end());
    }
    char digits[16];
    for (const auto e : members)
        names.emplace_back(KeyOf(At(e), digits));
    return static_cast<int>(names.size());
}

JsonEntry JsonDocument::Entry(std::size_t index) const {
    if (index >= count_) return {};
    const auto target = static_cast<std::uint32_t>(index);
    std::string path = ".";
    char digits[16];
    for (std::uint32_t container = kRoot;;) {
        std::uint32_t e = FirstChild(container);
        while (e != target && NextSibling(e) <= target)
            e = NextSibling(e);
        if (e == target) break;
        // The target lies inside e.
        const auto key = KeyOf(At(e), digits);
        if (path == ".") path.clear();
        path += '.';
        path += key;
        if (path.empty()) path = ".";
        container = e;
    }
    const Item& item = At(target);
    return JsonEntry{true, PublicKind(KindOf(item)), std::string(KeyOf(item, digits)),
                     std::string(ValueOf(item)), path};
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
