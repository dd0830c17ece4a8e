// The exported TLNK_ operations: argument checks, the handle tables and the per-thread last
// error. No exception leaves this file.
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>

#include "net.h"
#include "session.h"
#include "tarnlink.h"

namespace {

using tarnlink::Session;

constexpr size_t kMaxLogins = 256;

thread_local uint32_t t_lastError = TLNK_NOERROR;

// The user ids and play handles in use. Never destroyed, so that a call at process exit still
// finds it; guarded by its mutex, which is never held while a session works.
class Handles {
public:
    int32_t AddLogin(std::shared_ptr<Session> session) {
        std::lock_guard lock(m_mutex);
        if (m_logins.size() >= kMaxLogins) return -1;
        const int32_t id = NextFree(m_nextLogin, m_logins);
        m_logins.emplace(id, std::move(session));
        return id;
    }

    std::shared_ptr<Session> Login(int32_t userId) {
        std::lock_guard lock(m_mutex);
        const auto it = m_logins.find(userId);
        return it == m_logins.end() ? nullptr : it->second;
    }

    // Removes the login and any play handle of it.
    std::shared_ptr<Session> TakeLogin(int32_t userId) {
        std::lock_guard lock(m_mutex);
        const auto it = m_logins.find(userId);
        if (it == m_logins.end()) return nullptr;
        std::shared_ptr<Session> session = std::move(it->second);
        m_logins.erase(it);
        std::erase_if(m_plays, [&](const auto& entry) { return entry.second == session; });
        return session;
    }

    int32_t AddPlay(std::shared_ptr<Session> session) {
        std::lock_guard lock(m_mutex);
        const int32_t id = NextFree(m_nextPlay, m_plays);
        m_plays.emplace(id, std::move(session));
        return id;
    }

    std::shared_ptr<Session> TakePlay(int32_t playHandle) {
        std::lock_guard lock(m_mutex);
        const auto it = m_plays.find(playHandle);
        if (it == m_plays.end()) return nullptr;
        std::shared_ptr<Session> session = std::move(it->second);
        m_plays.erase(it);
        return session;
    }

private:
    // Handles count up from 0 and wrap; a handle still in use is skipped.
    static int32_t NextFree(int32_t& next, const std::map<int32_t, std::shared_ptr<Session>>& used) {
        while (used.count(next) != 0) next = next == INT32_MAX ? 0 : next + 1;
        const int32_t id = next;
        next = next == INT32_MAX ? 0 : next + 1;
        return id;
    }

    std::mutex m_mutex;
    std::map<int32_t, std::shared_ptr<Session>> m_logins;
    std::map<int32_t, std::shared_ptr<Session>> m_plays;
    int32_t m_nextLogin = 0;
    int32_t m_nextPlay = 0;
};

Handles& TheHandles() {
    static Handles* handles = new Handles;  // NOLINT(cppcoreguidelines-owning-memory)
    return *handles;
}

int32_t Fail(uint32_t error, int32_t result) {
    t_lastError = error;
    return result;
}

int32_t Succeed(int32_t result) {
    t_lastError = TLNK_NOERROR;
    return result;
}

void FillDeviceInfo(const tarnlink::wire::DeviceDescription& device, DeviceInfo* info) {
    *info = DeviceInfo{};
    for (size_t i = 0; i + 1 < sizeof info->serialNumber && device.serial[i] != '\0'; ++i) {
        info->serialNumber[i] = device.serial[i];
    }
    info->width = device.width;
    info->height = device.height;
    info->frameRate = device.frameRate;
    info->formatCode = device.formatCode;
    info->channelCount = device.channelCount;
    info->startChannel = device.startChannel;
    info->protocolVersion = static_cast<uint8_t>(tarnlink::wire::kProtocolVersion);
}

// Runs body; turns an exhausted resource into TLNK_E_RESOURCES.
template <typename Body>
int32_t Guarded(int32_t failure, Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(TLNK_E_RESOURCES, failure);
    } catch (const std::system_error&) {
        return Fail(TLNK_E_RESOURCES, failure);
    } catch (...) {
        return Fail(TLNK_E_RESOURCES, failure);
    }
}

}  // namespace

extern "C" {

int32_t TLNK_Init(void) { return Succeed(TLNK_TRUE); }

int32_t TLNK_Login(const char* address, uint16_t port, const char* user, const char* password,
                   DeviceInfo* deviceInfo) {
    return Guarded(-1, [&]() -> int32_t {
        sockaddr_in peer{};
        if (!user || !password || port == 0 || !tarnlink::net::ParseIpv4(address, port, peer) ||
            std::string_view(user).size() > tarnlink::wire::kMaxUserName) {
            return Fail(TLNK_E_INVALID_ARGUMENT, -1);
        }
        tarnlink::wire::DeviceDescription device;
        uint32_t error = TLNK_NOERROR;
        std::shared_ptr<Session> session = Session::Open(peer, user, password, device, error);
        if (!session) return Fail(error, -1);
        const int32_t id = TheHandles().AddLogin(session);
        if (id < 0) {
            session->Close();
            return Fail(TLNK_E_RESOURCES, -1);
        }
        if (deviceInfo) FillDeviceInfo(device, deviceInfo);
        return Succeed(id);
    });
}

uint32_t TLNK_GetLastError(void) { return t_lastError; }

int32_t TLNK_RealPlay_V30(int32_t userId, const PreviewInfo* previewInfo,
                          TLNK_StreamCallback callback, void* user, int32_t /*reserved*/) {
    return Guarded(-1, [&]() -> int32_t {
        if (!previewInfo || !callback) return Fail(TLNK_E_INVALID_ARGUMENT, -1);
        std::shared_ptr<Session> session = TheHandles().Login(userId);
        if (!session) return Fail(TLNK_E_INVALID_HANDLE, -1);
        if (session->HasStream()) return Fail(TLNK_E_BUSY, -1);
        const int32_t handle = TheHandles().AddPlay(session);
        const uint32_t error = session->StartStream(handle, *previewInfo, callback, user);
        if (error != TLNK_NOERROR) {
            TheHandles().TakePlay(handle);
            return Fail(error, -1);
        }
        return Succeed(handle);
    });
}

int32_t TLNK_StopRealPlay(int32_t playHandle) {
    return Guarded(TLNK_FALSE, [&]() -> int32_t {
        std::shared_ptr<Session> session = TheHandles().TakePlay(playHandle);
        if (!session) return Fail(TLNK_E_INVALID_HANDLE, TLNK_FALSE);
        session->StopStream(playHandle);
        return Succeed(TLNK_TRUE);
    });
}

int32_t TLNK_Logout(int32_t userId) {
    return Guarded(TLNK_FALSE, [&]() -> int32_t {
        std::shared_ptr<Session> session = TheHandles().TakeLogin(userId);
        if (!session) return Fail(TLNK_E_INVALID_HANDLE, TLNK_FALSE);
        session->Close();
        return Succeed(TLNK_TRUE);
    });
}

int32_t TLNK_PTZControl_Other(int32_t userId, int32_t channel, uint32_t command, uint32_t stop) {
    return Guarded(TLNK_FALSE, [&]() -> int32_t {
        std::shared_ptr<Session> session = TheHandles().Login(userId);
        if (!session) return Fail(TLNK_E_INVALID_HANDLE, TLNK_FALSE);
        const uint32_t error = session->Ptz(channel, command, stop);
        return error == TLNK_NOERROR ? Succeed(TLNK_TRUE) : Fail(error, TLNK_FALSE);
    });
}

}  // extern "C"
