#include "macro/RunGuard.h"

#include "lua/LuaSafeLoad.h"
#include "lua/LuaUtils.h"

#include <cstdlib>

namespace pek {

namespace {

// Instructions between two looks at the stop flag: cheap enough to leave on for every run.
constexpr int CheckPeriod = 1000;

void* Allocate(void*, void* block, size_t, size_t size)
{
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

// Null for a state not made by NewGuardedState (a debugged run's carries the debugger).
TRunGuard* GuardOf(lua_State* L)
{
    void* ud = nullptr;
    if (lua_getallocf(L, &ud) != Allocate) return nullptr;
    return static_cast<TRunGuard*>(ud);
}

int Panic(lua_State* L)
{
    (void)L;  // an error outside any protected call: nothing sound is left to do
    std::abort();
}

[[noreturn]] void RaiseStop(lua_State* L)
{
    // Garbage left by the run is not finalized any more while it unwinds.
    lua_gc(L, LUA_GCSTOP, 0);
    luaL_error(L, "STOP");
    std::abort();
}

void StopHook(lua_State* L, lua_Debug*) { RaiseStop(L); }

void CheckHook(lua_State* L, lua_Debug*)
{
    const TRunGuard* guard = GuardOf(L);
    if (guard == nullptr || !guard->forced.load(std::memory_order_relaxed)) return;
    // From now on every instruction of this Lua thread raises it, so a pcall cannot hold it.
    lua_sethook(L, StopHook, LUA_MASKCOUNT, 1);
    RaiseStop(L);
}

void SetHook(lua_State* L)
{
    const TRunGuard* guard = GuardOf(L);
    if (guard != nullptr && guard->forced.load()) lua_sethook(L, StopHook, LUA_MASKCOUNT, 1);
    else lua_sethook(L, CheckHook, LUA_MASKCOUNT, CheckPeriod);
}

// The script's finalizer (upvalue 1) for the object (argument 1), run on a new Lua thread: there
// hooks are on, so a forced stop reaches a finalizer that never returns.
int FinalizerTrampoline(lua_State* L)
{
    lua_settop(L, 1);
    // The new thread inherits the hook of the thread the collector runs on; a guarded run's gets
    // the stop hook anew (the inherited one may be a single-shot StopHook already).
    lua_State* co = lua_newthread(L);
    if (GuardOf(L) != nullptr) SetHook(co);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushvalue(L, 1);
    lua_xmove(L, co, 2);
    const int status = lua_resume(co, L, 1);
    if (status != LUA_OK && status != LUA_YIELD) {
        lua_xmove(co, L, 1);
        return lua_error(L);
    }
    return 0;  // a finalizer that yields is simply left there
}

// The metatable at index gets its __gc function wrapped, once.
void WrapFinalizer(lua_State* L, int index)
{
    if (lua_type(L, index) != LUA_TTABLE) return;
    index = lua_absindex(L, index);
    lua_pushliteral(L, "__gc");
    lua_rawget(L, index);
    if (lua_type(L, -1) != LUA_TFUNCTION || lua_tocfunction(L, -1) == FinalizerTrampoline) {
        lua_pop(L, 1);
        return;
    }
    lua_pushcclosure(L, FinalizerTrampoline, 1);
    lua_pushliteral(L, "__gc");
    lua_insert(L, -2);
    lua_rawset(L, index);
}

// setmetatable(table, mt) as the base library has it, finalizer wrapped. Written out instead of
// calling the original, so no upvalue leads a script back to an unwrapped one.
int SetMetatable(lua_State* L)
{
    const int t = lua_type(L, 2);
    luaL_checktype(L, 1, LUA_TTABLE);
    luaL_argcheck(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table expected");
    if (luaL_getmetafield(L, 1, "__metatable")) return luaL_error(L, "cannot change a protected metatable");
    lua_settop(L, 2);
    WrapFinalizer(L, 2);
    lua_setmetatable(L, 1);
    return 1;
}

// debug.setmetatable(value, mt), the same way; a userdata keeps its metatable.
int DebugSetMetatable(lua_State* L) { return LuaDebugSetMetatable(L, WrapFinalizer); }

// A hook of the script's own would replace the stop's, and Lua runs hook functions with hooks off,
// where a loop could not be stopped at all.
int RefusedSetHook(lua_State* L) { return luaL_error(L, "%s", ScriptHookRefusedText); }

}  // namespace

lua_State* NewGuardedState(TRunGuard& guard)
{
    lua_State* L = lua_newstate(Allocate, &guard);
    if (L != nullptr) lua_atpanic(L, Panic);
    return L;
}

void RouteFinalizers(lua_State* L)
{
    LuaRegisterFunction(L, "setmetatable", SetMetatable);
    LuaRegisterFunction(L, "debug.setmetatable", DebugSetMetatable);
}

void InstallRunGuard(lua_State* L)
{
    SetHook(L);
    RouteFinalizers(L);
    LuaRegisterFunction(L, "debug.sethook", RefusedSetHook);
}

void HookForcedStop(lua_State* L)
{
    // lua_sethook may be called from another thread: it only stores the hook and its mask.
    lua_sethook(L, StopHook, LUA_MASKCOUNT, 1);
}

}  // namespace pek
