// Running the command-line tools as processes from a test: the exit status and what they print,
// in a scratch folder of the test's own; the PNG files they write, read back by libpng.
#pragma once

#include <sys/wait.h>

#include <png.h>

#include <gmock/gmock.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kx_tools_test {

using testing::HasSubstr;

struct Result {
    int status = -1;
    std::string out, err;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a program to its end with its standard output and error captured in files (the arguments
// hold no single quote).
inline Result RunTool(const std::vector<std::string>& args, const std::string& scratch) {
    std::string command;
    for (const std::string& a : args) command += "'" + a + "' ";
    const int status =
        std::system((command + ">" + scratch + "/stdout 2>" + scratch + "/stderr").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(scratch + "/stdout"),
            ReadFile(scratch + "/stderr")};
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(dir, error)) {
        names.push_back(e.path().filename());
    }
    return names;
}

// A PNG as libpng reads it: its format (PNG_FORMAT_*) and its pixels in that format, 16-bit
// samples in host order; format ~0 when it is no PNG.
struct Png {
    int width = 0, height = 0;
    uint32_t format = ~0u;
    std::vector<uint8_t> bytes;
};

inline Png ReadPng(const std::string& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Png png;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return png;
    png.bytes.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, png.bytes.data(), 0, nullptr)) return Png{};
    png.width = static_cast<int>(image.width);
    png.height = static_cast<int>(image.height);
    png.format = image.format;
    return png;
}

class ScratchDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kestrix-tools-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // A 64x48 stream of the emulator's frames, written into the scratch folder.
    std::string Dump(std::vector<std::string> options) {
        std::vector<std::string> args = {
            KX_CAMSIM, "--dump", dir + "/stream.bin", "--width", "64", "--height", "48", "--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(RunTool(args, dir).status, 0);
        return dir + "/stream.bin";
    }

    std::string dir;
};

}  // namespace kx_tools_test
