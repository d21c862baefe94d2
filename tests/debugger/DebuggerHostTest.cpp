// "!" runs under the debugger while it is idle: listed with its mark while it runs, Trans("!...")
// from inside it starts a thread run, and a file that cannot be read leaves no entry behind.
#include "debugger/DebuggerHost.h"
#include "debugger/MacroFrm.h"
#include "macro/MacroFixture.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QTimer>

#include <filesystem>

namespace pek::test {
namespace {

class DebuggerHostTest : public MacroTest {
protected:
    std::unique_ptr<TDebuggerHost> debugger = AttachDebugger(window, *host);
    void TearDown() override
    {
        debugger.reset();
        MacroTest::TearDown();
    }
};

TEST_F(DebuggerHostTest, BangRunsUnderTheDebuggerWhileIdle)
{
    const std::string inner = Script("inner.lua", "io.write('inner ran')\n");
    const std::string outer = Script("outer.lua", "io.write('outer ran')\nTrans('!" + inner + "')\nprint('done')\n");
    // The inner "!" finds the debugger busy and runs as a thread run; Trans returns at once.
    window.ExecCommand(0, "!" + outer, true);
    EXPECT_TRUE(Shows("outer ran"));
    EXPECT_TRUE(Shows("inner ran"));
    EXPECT_TRUE(Finish());
    EXPECT_FALSE(debugger->Form().IsRunning());
    EXPECT_TRUE(host->RunningMacros().empty());
    EXPECT_EQ(debugger->Form().memConsole->toPlainText(), "done\n");

    // Listed while it runs: a breakpoint holds it, and the listing is read from the stop.
    debugger->Form().ToggleBreakPoint(outer, 2);
    std::string entry;
    QTimer::singleShot(0, &debugger->Form(), [&] {
        WaitUntil([&] { return debugger->Form().IsRunning() && !debugger->Form().Engine().Executing(); });
        std::uint64_t id = 0;
        for (const auto& e : host->RunningMacros())
            if (e.Thread == nullptr) {
                entry = e.Text;
                id = e.Id;
            }
        // The stop-macro window's stop reaches the debugger.
        EXPECT_TRUE(host->Stop(id));
    });
    host->RunCommand(0, outer, false);
    EXPECT_NE(entry.find(Sjis(" (ﾃﾞﾊﾞｯｶﾞ付)")), std::string::npos) << entry;
    EXPECT_TRUE(Finish());
    EXPECT_TRUE(host->RunningMacros().empty());
}

TEST_F(DebuggerHostTest, AnUnreadableFileLeavesNoEntry)
{
    const std::string locked = Script("locked.lua", "print(1)\n");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    if (std::FILE* f = std::fopen(locked.c_str(), "rb")) {
        std::fclose(f);
        GTEST_SKIP() << "running with rights that read any file";
    }
    host->RunCommand(0, locked, false);
    EXPECT_TRUE(host->RunningMacros().empty());
    EXPECT_FALSE(dialogs.boxes.empty());
}

}  // namespace
}  // namespace pek::test
