// One login to a camera: its TCP connection, the SDK thread that reads it, the stream that the
// thread delivers to the caller's callback, and the requests that wait for the camera's answer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "net.h"
#include "tarnlink.h"
#include "wire.h"

namespace tarnlink {

class Session : public std::enable_shared_from_this<Session> {
public:
    // Connects, logs in and starts the session's thread. On failure returns null and sets error
    // to a TLNK_E_* code.
    static std::shared_ptr<Session> Open(const sockaddr_in& address, const char* user,
                                         const char* password, wire::DeviceDescription& device,
                                         uint32_t& error);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Asks the camera for the stream of channel and delivers it under playHandle. Returns a
    // TLNK_E_* code, TLNK_NOERROR on success.
    uint32_t StartStream(int32_t playHandle, const PreviewInfo& preview,
                         TLNK_StreamCallback callback, void* user);
    // After it returns the callback of playHandle runs no more.
    void StopStream(int32_t playHandle);
    bool HasStream() const;
    // Sends a PTZ command and waits for the camera's answer; a TLNK_E_* code.
    uint32_t Ptz(int32_t channel, uint32_t command, uint32_t stop);
    // Stops the stream, logs out, closes the connection and ends the thread.
    void Close();

private:
    struct Reply {
        wire::MsgType type;
        uint32_t id;  // the stream id of a stream's answer, the sequence number of a PTZ answer
        wire::Status status;
    };

    Session(net::UniqueFd fd, const sockaddr_in& address);
    uint32_t LogIn(const char* user, const char* password, wire::DeviceDescription& device);
    // Waits for the next message of the handshake; a TLNK_E_* code on failure.
    uint32_t ReceiveDuringLogin(wire::Message& out, std::chrono::steady_clock::time_point deadline);
    void ReaderLoop();
    // False when the message breaks the protocol; reason then tells why the link ends.
    bool Dispatch(const wire::Message& message, uint32_t& reason);
    void Deliver(uint32_t dataType, uint32_t streamId, std::span<const uint8_t> bytes);
    void EndLink(uint32_t reason);
    bool Send(const std::vector<uint8_t>& message);
    // Sends request and waits for the reply of type and id; a TLNK_E_* code. A reply to an
    // earlier request that came too late has another id and is dropped.
    uint32_t Request(const std::vector<uint8_t>& request, wire::MsgType type, uint32_t id,
                     std::chrono::milliseconds wait, wire::Status& status);
    bool OnReaderThread() const { return std::this_thread::get_id() == m_readerId; }

    net::UniqueFd m_fd;                   // closed by the destructor only, after the thread ended
    const std::string m_peer;             // "address:port", for messages
    wire::MessageReader m_reader;         // used by the login, then only by the SDK thread
    std::thread m_thread;                 // the SDK thread; joined (or detached) by Close
    std::thread::id m_readerId;           // set before the thread can be reached by others
    std::atomic<bool> m_closing{false};   // set by Close
    std::atomic<int64_t> m_lastSentNs{0}; // steady clock; written by every sender

    std::mutex m_sendMutex;               // one message at a time on the socket

    std::mutex m_requestMutex;            // one request waits for its reply at a time
    std::atomic<uint32_t> m_ptzSequence{0};  // numbers the PTZ requests
    std::mutex m_replyMutex;              // guards m_reply and m_linkError
    std::condition_variable m_replyCv;
    std::optional<Reply> m_reply;         // written by the SDK thread
    uint32_t m_linkError = TLNK_NOERROR;  // set by the SDK thread when the link ends

    // The stream. The SDK thread holds m_streamMutex for each callback, so whoever clears
    // m_streamActive under it knows that no callback runs or will run.
    mutable std::mutex m_streamMutex;
    bool m_streamActive = false;
    int32_t m_playHandle = -1;
    TLNK_StreamCallback m_callback = nullptr;
    void* m_user = nullptr;
    bool m_headerDelivered = false;
};

}  // namespace tarnlink
