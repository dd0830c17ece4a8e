// Winsock 2 socket helpers of the SDK and the camera emulator.
#include <algorithm>
#include <cstring>

#include "net.h"

namespace tarnlink::net {
namespace {

// Winsock counts its users; the library takes one reference on first use and keeps it for the
// life of the process, so that no call of ours runs before the start or after the end.
bool Started() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

bool SetBlocking(Socket fd, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(fd, FIONBIO, &nonBlocking) == 0;
}

}  // namespace

void UniqueFd::Reset(Socket fd) {
    if (m_fd != kNoSocket) ::closesocket(m_fd);
    m_fd = fd;
}

UniqueFd ConnectTcp(const sockaddr_in& address, int timeoutMs, bool& timedOut) {
    timedOut = false;
    if (!Started()) return {};
    // WSA_FLAG_NO_HANDLE_INHERIT: a child process never holds the connection open.
    UniqueFd fd(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                           WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (!fd.Valid() || !SetBlocking(fd.Get(), false)) return {};
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) return {};
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(fd.Get(), &writable);
        FD_SET(fd.Get(), &failed);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000L};
        const int ready = ::select(0, nullptr, &writable, &failed, &tv);
        if (ready == 0) timedOut = true;
        if (ready <= 0 || FD_ISSET(fd.Get(), &failed)) return {};
        int error = 0;
        int length = sizeof error;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                         &length) != 0 ||
            error != 0) {
            return {};
        }
    }
    if (!SetBlocking(fd.Get(), true)) return {};
    return fd;
}

UniqueFd ListenTcp(const sockaddr_in& address) {
    if (!Started()) return {};
    UniqueFd fd(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                           WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (!fd.Valid()) return {};
    // A second listener on the same port is refused, as on POSIX.
    const BOOL on = TRUE;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
    return BindAndListen(std::move(fd), address);
}

void SetSendTimeout(Socket fd, int timeoutMs) {
    const DWORD ms = static_cast<DWORD>(timeoutMs);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void SetNoDelay(Socket fd) {
    const BOOL on = TRUE;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

bool SendAll(Socket fd, std::span<iovec> pieces) {
    WSABUF buffers[64];
    size_t first = 0;
    while (first < pieces.size()) {
        DWORD count = 0;
        for (size_t i = first; i < pieces.size() && count < 64; ++i, ++count) {
            buffers[count].buf = static_cast<char*>(pieces[i].iov_base);
            buffers[count].len = static_cast<ULONG>(pieces[i].iov_len);
        }
        DWORD sent = 0;
        if (WSASend(fd, buffers, count, &sent, 0, nullptr, nullptr) != 0) return false;
        first = SkipSent(pieces, first, sent);
    }
    return true;
}

UniqueFd Accept(Socket listening, sockaddr_in& peer) {
    int length = sizeof peer;
    // A socket from accept takes the listening socket's attributes, WSA_FLAG_NO_HANDLE_INHERIT
    // included.
    return UniqueFd(::accept(listening, reinterpret_cast<sockaddr*>(&peer), &length));
}

Waker::Waker() {
    if (!Started()) return;
    UniqueFd fd(WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                           WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof self;
    // Bound to a free loopback port and connected to itself: Set sends it its own datagram.
    if (!fd.Valid() || ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0) {
        return;
    }
    m_socket = std::move(fd);
}

void Waker::Set() {
    const char one = 1;
    ::send(m_socket.Get(), &one, 1, 0);
}

namespace {

// WSAPoll over fd and, when given, the waker's socket: 1 when fd is readable, closed or failed
// (the receive that follows says which).
int PollReadable(Socket fd, Socket wake, int timeoutMs) {
    WSAPOLLFD p[2] = {{fd, POLLRDNORM, 0}, {wake, POLLRDNORM, 0}};
    const int ready = WSAPoll(p, wake == kNoSocket ? 1 : 2, timeoutMs);
    if (ready < 0) return -1;
    return (p[0].revents & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) ? 1 : 0;
}

}  // namespace

int WaitReadable(Socket fd, int timeoutMs) { return PollReadable(fd, kNoSocket, timeoutMs); }

int WaitReadable(Socket fd, const Waker& waker, int timeoutMs) {
    return PollReadable(fd, waker.Get(), timeoutMs);
}

std::string LastErrorText() {
    const int error = WSAGetLastError();
    char* text = nullptr;
    // In the ANSI code page, as the console shows it.
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text ? text : "", length);
    if (text) LocalFree(text);
    while (!message.empty() && std::strchr("\r\n. ", message.back())) message.pop_back();
    const std::string code = "error " + std::to_string(error);
    return message.empty() ? code : message + " (" + code + ")";
}

ptrdiff_t Receive(Socket fd, std::span<uint8_t> space, bool wait) {
    if (!wait) {
        const int ready = WaitReadable(fd, 0);
        if (ready < 0) return kReceiveFailed;
        if (ready == 0) return kNothingYet;
    }
    const int n = ::recv(fd, reinterpret_cast<char*>(space.data()),
                         static_cast<int>(std::min<size_t>(space.size(), 1u << 30)), 0);
    return n >= 0 ? n : kReceiveFailed;
}

void Shutdown(Socket fd) {
    ::shutdown(fd, SD_BOTH);
}

}  // namespace tarnlink::net
