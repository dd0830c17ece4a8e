// kestrix-camsim: the camera emulator. Serves until it is told to stop (SIGINT or SIGTERM, Ctrl+C
// on Windows), or writes a dump and exits.
#include <cstdio>
#include <string>
#include <vector>

#include "camera.h"
#include "dump.h"
#include "options.h"
#include "server.h"
#include "stop_request.h"

int main(int argc, char** argv) {
    camsim::CameraOptions options;
    std::string error;
    const std::vector<std::string> args(argv + 1, argv + argc);
    switch (camsim::ParseOptions(args, options, error)) {
        case camsim::ParseResult::Help:
            std::fputs(camsim::HelpText().c_str(), stdout);
            return 0;
        case camsim::ParseResult::Error:
            std::fprintf(stderr, "kestrix-camsim: %s\n(see --help)\n", error.c_str());
            return 2;
        case camsim::ParseResult::Run:
            break;
    }

    std::shared_ptr<camsim::Camera> camera = camsim::Camera::Create(options, error);
    if (!camera) {
        std::fprintf(stderr, "kestrix-camsim: %s\n", error.c_str());
        return 1;
    }
    if (!options.dumpFile.empty()) {
        if (!camsim::DumpFrames(*camera, options.dumpFile, options.dumpFrames, error)) {
            std::fprintf(stderr, "kestrix-camsim: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }

    camsim::PrepareStopRequest();
    camsim::CameraServer server(options, camera);
    if (!server.Start(error)) {
        std::fprintf(stderr, "kestrix-camsim: %s\n", error.c_str());
        return 1;
    }
    camsim::WaitForStopRequest();
    if (options.log) std::fprintf(stderr, "kestrix-camsim: stopping\n");
    server.Stop();
    return 0;
}
