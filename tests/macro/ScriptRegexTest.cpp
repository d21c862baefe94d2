#include "MacroFixture.h"
#include "ScriptResults.h"

namespace pek::test {
namespace {


TEST_F(MacroTest, RegexGroupsPositionsAndDeviceData)
{
    Start(std::string(ScriptResults) + R"(
local r = Regex{}
say(r:Match('a(b)(x)?c', 'ZABC'), r.Count, r[1], r[2], r.Pos, r.Len, r.MatchLen)
say(r:Match('(q)(z)', 'ZABC'), r.Count, r.Pos, r.Len, r.MatchLen, r[1], r[2])
say(r:Match('x*', 'abc'), r:Match('^', 'abc'), r.Count)
say(r:Match('ャ', '＜ア'), r:Match('ア', '＜ア'), r.Pos, r.Len, r:Match('B+', 'あbb'), r.Pos, r.Len, r.MatchLen)
say(r:Match('c', 'ab\0c'), r.Pos, r:Match(1, 21), r[1])
say(r.No, r.foo, E(function() return r.Text end))
r.Handle = Editor{}.Handle
say(r.No, r.Text == '')
local cases = {
  function() return r:Match('a') end, function() return r:Match({}, 'a') end,
  function() return r.Match('a', 'b', 'c') end, function() return r:Match('a', 'b', 'c') end,
}
for _, f in ipairs(cases) do say(E(f)) end
say(E(Regex, 1), E(Regex))
say(E(r.Match, r, 'a(', 'a('))
local pos, data = RingBufPos()
Trans('AT+CSQ')
repeat Wait(5) data = RingBufGetAll(pos) until RingBufSrch(pos, 'OK') == 1
say(r:Match('\\+csq: (\\d+),(\\d+)', data), r.Count, r[2], r[3], r:Match('ok', data), r.Pos)
io.writeEx(2, table.concat(out, '\n'))
)");
    // The script's Trans needs the main thread: serve it while the device waits for the command.
    std::string command;
    EXPECT_TRUE(WaitUntil([&] { return (command += window.Device(0).readAvailable(std::chrono::milliseconds(1))).size() >= 7; }));
    EXPECT_EQ(command, "AT+CSQ\r");
    window.Device(0).write(std::string("\r\n+CSQ: 17,99\r\n\0OK\r\n", 21));
    ASSERT_TRUE(Finish());
    ASSERT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
    const std::string text = WithoutCr(window.PaneText(2));
    const std::string expected = Utf8ToCp932(
        "true 2 ABC B 2 3 4\n"
        "false 0 0 0 0 ABC B\n"
        "false false 0\n"
        "false true 3 2 true 3 2 4\n"
        "true 4 true 1\n"
        "-1 nil Textにはアクセスできません\n"
        "0 true\n"
        "Matchにはアクセスできません\nMatchにはアクセスできません\n"
        "Matchにはアクセスできません\nMatchにはアクセスできません\n"
        "Regexの引数が正しくない Regexの引数が正しくない\n");
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    const std::string rest = text.substr(std::min(expected.size(), text.size()));
    // The library's own words for the bad pattern follow the script error's.
    EXPECT_EQ(rest.rfind(Utf8ToCp932("正規表現が正しくない: "), 0), 0u) << rest;
    EXPECT_NE(rest.find("\ntrue 3 17 99 true 17"), std::string::npos) << rest;
}

// A search the library gives up on is an error with its words, not "not found"; patterns are
// bounded in length, so none takes seconds to compile.
TEST_F(MacroTest, RegexGivingUpAndLongPatternsAreErrors)
{
    Start(std::string(ScriptResults) + R"(
local r = Regex{}
say(E(r.Match, r, '(a+)+$', string.rep('a', 100) .. 'b'))
say(r:Match('(a+)+$', 'aaab'), r:Match('(a+)+$', 'aaa'), r.Len)
say(r:Match(string.rep('a', 8192), string.rep('A', 8193)), r.Len)
say(E(r.Match, r, string.rep('a', 8193), 'a'))
io.writeEx(2, table.concat(out, '\n'))
)");
    ASSERT_TRUE(Finish());
    ASSERT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
    EXPECT_EQ(WithoutCr(window.PaneText(2)), Utf8ToCp932("retry-limit-in-match over\n"
                                                         "false true 3\n"
                                                         "true 8192\n"
                                                         "正規表現が正しくない: パターンが長すぎます (8192 バイトまで)"));
}

}  // namespace
}  // namespace pek::test
