// Command line of kestrix-camsim: "--name value" or "--name=value"; numbers are checked whole.
#include "options.h"

#include <charconv>
#include <functional>
#include <map>

#include "frame_format.h"
#include "wire.h"

namespace camsim {
namespace {

constexpr uint32_t kMaxChunk = tarnlink::wire::kMaxBody - tarnlink::wire::kStreamPrefixSize;

template <typename T>
bool ParseNumber(const std::string& text, T min, T max, T& out) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < min || value > max) return false;
    out = value;
    return true;
}

bool ParseRate(const std::string& text, double& out) {
    try {
        size_t used = 0;
        const double value = std::stod(text, &used);
        if (used != text.size() || !(value >= 0.0 && value <= 1.0)) return false;
        out = value;
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

std::string HelpText() {
    return "usage: kestrix-camsim [options]\n"
           "A thermal camera on the network: serves its live stream to Tarnlink clients.\n"
           "\n"
           "  --address ADDR         IPv4 address to listen on (127.0.0.1)\n"
           "  --port N               TCP port (8000; 0 picks a free one)\n"
           "  --user NAME            login user name (admin)\n"
           "  --password TEXT        login password (qbxwz70413)\n"
           "  --width W              image width in pixels (640)\n"
           "  --height H             image height in pixels (512)\n"
           "  --fps N                frames per second, 1..1000 (30)\n"
           "  --format CODE          frame format code of the headers (4)\n"
           "  --byte-order ORDER     image pixel byte order: big or little (big)\n"
           "  --no-crc               send headers without a CRC_ block\n"
           "  --crc-error-rate R     share of frames sent with a wrong CRC, 0..1 (0)\n"
           "  --chunk-min N          smallest stream data chunk in bytes (4096)\n"
           "  --chunk-max N          largest stream data chunk in bytes (65536)\n"
           "  --drop-after S         drop each connection after S seconds (0: never)\n"
           "  --seed N               random seed of scene, noise and faults (1)\n"
           "  --replay FILE          replay a raw recording (images of 2*W*H bytes, no headers)\n"
           "                         of --width by --height instead of the synthetic scene\n"
           "  --dump FILE            write the stream of --frames frames to FILE and exit\n"
           "  --frames N             number of frames for --dump\n"
           "  --quiet                do not log connections\n"
           "  --help                 show this text\n";
}

ParseResult ParseOptions(const std::vector<std::string>& args, CameraOptions& o, std::string& error) {
    using Setter = std::function<bool(const std::string&)>;
    const std::map<std::string, Setter> valued = {
        {"--address", [&](const std::string& v) { o.address = v; return !v.empty(); }},
        {"--port", [&](const std::string& v) { return ParseNumber<uint16_t>(v, 0, 65535, o.port); }},
        {"--user", [&](const std::string& v) { o.user = v; return v.size() <= 64; }},
        {"--password", [&](const std::string& v) { o.password = v; return true; }},
        {"--width", [&](const std::string& v) { return ParseNumber<int32_t>(v, 1, 4096, o.width); }},
        {"--height", [&](const std::string& v) { return ParseNumber<int32_t>(v, 1, 4096, o.height); }},
        {"--fps", [&](const std::string& v) { return ParseNumber<int32_t>(v, 1, 1000, o.frameRate); }},
        {"--format", [&](const std::string& v) { return ParseNumber<uint16_t>(v, 0, 65535, o.formatCode); }},
        {"--byte-order",
         [&](const std::string& v) {
             o.bigEndianPixels = v == "big";
             return v == "big" || v == "little";
         }},
        {"--crc-error-rate", [&](const std::string& v) { return ParseRate(v, o.crcErrorRate); }},
        {"--chunk-min", [&](const std::string& v) { return ParseNumber<uint32_t>(v, 1, kMaxChunk, o.chunkMin); }},
        {"--chunk-max", [&](const std::string& v) { return ParseNumber<uint32_t>(v, 1, kMaxChunk, o.chunkMax); }},
        {"--drop-after", [&](const std::string& v) { return ParseNumber<int32_t>(v, 0, 86400, o.dropAfterSeconds); }},
        {"--seed", [&](const std::string& v) { return ParseNumber<uint64_t>(v, 0, UINT64_MAX, o.seed); }},
        {"--replay", [&](const std::string& v) { o.replayFile = v; return !v.empty(); }},
        {"--dump", [&](const std::string& v) { o.dumpFile = v; return !v.empty(); }},
        {"--frames", [&](const std::string& v) { return ParseNumber<int32_t>(v, 1, 1000000, o.dumpFrames); }},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--help" || name == "-h") return ParseResult::Help;
        if (name == "--no-crc") {
            o.crcBlocks = false;
            continue;
        }
        if (name == "--quiet") {
            o.log = false;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const auto it = valued.find(name);
        if (it == valued.end()) {
            error = "unknown option " + name;
            return ParseResult::Error;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return ParseResult::Error;
            }
            value = args[++i];
        }
        if (!it->second(value)) {
            error = "bad value for " + name;
            error += ": " + value;
            return ParseResult::Error;
        }
    }
    error = ValidateOptions(o);
    return error.empty() ? ParseResult::Run : ParseResult::Error;
}

std::string ValidateOptions(const CameraOptions& o) {
    if (o.width <= 0 || o.height <= 0 ||
        2LL * o.width * o.height > kestrix::kMaxImageBytes) {
        return "the image must have a positive size of at most " +
               std::to_string(kestrix::kMaxImageBytes) + " bytes";
    }
    if (o.chunkMin == 0 || o.chunkMin > o.chunkMax || o.chunkMax > kMaxChunk) {
        return "chunk sizes need 1 <= --chunk-min <= --chunk-max <= " + std::to_string(kMaxChunk);
    }
    if (o.frameRate < 0) return "the frame rate cannot be negative";
    if (!o.dumpFile.empty() && o.dumpFrames <= 0) return "--dump needs --frames";
    return {};
}

}  // namespace camsim
