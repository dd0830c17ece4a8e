// The emulator's network side: accepts Tarnlink clients, checks their login, and serves each
// its stream and focus commands on a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "camera.h"
#include "net.h"
#include "options.h"

namespace camsim {

class CameraServer {
public:
    CameraServer(const CameraOptions& options, std::shared_ptr<Camera> camera);
    ~CameraServer();
    CameraServer(const CameraServer&) = delete;
    CameraServer& operator=(const CameraServer&) = delete;

    // Binds and starts accepting; false with error set when the address cannot be used.
    bool Start(std::string& error);
    // Closes every connection and the listening socket and waits for all threads.
    void Stop();
    uint16_t Port() const { return m_port; }
    Camera& GetCamera() { return *m_camera; }
    // Connections being served now.
    size_t ClientCount();

private:
    struct Client {
        tarnlink::net::UniqueFd fd;
        std::string peer;
        uint64_t id = 0;
        std::thread thread;
        std::atomic<bool> finished{false};  // set by the client's thread as its last step
    };

    void AcceptLoop();
    void Serve(Client& client);
    void ReapFinished();
    void Log(const std::string& text);

    const CameraOptions m_options;
    std::shared_ptr<Camera> m_camera;
    tarnlink::net::UniqueFd m_listen;
    tarnlink::net::Waker m_wake;                   // tells every waiting thread to stop
    uint16_t m_port = 0;
    std::thread m_acceptThread;
    std::atomic<bool> m_stopping{false};
    std::mutex m_clientsMutex;           // guards m_clients and m_nextId
    std::list<std::unique_ptr<Client>> m_clients;
    uint64_t m_nextId = 1;
    std::mutex m_logMutex;               // one log line at a time
};

}  // namespace camsim
