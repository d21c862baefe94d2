// "!" runs under the debugger while it is idle: listed with its mark while it runs, Trans("!...")
// from inside it starts a thread run, and a file that cannot be read leaves no entry behind.
#include "debugger/DebuggerHost.h"
#include "debugger/MacroFrm.h"
#include "macro/MacroFixture.h"

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
    // The console has what every run wrote while the debugger exists, thread runs too.
    const std::string& console = debugger->Form().View().Console();
    for (const char* text : {"outer ran", "inner ran", "done\r\n"}) EXPECT_NE(console.find(text), std::string::npos) << console;

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

TEST_F(DebuggerHostTest, TransFromAThreadRunWaitsForTheDebuggedRun)
{
    const std::string inner = Script("inner.lua", "io.write('inner ')\n");
    Start("Trans('!" + inner + "')\nio.write('after')\n", 0, "outer.lua");
    EXPECT_TRUE(Finish());
    EXPECT_TRUE(Shows("inner after"));
    EXPECT_TRUE(debugger->Form().IsRunning() == false);
    EXPECT_EQ(debugger->Form().ActiveTab()->FileName(), inner);  // it ran under the debugger
}

TEST_F(DebuggerHostTest, AFileThatCannotBeLoadedLeavesNoEntry)
{
    // It passed the existence check, but it is no file that can be read.
    const std::string folder = window.Dir().file("folder.lua").string();
    std::filesystem::create_directory(folder);
    host->RunCommand(0, folder, false);
    EXPECT_TRUE(host->RunningMacros().empty());
    EXPECT_FALSE(dialogs.boxes.empty());
}

}  // namespace
}  // namespace pek::test
