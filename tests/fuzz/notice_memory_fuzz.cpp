// The notices' memory as the disk holds it, damaged or made by someone else: whatever parses comes back the
// same after it is written out and read again, its texts are plain and bounded, and nothing else crashes.
#include <string>

#include "fuzz_input.h"
#include "notify/notice_memory.h"

namespace {

bool Plain(const std::string& text) {
    if (text.size() > 420) return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f' || c == '@' || c == '<' || c == '>')
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto memory = tandrel::ParseNoticeMemory(tandrel::fuzz::Bytes(data, size));
    if (!memory) return 0;
    if (memory->incidents.size() > tandrel::NoticeMemory::kMaxIncidents ||
        memory->events.size() > tandrel::NoticeMemory::kMaxEvents)
        __builtin_trap();
    for (const auto& [id, incident] : memory->incidents)
        if (id.empty() || !Plain(id) || !Plain(incident.name) || !Plain(incident.reason) ||
            incident.startedAt < 0)
            __builtin_trap();
    const std::string text = tandrel::NoticeMemoryText(*memory);
    const auto again = tandrel::ParseNoticeMemory(text);
    if (!again || tandrel::NoticeMemoryText(*again) != text) __builtin_trap();
    return 0;
}
