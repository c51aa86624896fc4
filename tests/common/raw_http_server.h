#pragma once
// A one-route HTTP server on 127.0.0.1 that answers with exactly the bytes a test chooses, at the pace it
// chooses: a lying Content-Length, a body trickled byte by byte, a host the vendor never named. It records
// the request targets it was asked for.

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_socket.h"

namespace tandrel::testing {

class RawHttpServer {
  public:
    // Writes the reply on the connection; returns when done (the connection is closed then). Send returns
    // false once the client has gone or the server is stopping.
    using Send = std::function<bool(const std::string& bytes)>;
    using Handler = std::function<void(const std::string& target, const Send& send)>;

    explicit RawHttpServer(Handler handler) : handler_(std::move(handler)) {
        listener_ = sim::ListenOnLoopback(8, port_);
        if (listener_ == sim::kNoSocket) throw std::runtime_error("RawHttpServer: no port");
        thread_ = std::thread([this] { Accept(); });
    }
    ~RawHttpServer() {
        stopping_ = true;
        thread_.join();
        sim::CloseSocket(listener_);
    }
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> targets() const {
        std::lock_guard lock(mutex_);
        return targets_;
    }
    bool stopping() const { return stopping_; }

  private:
    void Accept() {
        while (!stopping_) {
            if (sim::PollSocket(listener_, POLLIN, 20) <= 0) continue;
            const sim::Socket connection = ::accept(listener_, nullptr, nullptr);
            if (connection == sim::kNoSocket) continue;
            Serve(connection);
            sim::CloseSocket(connection);
        }
    }
    void Serve(sim::Socket connection) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && !stopping_) {
            if (sim::PollSocket(connection, POLLIN, 20) <= 0) continue;
            const ssize_t n = sim::RecvSome(connection, buffer, sizeof buffer);
            if (n <= 0) return;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        const auto first = head.find(' ');
        const auto second = head.find(' ', first + 1);
        const std::string target = head.substr(first + 1, second - first - 1);
        {
            std::lock_guard lock(mutex_);
            targets_.push_back(target);
        }
        handler_(target, [this, connection](const std::string& bytes) {
            return !stopping_ && sim::SendSome(connection, bytes.data(), bytes.size()) ==
                                     static_cast<ssize_t>(bytes.size());
        });
    }

    Handler handler_;
    sim::Socket listener_ = sim::kNoSocket;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
    std::thread thread_;
};

}  // namespace tandrel::testing
