#pragma once
// The messages posted to work-chat group robots, to personal push channels and to people's own web hooks:
// one table of the kinds (what each is called, what its key field means, how much it takes, how to build its
// request and how to read its answer), the signatures of the kinds that sign, and the message texts.
// Everything here is pure: the poster sends what these functions build.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "monitor/reported_group.h"
#include "notify/watch_notice.h"

namespace tandrel {

struct PlainReply;

enum class RobotKind { None, WeCom, DingTalk, Feishu, Webhook, PushPlus, ServerChan };

// What the kind makes of 机器人密钥.
enum class RobotKey {
    Unused,    // the address carries everything
    Signing,   // an optional signing secret
    Required,  // the token that names the receiver; without it nothing can be sent
};

// One message's worth of what waits: reported groups and notices about the watching, in arrival order.
using RobotItem = std::variant<ReportedGroup, WatchNotice>;

struct RobotRequest {
    std::string url;
    std::string contentType;
    std::string body;  // UTF-8
};

struct RobotAnswer {
    bool ok = false;
    bool rateLimited = false;  // the robot refused because too many messages came in
    std::string summary;       // UTF-8, one line: why it failed, or what it answered
};

// What a kind's request is made from (UTF-8); built by BuildRobotRequest.
struct RobotDraft {
    std::string url;  // the address resolved (RobotAddress)
    std::string_view secret;
    std::string title;    // one line
    std::string text;     // the plain text, already cut to the kind's budget
    std::string details;  // the webhook's "groups" and "notices" members as JSON text, or empty
    std::int64_t epochMs = 0;
};

struct RobotKindInfo {
    RobotKind kind;
    std::string_view name;     // in Config.ini
    std::string_view caption;  // in the dialog (UTF-8)
    RobotKey key;
    std::string_view keyHint;      // the key field's placeholder (UTF-8)
    std::string_view addressHint;  // the address field's placeholder (UTF-8)
    // The address used when none is given, from the key; null when an address is needed. Empty when the
    // key cannot make one.
    std::string (*defaultAddress)(std::string_view key);
    std::size_t byteBudget;  // the most text bytes in one message; bigger batches go out as several
    int perMinute;           // messages the service takes per minute from one sender
    void (*build)(const RobotDraft& draft, RobotRequest& request);
    // Reads a 2xx answer's body: sets ok, rateLimited and, when refused, why.
    void (*read)(std::string_view body, RobotAnswer& answer);
};

// Every kind, None first; the dialog lists them in this order.
std::span<const RobotKindInfo> RobotKinds();
const RobotKindInfo& KindInfo(RobotKind kind);

// "wecom", "dingtalk", "feishu", "webhook", "pushplus", "serverchan"; "" for None.
std::string_view RobotKindName(RobotKind kind);
// Blanks around it and letter case are ignored; "" is None; anything else unknown is nullopt.
std::optional<RobotKind> ParseRobotKind(std::string_view text);
// The known names for a message ("wecom、dingtalk、…").
std::string RobotKindNames();

// The address a post goes to: the one given, or the kind's default made from the key (UTF-8).
std::string RobotAddress(RobotKind kind, std::string_view address, std::string_view key);
// Why a robot so set cannot be used (UTF-8), or empty.
std::string RobotSettingProblem(RobotKind kind, std::string_view address, std::string_view key);

// Base64 of HMAC-SHA256 keyed with the secret over timestamp + "\n" + secret (milliseconds); not URL-encoded.
std::string DingTalkSign(std::string_view secret, std::int64_t timestampMs);
// Base64 of HMAC-SHA256 keyed with timestamp + "\n" + secret over nothing (seconds).
std::string FeishuSign(std::string_view secret, std::int64_t timestampSeconds);
// Percent-encoding of everything but unreserved characters (for query values).
std::string UrlEncode(std::string_view text);

// The lines about one group (UTF-8): a title line, then store, goods id, opener, remaining hours and group
// order id, one line each.
std::string GroupText(const ReportedGroup& group);
// The lines of a notice (UTF-8): its title in brackets, then its text.
std::string NoticeText(const WatchNotice& notice);
std::string ItemText(const RobotItem& item);
// The items of one message, blocks separated by an empty line (UTF-8).
std::string MessageText(const std::vector<RobotItem>& items);
std::string MessageText(const std::vector<ReportedGroup>& groups);
// A one-line title for the channels that show one ("有3个开团订单", a notice's own title).
std::string MessageTitle(const std::vector<RobotItem>& items);
// The date and time of a report as written everywhere ("2026-12-08 23:05:01", local time).
std::string ReportTimeText(std::chrono::system_clock::time_point time);
// Plain text as Markdown that shows it as it is: every punctuation mark escaped, every line kept.
std::string PlainAsMarkdown(std::string_view utf8);

std::size_t MessageByteBudget(RobotKind kind);
int RobotMessagesPerMinute(RobotKind kind);
// The items cut into messages that each fit the kind's budget, in order; the first keeps firstReserve bytes
// free for a note that goes before it.
std::vector<std::vector<RobotItem>> SplitIntoMessages(RobotKind kind, std::vector<RobotItem> items,
                                                      std::size_t firstReserve = 0);
std::vector<std::vector<ReportedGroup>> SplitIntoMessages(RobotKind kind, std::vector<ReportedGroup> groups);

// The request that posts these items; now gives the timestamp of a signature. A note (UTF-8, one line) goes
// first in the text.
RobotRequest BuildMessageRequest(RobotKind kind, std::string_view address, std::string_view secret,
                                 const std::vector<RobotItem>& items,
                                 std::chrono::system_clock::time_point now, std::string_view note = {});
RobotRequest BuildRobotRequest(RobotKind kind, std::string_view address, std::string_view secret,
                               const std::vector<ReportedGroup>& groups,
                               std::chrono::system_clock::time_point now, std::string_view note = {});
// The same for a text of our own (the settings dialog's test message).
RobotRequest BuildTextRequest(RobotKind kind, std::string_view address, std::string_view secret,
                              const std::string& utf8Text, std::chrono::system_clock::time_point now);

RobotAnswer ReadRobotAnswer(RobotKind kind, const PlainReply& reply);

}  // namespace tandrel
