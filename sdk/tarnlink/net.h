// Small POSIX socket helpers shared by the SDK and the camera emulator: an owning descriptor,
// whole-message sends that never raise SIGPIPE, and TCP connect and listen with time limits.
#pragma once

#include <netinet/in.h>
#include <sys/uio.h>

#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace tarnlink::net {

// Owns one file descriptor and closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// Parses dotted IPv4 text; false for anything else.
bool ParseIpv4(const char* text, uint16_t port, sockaddr_in& out);
std::string FormatAddress(const sockaddr_in& address);

// Connects within timeoutMs. On failure returns an invalid descriptor and sets timedOut.
UniqueFd ConnectTcp(const sockaddr_in& address, int timeoutMs, bool& timedOut);
// A listening socket on address (port 0 picks a free one); invalid on failure.
UniqueFd ListenTcp(const sockaddr_in& address);
uint16_t LocalPort(int fd);

// Bounds a blocking send, so that a peer that stops reading cannot hold the sender for ever.
void SetSendTimeout(int fd, int timeoutMs);
void SetNoDelay(int fd);

// Sends every byte of the pieces; false on an error, a closed peer or the send timeout.
bool SendAll(int fd, std::span<iovec> pieces);
bool SendAll(int fd, const void* data, size_t size);

// Waits until fd is readable or timeoutMs passed (negative: no limit). 1 readable, 0 timeout,
// -1 error.
int WaitReadable(int fd, int timeoutMs);

}  // namespace tarnlink::net
