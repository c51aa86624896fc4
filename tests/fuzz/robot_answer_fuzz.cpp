// A robot's answer is outside bytes: whatever it holds, every kind's reader gives one line without controls,
// of bounded length, and never calls a refusal a delivery when the status says otherwise.
#include <string>

#include "fuzz_input.h"
#include "net/http_request.h"
#include "notify/robot_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(tandrel::fuzz::Bytes(data, size));
    for (const tandrel::RobotKindInfo& info : tandrel::RobotKinds()) {
        for (const int status : {200, 204, 429, 500}) {
            const auto answer = tandrel::ReadRobotAnswer(info.kind, tandrel::PlainReply{status, body, {}});
            if (answer.summary.size() > 1200) __builtin_trap();
            for (const char c : answer.summary)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) __builtin_trap();
            if (answer.ok && status >= 300) __builtin_trap();
        }
    }
    return 0;
}
