#include "support/json_document.h"

#include <gtest/gtest.h>

#include "support/text.h"

namespace tandrel {
namespace {

std::vector<std::string> Members(const JsonDocument& doc, std::string_view path, int* count = nullptr) {
    std::vector<std::string> names;
    const int n = doc.MemberNames(path, names);
    if (count) *count = n;
    EXPECT_EQ(static_cast<std::size_t>(n), names.size());
    return names;
}

TEST(JsonDocument, ReadsNestedValuesByDottedPaths) {
    JsonDocument doc;
    EXPECT_TRUE(doc.Parse(R"({"success":true,"result":{"group_order_id":"123"}})"));
    EXPECT_EQ(doc.GetText("success"), "true");
    EXPECT_EQ(doc.GetText("result.group_order_id"), "123");
    EXPECT_EQ(doc.GetText("result"), "{object}");
    EXPECT_EQ(doc.GetText("result.x"), "{null}");
    EXPECT_EQ(doc.GetText(""), "{null}");
    EXPECT_EQ(doc.GetText("."), "{null}");
    EXPECT_EQ(doc.RootKind(), static_cast<int>(JsonKind::Object));
}

TEST(JsonDocument, AddressesArrayElementsInEverySpelling) {
    JsonDocument doc;
    doc.Parse(R"({"orders":[{"orderSn":"a"},{"orderSn":"b"}],"total":2})");
    int count = 0;
    EXPECT_EQ(Members(doc, "orders", &count), (std::vector<std::string>{"[0]", "[1]"}));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(doc.GetText("orders[1].orderSn"), "b");
    EXPECT_EQ(doc.GetText("orders.[1].orderSn"), "b");
    EXPECT_EQ(doc.GetText(".orders[1]..orderSn."), "b");
    EXPECT_EQ(doc.GetText("orders.1.orderSn"), "{null}");
    EXPECT_EQ(doc.GetText("orders"), "[array]");
    EXPECT_EQ(doc.GetText("total"), "2");
    EXPECT_EQ(doc.GetText("Total"), "{null}");  // keys keep their case
    EXPECT_EQ(Members(doc, ""), (std::vector<std::string>{"orders", "total"}));
    EXPECT_EQ(Members(doc, "nowhere", &count).size(), 0u);
}

TEST(JsonDocument, KeepsTheTableTheWayTheParserBuildsIt) {
    JsonDocument doc;
    doc.Parse(R"({"orders":[{"orderSn":"x"}]})");
    ASSERT_EQ(doc.EntryCount(), 3u);
    const auto orders = doc.Entry(0), element = doc.Entry(1), sn = doc.Entry(2);
    EXPECT_EQ(orders.kind, JsonKind::Array);
    EXPECT_EQ(orders.parentPath, ".");
    EXPECT_EQ(element.key, "[0]");
    EXPECT_EQ(element.kind, JsonKind::Object);
    EXPECT_EQ(element.parentPath, ".orders");
    EXPECT_EQ(sn.key, "orderSn");
    EXPECT_EQ(sn.value, "x");
    EXPECT_EQ(sn.parentPath, ".orders.[0]");
}

TEST(JsonDocument, ArraysKeepEmptyElements) {
    JsonDocument doc;
    doc.Parse(R"({"orders":[]})");
    int count = 0;
    Members(doc, "orders", &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(doc.GetText("orders[0]"), "");
    doc.Parse("[1,,2]");
    EXPECT_EQ(Members(doc, "."), (std::vector<std::string>{"[0]", "[1]", "[2]"}));
    EXPECT_EQ(doc.GetText("[1]"), "");
    EXPECT_EQ(doc.GetText("[2]"), "2");
    EXPECT_EQ(doc.RootKind(), static_cast<int>(JsonKind::Array));
}

TEST(JsonDocument, ValuesStayRawExceptTheIdeographicFullStop) {
    JsonDocument doc;
    doc.Parse(R"({"s":"a\/b\u4e2d","n":1.50,"z":null,"q":"say \"hi\"","sp": 1})");
    EXPECT_EQ(doc.GetText("s"), R"(a\/b\u4e2d)");
    EXPECT_EQ(doc.GetText("n"), "1.50");
    EXPECT_EQ(doc.GetText("z"), "null");
    EXPECT_EQ(doc.GetText("q"), R"(say \"hi\")");
    EXPECT_EQ(doc.GetText("sp"), " 1");  // spaces are not skipped
    doc.Parse("{\"m\":\"" + Utf8ToGbk("好。好") + "\"}");
    EXPECT_EQ(doc.GetText("m"), Utf8ToGbk("好.好"));
    // A double-byte character whose trail byte is a quote or bracket look-alike is content.
    doc.Parse("{\"k\":\"\xD5\x5C\",\"j\":\"\xB0\x5D\"}");
    EXPECT_EQ(doc.GetText("k"), "\xD5\x5C");
    EXPECT_EQ(doc.GetText("j"), "\xB0\x5D");
}

TEST(JsonDocument, ControlBytesAreSkippedBeforeAndEndBareValues) {
    JsonDocument doc;
    doc.Parse("{\"a\":\r\n\t7\r\n,\"b\":[\n1\n,\n2 x\n]}");
    EXPECT_EQ(doc.GetText("a"), "7");
    EXPECT_EQ(doc.GetText("b[0]"), "1");
    EXPECT_EQ(doc.GetText("b[1]"), "2 x");
}

TEST(JsonDocument, FirstOccurrenceWinsAlsoInWideObjects) {
    JsonDocument doc;
    doc.Parse(R"({"a":1,"a":2})");
    EXPECT_EQ(doc.GetText("a"), "1");
    std::string wide = "{";
    for (int i = 0; i < 200; ++i)
        wide += "\"k" + std::to_string(i % 100) + "\":" + std::to_string(i) + ",";
    wide += "\"end\":0}";
    doc.Parse(wide);
    EXPECT_EQ(doc.GetText("k42"), "42");  // the indexed look-up gives what the scan gives
    EXPECT_EQ(doc.GetText("end"), "0");
    EXPECT_EQ(Members(doc, "").size(), 201u);
}

TEST(JsonDocument, BadInputKeepsWhatWasStoredAndReadsNull) {
    JsonDocument doc;
    EXPECT_FALSE(doc.Parse(R"({"a":1,"b":2 "c":3})"));
    EXPECT_EQ(doc.GetText("a"), "1");
    EXPECT_EQ(doc.GetText("c"), "{null}");
    doc.Parse("<html><body>502 Bad Gateway</body></html>");
    EXPECT_EQ(doc.GetText("success"), "{null}");
    doc.Parse("");
    EXPECT_EQ(doc.GetText("a"), "{null}");
    EXPECT_EQ(doc.EntryCount(), 0u);
    EXPECT_FALSE(doc.Parse("}}}]]]"));
    EXPECT_TRUE(doc.Parse(R"({"a":"unterminated)"));  // running out of bytes is not an error
    EXPECT_EQ(doc.GetText("a"), "{null}");
    doc.Parse(std::string("{\"a\":1,\0\"b\":2}", 14));  // text ends at the NUL
    EXPECT_EQ(doc.GetText("b"), "{null}");
    doc.Parse(R"({"a":1})");
    doc.Parse(R"({"b":1})");  // a new parse forgets the old one
    EXPECT_EQ(doc.GetText("a"), "{null}");
}

TEST(JsonDocument, DeepNestingStopsAtTheLimitWithoutCrashing) {
    JsonDocument doc;
    const std::string deep = "{\"v\":1,\"d\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    EXPECT_FALSE(doc.Parse(deep));
    EXPECT_EQ(doc.GetText("v"), "1");
    EXPECT_EQ(doc.GetText("d"), "[array]");
    std::string limit = std::string(JsonDocument::kMaxDepth, '[') + std::string(JsonDocument::kMaxDepth, ']');
    EXPECT_TRUE(doc.Parse(limit));
    EXPECT_FALSE(doc.Parse("[" + limit + "]"));
}

TEST(JsonDocument, SurvivesEveryByteValue) {
    JsonDocument doc;
    std::string noise;
    std::uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        noise.clear();
        for (int i = 0; i < 512; ++i) {
            seed = seed * 1103515245u + 12345u;
            constexpr std::string_view alphabet = "{}[]:,\"'\\ab1\r\n\x81\xA1\xA3\xFF";
            noise += alphabet[(seed >> 16) % alphabet.size()];
        }
        doc.Parse(noise);
        std::vector<std::string> names;
        doc.MemberNames(".", names);
        for (const auto& name : names)
            doc.GetText(name);
        for (std::size_t e = 0; e < doc.EntryCount(); ++e)
            doc.GetText(doc.Entry(e).parentPath + "." + doc.Entry(e).key);
    }
}

TEST(JsonDocument, ContainersWhosePathsReadAlikeAreOne) {
    JsonDocument doc;
    // A key given twice, a key holding a dot, and an empty key under the root all make paths that read the
    // same as another container's: members of both are found, in document order, the first one winning.
    doc.Parse(R"({"a":{"x":1},"a.b":{"c":2},"a":{"b":{"d":3},"x":9},"":{"top":4}})");
    EXPECT_EQ(doc.GetText("a.x"), "1");
    EXPECT_EQ(doc.GetText("a.b.c"), "2");
    EXPECT_EQ(doc.GetText("a.b.d"), "3");
    EXPECT_EQ(Members(doc, "a.b"), (std::vector<std::string>{"c", "d"}));
    EXPECT_EQ(Members(doc, "a"), (std::vector<std::string>{"x", "b", "x"}));
    EXPECT_EQ(doc.GetText("top"), "4");
    EXPECT_EQ(Members(doc, ""), (std::vector<std::string>{"a", "a.b", "a", "", "top"}));
    EXPECT_EQ(doc.Entry(doc.EntryCount() - 1).parentPath, ".");
    EXPECT_EQ(doc.GetText("a.b"), "{object}");
    EXPECT_EQ(doc.GetText("a.b.x"), "{null}");
}

TEST(JsonDocument, WideContainersAreReadThroughTheirIndex) {
    JsonDocument doc;
    std::string text = R"({"n":[)";
    for (int i = 0; i < 100; ++i)
        text += (i ? "," : "") + (i % 3 ? std::to_string(i) : R"({"v":)" + std::to_string(i) + "}");
    text += R"(],"s":[)";
    for (int i = 0; i < 100; ++i)
        text += (i ? ",\"" : "\"") + std::to_string(i) + "\"";
    text += R"(],"o":{"[5]":"key","k":1)";
    for (int i = 0; i < 100; ++i)
        text += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
    text += R"(,"k":2}})";
    ASSERT_TRUE(doc.Parse(text));
    EXPECT_EQ(doc.GetText("n[99].v"), "99");
    EXPECT_EQ(doc.GetText("n[98]"), "98");
    EXPECT_EQ(doc.GetText("n[100]"), "{null}");
    EXPECT_EQ(doc.GetText("n[07]"), "{null}");  // only the plain spelling of a number names an element
    EXPECT_EQ(doc.GetText("s[42]"), "42");
    EXPECT_EQ(doc.GetText("o[5]"), "key");  // a member keyed "[5]" has the path an element would have
    EXPECT_EQ(doc.GetText("o.k"), "1");
    EXPECT_EQ(doc.GetText("o.k77"), "77");
    EXPECT_EQ(Members(doc, "s").size(), 100u);
}

TEST(JsonDocument, MemoryStaysProportionalToTheText) {
    // Deep objects in a wide array once cost the text's size times the depth; each entry now keeps a fixed
    // few bytes. The parse is checked to finish with every element readable.
    std::string element;
    for (int d = 0; d < 1000; ++d)
        element += "{\"a\":";
    element += '7' + std::string(1000, '}');
    std::string text = "[" + element;
    for (int i = 0; i < 40; ++i)
        text += "," + element;
    text += "]";
    JsonDocument doc;
    EXPECT_TRUE(doc.Parse(text));
    EXPECT_EQ(doc.EntryCount(), 41u * 1001u);
    std::string path = "[40]";
    for (int d = 0; d < 1000; ++d)
        path += ".a";
    EXPECT_EQ(doc.GetText(path), "7");
    EXPECT_EQ(doc.Entry(doc.EntryCount() - 1).parentPath.size(), std::string(".[40]").size() + 999 * 2);
}

// Inputs the fuzz targets (tests/fuzz) once failed on, run here under the sanitizers of the second build.
TEST(JsonDocument, FuzzFindings) {
    JsonDocument doc;
    // Looking for empty keys compared zero bytes from a null pointer.
    doc.Parse("{'a':1,'b':[1,,2],\"\":{\"a.b\":{\"c\":[]}},\"a\":{\"x\":\r\n\t7\r\n}}");
    EXPECT_EQ(doc.GetText("a.b.c"), "[array]");
    EXPECT_EQ(doc.GetText("a.x"), "7");
    EXPECT_EQ(Members(doc, "."), (std::vector<std::string>{"a", "b", "", "a.b", "a"}));
}

TEST(JsonPath, NormalizesLikeTheCallersWriteThem) {
    EXPECT_EQ(JsonDocument::NormalizePath(""), ".");
    EXPECT_EQ(JsonDocument::NormalizePath("..."), ".");
    EXPECT_EQ(JsonDocument::NormalizePath("total"), ".total");
    EXPECT_EQ(JsonDocument::NormalizePath("orders[0].orderSn"), ".orders.[0].orderSn");
    EXPECT_EQ(JsonDocument::NormalizePath("a..b."), ".a.b");
    EXPECT_EQ(JsonDocument::NormalizePath("[3]"), ".[3]");
}

}  // namespace
}  // namespace tandrel
