// kestrix-convert's logic without files: its options, the layout of raw record and snapshot files,
// and the conversion of one image into PNG bytes or a parameter line. main.cpp does the reading and
// writing; the fuzz target calls the same functions on memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "include/agc.h"

namespace kestrix {

// How the two bytes of a pixel lie in the file. The camera sends the most significant byte first
// ("HightoLow" ticked on the panel undoes that); records and snapshots keep the received bytes.
enum class ByteOrder { kBig, kLittle };

// False colour for an 8-bit picture; kGrey writes a greyscale PNG.
enum class Palette { kGrey, kIron, kRainbow };

struct ConvertOptions {
    int32_t width = 640;
    int32_t height = 512;
    ByteOrder order = ByteOrder::kBig;
    int32_t agcMode = 0;  // 0: 16-bit PNG of the pixel values; else an AGC_MODE_* picture
    Palette palette = Palette::kGrey;
    bool havePalette = false;
    bool haveFrames = false;
    uint64_t firstFrame = 0;  // frame numbers count from 0, both ends included
    uint64_t lastFrame = 0;
    bool params = false;  // CSV of the parameter words on standard output instead of pictures
    std::string outDir;   // empty: beside each input
    std::vector<std::string> inputs;
    bool help = false;
};

extern const char kConvertUsage[];

// Reads the command line without its program name. Returns an empty string, or what is wrong.
std::string ParseConvertOptions(const std::vector<std::string>& args, ConvertOptions* options);

// Bytes of one image of the given size.
inline uint64_t ImageBytes(const ConvertOptions& o) {
    return 2 * static_cast<uint64_t>(o.width) * static_cast<uint64_t>(o.height);
}

// The frames of a file of `fileBytes` bytes to convert: [*first, *last]. Returns an empty string,
// or why the file cannot be taken: it is empty, not a whole number of images, or shorter than
// the frames asked for.
std::string SelectFrames(uint64_t fileBytes, const ConvertOptions& options, uint64_t* first,
                         uint64_t* last);

// Converts the images of one file, one after another, in frame order. The gain control carries
// nothing from one frame to the next, so a range converts as it would within the whole file.
class FrameConverter {
public:
    explicit FrameConverter(const ConvertOptions& options);
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // The PNG file of one image of ImageBytes() bytes; false when it cannot be made.
    bool ToPng(const uint8_t* image, std::vector<uint8_t>* png);

    // The CSV line of one image, with its line end: the fourteen parameter words and the centre
    // gray value, the numbers a text record writes.
    static std::string ParamsLine(const uint8_t* image, int32_t width, int32_t height);
    static const char kParamsHeader[];

private:
    bool ToGray();  // m_samples into m_gray

    const ConvertOptions m_options;
    std::vector<uint16_t> m_samples;           // the image as pixel values
    std::vector<uint8_t> m_gray;               // gain control output
    std::vector<uint8_t> m_rgb;                // the false-colour picture
    std::unique_ptr<uint64_t[]> m_pAgcMemory;  // the work block, 8-byte aligned
    AgcHandle m_hAgc = nullptr;                // into m_pAgcMemory
};

// The PNG name for frame `frame` of `input` in `outDir` (empty: the input's folder). A file of
// one image gives "<name>.png", others "<name>_<frame>.png"; a ".raw" extension is dropped.
std::string OutputPngPath(const std::string& input, const std::string& outDir, uint64_t frame,
                          bool singleImage);

}  // namespace kestrix
