#pragma once
// A one-route HTTP server on 127.0.0.1 that answers with exactly the bytes a test chooses, at the pace it
// chooses: a lying Content-Length, a body trickled byte by byte, a host the vendor never named. It records
// the request targets it was asked for. POSIX only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tandrel::testing {

class RawHttpServer {
  public:
    // Writes the reply on the connection; returns when done (the connection is closed then). Send returns
    // false once the client has gone or the server is stopping.
    using Send = std::function<bool(const std::string& bytes)>;
    using Handler = std::function<void(const std::string& target, const Send& send)>;

    explicit RawHttpServer(Handler handler) : handler_(std::move(handler)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("RawHttpServer: no port");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Accept(); });
    }
    ~RawHttpServer() {
        stopping_ = true;
        thread_.join();
        ::close(listener_);
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
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) continue;
            Serve(connection);
            ::close(connection);
        }
    }
    void Serve(int connection) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && !stopping_) {
            pollfd p{connection, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
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
            return !stopping_ && ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                     static_cast<ssize_t>(bytes.size());
        });
    }

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
    std::thread thread_;
};

}  // namespace tandrel::testing
