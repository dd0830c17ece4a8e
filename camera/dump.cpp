// The stream written to a file, for the demo and for tests that want frames without a network.
#include "dump.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net.h"

namespace camsim {

bool DumpFrames(Camera& camera, const std::string& path, int32_t count, std::string& error) {
    tarnlink::net::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        const std::shared_ptr<const Frame> frame = camera.FrameAt(static_cast<uint64_t>(i));
        size_t done = 0;
        while (done < frame->size()) {
            const ssize_t n = ::write(fd.Get(), frame->data() + done, frame->size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = "cannot write " + path + ": " + std::strerror(errno);
                return false;
            }
            done += static_cast<size_t>(n);
        }
    }
    return true;
}

}  // namespace camsim
