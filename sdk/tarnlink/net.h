// Small socket helpers shared by the SDK and the camera emulator: an owning descriptor,
// whole-message sends that never raise SIGPIPE, and TCP connect and listen with time limits.
// net_posix.cpp implements them with POSIX sockets, net_win32.cpp with Winsock 2; net.cpp holds
// what both share.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/uio.h>
#endif

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace tarnlink::net {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
// The pieces of a gathered send, laid out as on POSIX.
struct iovec {
    void* iov_base;
    size_t iov_len;
};
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
using ::iovec;
#endif

// Owns one socket (on POSIX, any file descriptor) and closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(Socket fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, kNoSocket)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    Socket Get() const { return m_fd; }
    bool Valid() const { return m_fd != kNoSocket; }
    void Reset(Socket fd = kNoSocket);

private:
    Socket m_fd = kNoSocket;
};

// Parses dotted IPv4 text; false for anything else.
bool ParseIpv4(const char* text, uint16_t port, sockaddr_in& out);
std::string FormatAddress(const sockaddr_in& address);

// Connects within timeoutMs. On failure returns an invalid descriptor and sets timedOut.
UniqueFd ConnectTcp(const sockaddr_in& address, int timeoutMs, bool& timedOut);
// A listening socket on address (port 0 picks a free one); invalid on failure.
UniqueFd ListenTcp(const sockaddr_in& address);
uint16_t LocalPort(Socket fd);
// ListenTcp's second half: binds the new socket and listens; invalid on failure.
UniqueFd BindAndListen(UniqueFd fd, const sockaddr_in& address);

// Bounds a blocking send, so that a peer that stops reading cannot hold the sender for ever.
void SetSendTimeout(Socket fd, int timeoutMs);
void SetNoDelay(Socket fd);

// Sends every byte of the pieces; false on an error, a closed peer or the send timeout.
bool SendAll(Socket fd, std::span<iovec> pieces);
// SendAll's step over `sent` bytes from pieces[first], trimming a piece that went out in part;
// the index of the first piece with bytes left.
size_t SkipSent(std::span<iovec> pieces, size_t first, size_t sent);
bool SendAll(Socket fd, const void* data, size_t size);

// Takes one waiting connection from a listening socket, not inherited by child processes; invalid
// when there was none or the call failed.
UniqueFd Accept(Socket listening, sockaddr_in& peer);

// Wakes every thread that waits on sockets with it. Once set it stays set: a thread that waits
// later returns at once. On POSIX an eventfd, on Windows a loopback datagram socket holding one
// unread datagram (WSAPoll waits on sockets only).
class Waker {
public:
    Waker();
    // False when the object could not be made.
    bool Usable() const { return m_socket.Valid(); }
    void Set();
    Socket Get() const { return m_socket.Get(); }

private:
    UniqueFd m_socket;
};

// Waits until fd is readable or timeoutMs passed (negative: no limit). 1 readable, 0 timeout,
// -1 error.
int WaitReadable(Socket fd, int timeoutMs);
// The same, and also returns 0 as soon as `waker` is set. A closed or failed connection counts
// as readable: the receive that follows reports it.
int WaitReadable(Socket fd, const Waker& waker, int timeoutMs);

// The last socket call's failure as text (errno, or WSAGetLastError on Windows).
std::string LastErrorText();

// Receives what has arrived into `space`; without `wait` it returns kNothingYet rather than
// blocking. The byte count, 0 when the peer closed, or kReceiveFailed.
constexpr ptrdiff_t kNothingYet = -2;
constexpr ptrdiff_t kReceiveFailed = -1;
ptrdiff_t Receive(Socket fd, std::span<uint8_t> space, bool wait);

// Ends both directions, waking a thread that waits on the socket; the socket stays open.
void Shutdown(Socket fd);

}  // namespace tarnlink::net
