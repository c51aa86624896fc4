#pragma once
// The few socket calls the simulator and the tests' own servers make themselves (httplib makes the rest), on
// POSIX and on Windows.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstddef>

namespace tandrel::sim {

#ifdef _WIN32
using Socket = SOCKET;
inline const Socket kNoSocket = INVALID_SOCKET;
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
#endif

// Waits up to timeoutMs for events (POLLIN, POLLOUT) on sock: > 0 ready, 0 timed out, < 0 failed.
inline int PollSocket(Socket sock, short events, int timeoutMs) {
    pollfd pfd{sock, events, 0};
#ifdef _WIN32
    return ::WSAPoll(&pfd, 1, timeoutMs);
#else
    return ::poll(&pfd, 1, timeoutMs);
#endif
}

// True when the last failed call was only interrupted by a signal and should be made again.
inline bool SocketCallInterrupted() {
#ifdef _WIN32
    return ::WSAGetLastError() == WSAEINTR;
#else
    return errno == EINTR;
#endif
}

inline ssize_t RecvSome(Socket sock, char* data, std::size_t size) {
#ifdef _WIN32
    return ::recv(sock, data, static_cast<int>(size), 0);
#else
    return ::recv(sock, data, size, 0);
#endif
}

// A peer that has gone away must give an error here, never a SIGPIPE that ends the process.
inline ssize_t SendSome(Socket sock, const char* data, std::size_t size) {
#ifdef _WIN32
    return ::send(sock, data, static_cast<int>(size), 0);
#else
    return ::send(sock, data, size, MSG_NOSIGNAL);
#endif
}

// Ends both directions of a connection another thread may be polling: on POSIX its poll returns at once.
inline void ShutDownSocket(Socket sock) {
#ifdef _WIN32
    ::shutdown(sock, SD_BOTH);
#else
    ::shutdown(sock, SHUT_RDWR);
#endif
}

// Whether ShutDownSocket wakes a poll under way on this system; where it may not, waits poll in short slices.
#ifdef _WIN32
inline constexpr bool kShutDownWakesPoll = false;
#else
inline constexpr bool kShutDownWakesPoll = true;
#endif

inline void CloseSocket(Socket sock) {
#ifdef _WIN32
    ::shutdown(sock, SD_BOTH);
    ::closesocket(sock);
#else
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
#endif
}

// A TCP socket that child processes do not inherit.
inline Socket OpenTcpSocket() {
#ifdef _WIN32
    // Winsock counts its users; this process stays one for good.
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) return kNoSocket;
    return ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
#else
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

// A TCP socket listening on 127.0.0.1 at a port the system chooses; kNoSocket when none could be had.
inline Socket ListenOnLoopback(int backlog, int& port) {
    Socket sock = OpenTcpSocket();
    if (sock == kNoSocket) return sock;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (::bind(sock, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(sock, backlog) != 0 ||
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        CloseSocket(sock);
        return kNoSocket;
    }
    port = ntohs(addr.sin_port);
    return sock;
}

// A connection to 127.0.0.1:port whose reads give up after timeoutSeconds; kNoSocket when refused.
inline Socket ConnectToLoopback(int port, int timeoutSeconds) {
    Socket sock = OpenTcpSocket();
    if (sock == kNoSocket) return sock;
#ifdef _WIN32
    const DWORD timeout = static_cast<DWORD>(timeoutSeconds) * 1000;
#else
    const timeval timeout{timeoutSeconds, 0};
#endif
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<unsigned short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        CloseSocket(sock);
        return kNoSocket;
    }
    return sock;
}

}  // namespace tandrel::sim
