#pragma once
// Routes the requests of this process through a proxy on 127.0.0.1 that records each request line and
// refuses it, so a test can see which scheme and host a request to a built-in address would use without
// leaving the machine: an https request arrives as "CONNECT host:443", a plain one as "GET http://host/...".
// The proxy variables are set for the object's life and restored afterwards.

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/sim_socket.h"
#include "windows_compat.h"

namespace tandrel::testing {

class ProxyRecorder {
  public:
    ProxyRecorder() {
        int port = 0;
        fd_ = sim::ListenOnLoopback(16, port);
        const std::string url = "http://127.0.0.1:" + std::to_string(port);
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
            Set(name, url.c_str());
        for (const char* name : {"no_proxy", "NO_PROXY"})
            Set(name, nullptr);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ProxyRecorder() {
        sim::CloseSocket(fd_);
        thread_.join();
        // Newest first: on Windows names differing in case are one variable, saved twice.
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            const auto& [name, value] = *it;
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    ProxyRecorder(const ProxyRecorder&) = delete;
    ProxyRecorder& operator=(const ProxyRecorder&) = delete;

    std::vector<std::string> RequestLines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    void Serve() {
        for (;;) {
            const sim::Socket client = ::accept(fd_, nullptr, nullptr);
            if (client == sim::kNoSocket) return;
            std::string head;
            char buffer[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = sim::RecvSome(client, buffer, sizeof buffer);
                if (n <= 0) break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                lines_.push_back(head.substr(0, head.find("\r\n")));
            }
            static constexpr char kRefusal[] =
                "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            sim::SendSome(client, kRefusal, sizeof kRefusal - 1);
            sim::CloseSocket(client);
        }
    }

    sim::Socket fd_ = sim::kNoSocket;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tandrel::testing
