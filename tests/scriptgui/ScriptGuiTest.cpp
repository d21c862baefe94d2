#include "macro/MacroFixture.h"
#include "lua/LuaUtils.h"
#include "macro/MacroLua_u.h"
#include "scriptgui/GuiLuaApi.h"
#include "scriptgui/GuiLua_u.h"
#include "scriptgui/MxBinEditor.h"

#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace pek::test {
namespace {

class ScriptGuiTest : public MacroTest {
protected:
    void TearDown() override
    {
        MacroTest::TearDown();
        gui.reset();
    }
    TGuiLuaForm& Form() { return *gui->FormIfAny(); }
    // Waits until a script waits in the panel with at least `items` items.
    bool Waiting(int items = 0)
    {
        return WaitUntil([&] { return gui->FormIfAny() && Form().Waiting() && Form().ItemCount() >= items; });
    }
    template <typename T>
    T* Item(int id) { return qobject_cast<T*>(Form().Item(id)); }
    void Key(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = {})
    {
        w->setFocus();
        QTest::keyClick(w, key, mods);
    }

    // Scripts report with say: the values as tostring gives them, tab-separated, on the pane.
    std::uint64_t Start(const std::string& script)
    {
        return MacroTest::Start("local function say(...) local t = {...} for i = 1, select('#', ...) do "
                                "t[i] = tostring(t[i]) end io.write(table.concat(t, '\\t'), '\\n') end\n" + script);
    }

