// Script functions: pane output, transmission, logging, time, URL text, character count, lock.
#include "macro/ScriptApi.h"

#include "lua/LuaUtils.h"
#include "macro/MacroCore.h"
#include "macro/MacroLua_u.h"
#include "macro/ScriptRegex.h"
#include "macro/macrothread_u.h"
#include "platform/CharClass.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/EventWait.h"
#include "platform/Exception.h"
#include "serial/CommXEx.h"
#include "terminal/PaneFiles.h"
#include "terminal/ReceiveText.h"
#include "terminal/TerminalHost.h"

#include <QCoreApplication>

#include <cstring>
#include <ctime>
#include <thread>

namespace pek {

namespace {

bool IsText(lua_State* L, int index)
{
    const int type = lua_type(L, index);
    return type == LUA_TSTRING || type == LUA_TNUMBER;
}

// A Lua string handed to the terminal ends at its first zero byte.
std::string TerminalText(lua_State* L, int index)
{
    std::size_t len = 0;
    const char* s = lua_tolstring(L, index, &len);
    return s == nullptr ? std::string() : std::string(s, strnlen(s, len));
}

std::string LocalStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d_%H%M", &local);
    return text;
}

// Writes the arguments from `first` on as io.write does; the pane gets what came before a bad
// argument, then Lua's own argument error is raised for it.
int WriteArguments(lua_State* L, int first, int sheet)
{
    const int n = lua_gettop(L);
    std::string text;
    int bad = 0;
    for (int i = first; i <= n; ++i) {
        const int type = lua_type(L, i);
        if (type == LUA_TNUMBER) text += LuaFormatNumber(lua_tonumber(L, i), 14);
        else if (type == LUA_TSTRING) text += TerminalText(L, i);
        else {
            bad = i;
            break;
        }
        if (i < n) text += '\t';
    }
    if (!text.empty()) {
        for (char& c : text)
            if (c == '\b') c = '\t';
        LuaGuard(L, [&] {
            ScriptContext(L).Show(sheet, text);
            return 0;
        });
        // As print's: the debugger's console, when it listens.
        LuaOutputWrite(text.data(), 1, text.size());
    }
    if (bad != 0) luaL_checklstring(L, bad, nullptr);
    lua_pushboolean(L, 1);
    return 1;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int ScriptWrite(lua_State* L) { return WriteArguments(L, 1, ScriptSheet(L)); }

int ScriptWriteEx(lua_State* L)
{
    if (lua_gettop(L) < 1) ArgError(L, "io_writeEx");
    const lua_Integer sheet = lua_type(L, 1) == LUA_TNUMBER ? LuaToInteger(L, 1) : 0;
    return WriteArguments(L, 2, sheet < INT32_MIN || sheet > INT32_MAX ? -1 : int(sheet));
}

int ScriptTrans(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    if (n < 1 || n > 2 || !IsText(L, n) || (n == 2 && lua_type(L, 1) != LUA_TNUMBER)) ArgError(L, "Trans");
    const lua_Integer wanted = n == 2 ? LuaToInteger(L, 1) : ScriptSheet(L);
    const int sheet = wanted < INT32_MIN || wanted > INT32_MAX ? -1 : int(wanted);
    std::string text = TerminalText(L, n);
    return LuaGuard(L, [&] {
        ScriptContext(L).Core->OnMain([&](TerminalHost& window) {
            if (sheet < 0 || sheet >= window.SheetCount()) throw Exception(NoSheetText(sheet));
            window.ExecCommand(sheet, std::move(text), false);
        });
        return 0;
    });
}

// Bytes as they are, zeros included: no line ending, no echo, no command prefixes. Trans cannot
// carry them, its text being a command. True when the bytes were queued on an open port.
int ScriptTransBytes(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    if (n < 1 || n > 2 || lua_type(L, n) != LUA_TSTRING || (n == 2 && lua_type(L, 1) != LUA_TNUMBER))
        ArgError(L, "TransBytes");
    const lua_Integer wanted = n == 2 ? LuaToInteger(L, 1) : ScriptSheet(L);
    const int sheet = wanted < INT32_MIN || wanted > INT32_MAX ? -1 : int(wanted);
    std::size_t length = 0;
    const char* data = lua_tolstring(L, n, &length);
    const std::string bytes(data, length);
    bool sent = false;
    LuaGuard(L, [&] {
        TCommXEx& port = ScriptContext(L).Port(sheet);
        sent = port.IsOpen() && port.SendStr(bytes);
        if (sent && port.LogBin() && port.LogTrs() && port.LogOpened())
            port.LogWrite(TimeStampPrefix(port.TimeTyp(), timeGetTime(), std::time(nullptr)) + bytes);
        return 0;
    });
    lua_pushboolean(L, sent);
    return 1;
}

int ScriptLogStart(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    if (n > 5 || (n >= 1 && !IsText(L, 1))) ArgError(L, "LogStart");
    for (int i = 2; i <= n; ++i)
        if (lua_type(L, i) != LUA_TBOOLEAN) ArgError(L, "LogStart");
    const std::string name = n >= 1 ? TerminalText(L, 1) : DefaultLogName(std::time(nullptr));
    const auto option = [&](int i, bool byDefault) { return n >= i ? lua_toboolean(L, i) != 0 : byDefault; };
    const bool rcv = option(2, true), trs = option(3, true), msg = option(4, true), bin = option(5, false);
    return LuaGuard(L, [&] {
        ScriptContext(L).Core->OnMain([&](TerminalHost& window) {
            TCommXEx* port = window.SheetPort(window.ActiveSheet());
            if (port == nullptr) return;
            // The log buttons follow the log, whether or not this open succeeds.
            struct Refresh {
                TerminalHost& window;
                ~Refresh() { window.LogStateChanged(); }
            } refresh{window};
            if (port->LogOpened()) port->LogClose();
            port->LogOpen(name, rcv, trs, msg, bin);
        });
        return 0;
    });
}

int ScriptLogEnd(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 0) ArgError(L, "LogEnd");
    return LuaGuard(L, [&] {
        ScriptContext(L).Core->OnMain([&](TerminalHost& window) {
            TCommXEx* port = window.SheetPort(window.ActiveSheet());
            if (port != nullptr && port->LogOpened()) port->LogClose();
            window.LogStateChanged();
        });
        return 0;
    });
}

int ScriptWait(lua_State* L)
{
    const std::uint32_t t0 = timeGetTime();
    CheckStop(L);
    if (lua_gettop(L) != 1) ArgError(L, "Wait");
    const lua_Integer ms = lua_type(L, 1) == LUA_TNUMBER ? LuaToInteger(L, 1) : 0;
    const lua_Integer elapsed = lua_Integer(std::uint32_t(timeGetTime() - t0));
    if (ms <= elapsed) {
        std::this_thread::yield();
        return 0;
    }
    // Beyond MaxSleepMs (math.huge, say) no clock can count: such a wait lasts until the stop.
    const bool endless = ms > TMacroThread::MaxSleepMs;
    if (TMacroThread* run = ScriptContext(L).Run) {
        // A stop request ends the wait at once instead of after it.
        if (!run->Sleep(endless ? ms : ms - elapsed)) luaL_error(L, "STOP");
    } else if (TMacroCore::OnMainThread()) {
        // A debugged run: the window stays live and a stop ends the wait.
        using namespace std::chrono;
        const auto due = steady_clock::now() + milliseconds(endless ? 0 : ms - elapsed);
        for (;;) {
            CheckStop(L);
            const auto left = endless ? milliseconds(50) : duration_cast<milliseconds>(due - steady_clock::now());
            if (left.count() <= 0) break;
            ServeEventsUpTo(std::min(left, milliseconds(50)));
        }
    } else {
        Sleep(std::uint32_t(std::min<lua_Integer>(ms - elapsed, UINT32_MAX)));
    }
    return 0;
}

int ScriptGetTime(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 0) ArgError(L, "GetTime");
    lua_pushinteger(L, std::int32_t(timeGetTime()));
    return 1;
}

