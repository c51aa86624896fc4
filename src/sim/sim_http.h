#pragma once
// The simulator's shared HTTP text helpers: replies as values, JSON and HTML bodies, the lenient reading of
// request bodies, and the recording of a request as it came. Used by every service of the simulator.

#include <httplib.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/marketplace_sim.h"

namespace tandrel::sim {

using Json = nlohmann::ordered_json;  // members in the order written, as the real replies have them

inline constexpr char kJsonType[] = "application/json;charset=UTF-8";
inline constexpr char kHtmlType[] = "text/html;charset=UTF-8";

// One reply, built by a service and applied to the response once faults have had their say.
struct Reply {
    int status = 200;
    std::string contentType = kJsonType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

class ReplyVariation;
// While one lives on a thread, Dump and Apply write that thread's replies varied (see reply_variation.h).
class VariationScope {
  public:
    explicit VariationScope(ReplyVariation* variation);
    ~VariationScope();
    VariationScope(const VariationScope&) = delete;
    VariationScope& operator=(const VariationScope&) = delete;
};

std::string Dump(const Json& json);
Reply JsonReply(const Json& json);
Reply HtmlReply(int status, std::string_view title, std::string_view message);
void Apply(const Reply& reply, httplib::Response& res);

// Ids go out as JSON numbers when they look like one, as the real replies have them; anything else (leading
// zeros, letters, too long for 64 bits) as a string, so that no digit is lost.
Json IdValue(const std::string& id);
// The string value of the member `key`, escapes decoded. The program builds its bodies by text replacement,
// so they need not be valid JSON (an unescaped quote, GBK bytes); a strict parser would reject a request that
// a lenient server still reads, and the bytes are compared as they came.
std::optional<std::string> StringMember(std::string_view body, std::string_view key);
// "%XX" to its byte; "+" stays "+" (the program encodes a space as %20).
std::string PercentDecode(std::string_view text);
std::string_view TrimSpaces(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// An HTTP date a year ahead, spelled out by hand because strftime follows the process locale, which a Qt
// program sets from the environment.
std::string ExpiresInAYear();
int IntParam(const httplib::Request& req, const char* name, int fallback);
// The request line and headers exactly as received (raw), with the body that httplib decoded.
RecordedRequest ParseRecorded(const std::string& raw, const httplib::Request& req);

}  // namespace tandrel::sim
