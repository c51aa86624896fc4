#include "sim/robot_sim.h"

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "sim/capturing_server.h"
#include "sim/reply_variation.h"

namespace tandrel::sim {

namespace {

// The value of a header line as sent (name matched without case).
std::string HeaderOf(const std::string& head, const std::string& lowerName) {
    std::size_t start = 0;
    while (start < head.size()) {
        std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos) end = head.size();
        const std::string line = head.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && colon == lowerName.size()) {
            std::string name = line.substr(0, colon);
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (name == lowerName) {
                const std::size_t value = line.find_first_not_of(' ', colon + 1);
                return value == std::string::npos ? std::string() : line.substr(value);
            }
        }
        start = end + 2;
    }
    return {};
}

}  // namespace

struct RobotSim::Impl {
    explicit Impl(RobotStyle s) : style(s) {}

    void Serve(const httplib::Request& req, httplib::Response& res);
    nlohmann::ordered_json Answer(bool ok, bool rateLimited) const;
    void Reply(httplib::Response& res, int status, const std::string& text, const std::string& type);

    CapturingServer server;
    std::thread thread;
    std::atomic<bool> listenReturned{false};
    int port = 0;
    const RobotStyle style;

    mutable std::mutex mutex;
    mutable std::condition_variable arrived;
    std::vector<RobotRequestSeen> requests;
    std::deque<std::chrono::steady_clock::time_point> accepted;
    RobotFault fault = RobotFault::None;
    int stallSeconds = 30;
    int limit = 0;
    std::chrono::milliseconds window{60000};
    std::unique_ptr<ReplyVariation> variation;
    std::atomic<int> answered{0};
};

nlohmann::ordered_json RobotSim::Impl::Answer(bool ok, bool rateLimited) const {
    using Json = nlohmann::ordered_json;
    switch (style) {
        case RobotStyle::ErrCode:
            if (ok) return Json{{"errcode", 0}, {"errmsg", "ok"}};
            return rateLimited ? Json{{"errcode", 45009}, {"errmsg", "api freq out of limit"}}
                               : Json{{"errcode", 93000}, {"errmsg", "invalid webhook url"}};
        case RobotStyle::FeishuCode:
            if (ok) return Json{{"code", 0}, {"data", Json::object()}, {"msg", "success"}};
            return rateLimited
                       ? Json{{"code", 11232}, {"data", Json::object()}, {"msg", "frequency limited"}}
                       : Json{{"code", 19021},
                              {"data", Json::object()},
                              {"msg",
                               "sign match fail or timestamp is not within one hour from current time"}};
        case RobotStyle::FeishuStatusCode:
            if (ok) return Json{{"Extra", nullptr}, {"StatusCode", 0}, {"StatusMessage", "success"}};
            return rateLimited ? Json{{"code", 9499}, {"msg", "too many request"}}
                               : Json{{"code", 19001},
                                      {"msg", "param invalid: incoming webhook access token invalid"}};
        case RobotStyle::PushPlus:
            if (ok)
                return Json{
                    {"code", 200}, {"msg", "请求成功"}, {"data", "f3c1e0a9b2d84e1f"}, {"count", nullptr}};
            return rateLimited ? Json{{"code", 900}, {"msg", "用户账号使用受限"}, {"data", nullptr}}
                               : Json{{"code", 401}, {"msg", "用户token不存在"}, {"data", nullptr}};
        case RobotStyle::ServerChan:
            if (ok)
                return Json{{"code", 0},
                            {"message", ""},
                            {"data",
                             {{"pushid", "191226387"},
                              {"readkey", "SCTUReMFXaCBsZi"},
                              {"error", "SUCCESS"},
                              {"errno", 0}}}};
            return rateLimited ? Json{{"code", 40001}, {"message", "超过当天的发送次数限制[5]，请明天再试"}}
                               : Json{{"code", 40001}, {"message", "bad pushtoken"}};
        case RobotStyle::PlainOk:
            return ok ? "ok" : "no";
    }
    return {};
}

void RobotSim::Impl::Reply(httplib::Response& res, int status, const std::string& text,
                           const std::string& type) {
    if (!variation) {
        res.status = status;
        res.set_content(text, type);
        return;
    }
    variation->Write(status, type, text, {}, res);
}

