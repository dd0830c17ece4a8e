// orvenna-play's options, frame source and the showing of a frame.
#include "player.h"

#include <cstdio>
#include <cstdlib>

#include "orvenna.h"
#include "test_pattern.h"

namespace orvenna_play {

void Usage(bool withScreenshot) {
    std::fprintf(stderr,
                 "usage: orvenna-play --format NAME --size WxH [--fps N] [--mode 0|1|2] "
                 "[--overlay] [--frames N]%s (FILE | --generate)\n"
                 "formats: RGB555 RGB565 RGB24 RGB32 UYVY YV12 YUY2 YUV9 YVYU IYUV YV16 NV12 "
                 "IUYV IYU2\n",
                 withScreenshot ? " [--screenshot PNG]" : "");
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--format" && has_value) {
            o->format = FormatByName(argv[++i]);
        } else if (arg == "--size" && has_value) {
            unsigned w = 0, h = 0;
            if (std::sscanf(argv[++i], "%ux%u", &w, &h) != 2) return false;
            o->width = w;
            o->height = h;
        } else if (arg == "--fps" && has_value) {
            o->fps = std::atof(argv[++i]);
        } else if (arg == "--mode" && has_value) {
            o->mode = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--frames" && has_value) {
            o->frames = std::atol(argv[++i]);
        } else if (arg == "--screenshot" && has_value) {
            o->screenshot = argv[++i];
        } else if (arg == "--overlay") {
            o->overlay = true;
        } else if (arg == "--generate") {
            o->generate = true;
        } else if (!arg.empty() && arg[0] != '-' && o->file.empty()) {
            o->file = arg;
        } else {
            return false;
        }
    }
    return o->format >= 0 && o->width > 0 && o->height > 0 && o->width <= 16384 &&
           o->height <= 16384 && o->fps > 0 && (o->generate != !o->file.empty());
}

bool FrameSource::Open(const Options& options) {
    m_pOptions = &options;
    m_nFrameBytes = orvenna_play::FrameBytes(static_cast<uint32_t>(options.format), options.width,
                                             options.height);
    if (options.generate) return true;
    m_file.open(options.file, std::ios::binary);
    m_buffer.resize(m_nFrameBytes);
    return m_file.is_open();
}

unsigned char* FrameSource::Next(long n) {
    const Options& o = *m_pOptions;
    if (o.generate) {
        m_buffer = MakePatternFrame(static_cast<uint32_t>(o.format), o.width, o.height,
                                    static_cast<uint32_t>(n));
        return m_buffer.data();
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_file.read(reinterpret_cast<char*>(m_buffer.data()),
                    static_cast<std::streamsize>(m_buffer.size()));
        if (static_cast<size_t>(m_file.gcount()) == m_buffer.size()) return m_buffer.data();
        m_file.clear();
        m_file.seekg(0);
    }
    std::fprintf(stderr, "orvenna-play: %s holds no whole frame of %zu bytes\n", o.file.c_str(),
                 m_nFrameBytes);
    return nullptr;
}

int32_t StartDisplay(ORVD_HWND window, const Options& options, ORVD_DCCALLBACK draw,
                     OverlayState* overlay) {
    int32_t handle = -1;
    if (ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) != ORVD_OK ||
        ORVD_SetDisplayWindow(handle, window) != ORVD_OK) {
        std::fprintf(stderr, "orvenna-play: cannot set up the display\n");
        if (handle >= 0) ORVD_Release(handle);
        return -1;
    }
    ORVD_SetDisplayMode(handle, options.mode);
    if (options.overlay) ORVD_RegisterDCCallback(handle, draw, reinterpret_cast<intptr_t>(overlay));
    return handle;
}

bool ShowFrame(int32_t handle, FrameSource& source, long n, OverlayState& overlay,
               int32_t* lastResult) {
    unsigned char* bytes = source.Next(n);
    if (bytes == nullptr) return false;
    const Options& o = source.GetOptions();
    overlay.frame = n;
    tagORVD_FRAME frame{bytes, 0, static_cast<uint32_t>(o.format), o.width, o.height};
    const int32_t result = ORVD_DisplayFrame(handle, &frame);
    if (result != ORVD_OK && result != *lastResult) {
        std::fprintf(stderr, "orvenna-play: frame %ld: ORVD_DisplayFrame gives 0x%08X\n", n,
                     static_cast<unsigned>(result));
    }
    *lastResult = result;
    return true;
}

}  // namespace orvenna_play
