#pragma once
// The standard libraries without their ways to crash the VM. Scripts load source text only: the
// Lua VM trusts precompiled chunks, and a crafted one (a mutated string.dump result, say) crashes
// it. And a script cannot give a userdata another metatable, which would make the C code of that
// metatable read the userdata's memory as its own kind.
#include <lua.hpp>

#include <string>
#include <string_view>

namespace pek {

// In a state whose standard libraries are open: load, loadstring, loadfile, dofile and the
// Lua-file searcher of require accept text chunks only; debug.setmetatable refuses userdata.
void LuaMakeLibrariesSafe(lua_State* L);

// debug.setmetatable(value, mt) refusing a full userdata: its metatable tells the C code that made
// it what its memory holds, and another one would make that code read it as something else.
// `prepare` (may be null) sees the metatable at `index` before it is set.
int LuaDebugSetMetatable(lua_State* L, void (*prepare)(lua_State* L, int index));

// Loads a text chunk; raises ELuaException (the error value stays on the stack) for a binary one
// or a compile error.
void LuaLoadText(lua_State* L, std::string_view text, const std::string& chunkName);

// The error text a refused binary chunk gets.
inline constexpr const char* LuaBinaryRefusedText = "precompiled (binary) chunks cannot be loaded: only Lua source text";
inline constexpr const char* LuaUserdataMetatableText = "the metatable of a userdata cannot be changed";

}  // namespace pek
