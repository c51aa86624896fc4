#include "notify/robot_message.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <nlohmann/json.hpp>

#include "net/http_request.h"
#include "support/local_time.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {
namespace {

using Json = nlohmann::ordered_json;

std::string HmacSha256Base64(std::string_view key, std::string_view data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int macLength = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac.data(), &macLength))
        return {};
    std::array<unsigned char, 4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1> text{};
    const int length = EVP_EncodeBlock(text.data(), mac.data(), static_cast<int>(macLength));
    return std::string(reinterpret_cast<const char*>(text.data()), static_cast<std::size_t>(length));
}

// A field from the marketplace as it leaves the program: one line, no controls.
std::string Utf8(const std::string& gbk) {
    return RemoveControls(GbkToUtf8(gbk), TextBytes::Utf8, LineBreaks::ToSpace);
}

std::string Dump(const Json& json) {
    // The texts are converted from GBK, so they are valid UTF-8; replace keeps a stray byte from throwing.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Cuts a UTF-8 text to at most max bytes without splitting a character.
std::string CutUtf8(std::string text, std::size_t max) {
    if (text.size() <= max) return text;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

Json GroupJson(const ReportedGroup& g) {
    return Json{{"time", ReportTimeText(g.time)},
                {"storeId", Utf8(g.storeId)},
                {"storeName", Utf8(g.storeName)},
                {"goodsId", Utf8(g.goodsId)},
                {"nickname", Utf8(g.nickname)},
                {"groupOrderId", Utf8(g.groupOrderId)},
                {"remainingHours", Utf8(g.remainingHours)},
                {"orderSn", Utf8(g.orderSn)},
                {"old", g.old}};
}

std::string WithQuery(std::string_view address, const std::string& query) {
    std::string url(address);
    url += url.find('?') == std::string::npos ? '?' : '&';
    return url + query;
}

std::int64_t EpochMs(std::chrono::system_clock::time_point now) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
}

RobotRequest BuildFromText(RobotKind kind, std::string_view address, std::string_view secret,
                           const std::string& text, const Json* groups,
                           std::chrono::system_clock::time_point now) {
    RobotRequest request{std::string(address), "application/json; charset=utf-8", {}};
    const std::string content = CutUtf8(text, MessageByteBudget(kind));
    switch (kind) {
        case RobotKind::WeCom:
            request.body = Dump(Json{{"msgtype", "text"}, {"text", {{"content", content}}}});
            break;
        case RobotKind::DingTalk:
            request.body = Dump(Json{{"msgtype", "text"}, {"text", {{"content", content}}}});
            if (!secret.empty()) {
                const std::int64_t ms = EpochMs(now);
                request.url = WithQuery(address, "timestamp=" + std::to_string(ms) +
                                                     "&sign=" + UrlEncode(DingTalkSign(secret, ms)));
            }
            break;
        case RobotKind::Feishu: {
            Json body;
            if (!secret.empty()) {
                const std::int64_t seconds = EpochMs(now) / 1000;
                body["timestamp"] = std::to_string(seconds);
                body["sign"] = FeishuSign(secret, seconds);
            }
            body["msg_type"] = "text";
            body["content"] = {{"text", content}};
            request.body = Dump(body);
            break;
        }
        case RobotKind::Webhook: {
            Json body{{"text", content}};
            body["groups"] = groups ? *groups : Json::array();
            request.body = Dump(body);
            break;
        }
        case RobotKind::None:
            break;
    }
    return request;
}

}  // namespace

std::string_view RobotKindName(RobotKind kind) {
    switch (kind) {
        case RobotKind::WeCom:
            return "wecom";
        case RobotKind::DingTalk:
            return "dingtalk";
        case RobotKind::Feishu:
            return "feishu";
        case RobotKind::Webhook:
            return "webhook";
        case RobotKind::None:
            break;
    }
    return "";
}

std::optional<RobotKind> ParseRobotKind(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (RobotKind kind :
         {RobotKind::None, RobotKind::WeCom, RobotKind::DingTalk, RobotKind::Feishu, RobotKind::Webhook}) {
        if (lower == RobotKindName(kind)) return kind;
    }
    return std::nullopt;
}

std::string DingTalkSign(std::string_view secret, std::int64_t timestampMs) {
    return HmacSha256Base64(secret, std::to_string(timestampMs) + "\n" + std::string(secret));
}

