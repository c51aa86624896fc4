#pragma once
// What real servers vary from one reply to the next, drawn from a seeded generator so that a failing run can
// be replayed with the same seed: JSON member order, "\/" for "/", "\uXXXX" for non-ASCII text, numbers as
// strings where the field allows it, header-name letter case, Set-Cookie attributes in any order, extra
// cookies with bytes above 0x7F, chunked bodies, closed or kept-alive connections, and bodies trickling in
// small pieces.

#include <httplib.h>

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tandrel::sim {

class ReplyVariation {
  public:
    explicit ReplyVariation(std::uint64_t seed) : seed_(seed), random_(seed) {}
    std::uint64_t seed() const { return seed_; }

    // The compact JSON text of a value, varied.
    std::string Json(const nlohmann::ordered_json& value);
    // Writes a reply: header names in varied case, Set-Cookie attributes shuffled, now and then an extra
    // cookie with bytes above 0x7F, and the body whole, chunked or trickling, on a connection that stays open
    // or closes.
    void Write(int status, const std::string& contentType, std::string body,
               const std::vector<std::pair<std::string, std::string>>& headers, httplib::Response& res);

  private:
    void WriteValue(const nlohmann::ordered_json& value, std::string_view key, std::string& out);
    void WriteString(std::string_view text, std::string& out);
    std::string NameCase(std::string_view name);
    std::string ShuffledCookie(std::string_view line);
    bool Coin(int oneIn = 2);

    std::uint64_t seed_;
    std::mt19937_64 random_;
    std::mutex mutex_;  // replies are written on several server threads
    // Per reply: how slashes and non-ASCII text are written.
    int slashMode_ = 0, unicodeMode_ = 0;
};

}  // namespace tandrel::sim
