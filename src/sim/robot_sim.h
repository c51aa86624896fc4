#pragma once
// A stand-in for a work-chat group robot (or a person's web hook) on 127.0.0.1: it records every request and
// answers the way the chosen service answers, including its refusals. Real robots differ in how they say
// "ok", in how they refuse, and in how many messages a minute they take; the scenario picks each.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tandrel::sim {

enum class RobotStyle {
    ErrCode,           // {"errcode":0,"errmsg":"ok"}
    FeishuCode,        // {"code":0,"msg":"success","data":{}}
    FeishuStatusCode,  // {"StatusCode":0,"StatusMessage":"success",...} (older robots)
    PlainOk,           // 200 with "ok" (a person's own script)
    PushPlus,          // {"code":200,"msg":"请求成功","data":"<message id>"}
    ServerChan,  // {"code":0,"message":"","data":{"pushid":...,"readkey":...,"error":"SUCCESS","errno":0}}
};

enum class RobotFault {
    None,
    RefuseInBody,  // 200 with a non-zero code (a wrong key, say)
    Status500,     // an HTML error page
    Stall,         // answers only after SetStallSeconds
    CloseWithoutReply,
    HtmlOk,   // 200 with an HTML page, as a captive portal or a proxy's error page answers
    Garbage,  // 200 with bytes that are no JSON
};

struct RobotRequestSeen {
    std::string method, target, contentType, body;
    std::string rawHead;  // request line and headers as received
    std::chrono::steady_clock::time_point at;
};

class RobotSim {
  public:
    explicit RobotSim(RobotStyle style);  // throws std::runtime_error when no port can be bound
    ~RobotSim();
    RobotSim(const RobotSim&) = delete;
    RobotSim& operator=(const RobotSim&) = delete;

    std::string baseUrl() const;  // "http://127.0.0.1:<port>"

    void SetFault(RobotFault fault);
    void SetStallSeconds(int seconds);
    // More than limit messages within window are refused with the service's "too many" answer (0: no limit).
    void SetRateLimit(int limit, std::chrono::milliseconds window);
    // Answers varied from this seed as real services vary them: member order, "\uXXXX" and "\/" escapes,
    // extra members, whole, chunked or trickling bodies.
    void SetVariation(std::uint64_t seed);

    std::vector<RobotRequestSeen> Requests() const;
    // Waits until count requests have arrived or timeout passed; true when they have.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tandrel::sim
