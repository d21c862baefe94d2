#include "MacroFixture.h"
#include "lua/LuaUtils.h"
#include "macro/StopMacro_u.h"

#include <QListWidget>

namespace pek::test {
namespace {

// The caption is the path as Lua's position text gives it: shortened with "..." when long.
bool CaptionNames(const std::string& caption, const std::string& path)
{
    if (caption == path) return true;
    return caption.size() > 3 && caption.compare(caption.size() - 3, 3, "...") == 0 &&
           path.compare(0, caption.size() - 3, caption, 0, caption.size() - 3) == 0;
}

TEST_F(MacroTest, ScriptErrorsShowTheLineAndMessage)
{
    struct Case {
        std::string script, box, pane;
    };
    const std::string undefinedAt12 = "Line = 12\r\r attempt to call global 'undefinedFn' (a nil value)";
    const Case cases[] = {
        {std::string(11, '\n') + "undefinedFn()\n", undefinedAt12, ""},
        {std::string(11, '\r') + "undefinedFn()", undefinedAt12, ""},
        {"-- a\r\n-- b\r\n" + std::string(9, '\n') + "undefinedFn()\r\n", undefinedAt12, ""},
        {"io.write('ran')\nx = = 1\n", "Line = 2\r\r unexpected symbol near '='", ""},
        {"io.write('a', 1, {})", "Line = 1\r\r bad argument #3 to 'write' (string expected, got table)", "a\t1\t"},
        {"\nerror('mine')", "Line = 2\r\r mine", ""},
    };
    for (const auto& c : cases) {
        dialogs.boxes.clear();
        window.SheetPane(0)->SetText("");
        const std::string path = Script("e.lua", c.script);
        host->Run(0, path);
        ASSERT_TRUE(Finish());
        ASSERT_EQ(dialogs.boxes.size(), 1u) << c.box;
        EXPECT_EQ(dialogs.boxes[0].text, c.box);
        EXPECT_TRUE(CaptionNames(dialogs.boxes[0].caption, path)) << dialogs.boxes[0].caption;
        EXPECT_EQ(window.PaneText(0), c.pane);
        EXPECT_TRUE(host->RunningMacros().empty());
    }
    dialogs.boxes.clear();
    const std::string gone = window.Dir().file("gone.lua").string();
    EXPECT_NE(host->Run(0, gone), 0u);
    ASSERT_TRUE(Finish());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, gone + Utf8ToCp932(" が見つかりません。"));
    EXPECT_TRUE(host->RunningMacros().empty());
}

TEST_F(MacroTest, StopEndsAWaitAtOnceAndPcallCannotKeepIt)
{
    const std::uint64_t plain = Start("io.write('in') Wait(100000) io.write('after')", 0, "a.lua");
    const std::uint64_t caught = Start(
        "local ok, e = pcall(Wait, 100000) io.write(tostring(ok), e) GetTime() io.write('never')", 1, "b.lua");
    ASSERT_TRUE(Shows("in"));
    EXPECT_EQ(host->RunningMacros().size(), 2u);
    EXPECT_TRUE(host->Stop(plain));
    EXPECT_TRUE(host->Stop(caught));
    ASSERT_TRUE(Finish());
    EXPECT_EQ(window.PaneText(0), "in");
    EXPECT_EQ(window.PaneText(1), "false\tSTOP");
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_TRUE(host->RunningMacros().empty());
    EXPECT_FALSE(host->Stop(plain));  // ended runs are left alone
}

TEST_F(MacroTest, RunsOfOneFileAreListedApartAndForcedStopEndsABusyLoop)
{
    const std::string path = Script("same.lua", "Wait(100000)");
    const std::uint64_t first = host->Run(0, path);
    const std::uint64_t second = host->Run(0, path);
    auto list = host->RunningMacros();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Text, "Com1: " + path);
    EXPECT_EQ(list[1].Text, list[0].Text);
    EXPECT_NE(first, second);
    host->Stop(first);
    ASSERT_TRUE(WaitUntil([&] { return host->RunningMacros().size() == 1; }));
    EXPECT_EQ(host->RunningMacros()[0].Id, second);

