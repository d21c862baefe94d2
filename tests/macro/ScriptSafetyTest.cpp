// Hostile scripts: whatever a run does, Pek stays alive and a stop or closing ends it.
#include "MacroFixture.h"
#include "ScriptResults.h"
#include "lua/LuaSafeLoad.h"
#include "lua/LuaUtils.h"
#include "platform/CodePage.h"

#include <QElapsedTimer>

namespace pek::test {
namespace {

class SafetyTest : public MacroTest {
protected:
    // Runs the script on sheet 0 to its end; what it gathered with say(), shown on sheet 2.
    std::string Gather(const std::string& utf8Text)
    {
        const std::string before = window.PaneText(2);
        Start(std::string(ScriptResults) + utf8Text + "\nio.writeEx(2, table.concat(out, '\\n') .. '\\n')");
        EXPECT_TRUE(Finish());
        for (const auto& box : dialogs.boxes) ADD_FAILURE() << box.text;
        return WithoutCr(window.PaneText(2).substr(before.size()));
    }
    // The id of a run started on sheet 1 once it has shown "go".
    std::uint64_t Going(const std::string& utf8Text, const std::string& name)
    {
        const std::uint64_t id = Start(utf8Text, 1, name);
        EXPECT_TRUE(Shows("go", 1));
        return id;
    }
};

TEST_F(SafetyTest, ExplicitFinalizerCallsFreeNothing)
{
    Start(R"(
for round = 1, 50 do
  for k, v in pairs(debug.getregistry()) do
    local mt = type(v) == 'userdata' and debug.getmetatable(v)
    if mt and type(mt.__gc) == 'function' then pcall(mt.__gc, v) end
  end
end
collectgarbage()
io.write('x'))");
    ASSERT_TRUE(Finish());
    ASSERT_EQ(dialogs.boxes.size(), 1u);  // its own context is gone: a script error, no crash
    EXPECT_NE(dialogs.boxes[0].text.find("no macro host"), std::string::npos) << dialogs.boxes[0].text;
}

TEST_F(SafetyTest, OnlySourceTextIsLoaded)
{
    const std::string dir = window.Dir().path().string();
    const std::string out = Gather(R"(
local bin = string.dump(function() return 1 end)
local f = io.open(')" + dir + R"(/bin.lua', 'wb') f:write(bin) f:close()
package.path = ')" + dir + R"(/?.lua'
local function refused(f, ...) local ok, a, b = pcall(f, ...) say(tostring(a), b or '') end
refused(load, bin)
refused(load, bin, 'x', 'b')
refused(load, bin, 'x', 'bt', {})
refused(loadstring, bin)
refused(load, function() local s = bin bin = nil return s end)
refused(loadfile, ')" + dir + R"(/bin.lua', 'b')
refused(dofile, ')" + dir + R"(/bin.lua')
refused(require, 'bin')
say(load('return 7')(), loadfile(')" + dir + R"(/bin.lua') == nil)
)");
    const std::string refusal = LuaBinaryRefusedText;
    const std::string expected = "nil " + refusal + "\n" + "nil " + refusal + "\n" + "nil " + refusal + "\n" +
                                 "nil " + refusal + "\n" + "nil " + refusal + "\n" + "nil " + refusal + "\n" +
                                 refusal + " \n" + "error loading module 'bin' from file '" + dir +
                                 "/bin.lua':\n\t" + refusal + " \n7 true\n";
    EXPECT_EQ(out, expected);

    // Nor is a precompiled file run as a macro.
    std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
    ASSERT_EQ(luaL_loadstring(L.get(), "io.write('ran')"), LUA_OK);
    std::string chunk;
    lua_dump(L.get(), [](lua_State*, const void* p, size_t n, void* ud) {
        static_cast<std::string*>(ud)->append(static_cast<const char*>(p), n);
        return 0;
    }, &chunk);
    WriteFileBytes(window.Dir().file("pre.lua").string(), chunk);
    dialogs.boxes.clear();
    host->Run(0, window.Dir().file("pre.lua").string());
    ASSERT_TRUE(Finish());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_NE(dialogs.boxes[0].text.find(refusal), std::string::npos) << dialogs.boxes[0].text;
}

TEST_F(SafetyTest, HugeNumbersAreClampedOrRefused)
{
    window.SheetPane(0)->SetText("abc\r\ndef");
    const std::string out = Gather(R"(
local e = {} Editor(e)
for _, v in ipairs{math.huge, -math.huge, 0/0, 2^63, -2^63} do
  e.SelStart = 1 e.SelLength = v
  local n = e.SelLength
  e.TopCol = v e.Col = v e.TopRow = v e.Row = v e.SelStart = v
  say(n, e.TopCol >= 0)
end
e.SelStart = 1 e.SelLength = 2 say(e.SelText)
say(E(RingBufGet, math.huge, -math.huge), E(RingBufGet, -math.huge, math.huge), E(RingBufDataSize, 0/0))
say(E(e.RowToLines, e, math.huge), E(e.GetLineString, e, -math.huge), E(e.ColToChar, e, math.huge, -math.huge))
)");
    EXPECT_EQ(out, "7 true\n0 true\n0 true\n7 true\n0 true\nbc\nno error no error no error\nno error no error no error\n");
    window.SheetPane(0)->grab();  // painted at the furthest column

    // A wait longer than any clock waits until the run is stopped.
    const std::uint64_t id = Start("io.writeEx(1, 'go') Wait(math.huge) io.writeEx(1, 'returned')", 0, "w.lua");
    ASSERT_TRUE(Shows("go", 1));
    EXPECT_FALSE(WaitUntil([&] { return window.PaneText(1).find("returned") != std::string::npos; }, 300));
    EXPECT_EQ(host->RunningMacros().size(), 1u);
    host->Stop(id);
    EXPECT_TRUE(Finish());
    EXPECT_EQ(window.PaneText(1), "go");
}

TEST_F(SafetyTest, ForcedStopReachesCoroutinesAndFinalizersAndListsTheRunUntilItEnded)
{
    const std::string loops[] = {
        // A coroutine made before the stop, busy under pcall.
        "local co = coroutine.create(function() io.write('go') while true do pcall(function() while true do end end) end end)"
        " coroutine.resume(co)",
        // A finalizer that never returns (finalizers run with hooks off).
        "setmetatable({}, {__gc = function() io.write('go') while true do end end}) collectgarbage()",
        // One that keeps making garbage whose finalizer loops, inside a coroutine.
        "coroutine.wrap(function() setmetatable({}, {__gc = function() while true do pcall(print) end end})"
        " io.write('go') while true do local t = {} end end)()",
        // A hook function of the script's would run with hooks off: refused.
        "io.write('go') pcall(debug.sethook, function() while true do end end, '', 1) pcall(debug.sethook)"
        " while true do end",
    };
    for (const std::string& loop : loops) {
        SCOPED_TRACE(loop);
        window.SheetPane(1)->SetText("");
        const std::uint64_t id = Going(loop, "loop.lua");
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(host->ForcedStop(id));
        // Listed for as long as its thread runs.
        if (host->RunningMacros().empty()) {
            EXPECT_TRUE(host->WaitIdle(0));
        }
        EXPECT_TRUE(host->WaitIdle(3000));
        EXPECT_TRUE(host->RunningMacros().empty());
        EXPECT_LT(timer.elapsed(), 3000);
    }
    EXPECT_TRUE(dialogs.boxes.empty());

    // Closing the window ends such runs within its bound.
    for (const std::string& loop : loops) {
        Going(loop, "c.lua");
        window.SheetPane(1)->SetText("");
    }
    QElapsedTimer timer;
    timer.start();
    window.Close();
    for (const auto& e : host->RunningMacros()) ADD_FAILURE() << e.Text;
    EXPECT_TRUE(host->WaitIdle(0));
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST_F(SafetyTest, ARunFollowsAReplacedPort)
{
    const std::uint64_t id = Start(R"(
io.writeEx(1, 'go', RingBufPos())
while true do
  local s = RingBufGetAll(0)
  if s:find('fresh') then io.writeEx(1, s) break end
  Wait(5)
end)");
    ASSERT_TRUE(Shows("go", 1));
    window.RemoveSheetPort(0);
    window.AddSheetPort(0)->RingBuf().Put("fresh", 5);
    EXPECT_TRUE(Shows("fresh", 1));
    host->Stop(id);
    EXPECT_TRUE(Finish());
}

TEST_F(SafetyTest, AnEditorMethodCannotBeRedirectedToAnother)
{
    window.SheetPane(0)->SetText("abc");
    const std::string out = Gather(R"(
local e = {} Editor(e)
for _, name in ipairs{'RowToLines', 'GetLineString', 'Free'} do debug.setupvalue(e[name], 1, 1000) end
say(e:GetLineString(0), e:RowToLines(0), E(e.SetLineString, e, -1, 'x'))
)");
    EXPECT_EQ(out, "abc 0 SetLineString" + Sjis("の引数が正しくない") + "\n");
}

TEST_F(SafetyTest, WrittenTextAlsoReachesTheOutputSink)
{
    std::string sunk;
    SetLuaOutputSink([&](const char* text, std::size_t size, std::size_t count) { sunk.append(text, size * count); });
    Start("io.write('a', 1) printf('b\\r\\n') io.writeEx(1, 'c\\b') printfEx(1, 'd') print('e')");
    const bool finished = Finish();
    SetLuaOutputSink(nullptr);
    ASSERT_TRUE(finished);
    EXPECT_EQ(sunk, "a\t1b\r\nc\tde\n");
}

}  // namespace
}  // namespace pek::test
