#pragma once
// What lets a forced stop end a thread run whatever its script does: a hook on every Lua thread of
// the run (coroutines inherit it) that watches the run's stop flag, and finalizers run on a fresh
// hooked coroutine, since Lua calls them with hooks off.
#include <lua.hpp>

#include <atomic>

namespace pek {

// Outside the Lua heap and out of the script's reach: the state's allocator carries it, so a hook
// on any of the run's Lua threads finds it. It must outlive the state.
struct TRunGuard {
    std::atomic<bool> forced{false};
};

inline constexpr const char* ScriptHookRefusedText = "debug.sethook is not available in a thread run: its stop uses the hook";

// A new state whose hooks and finalizers answer to the guard; null when memory is short.
lua_State* NewGuardedState(TRunGuard& guard);
// After the libraries are open: setmetatable/debug.setmetatable run finalizers on a new Lua thread,
// which inherits the hook of the thread collecting (a debugged run's finalizers are debugged, and
// stopped, like its other code).
void RouteFinalizers(lua_State* L);
// After the libraries are open: the stop hook on the state, setmetatable/debug.setmetatable that
// route finalizers through a hooked coroutine, and debug.sethook refused (ScriptHookRefusedText).
void InstallRunGuard(lua_State* L);
// Any thread: makes the state's main Lua thread raise "STOP" at its next instruction (the others
// notice the guard's flag within a few thousand instructions). The caller has set guard.forced.
void HookForcedStop(lua_State* L);

}  // namespace pek
