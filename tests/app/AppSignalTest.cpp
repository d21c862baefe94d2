// The program closed by a signal saves what closing its window saves.
#include "platform/Profile.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
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

class AppSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(AppSignalTest, ClosesAsTheUserWouldAndSavesItsSheets)
{
    TempDir dir;
    PtyPair pty;
    const std::string ini = dir.file("pek.ini").string();
    WriteFileBytes(ini, "[Ports]\r\nCOM1=" + pty.slavePath() + "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\n"
                        "ComBitRate=9600\r\n");
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* argv[] = {PEK_PATH, "--ini", ini.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, PEK_PATH, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    // The caption names the port once the sheets are up.
    const auto caption = dir.path() / "pek" / (std::to_string(pid) + ".0.caption");
    const bool ready = WaitFor([&] { return ReadFileBytes(caption).find("-COM1") != std::string::npos; });
    if (!ready) kill(pid, SIGKILL);
    ASSERT_TRUE(ready);
    ASSERT_EQ(kill(pid, GetParam()), 0);
    int status = -1;
    ASSERT_TRUE(WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const ProfileFile saved(ini);
    EXPECT_EQ(saved.ReadInteger("No0", "ComBitRate", 0), 9600);
    EXPECT_TRUE(saved.ValueExists("No0", "EditFileName"));
    EXPECT_TRUE(saved.ValueExists("\x8a\xc2\x8b\xab", "Width"));  // the window section "環境"
}

INSTANTIATE_TEST_SUITE_P(Signals, AppSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

}  // namespace
}  // namespace pek::test
