// A month's history file as the merchant's disk holds it, damaged or not, read whole or from inside (a
// remnant line first): the order numbers that come out are never empty, each comes once, and there are never
// more than the row limit.
#include <set>
#include <string>

#include "fuzz_input.h"
#include "notify/history_order_numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = tandrel::fuzz::Bytes(data, size);
    const std::size_t fewRows = size == 0 ? 1 : data[0] % 8 + 1;
    for (const std::size_t limit : {fewRows, tandrel::kHistoryReadRows}) {
        for (const bool midLine : {false, true}) {
            const auto numbers = tandrel::HistoryOrderNumbers(bytes, limit, midLine);
            if (numbers.size() > limit) __builtin_trap();
            std::set<std::string> seen;
            for (const auto& number : numbers)
                if (number.empty() || !seen.insert(number).second) __builtin_trap();
        }
    }
    return 0;
}
