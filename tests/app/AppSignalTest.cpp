// The program closed by a signal saves what closing its window saves.
#include "platform/CopyData.h"
#include "platform/Profile.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace pek::test {
namespace {

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts pek on the settings file in `dir` and waits until its caption names the port (the sheets
// are up); 0 when it did not come up (it is killed then).
pid_t StartPek(const TempDir& dir, const std::string& ini)
{
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* argv[] = {PEK_PATH, "--ini", ini.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, PEK_PATH, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return 0;
    const auto caption = dir.path() / "pek" / (std::to_string(pid) + ".0.caption");
    if (WaitFor([&] { return ReadFileBytes(caption).find("-COM1") != std::string::npos; })) return pid;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return 0;
}

// A settings file with sheet 0 on the pty's device, plus `extra` keys of that sheet.
std::string PortIni(const TempDir& dir, const PtyPair& pty, const std::string& extra)
{
    const std::string ini = dir.file("pek.ini").string();
    WriteFileBytes(ini, "[Ports]\r\nCOM1=" + pty.slavePath() + "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\n" + extra);
    return ini;
}

// Sends the signal and waits for the end; the wait status, or -1 when it did not end in time
// (it is killed then).
int StatusAfterSignal(pid_t pid, int signal, std::chrono::seconds limit)
{
    int status = -1;
    if (kill(pid, signal) != 0) return -1;
    if (WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit)) return status;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

class AppSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(AppSignalTest, ClosesAsTheUserWouldAndSavesItsSheets)
{
    TempDir dir;
    PtyPair pty;
    const std::string ini = PortIni(dir, pty, "ComBitRate=9600\r\n");
    const pid_t pid = StartPek(dir, ini);
    ASSERT_NE(pid, 0);
    const int status = StatusAfterSignal(pid, GetParam(), std::chrono::seconds(60));
    ASSERT_NE(status, -1) << "still running";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const ProfileFile saved(ini);
    EXPECT_EQ(saved.ReadInteger("No0", "ComBitRate", 0), 9600);
    EXPECT_TRUE(saved.ValueExists("No0", "EditFileName"));
    EXPECT_TRUE(saved.ValueExists("\x8a\xc2\x8b\xab", "Width"));  // the window section "環境"
}

INSTANTIATE_TEST_SUITE_P(Signals, AppSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

// Closed while scripts loop where a stop is hardest to deliver (a coroutine, a finalizer, under
// pcall, inside the regular-expression library) and a paced send is under way, the program still
// ends at once, with status 0 and its settings written.
TEST(AppClose, EndsPromptlyWhateverTheScriptsAndTheSendAreDoing)
{
    TempDir dir;
    PtyPair pty;
    const std::string ini = PortIni(dir, pty, "ComDelayTrans=10000\r\n");
    const auto marker = [&](const std::string& name) { return dir.file(name + ".started").string(); };
    const std::map<std::string, std::string> scripts = {
        {"co", "coroutine.wrap(function() while true do end end)()"},
        {"gc", "setmetatable({}, {__gc = function() while true do end end})\ncollectgarbage()"},
        {"pcall", "while true do pcall(function() while true do end end) end"},
        {"regex", "local r = Regex({})\nlocal s = string.rep('a', 200000) .. 'b'\n"
                  "while true do pcall(r.Match, r, '(a+)+$', s) end"},
    };
    for (const auto& [name, body] : scripts)
        WriteFileBytes(dir.file(name + ".lua"), "io.open('" + marker(name) + "', 'w'):close()\n" + body + "\n");
    const pid_t pid = StartPek(dir, ini);
    ASSERT_NE(pid, 0);
    const auto windows = ListCopyDataWindows((dir.path() / "pek").string());
    if (windows.empty()) kill(pid, SIGKILL);
    ASSERT_FALSE(windows.empty());
    for (const auto& entry : scripts)
        EXPECT_EQ(SendCopyData(windows[0].socketPath, 0, "!!" + dir.file(entry.first + ".lua").string()), std::optional<bool>(true));
    EXPECT_EQ(SendCopyData(windows[0].socketPath, 0, "ABCDEFGH"), std::optional<bool>(true));  // 10 s a byte
    const bool running = WaitFor([&] {
        for (const auto& entry : scripts)
            if (!std::filesystem::exists(marker(entry.first))) return false;
        return true;
    });
    EXPECT_TRUE(running);
    // Bounded well below what any of these states took before (9 s to for ever).
    const int status = StatusAfterSignal(pid, SIGTERM, std::chrono::seconds(6));
    ASSERT_NE(status, -1) << "still running";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(ProfileFile(ini).ValueExists("\x8a\xc2\x8b\xab", "Width"));  // the window section "環境"
}

}  // namespace
}  // namespace pek::test