    const std::uint64_t busy =
        Start("io.write('busy') while true do pcall(function() while true do end end) end", 1, "busy.lua");
    ASSERT_TRUE(Shows("busy", 1));
    EXPECT_TRUE(host->ForcedStop(busy));
    EXPECT_TRUE(WaitUntil([&] { return host->RunningMacros().size() == 1; }));  // removed once it ended
    host->Stop(second);
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(MacroTest, TransStartsAnIndependentThreadRun)
{
    const std::string second = Script("second.lua", "Wait(20) io.write('second')");
    Start("Trans('!!" + second + "') io.write('first', #arg)");
    ASSERT_TRUE(Shows("second"));
    ASSERT_TRUE(Finish());
    EXPECT_EQ(window.PaneText(0).find("first\t0"), 0u);
    ASSERT_EQ(window.commands.size(), 1u);
    EXPECT_FALSE(window.commands[0].fromUser);
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(MacroTest, LockIsClearedOnlyWhenNoRunIsListed)
{
    Start("Lock(true)");
    ASSERT_TRUE(Finish());
    Start("io.write(tostring(Lock(true)))");  // none listed: cleared at start
    ASSERT_TRUE(Finish());
    const std::uint64_t holder = Start("Lock(true) io.writeEx(1, 'held') Wait(100000)");
    ASSERT_TRUE(Shows("held", 1));
    Start("io.write(tostring(Lock(true)))");  // the holder is listed: still taken
    ASSERT_TRUE(WaitUntil([&] { return host->RunningMacros().size() == 1; }));
    host->Stop(holder);
    ASSERT_TRUE(Finish());
    EXPECT_EQ(window.PaneText(0), "truefalse");
}

// A state run on the main thread (as the debugger runs one): every call is made directly.
TEST_F(MacroTest, StateOnTheMainThreadCallsDirectly)
{
    std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
    LuaInitState(L.get());
    window.active = 1;
    host->OnDebuggerState(L.get());
    LuaLoadBuffer(L.get(), "io.write('dbg', _PekNo) io.write('!') Wait(1) Trans('t') RingBufPos()", "d");
    EXPECT_THROW(LuaPCall(L.get(), 0, 0), ELuaException);  // sheet 1 has no port
    EXPECT_EQ(window.PaneText(1), "dbg\t1!");
    ASSERT_EQ(window.commands.size(), 1u);
    EXPECT_EQ(window.commands[0].sheet, 1);
}

TEST_F(MacroTest, StopWindowActsOnTheSelectedRunAndClosingStopsAll)
{
    EXPECT_TRUE(window.Action("ViewStopMcrAct")->isEnabled());
    Start("Wait(100000)", 0, "w.lua");
    Start("io.write('spin') while true do end", 0, "spin.lua");
    ASSERT_TRUE(Shows("spin"));
    window.Action("ViewStopMcrAct")->trigger();
    TStopMacroForm& form = host->StopMacroForm();
    EXPECT_TRUE(form.isVisible());
    window.ExecCommand(1, "x", true);  // any command refreshes the list
    ASSERT_EQ(form.MacroLBox->count(), 2);

    form.ForcedStopBtnClick();  // nothing selected: only a refresh
    EXPECT_EQ(form.MacroLBox->count(), 2);
    form.MacroLBox->setCurrentRow(1);
    EXPECT_TRUE(form.MacroLBox->item(1)->text().endsWith("spin.lua"));
    form.ForcedStopBtnClick();
    EXPECT_TRUE(WaitUntil([&] { return form.MacroLBox->count() == 1; }));

    Start("Wait(100000)", 0, "w2.lua");
    window.Close();
    EXPECT_TRUE(host->RunningMacros().empty());
    EXPECT_TRUE(host->WaitIdle(0));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(host->Run(0, Script("late.lua", "")), 0u);  // the window is gone
    EXPECT_TRUE(dialogs.boxes.empty());
}

}  // namespace
}  // namespace pek::test
