// pek-run round trips: a script sends "AT" with Trans and polls RingBufSrch with Wait(1) until
// the pty device answers "OK"; beside it, the same exchange as a plain write/read loop on the pty,
// the ceiling no script can pass.
#include "bench/common/BenchSupport.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace pek::bench;

// Answers every line ending in CR with "OK\r\n" until told to stop.
class Answerer {
public:
    explicit Answerer(int master)
        : thread_([this, master] {
              char buffer[256];
              while (!stop_) {
                  pollfd p{master, POLLIN, 0};
                  if (::poll(&p, 1, 20) != 1) continue;
                  const ssize_t n = ::read(master, buffer, sizeof buffer);
                  for (ssize_t i = 0; i < n; ++i)
                      if (buffer[i] == '\r' && ::write(master, "OK\r\n", 4) != 4) return;
              }
          })
    {
    }
    ~Answerer()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double PlainLoop(const std::string& path, int rounds)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror("open");
        std::exit(1);
    }
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        if (::write(fd, "AT\r", 3) != 3) std::exit(1);
        std::string got;
        char buffer[64];
        while (got.find("OK\r\n") == std::string::npos) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) std::exit(1);
            got.append(buffer, std::size_t(n));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    return rounds / seconds;
}

// Round trips per second as the script measured them (its own GetTime), so start-up is not counted.
double ScriptLoop(const std::string& path, int rounds)
{
    const std::string script = "/tmp/pek-run-bench.lua";
    std::ofstream(script) << "local n = tonumber(arg[1])\n"
                             "local t0 = GetTime()\n"
                             "for i = 1, n do\n"
                             "  local p = RingBufPos()\n"
                             "  Trans('AT')\n"
                             "  while RingBufSrch(p, 'OK') == 0 do Wait(1) end\n"
                             "end\n"
                             "printf(GetTime() - t0)\n";
    int out[2];
    if (::pipe(out) != 0) std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string count = std::to_string(rounds);
    std::vector<std::string> args = {PEK_RUN_PATH, "--device", path, "--flow", "none", script, count};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, PEK_RUN_PATH, &actions, nullptr, argv.data(), environ) != 0) std::exit(1);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::remove(script.c_str());
    const double ms = std::atof(text.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || ms <= 0) {
        std::fprintf(stderr, "pek-run failed: %s\n", text.c_str());
        std::exit(1);
    }
    return rounds / (ms / 1000.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    Pty pty;
    Answerer answerer(pty.master);
    std::printf("round trips of \"AT\" -> \"OK\" on a pty, %d each\n", rounds);
    std::printf("  plain write/read loop:               %6.0f /s\n", PlainLoop(pty.path, rounds));
    std::printf("  pek-run Trans + RingBufSrch/Wait(1): %6.0f /s\n", ScriptLoop(pty.path, rounds));
    return 0;
}