int ScriptGetTimeStr(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 1 || lua_type(L, 1) != LUA_TNUMBER) ArgError(L, "GetTimeStr");
    lua_Integer type = LuaToInteger(L, 1);
    std::string text;
    if (type == 0) {
        // The time-stamp type of the active sheet's port; none without a port.
        LuaGuard(L, [&] {
            ScriptContext(L).Core->OnMain([&](TerminalHost& window) {
                const TCommXEx* port = window.SheetPort(window.ActiveSheet());
                type = port != nullptr ? port->TimeTyp() : 0;
            });
            return 0;
        });
        text = TimeStampText(int(type), timeGetTime(), std::time(nullptr));
    } else if (type >= 1 && type <= 3) {
        text = TimeStampText(int(type), timeGetTime(), std::time(nullptr));
    } else {
        text = LocalStamp();
    }
    lua_pushlstring(L, text.data(), text.size());
    return 1;
}

int ScriptUrlEncode(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 1 || !IsText(L, 1)) ArgError(L, "UrlEncode");
    const std::string utf8 = Cp932ToUtf8(TerminalText(L, 1));
    std::string out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || std::strchr("*@._-$!'()", b) != nullptr) {
            out += c;
        } else if (b == ' ') {
            out += '+';
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%.2x", b);
            out += hex;
        }
    }
    lua_pushlstring(L, out.data(), out.size());
    return 1;
}

