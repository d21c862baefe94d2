#pragma once
// The script's Regex object and its Match method: Shift-JIS regular expressions on the run's own
// thread, through the run-time binding of the regular-expression library.
#include <lua.hpp>

namespace pek {

int ScriptRegex(lua_State* L);
int ScriptMatch(lua_State* L);

}  // namespace pek
