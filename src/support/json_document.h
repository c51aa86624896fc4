#pragma once
// A lenient, single-pass reader of the marketplace's JSON replies. The document is a flat table of entries
// addressed by dotted paths ("result.group_order_id", "orders[3].orderSn"); values keep their raw text,
// escape sequences included, and anything missing reads as "{null}". Containers whose paths read the same
// (a key given twice) are one container. Memory stays within a small multiple of the text for any shape.

#include <cstdint>
#include <memory>
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
    std::size_t EntryCount() const { return count_; }
    // Walks down from the root to find the entry's container, so it is meant for tests and diagnostics.
    JsonEntry Entry(std::size_t index) const;

    static std::string NormalizePath(std::string_view path);

  private:
    // Eight bytes per entry, whatever the shape of the text: a key or value is kept as the offset where it
    // starts, its end found again by the rule that ended it while parsing. A container keeps no path: its
    // entries follow it in document order up to `at`, so a path is resolved by walking down from the root.
    struct Item {
        std::uint32_t
            at;  // a string or literal: where its value starts; a container: one past its last entry
        std::uint32_t word;  // kind (2 bits), key form (2 bits), key offset or element number (28 bits)
    };
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint32_t kRoot = 0xFFFFFFFEu;  // the container of top-level entries
    static constexpr std::size_t kBlockItems = 4096;
    static constexpr std::uint32_t kIndexThreshold = 8;

    Item& At(std::uint32_t i) { return blocks_[i / kBlockItems][i % kBlockItems]; }
    const Item& At(std::uint32_t i) const { return blocks_[i / kBlockItems][i % kBlockItems]; }
    std::uint32_t Add(int kind, int keyForm, std::uint32_t ref, std::uint32_t at);
    static int KindOf(const Item& item) { return static_cast<int>(item.word >> 30); }
    bool IsContainer(const Item& item) const { return KindOf(item) >= 2; }
    std::string_view KeyOf(const Item& item, char (&digits)[16]) const;
    std::string_view ValueOf(const Item& item) const;
    std::size_t QuotedEnd(std::size_t from) const;
    std::size_t LiteralEnd(std::size_t from) const;
    std::uint32_t FirstChild(std::uint32_t container) const { return container == kRoot ? 0 : container + 1; }
    std::uint32_t ChildrenEnd(std::uint32_t container) const {
        return container == kRoot ? static_cast<std::uint32_t>(count_) : At(container).at;
    }
    std::uint32_t NextSibling(std::uint32_t child) const {
        const Item& item = At(child);
        return IsContainer(item) ? item.at : child + 1;
    }
    // A key to look for: its text, and the element number it names when it reads "[n]".
    struct Probe {
        std::string_view text;
        std::uint32_t element;  // kNone when it names none
    };
    static Probe ProbeFor(std::string_view key);
    bool KeyIs(const Item& item, const Probe& probe) const;
    // Wide containers get an index on first use, so reading every member stays linear.
    struct Wide {
        std::uint32_t count = 0;
        bool numbered = true;                  // elements 0, 1, 2... in order: found by number
        std::vector<std::uint32_t> positions;  // numbered and some are containers: where each one is
        std::vector<std::uint64_t> byHash;     // otherwise: key hash << 32 | entry, sorted
    };
    const Wide& WideOf(std::uint32_t container) const;
    // Children of the container with the key, in document order.
    void ChildrenWithKey(std::uint32_t container, const Probe& probe, std::vector<std::uint32_t>& out) const;
    // Every container whose dotted path is the (normalized) path: duplicate keys make several.
    void Resolve(std::string_view path, std::vector<std::uint32_t>& containers) const;
    static void NormalizeInto(std::string_view path, std::string& out);

    std::string text_;
    int rootKind_ = 0;
    std::size_t count_ = 0;
    std::vector<std::unique_ptr<Item[]>> blocks_;  // kept between parses
    std::vector<std::uint32_t> wideIds_;  // containers with more than kIndexThreshold entries, sorted
    std::uint32_t rootChildren_ = 0;
    bool dottedKeys_ = false, emptyKeys_ = false;  // keys that make path look-ups try more than one way
    mutable std::unordered_map<std::uint32_t, Wide> wide_;
    // Scratch space of the look-ups, kept so that a look-up allocates nothing but its result.
    struct Step {
        std::uint32_t container;
        std::uint32_t
            matched;  // the path's first `matched` bytes are the path the container's children extend
    };
    mutable std::vector<Step> todo_;
    mutable std::vector<std::uint32_t> found_, containers_;
    mutable std::string path_;
};

// The text escaped for use inside a JSON string: quotes, backslashes and control characters; other bytes
// (UTF-8 sequences included) pass unchanged.
std::string JsonEscape(std::string_view text);
// JSON string text as a reply had it (what GetText gives back), made safe to put between quotes again: its
// escape sequences stay as they are; a quote or a backslash that starts none, and control characters, are
// escaped.
std::string JsonStringText(std::string_view text);

}  // namespace tandrel
