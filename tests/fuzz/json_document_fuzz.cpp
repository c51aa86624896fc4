// A reply body: parsed, then read by the paths the program uses, by every member of the root and of the order
// list, and entry by entry. Reading may find nothing; it must never fault, loop or allocate without bound.
#include <vector>

#include "fuzz_input.h"
#include "support/json_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tandrel::JsonDocument doc;
    doc.Parse(tandrel::fuzz::Bytes(data, size));
    std::vector<std::string> names;
    for (const char* path :
         {"success", "result.group_order_id", "orders", "orders[0].orderSn", "[0]", ".", "a.b"})
        doc.GetText(path);
    doc.MemberNames(".", names);
    for (const auto& name : names) {
        doc.GetText(name);
        std::vector<std::string> inner;
        doc.MemberNames(name, inner);
        for (const auto& member : inner)
            doc.GetText(name + "." + member);
    }
    const std::size_t count = doc.EntryCount() < 64 ? doc.EntryCount() : 64;
    for (std::size_t e = 0; e < count; ++e) {
        const auto entry = doc.Entry(e);
        doc.GetText(entry.parentPath + "." + entry.key);
        doc.MemberNames(entry.parentPath, names);
    }
    return 0;
}