int ScriptUrlDecode(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 1 || !IsText(L, 1)) ArgError(L, "UrlDecode");
    const std::string in = TerminalText(L, 1);
    std::string utf8;
    std::string failure;
    for (std::size_t i = 0; i < in.size() && failure.empty(); ++i) {
        const char c = in[i];
        if (c == '+') {
            utf8 += ' ';
        } else if (c != '%') {
            utf8 += c;
        } else if (i + 1 < in.size() && in[i + 1] == '%') {
            utf8 += '%';
            ++i;
        } else if (i + 2 >= in.size()) {
            failure = Sjis("URL 表記用エンコード（%XX）文字列のエラー：位置 - ") + std::to_string(i + 1);
        } else if (HexValue(in[i + 1]) < 0 || HexValue(in[i + 2]) < 0) {
            const std::size_t at = HexValue(in[i + 1]) < 0 ? i + 1 : i + 2;
            failure = Sjis("URL 表記エンコードでは許されない文字 (") + in[at] + Sjis(")：位置 - ") + std::to_string(at + 1);
        } else {
            utf8 += char(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
            i += 2;
        }
    }
    if (!failure.empty()) luaL_error(L, "%s", failure.c_str());
    const std::string out = Utf8ToCp932(utf8);
    lua_pushlstring(L, out.data(), out.size());
    return 1;
}

int ScriptCharCount(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 1 || !IsText(L, 1)) ArgError(L, "CharCount");
    const std::string s = TerminalText(L, 1);
    lua_Integer count = 0;
    for (std::size_t i = 0; i < s.size(); ++count) i += CharLenAt(s, i);
    lua_pushinteger(L, count);
    return 1;
}

int ScriptProcessMessages(lua_State* L)
{
    CheckStop(L);
    // Only the main thread has messages to handle; a worker's calls are served there anyway.
    if (TMacroCore::OnMainThread()) QCoreApplication::processEvents();
    return 0;
}

int ScriptLock(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 1 || lua_type(L, 1) != LUA_TBOOLEAN) ArgError(L, "Lock");
    const bool wanted = lua_toboolean(L, 1) != 0;
    // One atomic exchange: of two runs asking at once, only one is told it took the lock.
    const bool old = ScriptContext(L).Core->LockFlag().exchange(wanted);
    lua_pushboolean(L, wanted != old);
    return 1;
}

void RegisterFunctions(lua_State* L)
{
    static constexpr TScriptFunction functions[] = {
        {"io.write", Guarded<ScriptWrite>},
        {"io.writeEx", Guarded<ScriptWriteEx>},
        {"printf", Guarded<ScriptWrite>},
        {"printfEx", Guarded<ScriptWriteEx>},
        {"Trans", Guarded<ScriptTrans>},
        {"TransBytes", Guarded<ScriptTransBytes>},
        {"LogStart", Guarded<ScriptLogStart>},
        {"LogEnd", Guarded<ScriptLogEnd>},
        {"Wait", Guarded<ScriptWait>},
        {"GetTime", Guarded<ScriptGetTime>},
        {"GetTimeStr", Guarded<ScriptGetTimeStr>},
        {"UrlEncode", Guarded<ScriptUrlEncode>},
        {"UrlDecode", Guarded<ScriptUrlDecode>},
        {"CharCount", Guarded<ScriptCharCount>},
        {"ProcessMessages", Guarded<ScriptProcessMessages>},
        {"Lock", Guarded<ScriptLock>},
        {"RingBufPos", Guarded<ScriptRingBufPos>},
        {"RingBufGet", Guarded<ScriptRingBufGet>},
        {"RingBufGetUntil", Guarded<ScriptRingBufGet>},
        {"RingBufGetAll", Guarded<ScriptRingBufGetAll>},
        {"RingBufDataSize", Guarded<ScriptRingBufDataSize>},
        {"RingBufSrch", Guarded<ScriptRingBufSrch>},
        {"RingBufClear", Guarded<ScriptRingBufClear>},
        {"Regex", Guarded<ScriptRegex>},
    };
    RegisterScriptFunctions(L, functions);
    // Then those of the window (Editor) and of the features outside this folder (dialogs, script GUI, ...).
    for (const auto& library : ScriptContext(L).Core->ScriptLibraries()) library(L);
}

}  // namespace pek
