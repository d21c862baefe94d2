#include "MacroFixture.h"

#include <thread>

namespace pek::test {
namespace {

// The pane keeps its line breaks as CR LF.
std::string Crlf(const std::string& text)
{
    std::string out;
    for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

const char* const sayFn = "local function say(...) io.write(...) io.write('\\n') end\n";

TEST_F(MacroTest, OutputTimeTextAndArgumentRules)
{
    Start(std::string(sayFn) + R"(
say(tostring(io.write('a', 1, 2.5)))
say(1/3, 1e20, 1e-5)
say('x\by', 'z\0hidden')
say(tostring(io.write()))
io.writeEx(1, 'to1') printfEx(1, '%d') printf('%s')
Wait(0) Wait(-5)
say(#GetTimeStr(9), GetTimeStr(9):match('^%d%d%d%d%d%d%d%d_%d%d%d%d$') and 'ok' or 'bad', GetTimeStr(0))
say(UrlEncode('a b'), UrlEncode('~'), UrlDecode('%7E+x'), UrlEncode('\130\160'), UrlDecode('%%%e3%81%82'))
say(CharCount('\130\160\130\162a'), CharCount('ab\130'), CharCount(12))
say(tostring(Lock(true)), tostring(Lock(true)), tostring(Lock(false)), tostring(Lock(false)))
say(#arg, type(arg), type(_LuaThread))
Trans('hello') Trans(1, 2)
_PekNo = 1 io.write('redir') _PekNo = 0
for _, t in ipairs{9, 2} do
  _PekNo = t
  local ok, e = pcall(RingBufPos)
  _PekNo = 0
  say(tostring(ok), e)
end
say(select(2, pcall(io.writeEx, 9, 'x')))
say(select(2, pcall(UrlDecode, 'ab%4')), select(2, pcall(UrlDecode, '%zz')))
local cases = {
  {'Trans', function() Trans('a', 'b') end}, {'Trans', function() Trans() end},
  {'Trans', function() Trans({}) end}, {'LogStart', function() LogStart('f', 1) end},
  {'LogStart', function() LogStart(1, true, true, true, true, true) end}, {'LogEnd', function() LogEnd(1) end},
  {'Wait', function() Wait() end}, {'GetTime', function() GetTime(1) end},
  {'GetTimeStr', function() GetTimeStr('3') end}, {'UrlEncode', function() UrlEncode() end},
  {'UrlDecode', function() UrlDecode('a', 'b') end}, {'CharCount', function() CharCount({}) end},
  {'Lock', function() Lock(1) end}, {'io_writeEx', function() io.writeEx() end},
  {'RingBufPos', function() RingBufPos(1) end}, {'RingBufGet', function() RingBufGet(1) end},
  {'RingBufGet', function() RingBufGetUntil(1, '3') end}, {'RingBufGetAll', function() RingBufGetAll('1') end},
  {'RingBufDataSize', function() RingBufDataSize() end}, {'RingBufSrch', function() RingBufSrch(1, {}) end},
  {'RingBufClear', function() RingBufClear(1) end},
}
for _, c in ipairs(cases) do
  local ok, e = pcall(c[2])
  local m = c[1] .. 'の引数が正しくない'
  if ok or e:sub(-#m) ~= m or not e:find(':%d+: ' .. c[1]) then say('ARG', c[1], tostring(e)) end
end
say('end')
)");
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
    EXPECT_EQ(window.PaneText(0), Crlf("a\t1\t2.5true\n"
                                       "0.33333333333333\t1E20\t1E-5\n"
                                       "x\ty\tz\n"
                                       "true\n"
                                       "%s13\tok\t\n"
                                       "a+b\t%7e\t~ x\t%e3%81%82\t%\x82\xa0\n") +
                                  Crlf(Utf8ToCp932("3\t3\t2\n"
                                              "true\tfalse\ttrue\tfalse\n"
                                              "0\ttable\tnumber\n"
                                              "false\tシート 9 はありません\n"
                                              "false\tシート 2 にはポートがありません\n"
                                              "シート 9 はありません\n"
                                              "URL 表記用エンコード（%XX）文字列のエラー：位置 - 3\t"
                                              "URL 表記エンコードでは許されない文字 (z)：位置 - 2\n"
                                              "end\n")));
    EXPECT_EQ(window.PaneText(1), "to1%dredir");
    ASSERT_EQ(window.commands.size(), 2u);
    EXPECT_EQ(window.commands[0].text, "hello");
    EXPECT_EQ(window.commands[1].sheet, 1);
    EXPECT_EQ(window.commands[1].text, "2");
    EXPECT_FALSE(window.commands[1].fromUser);
    EXPECT_EQ(window.Device(0).readExactly(6), "hello\r");
}

// TransBytes sends every byte value as it is, with the sheet rules of Trans.
TEST_F(MacroTest, TransBytesSendsEveryByteAsItIs)
{
    Start(R"(
local t = {}
for i = 0, 255 do t[#t + 1] = string.char(i) end
local r = {TransBytes(table.concat(t)), TransBytes(0, '\0\r'), pcall(TransBytes, 5), (pcall(TransBytes, 9, 'x')), (pcall(TransBytes))}
for i = 1, #r do r[i] = tostring(r[i]) end
io.write(table.concat(r, ' '))
)");
    ASSERT_TRUE(Finish());
    std::string all;
    for (int i = 0; i < 256; ++i) all += char(i);
    EXPECT_EQ(window.Device(0).readExactly(258), all + std::string("\0\r", 2));
    EXPECT_EQ(window.PaneText(0).substr(0, 16), "true true false ");
    EXPECT_EQ(window.PaneText(0).substr(window.PaneText(0).size() - 12), " false false") << window.PaneText(0);
}

// The device answers in pieces, with a zero byte; then a flood wraps the ring buffer and the
// next match straddles its end.
TEST_F(MacroTest, RingBufferAgainstADevice)
{
    PtyPair& device = window.Device(0);
    std::thread deviceThread([&device] {
        if (device.readExactly(3) != "AT\r") return;
        device.write(std::string("x\0O", 3));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        device.write("K\r\n");
        if (device.readExactly(3) != "GO\r") return;
        device.write(std::string(31992, 'y'));
        device.write("ABCD");
    });
    Start(std::string(sayFn) + R"(
say(RingBufPos(), RingBufDataSize(RingBufPos()))
local p = RingBufPos()
Trans('AT')
local found, q = 0, p
repeat found, q = RingBufSrch(q, 'OK') if found == 0 then Wait(1) end until found == 1
say('found', q - p)
local s, np, n = RingBufGet(p, 100)
say(#s, n, np - p, s:byte(2), (RingBufGetUntil(p, 1)))
local p2 = RingBufPos()
Trans('GO')
q = p2
repeat found, q = RingBufSrch(q, 'BC') if found == 0 then Wait(1) end until found == 1
say('wrap', q, RingBufDataSize(p2), (RingBufGet(31998, 4)), #RingBufGet(3, -1), select(3, RingBufGetAll(p2)))
RingBufClear()
say(RingBufPos())
)");
    ASSERT_TRUE(Finish());
    deviceThread.join();
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
    EXPECT_EQ(window.PaneText(0), Crlf("0\t0\nfound\t4\n6\t6\t6\t0\tx\nwrap\t32001\t31996\tABCD\t31999\t31996\n0\n"));
}

// A device script must not wait for the window: with the main thread held up (no event served,
// so no receive handling and no pane refresh), a polling script still sees the answer and its
// clear still lands between the device's bytes.
TEST_F(MacroTest, APollSeesTheAnswerWhileTheMainThreadIsBusy)
{
    TCommXEx& port = *window.SheetPort(0);
    int handled = 0;
    const auto read = port.OnReceive;
    port.OnReceive = [&](TCustomCommX& sender, std::int32_t size) {
        ++handled;
        read(sender, size);
    };
    window.Device(0).write("before");
    ASSERT_TRUE(WaitUntil([&] { return port.RingBuf().Pos() == 6 && port.ReadAheadCount() == 0; }));
    Start(R"(
local p = RingBufPos()
io.write('polling')
local found
repeat found, p = RingBufSrch(p, 'OK') if found ~= 1 then Wait(1) end until found == 1
RingBufClear()
)");
    ASSERT_TRUE(Shows("polling"));
    const int handledBefore = handled;
    window.Device(0).write("OK\r\n");
    // Busy: the test holds the main thread until the script has cleared the buffer.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (port.RingBuf().Pos() != 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(port.RingBuf().Pos(), 0);
    EXPECT_EQ(handled, handledBefore);
    EXPECT_EQ(window.PaneText(0), "polling");
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
}

// LogStart and LogEnd act on the active sheet; output is logged by the options of the sheet it
// is shown on, whichever sheet is active.
TEST_F(MacroTest, LogsOfTheActiveSheetAndOutputLoggedWhereShown)
{
    const std::string a = window.Dir().file("a.log").string(), b = window.Dir().file("b.log").string();
    Start("LogStart('" + a + "') io.write('one') LogStart('" + b + "', true, true, false) io.write('two') " +
          "LogStart('" + a + "', true, true, true, false) io.write('three') LogEnd() io.write('four') LogEnd()");
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
    EXPECT_EQ(ReadFileBytes(a), "three");  // created anew by the second start
    EXPECT_EQ(ReadFileBytes(b), "");       // messages not logged
    EXPECT_EQ(window.PaneText(0), "onetwothreefour");
    EXPECT_EQ(window.logStateChanges, 5) << "the log buttons follow every LogStart and LogEnd";

    TCommXEx& port = *window.SheetPort(0);
    port.LogOpen(b, true, true, true, false);
    window.active = 1;  // a sheet without port
    Start("io.write('five') LogStart('" + a + "') LogEnd()");
    ASSERT_TRUE(Finish());
    port.LogClose();
    EXPECT_EQ(ReadFileBytes(b), "five");
    EXPECT_EQ(ReadFileBytes(a), "three");  // LogStart had no sheet port to act on
}

}  // namespace
}  // namespace pek::test
