// kestrix-convert: turns raw record files and snapshots into PNG pictures, or their parameter rows
// into CSV, one image at a time so that a long recording never has to fit in memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "convert.h"
#include "recorder.h"

namespace {

using namespace kestrix;

void Complain(const std::string& message) {
    std::fprintf(stderr, "kestrix-convert: %s\n", message.c_str());
}

bool ReadAt(int fd, uint64_t offset, uint8_t* out, size_t size) {
    while (size > 0) {
        const ssize_t n = pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Replaces an earlier PNG of the same name: converting again gives the same files.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(fd, bytes.data(), bytes.size());
    if (!written) *error = std::strerror(errno);
    if (close(fd) != 0 && written) {
        *error = std::strerror(errno);
        return false;
    }
    return written;
}

bool g_bParamsHeaderWritten = false;

struct InputFile {
    int fd;
    ~InputFile() {
        if (fd >= 0) close(fd);
    }
};

// Converts the chosen frames of one input; false after telling what went wrong.
bool ConvertInput(const ConvertOptions& options, const std::string& input) {
    const InputFile file{open(input.c_str(), O_RDONLY | O_CLOEXEC)};
    const int fd = file.fd;
    if (fd < 0) {
        Complain("cannot read " + input + ": " + std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Complain(input + " is not a file");
        return false;
    }
    uint64_t first = 0, last = 0;
    const std::string refusal =
        SelectFrames(static_cast<uint64_t>(st.st_size), options, &first, &last);
    if (!refusal.empty()) {
        Complain(input + ": " + refusal);
        return false;
    }

    if (options.params && !g_bParamsHeaderWritten) {
        std::fputs(FrameConverter::kParamsHeader, stdout);
        g_bParamsHeaderWritten = true;
    }
    const bool single = static_cast<uint64_t>(st.st_size) == ImageBytes(options);
    FrameConverter converter(options);
    std::vector<uint8_t> image(ImageBytes(options)), png;
    bool ok = true;
    uint64_t written = 0;
    for (uint64_t frame = first; frame <= last && ok; ++frame) {
        if (!ReadAt(fd, frame * image.size(), image.data(), image.size())) {
            Complain(input + ": read error at frame " + std::to_string(frame));
            ok = false;
        } else if (options.params) {
            const std::string line =
                FrameConverter::ParamsLine(image.data(), options.width, options.height);
            std::fputs(line.c_str(), stdout);
        } else {
            const std::string path = OutputPngPath(input, options.outDir, frame, single);
            std::string error = "cannot encode the picture";
            ok = converter.ToPng(image.data(), &png) && WriteFile(path, png, &error);
            if (!ok) Complain("cannot write " + path + ": " + error);
            written += ok;
        }
    }
    if (!options.params && written > 0) {
        Complain(input + ": " + std::to_string(written) + " PNG file" + (written == 1 ? "" : "s") +
                 " written");
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    ConvertOptions options;
    const std::string error =
        ParseConvertOptions(std::vector<std::string>(argv + 1, argv + argc), &options);
    if (!error.empty()) {
        Complain(error + " (--help lists the options)");
        return 2;
    }
    if (options.help) {
        std::fputs(kConvertUsage, stdout);
        return 0;
    }
    if (!options.outDir.empty()) mkdir(options.outDir.c_str(), 0755);

    bool ok = true;
    for (const std::string& input : options.inputs) ok = ConvertInput(options, input) && ok;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Complain(std::string("cannot write standard output: ") + std::strerror(errno));
        ok = false;
    }
    return ok ? 0 : 1;
}
