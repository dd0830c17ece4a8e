// The stream written to a file, for the demo and for tests that want frames without a network.
#include "dump.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace camsim {

bool DumpFrames(Camera& camera, const std::string& path, int32_t count, std::string& error) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                               std::fclose);
    if (!file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        const std::shared_ptr<const Frame> frame = camera.FrameAt(static_cast<uint64_t>(i));
        if (std::fwrite(frame->data(), 1, frame->size(), file.get()) != frame->size() ||
            std::fflush(file.get()) != 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace camsim
