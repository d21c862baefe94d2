#include "lua/LuaSafeLoad.h"

#include "lua/LuaUtils.h"

#include <cstring>

namespace pek {

namespace {

// Lua's own words when a mode "t" load meets a binary chunk.
constexpr const char* LuaRefusal = "attempt to load a binary chunk";

// A load error that is the refusal of a binary chunk gets a text that says why.
void ClarifyRefusal(lua_State* L, int index)
{
    index = lua_absindex(L, index);
    if (lua_type(L, index) != LUA_TSTRING) return;
    const char* text = lua_tostring(L, index);
    if (std::strstr(text, LuaRefusal) == nullptr) return;
    lua_pushstring(L, LuaBinaryRefusedText);
    lua_replace(L, index);
}

// The environment argument becomes the loaded function's first upvalue; then the results as load
// gives them: the function, or nil and the message.
int LoadResult(lua_State* L, int status, int envIndex)
{
    if (status == LUA_OK) {
        if (envIndex != 0) {
            lua_pushvalue(L, envIndex);
            if (lua_setupvalue(L, -2, 1) == nullptr) lua_pop(L, 1);
        }
        return 1;
    }
    ClarifyRefusal(L, -1);
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

constexpr int ReaderSlot = 5;  // where the reader's last piece is kept alive

const char* PieceReader(lua_State* L, void*, size_t* size)
{
    luaL_checkstack(L, 2, "too many nested functions");
    lua_pushvalue(L, 1);
    lua_call(L, 0, 1);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        *size = 0;
        return nullptr;
    }
    if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
    lua_replace(L, ReaderSlot);
    return lua_tolstring(L, ReaderSlot, size);
}

// load(chunk [, name [, mode [, env]]]) and loadstring, as the base library has them but with
// mode "t" whatever the script asks. Written out instead of calling the original, so that no
// upvalue leads a script back to a load that takes binary chunks.
int TextLoad(lua_State* L)
{
    const int top = lua_gettop(L);
    size_t length = 0;
    const char* text = lua_tolstring(L, 1, &length);
    luaL_optstring(L, 3, "bt");
    int status = LUA_OK;
    if (text != nullptr) {
        const char* name = luaL_optstring(L, 2, text);
        status = luaL_loadbufferx(L, text, length, name, "t");
    } else {
        const char* name = luaL_optstring(L, 2, "=(load)");
        luaL_checktype(L, 1, LUA_TFUNCTION);
        lua_settop(L, ReaderSlot);
        status = lua_load(L, PieceReader, nullptr, name, "t");
    }
    return LoadResult(L, status, top >= 4 ? 4 : 0);
}

// loadfile([name [, mode [, env]]]) the same way.
int TextLoadFile(lua_State* L)
{
    const char* name = luaL_optstring(L, 1, nullptr);
    luaL_optstring(L, 2, nullptr);
    const int env = lua_isnone(L, 3) ? 0 : 3;
    return LoadResult(L, luaL_loadfilex(L, name, "t"), env);
}

int DoFileContinue(lua_State* L) { return lua_gettop(L) - 1; }

int TextDoFile(lua_State* L)
{
    const char* name = luaL_optstring(L, 1, nullptr);
    lua_settop(L, 1);
    if (luaL_loadfilex(L, name, "t") != LUA_OK) {
        ClarifyRefusal(L, -1);
        return lua_error(L);
    }
    lua_callk(L, 0, LUA_MULTRET, 0, DoFileContinue);
    return DoFileContinue(L);
}

// require's searcher of Lua files (package table as upvalue 1), loading text only.
int TextSearcher(lua_State* L)
{
    const char* name = luaL_checkstring(L, 1);
    lua_getfield(L, lua_upvalueindex(1), "searchpath");
    if (!lua_isfunction(L, -1)) return luaL_error(L, "package.searchpath is missing");
    lua_pushstring(L, name);
    lua_getfield(L, lua_upvalueindex(1), "path");
    if (!lua_isstring(L, -1)) return luaL_error(L, "'package.path' must be a string");
    lua_call(L, 2, 2);
    if (lua_isnil(L, -2)) return 1;  // the list of places tried
    lua_pop(L, 1);
    const char* fileName = lua_tostring(L, -1);
    if (fileName == nullptr) return 0;
    if (luaL_loadfilex(L, fileName, "t") != LUA_OK) {
        ClarifyRefusal(L, -1);
        return luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", name, fileName, lua_tostring(L, -1));
    }
    lua_pushstring(L, fileName);
    return 2;
}

// Replaces a global function that the libraries made; none is made where there was none.
void ReplaceGlobal(lua_State* L, const char* name, lua_CFunction replacement)
{
    lua_getglobal(L, name);
    const bool present = lua_isfunction(L, -1);
    lua_pop(L, 1);
    if (present) LuaSetGlobalFunction(L, name, replacement);
}

int DebugSetMetatable(lua_State* L) { return LuaDebugSetMetatable(L, nullptr); }

}  // namespace

int LuaDebugSetMetatable(lua_State* L, void (*prepare)(lua_State* L, int index))
{
    const int t = lua_type(L, 2);
    luaL_argcheck(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table expected");
    if (lua_type(L, 1) == LUA_TUSERDATA) return luaL_error(L, "%s", LuaUserdataMetatableText);
    lua_settop(L, 2);
    if (prepare != nullptr) prepare(L, 2);
    lua_setmetatable(L, 1);
    return 1;
}

void LuaMakeLibrariesSafe(lua_State* L)
{
    ReplaceGlobal(L, "load", TextLoad);
    ReplaceGlobal(L, "loadstring", TextLoad);
    ReplaceGlobal(L, "loadfile", TextLoadFile);
    ReplaceGlobal(L, "dofile", TextDoFile);
    LuaRegisterFunction(L, "debug.setmetatable", DebugSetMetatable);
    lua_getglobal(L, "package");
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, "searchers");
        if (lua_istable(L, -1)) {
            lua_pushvalue(L, -2);
            lua_pushcclosure(L, TextSearcher, 1);
            lua_rawseti(L, -2, 2);  // 1: preloaded modules, 2: Lua files, 3 and 4: C libraries
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
}

void LuaLoadText(lua_State* L, std::string_view text, const std::string& chunkName)
{
    if (luaL_loadbufferx(L, text.data(), text.size(), chunkName.c_str(), "t") == LUA_OK) return;
    ClarifyRefusal(L, -1);
    const LuaErrorParts parts = ParseLuaError(lua_tostring(L, -1) != nullptr ? lua_tostring(L, -1) : "");
    throw ELuaException(parts.ChunkName, parts.Line, parts.Msg);
}

}  // namespace pek
