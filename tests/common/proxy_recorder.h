#pragma once
// Routes the requests of this process through a proxy on 127.0.0.1 that records each request line and
// refuses it, so a test can see which scheme and host a request to a built-in address would use without
// leaving the machine: an https request arrives as "CONNECT host:443", a plain one as "GET http://host/...".
// The proxy variables are set for the object's life and restored afterwards.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tandrel::testing {

class ProxyRecorder {
  public:
    ProxyRecorder() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(fd_, 16);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
            Set(name, url.c_str());
        for (const char* name : {"no_proxy", "NO_PROXY"})
            Set(name, nullptr);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ProxyRecorder() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
        for (auto& [name, value] : saved_) {
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
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) return;
            std::string head;
            char buffer[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                lines_.push_back(head.substr(0, head.find("\r\n")));
            }
            static constexpr char kRefusal[] =
                "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(client, kRefusal, sizeof kRefusal - 1, MSG_NOSIGNAL);
            ::close(client);
        }
    }

    int fd_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tandrel::testing
