// The stepping rules of the debug hook, driven by a view that answers every stop with the next
// command of a script and records where execution stopped.
#include "debugger/DebugEngine.h"
#include "lua/LuaUtils.h"
#include "macro/RunGuard.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

namespace pek {
namespace {

struct Stop {
    int line;  // 1-based, as an editor shows it
    bool operator==(const Stop&) const = default;
};

class RecordingView : public TDebugView {
public:
    explicit RecordingView(std::string text) : text_(std::move(text)) {}
    TDebugEngine* engine = nullptr;
    std::deque<std::function<void(TDebugEngine&)>> commands;
    std::vector<int> stops;
    std::vector<std::string> messages;
    std::vector<std::string> localsAtStops;
    int executingLines = 0;

    void ActionsChanged() override {}
    std::string TargetFileName() override { return target; }
    std::string target = "t.lua";
    std::string TargetText() override { return text_; }
    void RunStarting(bool) override {}
    void CurrentLineLeft() override {}
    void RunEnded() override {}
    void ShowPosition(const std::string&, int line, lua_State* L) override
    {
        stops.push_back(line + 1);
        std::vector<std::pair<std::string, std::string>> locals;
        LuaProtected(L, [&](lua_State* S) { LuaLocalsToStrings(S, locals, 32, TDebugEngine::ProtectedLevel); });
        std::string text;
        for (const auto& [n, v] : locals) text += n + "=" + v + " ";
        localsAtStops.push_back(text);
    }
    void RefreshAfterRun(lua_State*) override {}
    void ShowWindow() override {}
    void ShowError(const std::string&, int, const std::string&) override {}
    void AppendMessage(const std::string& text) override { messages.push_back(text); }
    void CallEntered(const std::string&) override {}
    void CallsDropped(int) override {}
    std::string LineText(const std::string&, int) override { return {}; }
    bool DisplayOn() override { return display; }
    bool display = false;
    void ServeEvents(bool wait) override
    {
        if (!wait) {
            if (engine->Executing() && onExecuting) onExecuting(*engine);
            return;
        }
        if (commands.empty()) {
            ADD_FAILURE() << "stopped with no command left";
            engine->Stop();
            return;
        }
        auto command = std::move(commands.front());
        commands.pop_front();
        command(*engine);
    }
    std::function<void(TDebugEngine&)> onExecuting;

private:
    std::string text_;
};

struct Case {
    const char* name;
    const char* script;
    std::vector<int> breakLines;  // 1-based
    std::function<void(TDebugEngine&)> start;
    std::vector<std::function<void(TDebugEngine&)>> atStops;
    std::vector<int> expected;
};

const auto trace = [](TDebugEngine& e) { e.Trace(); };
const auto step = [](TDebugEngine& e) { e.Step(); };
const auto up = [](TDebugEngine& e) { e.Up(); };
const auto run = [](TDebugEngine& e) { e.Run(); };
const auto stop = [](TDebugEngine& e) { e.Stop(); };
auto cursor(int line) { return [line](TDebugEngine& e) { e.ExecuteToCursor("t.lua", line - 1); }; }

// Line numbers of the scripts are the comments' numbers.
const char* kCalls =
    "local function f(x)\n"   // 1
    "  local y = x + 1\n"     // 2
    "  return y\n"            // 3
    "end\n"                   // 4
    "local a = f(1)\n"        // 5
    "local b = f(a)\n"        // 6
    "print(a, b)\n";          // 7

const char* kTail =
    "local function g(x)\n"   // 1
    "  return x * 2\n"        // 2
    "end\n"                   // 3
    "local function f(x)\n"   // 4
    "  return g(x)\n"         // 5
    "end\n"                   // 6
    "local function h()\n"    // 7
    "  local v = f(1)\n"      // 8
    "  return v\n"            // 9
    "end\n"                   // 10
    "local r = h()\n"         // 11
    "print(r)\n";             // 12

const char* kCoroutines =
    "local co = coroutine.create(function()\n"  // 1
    "  for i = 1, 3 do\n"                       // 2
    "    coroutine.yield(i)\n"                  // 3
    "  end\n"                                   // 4
    "end)\n"                                    // 5
    "local a = coroutine.resume(co)\n"          // 6
    "local w = coroutine.wrap(function() coroutine.yield(1) coroutine.yield(2) end)\n"  // 7
    "local b = w()\n"                           // 8
    "local c = coroutine.resume(co)\n"          // 9
    "local d = w()\n"                           // 10
    "print(a, b, c, d)\n";                      // 11

TEST(DebugEngine, StopSequences)
{
    const std::vector<Case> cases = {
                // A "local function" statement runs at its "end" line.
        {"trace enters a function", kCalls, {}, trace, {trace, trace, trace, trace, trace, run}, {4, 5, 2, 3, 6, 2}},
        {"step runs over calls", kCalls, {}, trace, {step, step, step, step, run}, {4, 5, 6, 7}},
        {"step at a function's last line stops in the caller", kCalls, {3}, run, {step, run, run}, {3, 6, 3}},
        {"up returns to the caller", kCalls, {2}, run, {up, run, run}, {2, 6, 2}},
        {"up after a tail call stops where the first call returns", kTail, {2}, run, {up, run}, {2, 9}},
        {"run to cursor", kCalls, {}, cursor(7), {run}, {7}},
        {"step from idle stops at the first line", kCalls, {}, step, {run}, {4}},
        {"a breakpoint on a line never run", "local a = 1\nif a == 2 then\n  a = 3\nend\nprint(a)\n", {3}, run, {}, {}},
        {"a statement over several lines stops where a line event reports it",
         "local t = {\n  1,\n  2,\n}\nprint(#t)\n", {1, 3}, run, {run}, {1}},
        // The depth is counted per Lua thread: stepping over a resume never stops inside the
        // coroutine, also when the resume returns a yield made on an earlier resume.
        {"step over every resume", kCoroutines, {6}, run, {step, step, step, step, step, run}, {6, 7, 8, 9, 10, 11}},
        {"up from a coroutine returns to its resumer", kCoroutines, {3}, run, {up, up, run}, {3, 7, 3}},
        {"step in a coroutine goes on in its resumer after the yield", kCoroutines, {3}, run, {step, run, run}, {3, 7, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingView view(c.script);
        TDebugEngine engine(view);
        view.engine = &engine;
        for (int line : c.breakLines) engine.FBreakPoints.Add("t.lua", line - 1, true);
        for (const auto& command : c.atStops) view.commands.push_back(command);
        c.start(engine);
        EXPECT_EQ(view.stops, c.expected);
        EXPECT_FALSE(engine.IsRunning());
        EXPECT_EQ(engine.Depth(), 1);
        ASSERT_FALSE(view.messages.empty());
        EXPECT_EQ(view.messages.back().rfind("\x8e\xc0\x8d\x73\x8e\x9e\x8a\xd4=", 0), 0u) << view.messages.back();  // 実行時間=
    }
}

TEST(DebugEngine, PauseAndStopWhileExecuting)
{
    const char* loop = "local n = 0\nwhile true do\n  n = n + 1\nend\n";
    {
        RecordingView view(loop);
        TDebugEngine engine(view);
        view.engine = &engine;
        view.onExecuting = [](TDebugEngine& e) { e.Pause(); };
        view.commands.push_back(stop);
        engine.Run();
        ASSERT_EQ(view.stops.size(), 1u);
        EXPECT_TRUE(view.stops[0] == 2 || view.stops[0] == 3);
        // A stop is reported as a message line at line 0, and never thrown.
        ASSERT_FALSE(view.messages.empty());
        EXPECT_NE(view.messages.back().find("(0): STOP"), std::string::npos) << view.messages.back();
    }
    {
        RecordingView view(loop);
        TDebugEngine engine(view);
        view.engine = &engine;
        view.onExecuting = [](TDebugEngine& e) { e.Stop(); };
        EXPECT_NO_THROW(engine.Run());
        EXPECT_TRUE(view.stops.empty());
        EXPECT_NE(view.messages.back().find("STOP"), std::string::npos);
    }
}

TEST(DebugEngine, ErrorsDepthAndCoroutines)
{
    {
        SCOPED_TRACE("a syntax error on line 3 is thrown after its message line");
        RecordingView view("local a = 1\nlocal b = 2\nlocal c = = 3\n");
        TDebugEngine engine(view);
        view.engine = &engine;
        try {
            engine.Run();
            ADD_FAILURE() << "no error";
        } catch (const ELuaException& e) {
            EXPECT_EQ(e.Line, 3);
        }
        ASSERT_FALSE(view.messages.empty());
        EXPECT_NE(view.messages.back().find("(3): "), std::string::npos) << view.messages.back();
        EXPECT_FALSE(engine.IsRunning());
    }
    {
        SCOPED_TRACE("errors caught by pcall leave the depth right");
        RecordingView view("local function bad() error('x') end\n"
                           "for i = 1, 10 do pcall(bad) end\n"
                           "local function f()\n"
                           "  return 1\n"
                           "end\n"
                           "f()\n");
        TDebugEngine engine(view);
        view.engine = &engine;
        engine.FBreakPoints.Add("t.lua", 5, true);  // f()
        int depthAtBreak = 0;
        view.commands.push_back([&](TDebugEngine& e) {
            depthAtBreak = e.StepDepth();
            e.Step();
        });
        view.commands.push_back(run);
        engine.Run();
        EXPECT_EQ(depthAtBreak, 1);
        // Step over f() ends the run instead of stopping inside f at a drifted depth.
        EXPECT_EQ(view.stops, std::vector<int>({6}));
    }
    {
        SCOPED_TRACE("stopped inside a coroutine, the views read the coroutine's locals");
        RecordingView view("local co = coroutine.create(function(p)\n"
                           "  local inner = p * 2\n"
                           "  coroutine.yield(inner)\n"
                           "end)\n"
                           "local outer = 5\n"
                           "coroutine.resume(co, 21)\n");
        TDebugEngine engine(view);
        view.engine = &engine;
        engine.FBreakPoints.Add("t.lua", 2, true);
        view.commands.push_back(run);
        engine.Run();
        ASSERT_EQ(view.stops, std::vector<int>({3}));
        EXPECT_NE(view.localsAtStops[0].find("inner=42"), std::string::npos) << view.localsAtStops[0];
        EXPECT_EQ(view.localsAtStops[0].find("outer"), std::string::npos) << view.localsAtStops[0];
    }
}

TEST(DebugEngine, CallHistoryWithTheDisplayOn)
{
    // Every line shows its position: the history is read at a breakpoint deep in the calls.
    RecordingView view("local function bad() error('x') end\n"     // 1
                       "local function inner()\n"                  // 2
                       "  for i = 1, 5 do pcall(bad) end\n"        // 3
                       "  return 1\n"                              // 4
                       "end\n"                                     // 5
                       "local function outer() return inner() + 1 end\n"  // 6
                       "outer()\n");                               // 7
    TDebugEngine engine(view);
    view.engine = &engine;
    view.display = true;
    engine.FBreakPoints.Add("t.lua", 3, true);
    std::vector<int> history;
    view.commands.push_back([&](TDebugEngine& e) {
        for (int i = 0; i < e.FCallHistory.Count(); ++i) history.push_back(e.FCallHistory.Items(i).Line + 1);
        e.Run();
    });
    engine.Run();
    // outer() from line 7, inner() from line 6; the caught errors left nothing behind.
    EXPECT_EQ(history, std::vector<int>({7, 6}));
    EXPECT_EQ(engine.FCallHistory.Count(), 0);
}

TEST(DebugEngine, NamedFunctionsResultsAndChunkNames)
{
    RecordingView view("function main(a, b) return a .. b, #a, {1} end\nlocal x = 1\n");
    view.target = "/home/u/v@2/x.lua";  // an "@" inside the name is part of it
    TDebugEngine engine(view);
    view.engine = &engine;
    engine.FBreakPoints.Add(view.target, 1, true);
    view.commands.push_back(run);
    std::vector<std::string> results;
    TRunRequest request;
    request.FunctionName = "main";
    request.Args = {"ab", "c"};
    request.Results = &results;
    engine.DebugRun(request);
    EXPECT_EQ(view.stops, std::vector<int>({2}));
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], "\"abc\"");
    EXPECT_EQ(results[1], "2");
    EXPECT_EQ(results[2].rfind("{ ", 0), 0u);

    request.FunctionName = "missing";
    view.commands.push_back(run);
    EXPECT_THROW(engine.DebugRun(request), Exception);
    EXPECT_FALSE(engine.IsRunning());
}

TEST(DebugEngine, ProtectedAccessSurvivesAStrictGlobalTable)
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    ASSERT_EQ(luaL_dostring(L, "setmetatable(_G, {__index = function(_, k) error('undeclared ' .. k) end})"), LUA_OK);
    std::string value = "unchanged";
    // Read raw: the strict table's __index does not run, and a missing name is nil.
    EXPECT_TRUE(LuaProtected(L, [&](lua_State* S) { value = LuaEvalName(S, "missing", 32); }));
    EXPECT_EQ(value, "nil");
    EXPECT_EQ(lua_gettop(L), 0);
    EXPECT_TRUE(LuaProtected(L, [&](lua_State* S) { value = LuaEvalName(S, "print", 32); }));
    EXPECT_NE(value, "unchanged");
    lua_close(L);
}

// Deep recursion, errors caught deep inside it, and a coroutine dying by an error: the depth at
// each stop is what the Lua stack holds.
TEST(DebugEngine, DepthStaysExactThroughDeepRecursionAndCaughtErrors)
{
    RecordingView view("local function dive(n)\n"                                       // 1
                       "  if n == 0 then return 0 end\n"                                // 2
                       "  if n % 1000 == 0 then pcall(error, 'x') end\n"                // 3
                       "  if n % 3000 == 0 then pcall(function() dive(-1) end) end\n"   // 4
                       "  if n < 0 then error('deep') end\n"                            // 5
                       "  return 1 + dive(n - 1)\n"                                     // 6
                       "end\n"                                                          // 7
                       "coroutine.resume(coroutine.create(function() dive(50) error('co') end))\n"  // 8
                       "local r = dive(10000)\n"                                        // 9
                       "print(r)\n");                                                   // 10
    TDebugEngine engine(view);
    view.engine = &engine;
    engine.FBreakPoints.Add("t.lua", 1, true);  // line 2, first met in the coroutine
    engine.FBreakPoints.Add("t.lua", 9, true);  // line 10
    std::vector<int> depths;
    const auto record = [&](TDebugEngine& e) {
        depths.push_back(e.StepDepth());
        e.FBreakPoints.Remove("t.lua", 1);
        e.Run();
    };
    view.commands.assign(2, record);
    engine.Run();
    // Line 2 at the coroutine's first level (the chunk, resume and the coroutine's function below
    // it), then line 10 of the chunk after 10,000 levels came back.
    ASSERT_EQ(depths.size(), 2u);
    EXPECT_EQ(depths[0], 4);
    EXPECT_EQ(depths[1], 1);
}

// Lua runs finalizers with hooks off; routed through a new Lua thread, a finalizer that loops is
// seen by the debugger like other code, and a stop ends it.
TEST(DebugEngine, AFinalizerThatLoopsIsStopped)
{
    RecordingView view("setmetatable({}, {__gc = function()\n"
                       "  while true do end\n"
                       "end})\n"
                       "collectgarbage()\n");
    TDebugEngine engine(view);
    view.engine = &engine;
    engine.OnInitState = RouteFinalizers;
    view.onExecuting = [](TDebugEngine& e) { e.Stop(); };
    EXPECT_NO_THROW(engine.Run());
    ASSERT_FALSE(view.messages.empty());
    EXPECT_NE(view.messages.back().find("(0): STOP"), std::string::npos) << view.messages.back();
}

// At a stop, hooks are off: the views read names raw, and script code they must run has a budget.
TEST(DebugEngine, ViewsNeverRunAScriptForEver)
{
    RecordingView view("setmetatable(_G, {__index = function() while true do end end,\n"   // 1
                       "                  __newindex = function() while true do end end})\n"  // 2
                       "local x = 1\n"                                                          // 3
                       "print(x, rawget(_G, 'z'))\n");                                          // 4
    TDebugEngine engine(view);
    view.engine = &engine;
    engine.FBreakPoints.Add("t.lua", 3, true);
    std::vector<std::string> seen;
    view.commands.push_back([&](TDebugEngine& e) {
        lua_State* L = e.ViewState();
        const auto eval = [&](const char* name) {
            std::string v = "failed";
            LuaProtected(L, [&](lua_State* S) { v = LuaEvalName(S, name, 32, TDebugEngine::ProtectedLevel); });
            seen.push_back(v);
        };
        const auto set = [&](const char* name, const char* value) {
            std::string error = "failed";
            LuaProtected(L, [&](lua_State* S) { error = LuaSetValue(S, name, value, 32, TDebugEngine::ProtectedLevel); });
            seen.push_back(error.empty() ? "set" : "error");
        };
        eval("missing");
        set("x", "7");
        eval("x");
        set("y", "5");  // __newindex loops
        set("rawy", "(function() rawset(_G, 'z', 3) return 4 end)()");
        set("co", "coroutine.wrap(function() while true do end end)()");
        eval("z");
        e.Run();
    });
    engine.Run();
    EXPECT_EQ(seen, std::vector<std::string>({"nil", "set", "7", "error", "error", "error", "3"}));
}

}  // namespace
}  // namespace pek
