// The parts of the script objects that need no window; the pane behind them comes from the
// window's registration (RegisterPaneFunctions).
#include "macro/ScriptEditor.h"

#include <cstring>

namespace pek {

void SetObjectHandlers(lua_State* L, int index, lua_CFunction get, lua_CFunction set)
{
    index = lua_absindex(L, index);
    if (!lua_getmetatable(L, index)) {
        lua_newtable(L);
        lua_pushvalue(L, -1);
        lua_setmetatable(L, index);
    }
    lua_pushcfunction(L, get);
    lua_setfield(L, -2, "__index");
    if (set != nullptr) {
        lua_pushcfunction(L, set);
        lua_setfield(L, -2, "__newindex");
    }
    lua_pop(L, 1);
}

int ScriptEditorNoAndText(lua_State* L)
{
    if (lua_gettop(L) != 2 || lua_type(L, 2) != LUA_TSTRING) return 0;
    const char* key = lua_tostring(L, 2);
    if (std::strcmp(key, "No") != 0 && std::strcmp(key, "Text") != 0) return 0;
    lua_getfield(L, LUA_REGISTRYINDEX, PaneNoAndTextKey);
    if (lua_tocfunction(L, -1) == nullptr) return luaL_error(L, "%s needs a window", key);
    lua_insert(L, 1);
    lua_call(L, 2, 1);
    return 1;
}

}  // namespace pek
