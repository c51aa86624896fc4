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

// An answer bigger than this is no robot's status reply; it is not parsed.
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;

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

// Cuts a UTF-8 text to at most max characters.
std::string CutCharacters(std::string text, std::size_t max) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (++count > max) {
            text.resize(i);
            break;
        }
    }
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

std::string OneLine(std::string_view utf8) {
    return RemoveControls(utf8, TextBytes::Utf8, LineBreaks::ToSpace);
}

std::string WithQuery(std::string_view address, const std::string& query) {
    std::string url(address);
    url += url.find('?') == std::string::npos ? '?' : '&';
    return url + query;
}

std::int64_t EpochMs(std::chrono::system_clock::time_point now) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
}

// A code member as robots write it: a number, or (some gateways) the same number in quotes.
std::optional<long long> CodeOf(const Json& json, const char* name) {
    if (!json.is_object()) return std::nullopt;
    const auto it = json.find(name);
    if (it == json.end()) return std::nullopt;
    if (it->is_number_integer()) return it->get<long long>();
    if (it->is_string()) {
        const std::string& text = it->get_ref<const std::string&>();
        if (text.empty() || text.size() > 18) return std::nullopt;
        std::size_t i = text[0] == '-' ? 1 : 0;
        if (i == text.size()) return std::nullopt;
        for (std::size_t j = i; j < text.size(); ++j)
            if (!std::isdigit(static_cast<unsigned char>(text[j]))) return std::nullopt;
        return std::stoll(text);
    }
    return std::nullopt;
}

Json ParseAnswer(std::string_view body) {
    if (body.size() > kMaxAnswerBytes) return Json();
    return Json::parse(body.begin(), body.end(), nullptr, false);
}

std::string Shown(std::string_view body) {
    return OneLine(CutUtf8(std::string(body), 300));
}

// The outcome of an answer that carries a code: ok when it is the success code; a refusal names the code's
// meaning when it is known; no code at all is an answer that is no robot's.
void ReadCode(std::optional<long long> code, long long success, std::string_view body, RobotAnswer& answer,
              std::string_view meaning = {}) {
    const std::string shown = Shown(body);
    if (!code) {
        answer.summary = "机器人应答无法识别" + (shown.empty() ? std::string() : "（" + shown + "）");
        return;
    }
    answer.ok = *code == success;
    if (!answer.ok)
        answer.summary = "机器人拒绝" + (meaning.empty() ? std::string() : "：" + std::string(meaning)) +
                         (shown.empty() ? std::string() : "（" + shown + "）");
}

// --- Building, one function per shape ---

void BuildWeComText(const RobotDraft& d, RobotRequest& r) {
    r.body = Dump(Json{{"msgtype", "text"}, {"text", {{"content", d.text}}}});
}

void BuildDingTalk(const RobotDraft& d, RobotRequest& r) {
    BuildWeComText(d, r);
    if (!d.secret.empty())
        r.url = WithQuery(d.url, "timestamp=" + std::to_string(d.epochMs) +
                                     "&sign=" + UrlEncode(DingTalkSign(d.secret, d.epochMs)));
}

void BuildFeishu(const RobotDraft& d, RobotRequest& r) {
    Json body;
    if (!d.secret.empty()) {
        const std::int64_t seconds = d.epochMs / 1000;
        body["timestamp"] = std::to_string(seconds);
        body["sign"] = FeishuSign(d.secret, seconds);
    }
    body["msg_type"] = "text";
    body["content"] = {{"text", d.text}};
    r.body = Dump(body);
}

void BuildWebhook(const RobotDraft& d, RobotRequest& r) {
    r.body = "{\"text\":" + Dump(Json(d.text)) + "," +
             (d.details.empty() ? std::string("\"groups\":[]") : d.details) + "}";
}

void BuildPushPlus(const RobotDraft& d, RobotRequest& r) {
    // Plain text: the "txt" template shows it as it is, where the default one would read it as HTML.
    r.body = Dump(Json{{"token", std::string(d.secret)},
                       {"title", CutCharacters(d.title, 100)},
                       {"content", d.text},
                       {"template", "txt"}});
}

void BuildServerChan(const RobotDraft& d, RobotRequest& r) {
    // The service shows desp as Markdown: escaped, so a name cannot become a link or a heading there.
    r.contentType = "application/x-www-form-urlencoded";
    r.body = "title=" + UrlEncode(CutCharacters(d.title, 32)) +
             "&desp=" + UrlEncode(CutUtf8(PlainAsMarkdown(d.text), 32000));
}

// --- Reading ---

