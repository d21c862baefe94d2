// Script functions reading the receive ring buffer of the run's sheet. They stay on the calling
// thread: the buffer orders its readers, the receive thread and a clear itself.
#include "lua/LuaUtils.h"
#include "macro/MacroCore.h"
#include "macro/MacroLua_u.h"
#include "macro/ScriptApi.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "serial/CommXEx.h"
#include "terminal/TerminalHost.h"

#include <cstring>

namespace pek {

namespace {

std::int32_t ToInt32(lua_Integer value)
{
    return value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : std::int32_t(value);
}

std::int32_t PosArg(lua_State* L, int index) { return ToInt32(LuaToInteger(L, index)); }

// Runs fn with the buffer of the run's sheet; a missing sheet or port is a script error.
template <typename F>
int WithBuffer(lua_State* L, F&& fn)
{
    TRingBuf* buf = nullptr;
    LuaGuard(L, [&] {
        buf = &ScriptContext(L).Port(ScriptSheet(L)).RingBuf();
        return 0;
    });
    return fn(*buf);
}

int PushData(lua_State* L, const std::string& data, std::int32_t pos, std::int32_t delivered)
{
    lua_pushlstring(L, data.data(), data.size());
    lua_pushinteger(L, pos);
    lua_pushinteger(L, delivered);
    return 3;
}

}  // namespace

int ScriptRingBufPos(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 0) ArgError(L, "RingBufPos");
    return WithBuffer(L, [&](TRingBuf& buf) {
        lua_pushinteger(L, buf.Pos());
        return 1;
    });
}

int ScriptRingBufGet(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 2 || lua_type(L, 1) != LUA_TNUMBER || lua_type(L, 2) != LUA_TNUMBER) ArgError(L, "RingBufGet");
    std::int32_t pos = PosArg(L, 1);
    const lua_Integer count = LuaToInteger(L, 2);
    return WithBuffer(L, [&](TRingBuf& buf) {
        const std::int32_t n = ToInt32(count < 0 ? count + buf.Size() : count);
        std::int32_t delivered = 0;
        const std::string data = buf.Get(pos, n, delivered);
        return PushData(L, data, pos, delivered);
    });
}

int ScriptRingBufGetAll(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 1 || lua_type(L, 1) != LUA_TNUMBER) ArgError(L, "RingBufGetAll");
    std::int32_t pos = PosArg(L, 1);
    return WithBuffer(L, [&](TRingBuf& buf) {
        std::int32_t delivered = 0;
        const std::string data = buf.Get(pos, buf.Size(), delivered);
        return PushData(L, data, pos, delivered);
    });
}

int ScriptRingBufDataSize(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 1 || lua_type(L, 1) != LUA_TNUMBER) ArgError(L, "RingBufDataSize");
    const std::int32_t pos = PosArg(L, 1);
    return WithBuffer(L, [&](TRingBuf& buf) {
        lua_pushinteger(L, buf.DataSize(pos));
        return 1;
    });
}

int ScriptRingBufSrch(lua_State* L)
{
    CheckStop(L);
    const int n = lua_gettop(L);
    if (n != 2 || lua_type(L, 1) != LUA_TNUMBER || (lua_type(L, 2) != LUA_TSTRING && lua_type(L, 2) != LUA_TNUMBER))
        ArgError(L, "RingBufSrch");
    std::int32_t pos = PosArg(L, 1);
    std::size_t len = 0;
    const char* s = lua_tolstring(L, 2, &len);
    const std::string_view pattern(s, strnlen(s, len));
    return WithBuffer(L, [&](TRingBuf& buf) {
        const bool found = buf.Srch(pos, pattern);
        lua_pushinteger(L, found ? 1 : 0);
        lua_pushinteger(L, pos);
        return 2;
    });
}

int ScriptRingBufClear(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 0) ArgError(L, "RingBufClear");
    // Here, not on the main thread: the buffer orders a clear with the receive thread's puts, so
    // it falls between two reads from the device even while the main thread is busy.
    return WithBuffer(L, [](TRingBuf& buf) {
        buf.Clear();
        return 0;
    });
}

}  // namespace pek
