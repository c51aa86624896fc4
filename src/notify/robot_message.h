#pragma once
// The messages posted to work-chat group robots and to people's own web hooks: the request of each kind, the
// signatures of the kinds that sign, and the reading of the robot's answer. Everything here is pure: the
// poster sends what these functions build.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/reported_group.h"

namespace tandrel {

struct PlainReply;

enum class RobotKind { None, WeCom, DingTalk, Feishu, Webhook };

// "wecom", "dingtalk", "feishu", "webhook"; "" for None.
std::string_view RobotKindName(RobotKind kind);
// Blanks around it and letter case are ignored; "" is None; anything else unknown is nullopt.
std::optional<RobotKind> ParseRobotKind(std::string_view text);

// Base64 of HMAC-SHA256 keyed with the secret over timestamp + "\n" + secret (milliseconds); not URL-encoded.
std::string DingTalkSign(std::string_view secret, std::int64_t timestampMs);
// Base64 of HMAC-SHA256 keyed with timestamp + "\n" + secret over nothing (seconds).
std::string FeishuSign(std::string_view secret, std::int64_t timestampSeconds);
// Percent-encoding of everything but unreserved characters (for query values).
std::string UrlEncode(std::string_view text);

// The lines about one group (UTF-8): a title line, then store, goods id, opener, remaining hours and group
// order id, one line each.
std::string GroupText(const ReportedGroup& group);
// The groups of one message, blocks separated by an empty line (UTF-8).
std::string MessageText(const std::vector<ReportedGroup>& groups);
// The date and time of a report as written everywhere ("2026-12-08 23:05:01", local time).
std::string ReportTimeText(std::chrono::system_clock::time_point time);

// The most text bytes a kind takes in one message; bigger batches go out as several messages.
std::size_t MessageByteBudget(RobotKind kind);
// Messages a kind accepts per minute from one robot.
int RobotMessagesPerMinute(RobotKind kind);
// The groups of a batch cut into messages that each fit the kind's budget, in order.
std::vector<std::vector<ReportedGroup>> SplitIntoMessages(RobotKind kind, std::vector<ReportedGroup> groups);

struct RobotRequest {
    std::string url;
    std::string contentType;
    std::string body;  // UTF-8 JSON
};

// The request that posts these groups; now gives the timestamp of a signature. A note (UTF-8, one line)
// goes first in the text.
RobotRequest BuildRobotRequest(RobotKind kind, std::string_view address, std::string_view secret,
                               const std::vector<ReportedGroup>& groups,
                               std::chrono::system_clock::time_point now, std::string_view note = {});
// The same for a text of our own (the settings dialog's test message).
RobotRequest BuildTextRequest(RobotKind kind, std::string_view address, std::string_view secret,
                              const std::string& utf8Text, std::chrono::system_clock::time_point now);

struct RobotAnswer {
    bool ok = false;
    bool rateLimited = false;  // the robot refused because too many messages came in
    std::string summary;       // UTF-8, one line: why it failed, or what it answered
};

RobotAnswer ReadRobotAnswer(RobotKind kind, const PlainReply& reply);

}  // namespace tandrel