void ReadWeCom(std::string_view body, RobotAnswer& a) {
    const std::optional<long long> code = CodeOf(ParseAnswer(body), "errcode");
    ReadCode(code, 0, body, a);
    a.rateLimited = code == 45009;
}

void ReadDingTalk(std::string_view body, RobotAnswer& a) {
    const std::optional<long long> code = CodeOf(ParseAnswer(body), "errcode");
    ReadCode(code, 0, body, a);
    a.rateLimited = code == 130101;
}

void ReadFeishu(std::string_view body, RobotAnswer& a) {
    const Json json = ParseAnswer(body);
    // Older robots answer with StatusCode, newer ones with code.
    std::optional<long long> code = CodeOf(json, "code");
    if (!code) code = CodeOf(json, "StatusCode");
    ReadCode(code, 0, body, a);
    a.rateLimited = code == 9499 || code == 11232;
}

void ReadAny2xx(std::string_view, RobotAnswer& a) {
    a.ok = true;
}

void ReadPushPlus(std::string_view body, RobotAnswer& a) {
    const std::optional<long long> code = CodeOf(ParseAnswer(body), "code");
    // The service's own list of codes. 900 is its block of an account that sent too much: it is waited out
    // with growing waits, as a refusal, since trying again every minute keeps the block on.
    std::string_view meaning;
    switch (code.value_or(200)) {
        case 302:
            meaning = "未登录";
            break;
        case 401:
            meaning = "令牌（token）无效或未授权";
            break;
        case 403:
            meaning = "请求IP未授权";
            break;
        case 500:
            meaning = "服务端异常，请稍后再试";
            break;
        case 600:
            meaning = "数据异常";
            break;
        case 888:
            meaning = "积分不足";
            break;
        case 900:
            meaning = "账号使用受限（发送过于频繁或超出每日额度）";
            break;
        case 999:
            meaning = "服务端验证错误";
            break;
        default:
            break;
    }
    ReadCode(code, 200, body, a, meaning);
}

void ReadServerChan(std::string_view body, RobotAnswer& a) {
    ReadCode(CodeOf(ParseAnswer(body), "code"), 0, body, a);
}

std::string PushPlusAddress(std::string_view) {
    return "https://www.pushplus.plus/send";
}

std::string ServerChanAddress(std::string_view key) {
    // A SendKey is letters and digits; anything else would change the address it is put into.
    if (key.empty() || !std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isalnum(c); }))
        return {};
    const std::string k(key);
    if (k.rfind("sctp", 0) == 0) {
        std::size_t end = 4;
        while (end < k.size() && std::isdigit(static_cast<unsigned char>(k[end])))
            ++end;
        if (end > 4 && end < k.size() && k[end] == 't')
            return "https://" + k.substr(4, end - 4) + ".push.ft07.com/send/" + k + ".send";
    }
    return "https://sctapi.ftqq.com/" + k + ".send";
}

// The figures: WeCom's text message takes 2,048 bytes and each robot 20 messages a minute; DingTalk's
// custom robot 20 a minute; Feishu's request 20 KB and 100 a minute. ServerChan's desp takes 32 KB and its
// title 32 characters; the budget leaves room for the Markdown escapes. Neither personal channel documents
// a rate per minute beyond its daily allowance (a few messages a day for ServerChan's free plan, a few
// hundred for PushPlus), so they get a conservative 5 a minute: the batching then spends few of them.
// PushPlus documents no size for a txt message; 8,000 bytes is a conservative guess.
constexpr RobotKindInfo kKinds[] = {
    {RobotKind::None, "", "不使用", RobotKey::Unused, "", "", nullptr, 0, 0, nullptr, nullptr},
    {RobotKind::WeCom, "wecom", "企业微信群机器人 (wecom)", RobotKey::Unused, "不需要",
     "https://qyapi.weixin.qq.com/…（群机器人的 Webhook 地址）", nullptr, 2048, 20, BuildWeComText,
     ReadWeCom},
    {RobotKind::DingTalk, "dingtalk", "钉钉群机器人 (dingtalk)", RobotKey::Signing,
     "加签密钥，未开启加签时留空", "https://oapi.dingtalk.com/…（群机器人的 Webhook 地址）", nullptr, 18000,
     20, BuildDingTalk, ReadDingTalk},
    {RobotKind::Feishu, "feishu", "飞书群机器人 (feishu)", RobotKey::Signing, "签名校验密钥，未开启时留空",
     "https://open.feishu.cn/…（群机器人的 Webhook 地址）", nullptr, 18000, 100, BuildFeishu, ReadFeishu},
    {RobotKind::Webhook, "webhook", "自定义 Webhook (webhook)", RobotKey::Unused, "不需要",
     "https://…（接收 JSON 的地址）", nullptr, 60000, 60, BuildWebhook, ReadAny2xx},
    {RobotKind::PushPlus, "pushplus", "PushPlus 推送加，发到个人微信 (pushplus)", RobotKey::Required,
     "token（必填）", "留空即 https://www.pushplus.plus/send", PushPlusAddress, 8000, 5, BuildPushPlus,
     ReadPushPlus},
    {RobotKind::ServerChan, "serverchan", "Server酱，发到个人微信 (serverchan)", RobotKey::Required,
     "SendKey（必填）", "留空即按 SendKey 的官方地址", ServerChanAddress, 12000, 5, BuildServerChan,
     ReadServerChan},
};

