// kestrix-convert's options and its reading of a raw file. The input is a command line, its
// arguments ended by NUL bytes and the list by an empty one, followed by the file's bytes; every
// frame the options select (a few at most) becomes a PNG or a parameter line.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "convert.h"
#include "frame_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kestrix;
    std::vector<std::string> args;
    size_t pos = 0;
    while (pos < size) {
        const auto* end = static_cast<const uint8_t*>(std::memchr(data + pos, 0, size - pos));
        if (!end) return 0;
        const size_t length = static_cast<size_t>(end - (data + pos));
        const size_t next = pos + length + 1;
        if (length == 0) {
            pos = next;
            break;
        }
        args.emplace_back(reinterpret_cast<const char*>(data + pos), length);
        pos = next;
    }
    const uint8_t* file = data + std::min(pos, size);
    const uint64_t fileBytes = size - std::min(pos, size);

    ConvertOptions options;
    if (!ParseConvertOptions(args, &options).empty() || options.help) return 0;
    if (options.width <= 0 || options.height <= 0 || ImageBytes(options) > kMaxImageBytes)
        __builtin_trap();
    uint64_t first = 0, last = 0;
    if (!SelectFrames(fileBytes, options, &first, &last).empty()) return 0;
    if (first > last || (last + 1) * ImageBytes(options) > fileBytes) __builtin_trap();

    FrameConverter converter(options);
    std::vector<uint8_t> png;
    for (uint64_t frame = first; frame <= last && frame < first + 4; ++frame) {
        const uint8_t* image = file + frame * ImageBytes(options);
        if (options.params) {
            const std::string line =
                FrameConverter::ParamsLine(image, options.width, options.height);
            if (line.empty() || line.back() != '\n') __builtin_trap();
        } else {
            if (!converter.ToPng(image, &png)) __builtin_trap();
            if (png.size() < 8 || std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8) != 0) {
                __builtin_trap();
            }
        }
        const std::string path = OutputPngPath(options.inputs[0], options.outDir, frame, false);
        if (path.size() < 4 || path.compare(path.size() - 4, 4, ".png") != 0) __builtin_trap();
    }
    return 0;
}
