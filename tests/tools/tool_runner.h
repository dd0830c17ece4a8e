// Running the command-line tools as processes from a test: the exit status and what they print,
// in a scratch folder of the test's own; the PNG files they write, read back by libpng.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <png.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kx_tools_test {

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs a program to its end with its standard output and error captured in files.
inline Result RunTool(std::vector<std::string> args, const std::string& scratch) {
    const std::string outPath = scratch + "/stdout", errPath = scratch + "/stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Result r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream o(outPath), e(errPath);
    r.out.assign(std::istreambuf_iterator<char>(o), {});
    r.err.assign(std::istreambuf_iterator<char>(e), {});
    return r;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

inline off_t FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// A PNG as libpng reads it: the file's format (PNG_FORMAT_GRAY, PNG_FORMAT_RGB, PNG_FORMAT_LINEAR_Y
// for 16-bit grey) and its pixels in that format, 16-bit samples in host order. No pixels and
// format ~0 when it is no PNG.
struct Png {
    int width = 0, height = 0;
    uint32_t format = ~0u;
    std::vector<uint8_t> bytes;

    std::vector<uint16_t> Samples() const {
        std::vector<uint16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), 2 * samples.size());
        return samples;
    }
};

inline Png ReadPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Png png;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return png;
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
    void TearDown() override { RunTool({"/bin/rm", "-rf", dir}, "/tmp"); }

    std::string dir;
};

}  // namespace kx_tools_test