std::string TrimmedLower(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

RobotRequest BuildFromDraft(RobotKind kind, RobotDraft draft) {
    const RobotKindInfo& info = KindInfo(kind);
    RobotRequest request{draft.url, "application/json; charset=utf-8", {}};
    draft.text = CutUtf8(std::move(draft.text), info.byteBudget);
    if (info.build) info.build(draft, request);
    return request;
}

RobotDraft Draft(RobotKind kind, std::string_view address, std::string_view secret, std::string title,
                 std::string text, std::chrono::system_clock::time_point now) {
    RobotDraft d;
    d.url = RobotAddress(kind, address, secret);
    d.secret = secret;
    d.title = OneLine(title);
    d.text = std::move(text);
    d.epochMs = EpochMs(now);
    return d;
}

std::vector<RobotItem> AsItems(const std::vector<ReportedGroup>& groups) {
    return {groups.begin(), groups.end()};
}

}  // namespace

std::span<const RobotKindInfo> RobotKinds() {
    return kKinds;
}

const RobotKindInfo& KindInfo(RobotKind kind) {
    for (const RobotKindInfo& info : kKinds)
        if (info.kind == kind) return info;
    return kKinds[0];
}

std::string_view RobotKindName(RobotKind kind) {
    return KindInfo(kind).name;
}

std::optional<RobotKind> ParseRobotKind(std::string_view text) {
    const std::string lower = TrimmedLower(text);
    for (const RobotKindInfo& info : kKinds)
        if (lower == info.name) return info.kind;
    return std::nullopt;
}

std::string RobotKindNames() {
    std::string names;
    for (const RobotKindInfo& info : kKinds) {
        if (info.name.empty()) continue;
        if (!names.empty()) names += "、";
        names += info.name;
    }
    return names;
}

std::string RobotAddress(RobotKind kind, std::string_view address, std::string_view key) {
    const RobotKindInfo& info = KindInfo(kind);
    if (!address.empty() || !info.defaultAddress) return std::string(address);
    return info.defaultAddress(key);
}

