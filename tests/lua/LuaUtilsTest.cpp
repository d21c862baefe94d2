#include "lua/LuaUtils.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <map>
#include <memory>
#include <string>

namespace pek {
namespace {

struct StateCloser {
    void operator()(lua_State* L) const { lua_close(L); }
};

class LuaUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { LuaInitState(L.get()); }
    void TearDown() override { SetLuaOutputSink(nullptr); }
    // Evaluates one expression and renders its value.
    std::string Render(const std::string& expr, int limit = -1)
    {
        LuaLoadBuffer(L.get(), "return " + expr, "t");
        LuaPCall(L.get(), 0, 1);
        std::string text = LuaValueToStr(L.get(), -1, limit);
        lua_settop(L.get(), 0);
        return text;
    }
    void Run(const std::string& chunk, const std::string& name = "a.lua")
    {
        LuaLoadBuffer(L.get(), chunk, name);
        LuaPCall(L.get(), 0, 0);
    }
    std::unique_ptr<lua_State, StateCloser> L{luaL_newstate()};
};

TEST_F(LuaUtilsTest, RendersValues)
{
    const std::string p = "[0-9A-F]{" + std::to_string(sizeof(void*) * 2) + "}";
    struct Case { std::string expr, expected; bool regex = false; };
    const Case cases[] = {
        {"nil", "nil"}, {"true", "True"}, {"false", "False"},
        {"'he\"llo'", "\"he\"\"llo\""}, {"'a\\0b'", std::string("\"a\0b\"", 5)},
        {"0.0001", "0.0001"}, {"0.00001", "1E-5"}, {"1e20", "1E20"}, {"1.5e-7", "1.5E-7"},
        {"100000000000000", "100000000000000"}, {"1e15", "1E15"}, {"-2.5", "-2.5"}, {"1/3", "0.333333333333333"},
        {"{1, 2}", "{ [1]=1 [2]=2 }"}, {"{}", "{ }"}, {"{x='q'}", "{ x=\"q\" }"},
        {"{t={}}", "{ t={...} }"},
        {"{f = print}", "\\{ f\\(\\)=" + p + " \\}", true},
        {"print", "CFUNC: " + p, true}, {"function() end", "FUNC: " + p, true},
        {"coroutine.create(print)", "THREAD: " + p, true}, {"io.stdout", "USERDATA: " + p, true},
    };
    for (const auto& c : cases) {
        const std::string got = Render(c.expr);
        if (c.regex) EXPECT_TRUE(::testing::internal::RE::FullMatch(got, c.expected.c_str())) << c.expr << " -> " << got;
        else EXPECT_EQ(got, c.expected) << c.expr;
    }
    // Whole numbers take a shortcut; it must print what the formatted print does.
    for (const double v : {0.0, -0.0, 7.0, -42.0, 99999999999999.0, 999999999999999.0, 1e15, -1e15, 1e300, 2.5})
        for (const int precision : {14, 15}) {
            char text[64];
            std::snprintf(text, sizeof text, "%.*g", precision, v);
            std::string expected = text;
            if (const auto e = expected.find('e'); e != std::string::npos) {
                const bool negative = expected[e + 1] == '-';
                std::string exponent = expected.substr(e + 2);
                exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
                expected = expected.substr(0, e) + "E" + (negative ? "-" : "") + exponent;
            }
            EXPECT_EQ(LuaFormatNumber(v, precision), expected) << v << " " << precision;
        }
    EXPECT_EQ(LuaFormatNumber(1e14, 14), "1E14");
    EXPECT_EQ(LuaFormatNumber(1.0 / 3, 14), "0.33333333333333");
}

TEST_F(LuaUtilsTest, TableLimitAndGlobals)
{
    const std::string t = Render("(function() local t = {} for i = 1, 300 do t[i] = i end return t end)()");
    EXPECT_EQ(t.substr(t.size() - 5), "... }");
    EXPECT_EQ(t.find("[256]=256 ") != std::string::npos && t.find("[257]") == std::string::npos, true);
    EXPECT_EQ(Render("{1,2,3}", 2), "{ [1]=1 [2]=2 ... }");
    EXPECT_EQ(Render("{_G=_G}"), "{ _G=" + Sjis("{グローバル変数}") + " }");
}

TEST_F(LuaUtilsTest, TreeMarksCycles)
{
    Run("t = {name='n'}; t.self = t");
    lua_getglobal(L.get(), "t");
    std::vector<LuaTreeNode> tree;
    LuaTableToTree(L.get(), -1, tree);
    std::map<std::string, const LuaTreeNode*> byText;
    for (const auto& n : tree) byText[n.Text] = &n;
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_TRUE(byText.count("name = \"n\""));
    // The root is not in the visited list, so "self" is expanded once and cycles inside it.
    ASSERT_TRUE(byText.count("self"));
    bool cycle = false;
    for (const auto& c : byText["self"]->Children) cycle = cycle || c.Text == "self = " + Sjis("{循環参照}");
    EXPECT_TRUE(cycle);
}

TEST_F(LuaUtilsTest, TreeOfSharedAndDeeplyNestedTables)
{
    // A table shared by 50,000 entries is expanded once; a chain of a million tables stops at the
    // nesting bound instead of exhausting the C stack.
    Run("shared = {1}; many = {}; for i = 1, 50000 do many[i] = shared end\n"
        "chain = {}; for i = 1, 1000000 do chain = {chain} end");
    std::vector<LuaTreeNode> tree;
    lua_pushglobaltable(L.get());
    LuaTableToTree(L.get(), -1, tree);
    lua_pop(L.get(), 1);
    std::size_t expanded = 0, marked = 0, depth = 0;
    for (const auto& n : tree) {
        if (n.Text == "many") {
            for (const auto& c : n.Children) (c.Children.empty() ? marked : expanded) += 1;
        } else if (n.Text == "chain") {
            for (const LuaTreeNode* p = &n; !p->Children.empty(); p = &p->Children[0]) ++depth;
        }
    }
    EXPECT_EQ(expanded + marked, 50000u);
    EXPECT_LE(expanded, 1u);  // once here, or already under "shared" when that came first
    EXPECT_GT(depth, 100u);
    EXPECT_LT(depth, 1000u);
    EXPECT_EQ(lua_gettop(L.get()), 0);
}

TEST_F(LuaUtilsTest, ParsesErrorsAndChunkNames)
{
    struct Case { std::string text, chunk; int line; std::string msg; };
    const Case cases[] = {
        {"[string \"a.lua\"]:12: attempt to call nil", "[string \"a.lua\"]", 12, " attempt to call nil"},
        {"STOP", "", 0, "STOP"},
        {"C:x:5: m", "C:x", 5, " m"},
        {"a:b:", "", 0, "a:b:"},
    };
    for (const auto& c : cases) {
        const auto parts = ParseLuaError(c.text);
        EXPECT_EQ(parts.ChunkName, c.chunk) << c.text;
        EXPECT_EQ(parts.Line, c.line) << c.text;
        EXPECT_EQ(parts.Msg, c.msg) << c.text;
    }
    EXPECT_EQ(LuaChunkFileName("[string \"/x/a.lua\"]"), "/x/a.lua");
    EXPECT_EQ(LuaChunkFileName("plain"), "plain");
    EXPECT_EQ(LuaChunkFileName("a\"rest"), "rest");

    try {
        Run("local a = 1\n\n\n\n\n\n\n\n\n\n\nundefinedFn()\n");
        FAIL();
    } catch (const ELuaException& e) {
        EXPECT_EQ(e.ChunkName, "[string \"a.lua\"]");
        EXPECT_EQ(e.Line, 12);
        EXPECT_EQ(e.Msg.substr(0, 1), " ");
        EXPECT_EQ(std::string(e.what()), e.ChunkName + "(12)" + e.Msg);
    }
    EXPECT_THROW(Run("x = = 1"), ELuaException);
}

TEST_F(LuaUtilsTest, PrintAndWriteGoThroughTheSink)
{
    std::string out;
    SetLuaOutputSink([&](const char* p, std::size_t size, std::size_t count) { out.append(p, size * count); });
    Run("print('a', 1) io.write('x', 2.5, 1/3)");
    EXPECT_EQ(out, "a\b1\nx2.50.33333333333333");
    EXPECT_THROW(Run("io.write('y', {})"), ELuaException);
    EXPECT_EQ(out.substr(out.size() - 1), "y");
    SetLuaOutputSink([](const char*, std::size_t, std::size_t) { throw Exception("sink failed"); });
    try {
        Run("print('z')");
        FAIL();
    } catch (const ELuaException& e) {
        EXPECT_EQ(e.Msg, " sink failed");  // a Lua error with the message, not an exception across Lua
    }
    SetLuaOutputSink(nullptr);
    EXPECT_EQ(LuaOutputWrite("abc", 1, 3), 3u);
}

TEST_F(LuaUtilsTest, RegistersDottedNamesAndCalls)
{
    LuaRegisterFunction(L.get(), "a.b.c", [](lua_State* S) { lua_pushinteger(S, 7); return 1; });
    LuaRegisterFunction(L.get(), "io.write", [](lua_State* S) { lua_pushinteger(S, 8); return 1; });
    Run("r = a.b.c() + io.write() assert(io.read)");
    lua_getglobal(L.get(), "r");
    EXPECT_EQ(LuaToInteger(L.get(), -1), 15);
    lua_settop(L.get(), 0);

    LuaLoadBuffer(L.get(), "n = #arg; first = arg[1]; function f(x, y) g = x .. y end", "c");
    LuaCallFunction(L.get(), "", {"p", "q"});
    EXPECT_EQ(Render("n .. first"), "\"2p\"");
    LuaLoadBuffer(L.get(), "function f(x, y) g = x .. y end", "c");
    LuaCallFunction(L.get(), "f", {"1", "2"});
    EXPECT_EQ(Render("g"), "\"12\"");
    LuaLoadBuffer(L.get(), "", "c");
    EXPECT_THROW(LuaCallFunction(L.get(), "missing", {}), Exception);

    LuaSetValue(L.get(), "gv", "{1}");
    EXPECT_EQ(Render("gv"), "{ [1]=1 }");
    LuaSetValue(L.get(), "gv", "=bad");
    EXPECT_EQ(Render("gv"), "{ [1]=1 }");
    EXPECT_EQ(LuaEvalName(L.get(), "gv"), "{ [1]=1 }");
    EXPECT_EQ(LuaEvalName(L.get(), ""), "");
}

// Locals of the running function as a line hook sees them.
TEST_F(LuaUtilsTest, LocalsFromAHook)
{
    lua_sethook(L.get(), [](lua_State* S, lua_Debug* ar) {
        if (ar->currentline != 3) return;
        std::vector<std::pair<std::string, std::string>> list;
        LuaLocalsToStrings(S, list);
        std::string joined;
        for (const auto& [n, v] : list) joined += n + "=" + v + ";";
        lua_pushstring(S, joined.c_str());
        lua_setglobal(S, "seen");
        LuaSetValue(S, "b", "\"q\"\"r\"");
        LuaSetValue(S, "a", "42");
    }, LUA_MASKLINE, 0);
    Run("local a = 1\nlocal b = 's'\nlocal c = a\nr = a .. b\n");
    lua_sethook(L.get(), nullptr, 0, 0);
    EXPECT_EQ(Render("seen").substr(0, 13), "\"a=1;b=\"\"s\"\";");  // temporaries follow
    EXPECT_EQ(Render("r"), "\"42q\"\"r\"");
}

}  // namespace
}  // namespace pek