    std::unique_ptr<TScriptGui> gui = AttachScriptGui(window, *host);
};

TEST_F(ScriptGuiTest, RowsAreLaidOutTypedIntoAndReadBackAfterEnter)
{
    Start(R"(
        local a = GuiStr("A", "one")
        local b = GuiStr("Longer caption", "two")
        local h4 = GuiHex4("h", 32768)
        local h8 = GuiHex8("h8", 18)
        local n = GuiInt("n", 5)
        local ok = GuiInput()
        say("R", ok, a, b, GuiResult(a), GuiResult(b), GuiResult(h4), GuiResult(h8), GuiResult(n), GuiResult(99))
    )");
    ASSERT_TRUE(Waiting(5));
    EXPECT_EQ(Form().Item(0)->pos(), QPoint(5, 10));
    EXPECT_EQ(Form().Item(1)->x(), 5);
    EXPECT_EQ(Form().Item(1)->y(), GuiNextRowY(10, Form().Item(0)->height()));
    // Every enabled row shows its field right of the widest caption.
    const int innerLeft = Item<TGroupPanel>(1)->Inner()->x();
    EXPECT_EQ(Item<TGroupPanel>(0)->Inner()->x(), innerLeft);
    EXPECT_GT(innerLeft, Item<TGroupPanel>(0)->CaptionWidth() + 10);
    EXPECT_EQ(Item<TEdPnl>(3)->Field()->text(), "00000012");
    EXPECT_FALSE(Form().OkPnlBtn()->isEnabled() == false);
    QLineEdit* hex = Item<TEdPnl>(2)->Field();
    Key(hex, Qt::Key_End);
    QTest::keyClicks(hex, "1g");  // "8000" -> "0001": the counter shifts, "g" is refused
    EXPECT_EQ(hex->text(), "0001");
    // Pasted text keeps only its hexadecimal digits.
    QApplication::clipboard()->setText("z1y2");
    hex->paste();
    EXPECT_EQ(hex->text(), "0112");
    QLineEdit* num = Item<TEdPnl>(4)->Field();
    Key(num, Qt::Key_Home);
    QTest::keyClicks(num, "-x-");
    EXPECT_EQ(num->text(), "-5");
    // Up and Down move between the rows, past a disabled one.
    Form().EnableItem(Form().Item(3), false);
    Key(hex, Qt::Key_Down);
    EXPECT_EQ(Form().focusWidget(), Item<TEdPnl>(4)->Field());
    Key(Form().focusWidget(), Qt::Key_Up);
    EXPECT_EQ(Form().focusWidget(), hex);
    Form().EnableItem(Form().Item(3), true);
    QLineEdit* second = Item<TEdPnl>(1)->Field();
    Key(second, Qt::Key_End);
    QTest::keyClicks(second, "X");
    Key(second, Qt::Key_Return);
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(Shows("R\ttrue\t0\t1\tone\ttwoX\t274\t18\t-5\tnil")) << window.PaneText(0);
    EXPECT_FALSE(Form().Item(0)->isEnabled());
    EXPECT_FALSE(Form().OkPnlBtn()->isEnabled());
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(ScriptGuiTest, MenusMoveWithArrowsAndEndWithEnterOrEscape)
{
    Start(R"(
        local r, id = GuiMenuInput("Pick", 0, {"a", "b", "c"})
        say("M", r, id)
        local r2, id2 = GuiMenuInput("Pick", 2, {"a", "b", "c"})
        say("N", r2, id2)
        local s = GuiSel("S", {"x", "y"}, 9)
        local e = GuiSel("E", {})
        GuiInput(true)
        say("S", GuiResult(s), GuiResult(e))
    )");
    ASSERT_TRUE(Waiting(1));
    auto* menu = Item<TMenuBtn>(0);
    EXPECT_EQ(menu->Options().Button(2)->y(), menu->Options().Button(0)->y());
    Key(menu->Options().Button(0), Qt::Key_Right);
    Key(Form().focusWidget(), Qt::Key_Down);  // one row: nothing below
    Key(Form().focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(Shows("M\t2\t0"));
    ASSERT_TRUE(Waiting(2));
    auto* twoColumns = Item<TMenuBtn>(1);
    EXPECT_GT(twoColumns->Options().Button(2)->y(), twoColumns->Options().Button(0)->y());
    Key(twoColumns->Options().Button(0), Qt::Key_Escape);
    EXPECT_TRUE(Shows("N\t0\t1"));
    ASSERT_TRUE(Waiting(4));
    auto* sel = Item<TSel>(2);
    EXPECT_EQ(sel->Options().Selected(), 1);  // the initial 9 clamped onto the last option
    Key(sel->Options().Button(1), Qt::Key_Left);
    Key(Form().focusWidget(), Qt::Key_Left);  // already the first
    Key(Form().focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(Shows("S\t1\t0"));
    EXPECT_TRUE(Form().Item(2)->isEnabled());  // kept
}

TEST_F(ScriptGuiTest, ShiftEnterInAMemoBreaksTheLineAndEnterEndsTheWait)
{
    Start(R"(
        local m = GuiMemo(10, 4, "a")
        local r = GuiMemo(10, 2, "r", true)
        GuiMemoPuts(m, "b")
        GuiMemoPuts(77, "nothing")
        local ok = GuiInput()
        say("T", ok, (GuiResult(m):gsub("\r\n", "|")), (GuiResult(r):gsub("\r\n", "|")), "end")
    )");
    ASSERT_TRUE(Waiting(2));
    // A read-only memo takes no line break.
    Key(Item<TLMemo>(1), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(Form().Waiting());
    auto* memo = Item<TLMemo>(0);
    EXPECT_EQ(memo->size(), QSize(250, 100));
    Key(memo, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(memo, "c");
    EXPECT_TRUE(Form().Waiting());
    Key(memo, Qt::Key_Return);
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(Shows("T\ttrue\tab|c\tr\tend")) << window.PaneText(0);
}

TEST_F(ScriptGuiTest, BinaryInputEditsAStringBufferOnOkOnly)
{
    Start(R"(
        local ok, id, bytes = GuiBinInput("\1\2\3", 3, true, true)
        say("B", ok, id, bytes:byte(1), bytes:byte(2))
        local ok2, id2, bytes2 = GuiBinInput(("\1\2\3"):rep(3000), 9000)
        say("C", ok2, id2, bytes2:byte(1))
    )");
    ASSERT_TRUE(Waiting(1));
    auto* grid = Item<TMxBinEditor>(0);
    Key(grid, Qt::Key_7);
    QTest::keyClicks(grid, "f");
    Key(grid, Qt::Key_Return);
    EXPECT_TRUE(Shows("B\ttrue\t0\t127\t2"));
    ASSERT_TRUE(Waiting(2));
    // A grid taller than the room below it is cut to that room and scrolls.
    auto* tall = Item<TMxBinEditor>(1);
    EXPECT_LE(tall->y() + tall->height(), Form().MainPnl()->height());
    EXPECT_GT(tall->verticalScrollBar()->maximum(), 0);
    Key(Item<TMxBinEditor>(1), Qt::Key_9);
    Key(Item<TMxBinEditor>(1), Qt::Key_Escape);
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(Shows("C\tfalse\t1\t1"));
    EXPECT_FALSE(Form().Item(0)->isEnabled());
}

TEST_F(ScriptGuiTest, ClosingThePanelOrStoppingEndsAWaitingRunWithoutAMessage)
{
    const char* script = R"(
        GuiStr("x", "y")
        GuiInput()
        say("never")
    )";
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        const std::uint64_t id = Start(script);
        ASSERT_TRUE(Waiting(1));
        if (how == 0) Form().close();
        else if (how == 1) host->Stop(id);
        else host->ForcedStop(id);
        ASSERT_TRUE(Finish());
        EXPECT_FALSE(Form().Waiting());
        if (how == 0) {
            EXPECT_EQ(Form().ItemCount(), 0);
            EXPECT_EQ(window.Ini().ReadInteger("GuiLua", "Width", -1), Form().width());
            EXPECT_EQ(window.Ini().ReadInteger("GuiLua", "Top", -1), Form().y());
        }
        Form().Clear();
    }
    EXPECT_EQ(window.PaneText(0).find("never"), std::string::npos);
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(ScriptGuiTest, WrongArgumentsRaiseTheFunctionsErrors)
{
    const struct {
        const char* script;
        const char* message;
    } cases[] = {
        {"GuiLocate(1)", "GuiLocateの引数が正しくない"},
        {"GuiLocate('a', 'b')", "GuiLocateの引数が正しくない"},
        {"GuiScroll()", "LuaGuiScrollの引数が正しくない"},
        {"GuiLabel('a') GuiLabel('b') GuiLabel('c') GuiEnable(3)", "ItemID=3 は見つかりません"},
        {"GuiEnable(99)", "ItemID=99 は見つかりません"},
        {"GuiBinInput(io.stdout, 4096)", "GuiBinInputの引数が正しくない"},
        {"GuiBinInput('abc', 4)", "GuiBinInputの引数が正しくない"},
        {"GuiInput(1)", "GuiInputの引数が正しくない"},
        {"GuiStr('a')", "GuiStrの引数が正しくない"},
        {"GuiMenuInput('a', 1, 'b')", "GuiMenuInputの引数が正しくない"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        dialogs.boxes.clear();
        Start(std::string("GuiClear() ") + c.script);
        ASSERT_TRUE(Finish());
        ASSERT_EQ(dialogs.boxes.size(), 1u);
        EXPECT_NE(dialogs.boxes[0].text.find(Sjis(c.message)), std::string::npos) << dialogs.boxes[0].text;
    }
}

// A debugged run waits on the main thread while serving events; closing the panel stops it.
TEST_F(ScriptGuiTest, ARunOnTheMainThreadWaitsServingEvents)
{
    for (const bool close : {false, true}) {
        lua_State* L = luaL_newstate();
        luaL_openlibs(L);
        host->OnDebuggerState(L);
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (!gui->FormIfAny() || !Form().Waiting()) return;
            if (close) Form().close();
            else Form().OkPnlBtn()->click();
        });
        answer.start(5);
        ASSERT_EQ(luaL_loadstring(L, "GuiClear() GuiStr('a', 'b') result = GuiInput()"), 0);
        const int status = lua_pcall(L, 0, 0, 0);
        if (close) {
            ASSERT_NE(status, 0);
            EXPECT_EQ(ParseLuaError(lua_tostring(L, -1)).Msg, " STOP");
        } else {
            ASSERT_EQ(status, 0) << lua_tostring(L, -1);
            lua_getglobal(L, "result");
            EXPECT_TRUE(lua_toboolean(L, -1));
        }
        lua_close(L);
    }
}

// The functions' link to the panel is not a Lua object a script can free or swap for another.
TEST_F(ScriptGuiTest, AScriptCannotFreeOrForgeThePanelLink)
{
    Start(R"(
        local _, u = debug.getupvalue(GuiResult, 1)
        if type(u) == "userdata" then
            for i = 1, 50 do debug.getmetatable(u).__gc(u) end
            getmetatable(u).__gc(u)
        end
        GuiClear()
        say("G", GuiLabel("still"), GuiResult(0))
        debug.setupvalue(GuiLabel, 1, io.stdout)
        debug.setupvalue(GuiClear, 1, 123456)
        debug.setupvalue(GuiResult, 1, 0/0)
        local a, ea = pcall(GuiLabel, "x")
        local b, eb = pcall(GuiClear)
        local c = pcall(GuiResult, 0)
        say("H", a, b, c, ea == eb and ea)
    )");
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(Shows("G\t0\tstill")) << window.PaneText(0);
    EXPECT_TRUE(Shows("H\tfalse\tfalse\tfalse\t" + Sjis("Gui関数の内部データが壊れています")));
    EXPECT_EQ(Form().ItemCount(), 1);
}

// Out-of-range numbers are clamped before any arithmetic on them.
TEST_F(ScriptGuiTest, HugeScrollsAndInitialIndexesAreClamped)
{
    Start(R"(
        GuiClear()
        GuiLabel("a")
        for _, v in ipairs({math.huge, -math.huge, 0/0, 2^63, -2^63, 1e300, -1e300, -1e300, -1e300, -1e300, "x"}) do
            GuiScroll(v)
        end
        GuiLocate(0, 0)
        local ids = {}
        for _, v in ipairs({-math.huge, math.huge, 0/0, -2^63, 2^63, 2}) do ids[#ids + 1] = GuiSel("S", {"x", "y"}, v) end
        local r = {}
        for i, id in ipairs(ids) do r[i] = GuiResult(id) end
        say("S", table.concat(r, ","))
        GuiScroll(1)
    )");
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(Shows("S\t1,2,1,1,2,2")) << window.PaneText(0);
    // Pushed far down, and still moved by exactly one row afterwards.
    EXPECT_GT(Form().Item(0)->y(), 1000000);
    EXPECT_EQ(Form().Item(1)->y(), 10 - 25);
}

// The edited bytes come back at their new length: a deleted byte leaves no stale copy behind, and
// the result says the new size. Only a buffer made for the grid is written to.
TEST_F(ScriptGuiTest, BinaryInputTellsTheNewSizeAndTakesOnlyItsOwnBuffers)
{
    Start(R"(
        GuiClear()
        local ok, id, bytes = GuiBinInput("\1\2\3", 3)
        say("D", ok, id, #bytes, bytes:byte(1, -1))
        local buf = GuiBinBuffer(("\1\2\3\4"):rep(1024))
        local ok2 = GuiBinInput(buf, 4096, true, true)
        say("E", ok2, #buf, buf:sub(1, 3):byte(1, -1))
        say("E2", buf:sub(-2):byte(1, -1))
        local same = GuiBinBuffer(2)
        say("F", GuiBinInput(same, 2), #GuiBinBuffer(0), GuiBinBuffer(3):sub(1):byte(1, -1))
        local f = io.tmpfile()
        local fileMeta = debug.getmetatable(f)
        -- Refused in every state; were it taken, the block's header would still tell.
        local swapped = pcall(debug.setmetatable, f, debug.getmetatable(buf))
        local bad1 = pcall(GuiBinInput, f, 4)
        if swapped then debug.setmetatable(f, fileMeta) end
        f:close()
        local bad2 = true
        for _, v in pairs(debug.getregistry()) do
            if type(v) == "userdata" then bad2 = bad2 and pcall(GuiBinInput, v, 1) end
        end
        local bad3, e3 = pcall(GuiBinBuffer, 2^63)
        say("B", bad1, bad2, pcall(GuiBinInput, buf, 4097), bad3, pcall(GuiBinBuffer, -1), pcall(GuiBinBuffer, {}))
    )");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Waiting(i + 1)) << i;
        auto* grid = Item<TMxBinEditor>(i);
        if (i == 1) {
            // Offsets and text shown: still inside the panel, its scroll bar on screen.
            EXPECT_LE(grid->geometry().right(), Form().MainPnl()->width() - 1);
            EXPECT_TRUE(grid->verticalScrollBar()->isVisible());
            EXPECT_LE(grid->verticalScrollBar()->geometry().right(), grid->width() - 1);
        }
        if (i < 2) Key(grid, Qt::Key_Delete, Qt::ControlModifier);
        Key(grid, Qt::Key_Return);
    }
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(Shows("D\t2\t0\t2\t2\t3")) << window.PaneText(0);
    EXPECT_TRUE(Shows("E\t4095\t4096\t2\t3\t4"));
    EXPECT_TRUE(Shows("E2\t4\t0"));
    EXPECT_TRUE(Shows("F\ttrue\t0\t0\t0\t0"));
    EXPECT_TRUE(Shows("B\tfalse\tfalse\tfalse\tfalse\tfalse\tfalse"));
}

// A buffer block is written back in place after OK, and never past its length.
TEST_F(ScriptGuiTest, BinaryInputWritesABufferBlockAndRefusesASizeBeyondIt)
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    host->OnDebuggerState(L);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (!gui->FormIfAny() || !Form().Waiting() || Form().ItemCount() == 0) return;
        auto* grid = qobject_cast<TMxBinEditor*>(Form().Item(Form().ItemCount() - 1));
        QTest::keyClicks(grid, "42");
        Form().OkPnlBtn()->click();
    });
    answer.start(5);
    ASSERT_EQ(luaL_loadstring(L, "GuiClear() buf = GuiBinBuffer(('\\17'):rep(16)) ok = GuiBinInput(buf, 16) "
                                 "bad = pcall(GuiBinInput, buf, 17) got = buf:sub(1, 2)"), 0);
    const int status = lua_pcall(L, 0, 0, 0);
    EXPECT_EQ(status, 0) << lua_tostring(L, -1);
    lua_getglobal(L, "ok");
    EXPECT_TRUE(lua_toboolean(L, -1));
    lua_getglobal(L, "bad");
    EXPECT_FALSE(lua_toboolean(L, -1));
    lua_getglobal(L, "got");
    EXPECT_STREQ(lua_tostring(L, -1), "\x42\x11");
    lua_close(L);
}

}  // namespace
}  // namespace pek::test
