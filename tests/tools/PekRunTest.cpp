// pek-run as a process: scripts against a pty device, judged by exit status and output.
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using pek::test::PtyPair;
using pek::test::TempDir;

// Plays a device on the master end: every line ending in CR is answered "OK", except "quiet".
class OkDevice {
public:
    OkDevice()
        : thread_([this] {
              std::string line;
              while (!stop_) {
                  pollfd p{pty_.masterFd(), POLLIN, 0};
                  if (::poll(&p, 1, 20) != 1) continue;
                  char c = 0;
                  if (::read(pty_.masterFd(), &c, 1) != 1) continue;
                  if (c != '\r') {
                      line += c;
                      continue;
                  }
                  if (line != "quiet") pty_.write("OK\r\n");
                  line.clear();
              }
          })
    {
    }
    ~OkDevice()
    {
        stop_ = true;
        thread_.join();
    }
    const std::string& path() const { return pty_.slavePath(); }

private:
    PtyPair pty_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Finished {
    int status = -1;  // exit status, or 128 + the signal that killed it
    std::string out, err;
};

// Runs pek-run without a display. With signalWhen, the signal is sent once standard output holds
// that text.
Finished RunPekRun(const std::vector<std::string>& arguments, int signal = 0, const std::string& signalWhen = "")
{
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.emplace_back(*e);
    std::vector<char*> envp, argv{const_cast<char*>(PEK_RUN_PATH)};
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = arguments;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, PEK_RUN_PATH, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) throw std::runtime_error("spawn");

    Finished result;
    bool signalled = signal == 0;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && std::chrono::steady_clock::now() < deadline) {
        if (::poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, std::size_t(n));
        }
        if (!signalled && result.out.find(signalWhen) != std::string::npos) {
            ::kill(pid, signal);
            signalled = true;
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

struct Case {
    const char* name;
    const char* script;
    std::vector<std::string> options;  // before the script
    int status;
    const char* out;  // expected in standard output ("" for anything)
    const char* err;  // expected in standard error
    int signal = 0;
};

// One line, so the case's own lines are numbered from 2: sends "AT", waits for the answer and
// shows its first four bytes.
const char* const AskOk = "local p, t0 = RingBufPos(), GetTime(); Trans('AT'); "
                          "while RingBufSrch(p, 'OK') == 0 do if GetTime() - t0 > 10000 then error('no answer') end; Wait(1) end; "
                          "printf(RingBufGet(p, 4), '\\n')\n";

TEST(PekRun, ExitStatusAndOutputOfScripts)
{
    OkDevice device;
    TempDir dir;
    const std::string waitEndless = "printf('ready\\n')\nWait(math.huge)\n";
    const std::vector<Case> cases = {
        {"answered, the answer once in the ring buffer", "printf(RingBufDataSize(0), '\\n')\nprintf(#arg, arg[1], arg[2])\n", {},
         0, "OK\r\n\t\n4\t\n2\tx\ty", ""},
        {"script error", "printf('before\\n')\nlocal x\nx.y = 1\n", {}, 1, "before\n", "case.lua:4: attempt to index"},
        {"os.exit inside pcall", "pcall(os.exit, 7)\nprintf('after exit')\n", {}, 7, "", ""},
        {"os.exit(false)", "os.exit(false)\n", {}, 1, "", ""},
        {"os.exit(2^63)", "os.exit(2^63)\n", {}, 255, "", ""},
        {"os.exit(NaN)", "os.exit(0/0)\n", {}, 0, "", ""},
        {"os.exit's finalizer called by the script", "local ud = select(2, debug.getupvalue(os.exit, 1))\n"
                                                    "local gc = debug.getmetatable(ud).__gc\ngc(ud) gc(ud)\n"
                                                    "printf(tostring(pcall(gc, 5)), '\\n')\nos.exit(3)\n",
         {}, 1, "false", "outcome is gone"},
        {"time-out", waitEndless.c_str(), {"--timeout", "0.3"}, 124, "ready\n", "time-out"},
        {"time-out of a busy loop", "while true do end\n", {"--timeout", "0.3"}, 124, "", "time-out"},
        {"no answer: the script fails", "Trans('quiet')\nlocal p = RingBufPos()\nlocal t0 = GetTime()\n"
                                        "while RingBufSrch(p, 'OK') == 0 do\n"
                                        "  if GetTime() - t0 > 200 then error('no answer') end\n  Wait(1)\nend\n",
         {}, 1, "", "case.lua:6: no answer"},
        {"SIGINT", waitEndless.c_str(), {}, 130, "ready\n", "", SIGINT},
        {"SIGTERM", waitEndless.c_str(), {}, 143, "ready\n", "", SIGTERM},
        {"window-only functions", "for _, f in ipairs{'Editor', 'MessageBox', 'GuiLabel'} do\n"
                                  "  local ok, e = pcall(_G[f])\n  printf(e .. '\\n')\nend\n"
                                  "local r = Regex{}; local function e(k) return (select(2, pcall(function() return r[k] end)):gsub('^.*: ', '')) end\n"
                                  "printf(tostring(r:Match('b+', 'abbc')), r[1], e('Text'), e('No'))\n"
                                  "Editor()\n",
         {}, 1, "MessageBox needs a window: pek-run has none\nGuiLabel needs a window: pek-run has none\n"
                "true\tbb\tText needs a window\tNo needs a window", "case.lua:8: Editor needs a window"},
        {"missing script", nullptr, {}, 1, "", "nothing.lua"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script = "nothing.lua";
        if (c.script != nullptr) {
            // The answer to the script's "AT" is in standard output before the case's own part runs.
            const std::string text = std::string(AskOk) + c.script;
            pek::test::WriteFileBytes(dir.file("case.lua"), text);
            script = dir.file("case.lua").string();
        }
        std::vector<std::string> args = {"--device", device.path(), "--flow", "none", "--log", dir.file("run.log").string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(script);
        args.insert(args.end(), {"x", "y"});
        const Finished run = RunPekRun(args, c.signal, "ready\n");
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("after exit"), std::string::npos);
        if (c.script != nullptr) {
            // The log was closed with the run: what was sent and received is in it.
            const std::string log = pek::test::ReadFileBytes(dir.file("run.log"));
            EXPECT_NE(log.find("AT\r"), std::string::npos) << log;
            EXPECT_NE(log.find("OK\r\n"), std::string::npos) << log;
        }
    }
}

TEST(PekRun, BadArgumentsAreRefusedAndHelpIsASuccess)
{
    const Finished help = RunPekRun({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: pek-run"), std::string::npos);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--baud"}, {"--flow", "sideways", "x.lua"}, {"--timeout", "0", "x.lua"}, {"--framing", "9N1", "x.lua"}}) {
        const Finished run = RunPekRun(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find("usage: pek-run"), std::string::npos);
    }
}

}  // namespace
