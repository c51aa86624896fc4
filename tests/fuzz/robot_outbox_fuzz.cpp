// The outbox file comes back from the disk, where anything may have happened to it: it is read as an outbox
// or refused, never holds more than its bound, and what it holds writes out and reads back the same.
#include <string>

#include "fuzz_input.h"
#include "notify/robot_outbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tandrel::OutboxContent content;
    std::size_t skipped = 0;
    if (!tandrel::ReadOutboxText(tandrel::fuzz::Bytes(data, size), content, skipped)) return 0;
    if (content.entries.size() > tandrel::kOutboxMaxEntries + tandrel::kOutboxMaxNotices) __builtin_trap();
    tandrel::OutboxContent again;
    std::size_t skippedAgain = 0;
    if (!tandrel::ReadOutboxText(tandrel::OutboxText(content), again, skippedAgain)) __builtin_trap();
    if (again.entries.size() != content.entries.size() || skippedAgain != 0) __builtin_trap();
    return 0;
}
