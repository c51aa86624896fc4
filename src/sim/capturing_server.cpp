#include "sim/capturing_server.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "sim/sim_socket.h"
#include "support/pooled_thread.h"

namespace tandrel::sim {
namespace {

// Waits are cut into slices this long so that a shutdown is noticed, even by a connection that sits idle in
// keep-alive or by a reply that the client does not read. Where ending the socket wakes the wait, the slice
// is only a safety net: an idle connection polled every 20 ms was a sixth of the demo's processor time.
constexpr int kSliceMs = kShutDownWakesPoll ? 500 : 20;

int ToMillis(time_t sec, time_t usec) {
    return static_cast<int>(sec * 1000 + usec / 1000);
}

void PeerAddress(socket_t sock, bool remote, std::string& ip, int& port) {
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    int rc = remote ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &len)
                    : ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
    if (rc != 0) return;
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (addr.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
        ::inet_ntop(AF_INET, &in->sin_addr, text.data(), static_cast<socklen_t>(text.size()));
        port = ntohs(in->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text.data(), static_cast<socklen_t>(text.size()));
        port = ntohs(in6->sin6_port);
    }
    ip = text.data();
}

// One connection's socket. It buffers reads (httplib reads the request line byte by byte) and copies every
// byte it hands to httplib into the capture of the current request. The buffer lives as long as the
// connection, so a pipelined request that arrives with the previous one is not lost.
class ConnectionStream final : public httplib::Stream {
  public:
    ConnectionStream(socket_t sock, const CapturingServer& server, int readTimeoutMs, int writeTimeoutMs)
        : sock_(sock), server_(server), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

    bool is_readable() const override { return begin_ < end_ || Wait(POLLIN, readTimeoutMs_); }
    bool is_writable() const override { return !dropped_ && Wait(POLLOUT, writeTimeoutMs_); }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            if (!Wait(POLLIN, readTimeoutMs_)) return -1;
            ssize_t n;
            do {
                n = RecvSome(sock_, buffer_.data(), buffer_.size());
            } while (n < 0 && SocketCallInterrupted());
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_.data() + begin_, n);
        capture_.append(ptr, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (dropped_ || !Wait(POLLOUT, writeTimeoutMs_)) return -1;
        ssize_t n;
        do {
            n = SendSome(sock_, ptr, size);
        } while (n < 0 && SocketCallInterrupted());
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        PeerAddress(sock_, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        PeerAddress(sock_, false, ip, port);
    }
    socket_t socket() const override { return sock_; }

    bool WaitForRequest(int timeoutMs) const { return begin_ < end_ || Wait(POLLIN, timeoutMs); }
    void BeginRequest() { capture_.clear(); }
    const std::string& capture() const { return capture_; }
    void Drop() { dropped_ = true; }
    bool dropped() const { return dropped_; }
    void CloseAfterReply() { closeAfterReply_ = true; }
    bool closeAfterReply() const { return closeAfterReply_; }

  private:
    // True when the socket is ready (a hang-up counts, so that the following recv or send reports it).
    bool Wait(short events, int timeoutMs) const {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!server_.ShuttingDown()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return false;
            int rc = PollSocket(sock_, events, static_cast<int>(std::min<long long>(left.count(), kSliceMs)));
            if (rc > 0) return true;
            if (rc < 0 && !SocketCallInterrupted()) return false;
        }
        return false;
    }

    socket_t sock_;
    const CapturingServer& server_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    std::array<char, 4096> buffer_{};
    std::size_t begin_ = 0, end_ = 0;
    std::string capture_;
    bool dropped_ = false;
    bool closeAfterReply_ = false;
};

// Handlers run on the thread that serves their connection, so the connection is found through this.
thread_local ConnectionStream* tConnection = nullptr;

// httplib parses form and multipart bodies by itself, and answers 413 to a form body over 8 KiB before any
// handler runs. The simulator wants every body as raw bytes and every request recorded, so httplib must not
// see the content type; the recorded request still has it, being read from the raw bytes.
void HideContentType(httplib::Request& req) {
    req.headers.erase("Content-Type");
}

}  // namespace

CapturingServer::CapturingServer() {
    // Clients of the program keep connections open between requests; do not make them reconnect every fifth.
    set_keep_alive_max_count(1000);
}

void CapturingServer::BeginShutdown() {
    shuttingDown_ = true;
    std::lock_guard lock(openMutex_);
    for (const socket_t sock : open_)
        ShutDownSocket(sock);
}

std::string CapturingServer::CurrentRawRequest() {
    return tConnection ? tConnection->capture() : std::string();
}

void CapturingServer::CloseCurrentConnectionAfterReply() {
    if (tConnection) tConnection->CloseAfterReply();
}

void CapturingServer::DropCurrentConnection() {
    if (tConnection) tConnection->Drop();
}

// Does what httplib's own version does (serve requests while the connection is kept alive, then close it),
// but through ConnectionStream.
bool CapturingServer::process_and_close_socket(socket_t sock) {
    thread_local const bool named = (NameThisThread("sim-server"), true);
    (void)named;
    // Replies go out in several writes (head, body); without this each exchange waits for a delayed ACK.
    const int noDelay = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    {
        std::lock_guard lock(openMutex_);
        if (shuttingDown_) {
            CloseSocket(sock);
            return false;
        }
        open_.insert(sock);
    }
    bool ok = false;
    {
        ConnectionStream connection(sock, *this, ToMillis(read_timeout_sec_, read_timeout_usec_),
                                    ToMillis(write_timeout_sec_, write_timeout_usec_));
        tConnection = &connection;
        std::size_t left = keep_alive_max_count_;
        while (svr_sock_ != INVALID_SOCKET && left > 0 &&
               connection.WaitForRequest(ToMillis(keep_alive_timeout_sec_, 0))) {
            connection.BeginRequest();
            bool closed = false;
            ok = process_request(connection, left == 1, closed, HideContentType);
            if (!ok || closed || connection.dropped() || connection.closeAfterReply()) break;
            --left;
        }
        tConnection = nullptr;
    }
    {
        std::lock_guard lock(openMutex_);
        open_.erase(sock);
    }
    CloseSocket(sock);
    return ok;
}

}  // namespace tandrel::sim