std::string RobotSettingProblem(RobotKind kind, std::string_view address, std::string_view key) {
    const RobotKindInfo& info = KindInfo(kind);
    if (kind == RobotKind::None) return {};
    if (info.key == RobotKey::Required && key.empty())
        return "机器人密钥为空（" + std::string(info.name) + " 需要填写）";
    if (address.empty() && !info.defaultAddress) return "机器人地址为空";
    if (RobotAddress(kind, address, key).empty()) return "机器人密钥只能由字母和数字组成";
    return {};
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

std::string NoticeText(const WatchNotice& notice) {
    // A notice names stores and quotes the back end's reasons: as inert as a group's fields, and bounded.
    const std::string title = CutUtf8(DefuseMentions(OneLine(notice.title)), 200);
    std::string text = RemoveControls(notice.text, TextBytes::Utf8, LineBreaks::Keep);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    text = CutUtf8(DefuseMentions(text), 1500);
    return "【提醒】" + title + (text.empty() ? "" : "\n" + text);
}

std::string ItemText(const RobotItem& item) {
    if (const auto* group = std::get_if<ReportedGroup>(&item)) return GroupText(*group);
    return NoticeText(std::get<WatchNotice>(item));
}

std::string MessageText(const std::vector<RobotItem>& items) {
    std::string text;
    for (const RobotItem& item : items) {
        if (!text.empty()) text += "\n\n";
        text += ItemText(item);
    }
    return text;
}

std::string MessageText(const std::vector<ReportedGroup>& groups) {
    return MessageText(AsItems(groups));
}

std::string MessageTitle(const std::vector<RobotItem>& items) {
    std::size_t groups = 0;
    const WatchNotice* first = nullptr;
    for (const RobotItem& item : items) {
        if (std::holds_alternative<ReportedGroup>(item)) {
            ++groups;
        } else if (!first) {
            first = &std::get<WatchNotice>(item);
        }
    }
    const std::size_t notices = items.size() - groups;
    if (groups > 0)
        return "有" + std::to_string(groups) + "个开团订单" +
               (notices > 0 ? "，另有" + std::to_string(notices) + "条提醒" : "");
    if (!first) return "Tandrel";
    const std::string title = CutUtf8(OneLine(first->title), 200);
    return notices > 1 ? title + " 等" + std::to_string(notices) + "条提醒" : title;
}

std::string PlainAsMarkdown(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 4);
    for (const char c : utf8) {
        if (c == '\n') {
            out += "  \n";  // a hard line break: each line of the text stays a line
        } else if (std::ispunct(static_cast<unsigned char>(c))) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

std::size_t MessageByteBudget(RobotKind kind) {
    return KindInfo(kind).byteBudget;
}

int RobotMessagesPerMinute(RobotKind kind) {
    return KindInfo(kind).perMinute;
}

std::vector<std::vector<RobotItem>> SplitIntoMessages(RobotKind kind, std::vector<RobotItem> items,
                                                      std::size_t firstReserve) {
    std::vector<std::vector<RobotItem>> messages;
    const std::size_t budget = MessageByteBudget(kind);
    std::size_t used = 0;
    for (RobotItem& item : items) {
        const std::size_t size = ItemText(item).size() + 2;
        if (messages.empty() || used + size > budget) {
            used = messages.empty() ? firstReserve : 0;
            messages.emplace_back();
        }
        used += size;
        messages.back().push_back(std::move(item));
    }
    return messages;
}

std::vector<std::vector<ReportedGroup>> SplitIntoMessages(RobotKind kind, std::vector<ReportedGroup> groups) {
    std::vector<std::vector<ReportedGroup>> messages;
    for (auto& message : SplitIntoMessages(kind, AsItems(groups))) {
        auto& out = messages.emplace_back();
        for (RobotItem& item : message)
            out.push_back(std::move(std::get<ReportedGroup>(item)));
    }
    return messages;
}

RobotRequest BuildMessageRequest(RobotKind kind, std::string_view address, std::string_view secret,
                                 const std::vector<RobotItem>& items,
                                 std::chrono::system_clock::time_point now, std::string_view note) {
    const std::string text =
        note.empty() ? MessageText(items) : std::string(note) + "\n\n" + MessageText(items);
    RobotDraft draft = Draft(kind, address, secret, MessageTitle(items), text, now);
    if (kind == RobotKind::Webhook) {
        Json groups = Json::array();
        Json notices = Json::array();
        for (const RobotItem& item : items) {
            if (const auto* g = std::get_if<ReportedGroup>(&item)) {
                groups.push_back(GroupJson(*g));
            } else {
                const auto& n = std::get<WatchNotice>(item);
                notices.push_back(
                    Json{{"title", OneLine(n.title)}, {"text", RemoveControls(n.text, TextBytes::Utf8)}});
            }
        }
        // A peer written for groups alone sees the same body as before when there is no notice.
        draft.details = "\"groups\":" + Dump(groups);
        if (!notices.empty()) draft.details += ",\"notices\":" + Dump(notices);
    }
    return BuildFromDraft(kind, std::move(draft));
}

RobotRequest BuildRobotRequest(RobotKind kind, std::string_view address, std::string_view secret,
                               const std::vector<ReportedGroup>& groups,
                               std::chrono::system_clock::time_point now, std::string_view note) {
    return BuildMessageRequest(kind, address, secret, AsItems(groups), now, note);
}

RobotRequest BuildTextRequest(RobotKind kind, std::string_view address, std::string_view secret,
                              const std::string& utf8Text, std::chrono::system_clock::time_point now) {
    return BuildFromDraft(kind, Draft(kind, address, secret, "Tandrel 测试消息", utf8Text, now));
}

RobotAnswer ReadRobotAnswer(RobotKind kind, const PlainReply& reply) {
    RobotAnswer answer;
    if (reply.status == 0) {
        answer.summary = reply.error.empty() ? "无应答" : OneLine(reply.error);
        return answer;
    }
    // The answer is shown in the log, on stderr and in the dialog: one line, nothing a terminal would act on.
    const std::string body = Shown(reply.body);
    answer.summary =
        "服务器答复 HTTP " + std::to_string(reply.status) + (body.empty() ? "" : "（" + body + "）");
    answer.rateLimited = reply.status == 429;
    if (reply.status < 200 || reply.status > 299) return answer;
    const RobotKindInfo& info = KindInfo(kind);
    if (!info.read) {
        answer.summary = "未设置机器人";
        return answer;
    }
    const std::string summary = answer.summary;
    info.read(reply.body, answer);
    if (answer.ok) answer.summary = summary;
    return answer;
}

}  // namespace tandrel