std::string FeishuSign(std::string_view secret, std::int64_t timestampSeconds) {
    return HmacSha256Base64(std::to_string(timestampSeconds) + "\n" + std::string(secret), {});
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string ReportTimeText(std::chrono::system_clock::time_point time) {
    const std::tm t = LocalTime(time);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string GroupText(const ReportedGroup& g) {
    // Fields come from the marketplace; a runaway nickname must not push the others out of the message.
    // In a chat group's text it mentions nobody either: a nickname "@all" must not page the whole group.
    const auto field = [](const std::string& gbk) { return CutUtf8(DefuseMentions(Utf8(gbk)), 200); };
    return std::string(g.old ? "【老团】" : "【新开团】") + ReportTimeText(g.time) + "\n店铺：" +
           field(g.storeName) + "\n商品ID：" + field(g.goodsId) + "\n开团账号：" + field(g.nickname) +
           "\n剩余时间：" + field(g.remainingHours) + "小时\n团ID：" + field(g.groupOrderId);
}

std::string MessageText(const std::vector<ReportedGroup>& groups) {
    std::string text;
    for (const ReportedGroup& g : groups) {
        if (!text.empty()) text += "\n\n";
        text += GroupText(g);
    }
    return text;
}

std::size_t MessageByteBudget(RobotKind kind) {
    switch (kind) {
        case RobotKind::WeCom:
            return 2048;  // the service's limit of a text message
        case RobotKind::DingTalk:
            return 18000;
        case RobotKind::Feishu:
            return 18000;  // the whole request may hold 20 KB
        case RobotKind::Webhook:
            return 60000;
        case RobotKind::None:
            break;
    }
    return 0;
}

int RobotMessagesPerMinute(RobotKind kind) {
    switch (kind) {
        case RobotKind::WeCom:
            return 20;
        case RobotKind::DingTalk:
            return 20;
        case RobotKind::Feishu:
            return 100;
        case RobotKind::Webhook:
            return 60;  // people's own scripts: kept polite
        case RobotKind::None:
            break;
    }
    return 0;
}

std::vector<std::vector<ReportedGroup>> SplitIntoMessages(RobotKind kind, std::vector<ReportedGroup> groups) {
    std::vector<std::vector<ReportedGroup>> messages;
    const std::size_t budget = MessageByteBudget(kind);
    std::size_t used = 0;
    for (ReportedGroup& g : groups) {
        const std::size_t size = GroupText(g).size() + 2;
        if (messages.empty() || used + size > budget) {
            messages.emplace_back();
            used = 0;
        }
        used += size;
        messages.back().push_back(std::move(g));
    }
    return messages;
}

RobotRequest BuildRobotRequest(RobotKind kind, std::string_view address, std::string_view secret,
                               const std::vector<ReportedGroup>& groups,
                               std::chrono::system_clock::time_point now, std::string_view note) {
    Json list = Json::array();
    if (kind == RobotKind::Webhook) {
        for (const ReportedGroup& g : groups)
            list.push_back(GroupJson(g));
    }
    const std::string text =
        note.empty() ? MessageText(groups) : std::string(note) + "\n\n" + MessageText(groups);
    return BuildFromText(kind, address, secret, text, &list, now);
}

RobotRequest BuildTextRequest(RobotKind kind, std::string_view address, std::string_view secret,
                              const std::string& utf8Text, std::chrono::system_clock::time_point now) {
    return BuildFromText(kind, address, secret, utf8Text, nullptr, now);
}

RobotAnswer ReadRobotAnswer(RobotKind kind, const PlainReply& reply) {
    RobotAnswer answer;
    if (reply.status == 0) {
        answer.summary = reply.error.empty()
                             ? "无应答"
                             : RemoveControls(reply.error, TextBytes::Utf8, LineBreaks::ToSpace);
        return answer;
    }
    // The answer is shown in the log, on stderr and in the dialog: one line, nothing a terminal would act on.
    const std::string body = RemoveControls(CutUtf8(reply.body, 300), TextBytes::Utf8, LineBreaks::ToSpace);
    answer.summary =
        "服务器答复 HTTP " + std::to_string(reply.status) + (body.empty() ? "" : "（" + body + "）");
    answer.rateLimited = reply.status == 429;
    if (reply.status < 200 || reply.status > 299) return answer;
    if (kind == RobotKind::Webhook) {
        answer.ok = true;
        return answer;
    }
    const Json json = Json::parse(reply.body, nullptr, false);
    const auto code = [&json](const char* name) -> std::optional<long long> {
        if (!json.is_object()) return std::nullopt;
        auto it = json.find(name);
        if (it == json.end() || !it->is_number_integer()) return std::nullopt;
        return it->get<long long>();
    };
    std::optional<long long> result;
    if (kind == RobotKind::Feishu) {
        // Older robots answer with StatusCode, newer ones with code.
        result = code("code");
        if (!result) result = code("StatusCode");
        answer.rateLimited = result == 9499 || result == 11232;
    } else {
        result = code("errcode");
        answer.rateLimited = kind == RobotKind::WeCom ? result == 45009 : result == 130101;
    }
    answer.ok = result == 0;
    if (!answer.ok) answer.summary = "机器人拒绝" + (body.empty() ? std::string() : "（" + body + "）");
    return answer;
}

}  // namespace tandrel
