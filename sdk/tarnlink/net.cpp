// The socket helpers that are the same with POSIX sockets and Winsock.
#include "net.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <sys/socket.h>
#endif

namespace tarnlink::net {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_fd, kNoSocket));
    return *this;
}

// inet_pton needs no started Winsock.
bool ParseIpv4(const char* text, uint16_t port, sockaddr_in& out) {
    if (!text) return false;
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return inet_pton(AF_INET, text, &out.sin_addr) == 1;
}

std::string FormatAddress(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

UniqueFd BindAndListen(UniqueFd fd, const sockaddr_in& address) {
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.Get(), 16) != 0) {
        return {};
    }
    return fd;
}

uint16_t LocalPort(Socket fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

size_t SkipSent(std::span<iovec> pieces, size_t first, size_t sent) {
    while (first < pieces.size() && sent >= pieces[first].iov_len) {
        sent -= pieces[first].iov_len;
        ++first;
    }
    if (first < pieces.size() && sent > 0) {
        pieces[first].iov_base = static_cast<uint8_t*>(pieces[first].iov_base) + sent;
        pieces[first].iov_len -= sent;
    }
    return first;
}

bool SendAll(Socket fd, const void* data, size_t size) {
    iovec piece{const_cast<void*>(data), size};
    return SendAll(fd, std::span<iovec>(&piece, 1));
}

}  // namespace tarnlink::net
