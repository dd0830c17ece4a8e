// The emulator's settings and their command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

struct CameraOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 8000;               // 0 picks a free port
    std::string user = "admin";
    std::string password = "qbxwz70413";
    int32_t width = 640;
    int32_t height = 512;
    int32_t frameRate = 30;             // 0: as fast as the client takes them (tests, benchmarks)
    uint16_t formatCode = 4;
    bool bigEndianPixels = true;        // image words most significant byte first
    bool crcBlocks = true;
    double crcErrorRate = 0.0;          // share of frames sent with a wrong CRC
    uint32_t chunkMin = 4096;           // stream data bytes per message
    uint32_t chunkMax = 65536;
    int32_t dropAfterSeconds = 0;       // 0: never drop a connection
    uint64_t seed = 1;
    std::string replayFile;             // raw recording to replay instead of the scene
    std::string dumpFile;               // write frames to this file instead of serving
    int32_t dumpFrames = 0;
    bool log = true;                    // connections to standard error
    int32_t distinctFrames = 0;         // > 0: cycle through this many prepared frames
};

enum class ParseResult { Run, Help, Error };

// Reads argv into options; on Error, error says what is wrong.
ParseResult ParseOptions(const std::vector<std::string>& args, CameraOptions& options,
                         std::string& error);
// Checks the combination of settings; empty when they are usable.
std::string ValidateOptions(const CameraOptions& options);
std::string HelpText();

}  // namespace camsim
