// Frame production. The image is written in the camera's pixel byte order, except for the
// parameter row, whose words are always little-endian; the CRC covers the image as sent.
#include "camera.h"

#include <cerrno>
#include <cstring>

#include "frame_format.h"
#include "param_row.h"

namespace camsim {

Camera::Camera(const CameraOptions& options)
    : m_options(options),
      m_imageBytes(2 * static_cast<size_t>(options.width) * static_cast<size_t>(options.height)),
      m_frameSize(kestrix::kFrameHeaderSize + m_imageBytes),
      m_start(std::chrono::steady_clock::now()),
      m_scene(options.width, options.height, options.seed),
      m_pixels(static_cast<size_t>(options.width) * static_cast<size_t>(options.height)),
      m_random(options.seed ^ 0x9E3779B97F4A7C15ULL) {}

std::unique_ptr<Camera> Camera::Create(const CameraOptions& options, std::string& error) {
    error = ValidateOptions(options);
    if (!error.empty()) return nullptr;
    std::unique_ptr<Camera> camera(new Camera(options));
    if (!options.replayFile.empty() && !camera->OpenReplay(error)) return nullptr;
    for (int32_t i = 0; i < options.distinctFrames; ++i) {
        auto frame = std::make_shared<Frame>(camera->m_frameSize);
        camera->Render(static_cast<uint64_t>(i), *frame);
        camera->m_prepared.push_back(std::move(frame));
    }
    return camera;
}

bool Camera::OpenReplay(std::string& error) {
    m_replay.open(m_options.replayFile, std::ios::binary);
    if (!m_replay) {
        error = "cannot open " + m_options.replayFile + ": " + std::strerror(errno);
        return false;
    }
    m_replay.seekg(0, std::ios::end);
    const std::streamoff size = m_replay.tellg();
    m_replayFrames = size > 0 ? static_cast<uint64_t>(size) / m_imageBytes : 0;
    if (m_replayFrames == 0) {
        error = m_options.replayFile + " holds no whole image of " + std::to_string(m_imageBytes) +
                " bytes";
        return false;
    }
    return true;
}

uint64_t Camera::IndexNow() const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    return static_cast<uint64_t>(seconds * std::max(1, m_options.frameRate));
}

std::shared_ptr<const Frame> Camera::FrameAt(uint64_t index) {
    std::lock_guard lock(m_mutex);
    if (!m_prepared.empty()) return m_prepared[index % m_prepared.size()];
    if (m_cached && m_cachedIndex == index) return m_cached;
    // A new frame each time: a client may still be sending the last one.
    auto frame = std::make_shared<Frame>(m_frameSize);
    Render(index, *frame);
    m_cached = frame;
    m_cachedIndex = index;
    return m_cached;
}

void Camera::Render(uint64_t index, Frame& frame) {
    const int32_t w = m_options.width;
    const int32_t h = m_options.height;
    uint8_t* image = frame.data() + kestrix::kFrameHeaderSize;
    const double t = static_cast<double>(index) / std::max(1, m_options.frameRate);

    if (m_replayFrames > 0) {
        // A recording keeps the bytes as the camera sent them; a file cut short since it was
        // opened gives a black image.
        m_replay.clear();
        m_replay.seekg(static_cast<std::streamoff>((index % m_replayFrames) * m_imageBytes));
        if (!m_replay.read(reinterpret_cast<char*>(image), static_cast<std::streamsize>(m_imageBytes))) {
            std::memset(image, 0, m_imageBytes);
        }
    } else {
        const int blur = m_focus.BlurRadius(std::chrono::steady_clock::now());
        m_scene.Render(t, blur, static_cast<uint32_t>(index * 2654435761u), m_pixels.data());
        const size_t count = m_pixels.size();
        if (m_options.bigEndianPixels) {
            for (size_t i = 0; i < count; ++i) {
                image[2 * i] = static_cast<uint8_t>(m_pixels[i] >> 8);
                image[2 * i + 1] = static_cast<uint8_t>(m_pixels[i]);
            }
        } else {
            for (size_t i = 0; i < count; ++i) {
                image[2 * i] = static_cast<uint8_t>(m_pixels[i]);
                image[2 * i + 1] = static_cast<uint8_t>(m_pixels[i] >> 8);
            }
        }
        if (w >= kParamWordCount && h >= 2) {
            const ParamWords words = DeviceParamWords(t, w, h);
            uint8_t* row = image + 2 * static_cast<size_t>(h - 2) * static_cast<size_t>(w);
            for (size_t i = 0; i < words.size(); ++i) {
                row[2 * i] = static_cast<uint8_t>(words[i]);
                row[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
            }
        }
    }

    uint32_t crc = 0;
    if (m_options.crcBlocks) {
        crc = kestrix::FrameCrc32(image, static_cast<int32_t>(m_imageBytes));
        if (m_options.crcErrorRate > 0.0 &&
            std::uniform_real_distribution<double>(0.0, 1.0)(m_random) < m_options.crcErrorRate) {
            crc ^= 0x00010000u;  // one flipped bit: the receiver must drop the frame
        }
    }
    kestrix::WriteFrameHeader(frame.data(), m_options.formatCode, w, h, m_options.crcBlocks, crc);
}

}  // namespace camsim