void RobotSim::Impl::Serve(const httplib::Request& req, httplib::Response& res) {
    RobotFault now;
    int stall;
    bool overLimit = false;
    {
        std::lock_guard lock(mutex);
        RobotRequestSeen seen{req.method, req.target, {}, req.body, {}, std::chrono::steady_clock::now()};
        const std::string raw = CapturingServer::CurrentRawRequest();
        seen.rawHead = raw.substr(0, raw.find("\r\n\r\n"));
        seen.contentType = HeaderOf(seen.rawHead, "content-type");
        requests.push_back(std::move(seen));
        now = fault;
        stall = stallSeconds;
        if (limit > 0) {
            const auto t = std::chrono::steady_clock::now();
            while (!accepted.empty() && accepted.front() + window <= t)
                accepted.pop_front();
            overLimit = static_cast<int>(accepted.size()) >= limit;
            if (!overLimit) accepted.push_back(t);
        }
    }
    arrived.notify_all();
    const bool plain = style == RobotStyle::PlainOk;
    const auto json = [this](const nlohmann::ordered_json& value) {
        if (!variation || value.is_string())
            return value.is_string() ? value.get<std::string>() : value.dump();
        // Real services add members over the years; a reader must look for its own.
        nlohmann::ordered_json varied = value;
        if (varied.is_object()) varied["traceId"] = "t-" + std::to_string(++answered) + "/x";
        return variation->Json(varied);
    };
    switch (now) {
        case RobotFault::Status500:
            Reply(res, 500, "<html><body>Internal Server Error</body></html>", "text/html");
            return;
        case RobotFault::HtmlOk:
            Reply(res, 200,
                  "<!DOCTYPE html><html><head><title>登录</title></head><body>{\"code\":0}</body></html>",
                  "text/html; charset=utf-8");
            return;
        case RobotFault::Garbage:
            Reply(res, 200, std::string("\x1f\x8b\x08\0{\"code\":", 9) + "\xff\xfe", "application/json");
            return;
        case RobotFault::CloseWithoutReply:
            CapturingServer::DropCurrentConnection();
            return;
        case RobotFault::Stall:
            for (int i = 0; i < stall * 50 && !server.ShuttingDown(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        case RobotFault::RefuseInBody:
            if (plain) {
                Reply(res, 403, "forbidden", "text/plain");
            } else {
                Reply(res, 200, json(Answer(false, false)), "application/json");
            }
            return;
        case RobotFault::None:
            break;
    }
    if (overLimit) {
        Reply(res, plain ? 429 : 200, json(Answer(false, true)), plain ? "text/plain" : "application/json");
        return;
    }
    Reply(res, 200, json(Answer(true, false)), plain ? "text/plain" : "application/json");
}

RobotSim::RobotSim(RobotStyle style) : impl_(std::make_unique<Impl>(style)) {
    Impl& impl = *impl_;
    impl.server.new_task_queue = [] { return new httplib::ThreadPool(4); };
    auto handler = [&impl](const httplib::Request& req, httplib::Response& res) { impl.Serve(req, res); };
    impl.server.Post(".*", handler);
    impl.server.Get(".*", handler);
    impl.port = impl.server.bind_to_any_port("127.0.0.1");
    if (impl.port <= 0) throw std::runtime_error("robot simulator: cannot bind a port on 127.0.0.1");
    impl.thread = std::thread([&impl] {
        impl.server.listen_after_bind();
        impl.listenReturned = true;
    });
    while (!impl.server.is_running() && !impl.listenReturned)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

RobotSim::~RobotSim() {
    impl_->server.BeginShutdown();
    impl_->server.stop();
    impl_->thread.join();
}

std::string RobotSim::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

void RobotSim::SetFault(RobotFault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->fault = fault;
}

void RobotSim::SetStallSeconds(int seconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->stallSeconds = seconds;
}

void RobotSim::SetRateLimit(int limit, std::chrono::milliseconds window) {
    std::lock_guard lock(impl_->mutex);
    impl_->limit = limit;
    impl_->window = window;
    impl_->accepted.clear();
}

void RobotSim::SetVariation(std::uint64_t seed) {
    std::lock_guard lock(impl_->mutex);
    impl_->variation = std::make_unique<ReplyVariation>(seed);
}

std::vector<RobotRequestSeen> RobotSim::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

bool RobotSim::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->arrived.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

}  // namespace tandrel::sim
