#pragma once
// A lenient, single-pass reader of the marketplace's JSON replies. The document is a flat table of entries
// addressed by dotted paths ("result.group_order_id", "orders[3].orderSn"); values keep their raw text,
// escape sequences included, and anything missing reads as "{null}".

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tandrel {

enum class JsonKind : int { String = 1, Literal = 2, Boolean = 3, Object = 4, Array = 5 };

struct JsonEntry {
    bool inUse = false;
    JsonKind kind = JsonKind::Literal;
    std::string key;
    std::string value;
    std::string parentPath;
};

class JsonDocument {
  public:
    static constexpr int kMaxDepth = 1024;

    // Discards the previous content. True when the whole text was read without a syntax error; entries stored
    // before an error stay readable. The text ends at its first NUL byte.
    bool Parse(std::string_view text);
    // The text at the path: the value for strings and literals (with the ideographic full stop read as "."),
    // "{object}", "[array]", or "{null}" for a missing path and for the root.
    std::string GetText(std::string_view path) const;
    // Number of entries directly under the path; their keys go to names in document order.
    int MemberNames(std::string_view path, std::vector<std::string>& names) const;

    // Root kind after a parse: Object, Array, or nothing (0) before a successful start.
    int RootKind() const { return rootKind_; }
    std::size_t EntryCount() const { return items_.size(); }
    JsonEntry Entry(std::size_t index) const;

    static std::string NormalizePath(std::string_view path);

  private:
    struct Slice {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        bool generated = false;  // in names_ rather than text_
    };
    struct Item {
        JsonKind kind;
        Slice key;
        Slice value;
        std::uint32_t parent;       // container id
        std::uint32_t nextSibling;  // next entry with the same parent path, or kNone
    };
    struct Container {
        std::string_view path;  // the key of its pathIds_ node, which never moves
        std::uint32_t first = kNone, last = kNone, count = 0;
    };
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint32_t kIndexThreshold = 24;

    std::string_view View(const Slice& s) const;
    std::uint32_t InternPath(std::string path);
    std::uint32_t FindContainer(std::string_view path) const;
    std::uint32_t FindEntry(std::uint32_t container, std::string_view key) const;
    void AddEntry(JsonKind kind, Slice key, Slice value, std::uint32_t parent);

    std::string text_;
    std::string names_;  // generated "[i]" keys
    int rootKind_ = 0;
    std::vector<Item> items_;
    std::vector<Container> containers_;  // id 0 is the root path "."
    std::unordered_map<std::string, std::uint32_t, PathHash, std::equal_to<>> pathIds_;
    // Wide containers get a key index on first use, so reading every element stays linear.
    mutable std::unordered_map<std::uint32_t, std::unordered_map<std::string_view, std::uint32_t>> keyIndex_;
};

// The text escaped for use inside a JSON string: quotes, backslashes and control characters; other bytes
// (UTF-8 sequences included) pass unchanged.
std::string JsonEscape(std::string_view text);
// JSON string text as a reply had it (what GetText gives back), made safe to put between quotes again: its
// escape sequences stay as they are; a quote or a backslash that starts none, and control characters, are
// escaped.
std::string JsonStringText(std::string_view text);

}  // namespace tandrel
