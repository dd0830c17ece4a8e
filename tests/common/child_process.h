// Child processes of a test (the camera emulator, a private X server), started with posix_spawn,
// which also serves under ThreadSanitizer where forking a threaded process does not, and ended by
// their PID with the object.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kx_test {

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }

    // Starts args[0] (looked up on PATH when it has no slash). The child's descriptor `lineFd`
    // writes into a pipe that FirstLine reads; with `quiet` its standard output and error go to
    // /dev/null (except `lineFd`).
    bool Start(std::vector<std::string> args, int lineFd = STDERR_FILENO, bool quiet = false) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (quiet) {
            for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
                if (fd != lineFd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
            }
        }
        posix_spawn_file_actions_adddup2(&actions, fds[1], lineFd);  // dup2 clears close-on-exec
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_lines = fds[0];
        if (spawned != 0) {
            m_pid = -1;
            return false;
        }
        return true;
    }

    // The first line the child writes to `lineFd` within `limit`, without its end of line; empty
    // when none came. Everything after it is read and dropped on a thread of ours, so that the
    // child never blocks on a full pipe.
    std::string FirstLine(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        char c = 0;
        while (m_lines >= 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_lines, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            if (read(m_lines, &c, 1) != 1) break;
            if (c == '\n') {
                m_drain = std::thread([fd = m_lines] {
                    char buffer[4096];
                    while (read(fd, buffer, sizeof buffer) > 0) {
                    }
                });
                return line;
            }
            line += c;
        }
        return {};
    }

    // Asks the child to end (SIGTERM) and waits up to five seconds before SIGKILL.
    void Stop() { End(SIGTERM); }
    // Ends the child at once, as a crash or a pulled cable would.
    void Kill() { End(SIGKILL); }
    bool Running() const { return m_pid > 0; }

  private:
    void End(int signal) {
        if (m_pid > 0) {
            kill(m_pid, signal);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) usleep(50000);
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
            m_pid = -1;
        }
        if (m_drain.joinable()) m_drain.join();  // the pipe ends with the child
        if (m_lines >= 0) close(m_lines);
        m_lines = -1;
    }

    pid_t m_pid = -1;
    int m_lines = -1;
    std::thread m_drain;
};

// The camera emulator on a free loopback port, which it names in its first line
// ("listening on 127.0.0.1:PORT"; so never with --quiet, which leaves that line out).
class EmulatorProcess : public ChildProcess {
  public:
    bool Start(const std::string& program, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {program, "--address", "127.0.0.1", "--port", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!ChildProcess::Start(args)) return false;
        const std::string line = FirstLine();
        const size_t colon = line.rfind(':');
        if (line.find("listening on") == std::string::npos || colon == std::string::npos) return false;
        m_port = std::atoi(line.c_str() + colon + 1);
        return m_port > 0;
    }
    int Port() const { return m_port; }

  private:
    int m_port = 0;
};

// An Xvfb of the test's own, on a display number that the server picks and writes when it
// accepts connections.
class XvfbProcess : public ChildProcess {
  public:
    bool Start(const std::string& screen = "1024x768x24") {
        if (!ChildProcess::Start({"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", screen},
                                 3, true)) {
            return false;
        }
        const std::string number = FirstLine();
        if (number.empty()) return false;
        m_name = ":" + number;
        return true;
    }
    // The display name for XOpenDisplay or DISPLAY, ":N".
    const std::string& Name() const { return m_name; }

  private:
    std::string m_name;
};

}  // namespace kx_test
