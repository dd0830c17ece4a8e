// POSIX socket helpers of the SDK and the camera emulator.
#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnlink::net {

void UniqueFd::Reset(Socket fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

UniqueFd ConnectTcp(const sockaddr_in& address, int timeoutMs, bool& timedOut) {
    timedOut = false;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) return {};
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return {};
        pollfd p{fd.Get(), POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) timedOut = true;
        if (ready <= 0) return {};
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return {};
        }
    }
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {};
    return fd;
}

UniqueFd ListenTcp(const sockaddr_in& address) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return {};
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return BindAndListen(std::move(fd), address);
}

void SetSendTimeout(Socket fd, int timeoutMs) {
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000L};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void SetNoDelay(Socket fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool SendAll(Socket fd, std::span<iovec> pieces) {
    size_t first = 0;
    while (first < pieces.size()) {
        msghdr message{};
        message.msg_iov = pieces.data() + first;
        message.msg_iovlen = pieces.size() - first;
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        first = SkipSent(pieces, first, static_cast<size_t>(sent));
    }
    return true;
}

UniqueFd Accept(Socket listening, sockaddr_in& peer) {
    socklen_t length = sizeof peer;
    return UniqueFd(::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
}

Waker::Waker() : m_socket(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void Waker::Set() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_socket.Get(), &one, sizeof one);
}

namespace {

// poll over fd and, when given, the waker's descriptor: 1 when fd is readable, closed or failed.
int PollReadable(Socket fd, Socket wake, int timeoutMs) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(p, wake == kNoSocket ? 1 : 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        return (p[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ? 1 : 0;
    }
}

}  // namespace

int WaitReadable(Socket fd, int timeoutMs) { return PollReadable(fd, kNoSocket, timeoutMs); }

int WaitReadable(Socket fd, const Waker& waker, int timeoutMs) {
    return PollReadable(fd, waker.Get(), timeoutMs);
}

std::string LastErrorText() { return std::strerror(errno); }

ptrdiff_t Receive(Socket fd, std::span<uint8_t> space, bool wait) {
    for (;;) {
        const ssize_t n = ::recv(fd, space.data(), space.size(), wait ? 0 : MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNothingYet : kReceiveFailed;
    }
}

void Shutdown(Socket fd) { ::shutdown(fd, SHUT_RDWR); }

}  // namespace tarnlink::net
