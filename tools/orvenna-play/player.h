// What orvenna-play does alike on every platform: its options, the state its overlay draws from,
// where its frames come from (a file started again at its end, or the test pattern), and showing
// one of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "orvenna.h"

namespace orvenna_play {

struct Options {
    int format = -1;
    uint32_t width = 0;
    uint32_t height = 0;
    double fps = 25;
    uint32_t mode = 0;
    bool overlay = false;
    bool generate = false;
    long frames = -1;  // stop after this many (-1: until the window closes)
    std::string file;
    std::string screenshot;  // PNG of the window after the last frame (where supported)
};

// Prints the usage; `withScreenshot` where the platform offers --screenshot.
void Usage(bool withScreenshot);
// False for an unknown option, a missing value, or a size, rate or source that cannot play.
bool ParseOptions(int argc, char** argv, Options* o);

// What the drawing callback needs: it runs inside ORVD_DisplayFrame and ORVD_RefreshDisplay.
struct OverlayState {
    long frame = 0;
    const char* format_name = "";
};

// The frames to show: read from the file one at a time (started again at its end), or made.
class FrameSource {
  public:
    // False when the file cannot be opened.
    bool Open(const Options& options);
    // Frame number `n`, or null when the file holds no whole frame.
    unsigned char* Next(long n);
    size_t FrameBytes() const { return m_nFrameBytes; }
    const Options& GetOptions() const { return *m_pOptions; }  // after Open

  private:
    const Options* m_pOptions = nullptr;
    size_t m_nFrameBytes = 0;
    std::ifstream m_file;
    std::vector<unsigned char> m_buffer;
};

// An engine that shows into `window` in the options' display mode, drawing the overlay with
// `draw` from *overlay when --overlay asks for it; -1, after saying why, when it cannot be set up.
int32_t StartDisplay(ORVD_HWND window, const Options& options, ORVD_DCCALLBACK draw,
                     OverlayState* overlay);

// Shows frame `n` of `source` through ORVD_DisplayFrame, with the overlay's counter at n; false
// when the source has no whole frame. A failing result is printed when it differs from the one
// before, *lastResult, which is updated.
bool ShowFrame(int32_t handle, FrameSource& source, long n, OverlayState& overlay,
               int32_t* lastResult);

}  // namespace orvenna_play
