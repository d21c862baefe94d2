#pragma once
// Between the program and the Lua 5.2 interface: value rendering, registration under dotted
// names, state preparation, loading and calling with errors turned into ELuaException, and the
// print / io.write replacements that write through one process-wide output sink.
#include "platform/Exception.h"

#include <lua.hpp>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pek {

// A Lua compile or run error taken apart: "chunk:line: message".
class ELuaException : public Exception {
public:
    ELuaException(std::string chunkName, int line, std::string msg);
    std::string ChunkName;
    int Line = 0;
    std::string Msg;
};

// Rendering routines take a table-entry limit; a negative one means this default.
inline constexpr int LuaDefaultLimit = 256;

// Numbers as the C "%.<precision>g" gives them, with the exponent written as E, a minus sign only,
// and no leading zeros (1E20, 1.5E-7).
std::string LuaFormatNumber(double value, int precision);

// Runs fn and returns its result; any C++ exception it leaves becomes a Lua error with the
// exception's message, since no C++ exception may cross into Lua.
template <typename F>
int LuaGuard(lua_State* L, F&& fn)
{
    std::string message;
    try {
        return fn();
    } catch (const std::exception& e) {
        message = e.what();
    }
    return luaL_error(L, "%s", message.c_str());
}

std::string LuaValueToStr(lua_State* L, int index, int limit = -1);
std::string LuaTableToStr(lua_State* L, int index, int limit = -1);
// One line per stack slot, from the top down to index 1.
void LuaStackToStrings(lua_State* L, std::vector<std::string>& list, int limit = -1);
// The locals of the function at the stack level (0: the running one) as name/value pairs; each name
// once, at its first place, with the value of its last occurrence.
void LuaLocalsToStrings(lua_State* L, std::vector<std::pair<std::string, std::string>>& list, int limit = -1,
                        int level = 0);

struct LuaTreeNode {
    std::string Text;
    std::vector<LuaTreeNode> Children;
};
// The table at `index` as a tree; tables met twice show "{循環参照}" the second time.
void LuaTableToTree(lua_State* L, int index, std::vector<LuaTreeNode>& tree, int limit = -1);

// A local of the function at the stack level, else the global of that name, read raw (no
// metamethod runs; a missing name is nil).
std::string LuaEvalName(lua_State* L, std::string_view name, int limit = -1, int level = 0);
// Instructions script code run for the debugger's views may take: hooks are off inside a debug
// hook, so nothing else would end a loop.
inline constexpr int LuaEvalBudget = 1'000'000;
// Runs the text chunk on a fresh thread of L under the instruction budget, with the collector
// held; returns the error text, empty when it ran through.
std::string LuaRunBudgeted(lua_State* L, std::string_view chunk, const char* chunkName, int budget);
// A local gets the text as a number or a string; any other name is assigned by running
// "name=value" under LuaEvalBudget. Returns the error text, empty when the value was set.
std::string LuaSetValue(lua_State* L, std::string_view name, std::string_view value, int limit = -1, int level = 0);
// The number at the index truncated toward zero (clamped to the integer range; 0 for NaN).
lua_Integer LuaToInteger(lua_State* L, int index);

// `index` may be LUA_REGISTRYINDEX, meaning the globals.
void LuaRegisterFunction(lua_State* L, std::string_view dottedName, lua_CFunction fn);
void LuaGetField(lua_State* L, int index, const char* name);
void* LuaGetUserDataField(lua_State* L, int index, const char* name);
void LuaSetIntegerField(lua_State* L, int index, const char* name, lua_Integer value);
void LuaSetFunctionField(lua_State* L, int index, const char* name, lua_CFunction fn);
void LuaSetLightUserDataField(lua_State* L, int index, const char* name, void* value);
void LuaRawSetFunctionField(lua_State* L, int index, const char* name, lua_CFunction fn);
void LuaSetGlobalFunction(lua_State* L, const char* name, lua_CFunction fn);
void LuaSetMetaFunction(lua_State* L, int index, const char* name, lua_CFunction fn);

void LuaInitState(lua_State* L);
// Raise ELuaException on failure; the error value stays on the stack.
void LuaLoadBuffer(lua_State* L, std::string_view text, const std::string& chunkName);
void LuaPCall(lua_State* L, int nargs, int nresults);
// With the loaded chunk on the stack: run it (empty name: with the global `arg`), or run it and
// then call the named global function with the arguments as strings.
void LuaCallFunction(lua_State* L, const std::string& functionName, const std::vector<std::string>& args);

struct LuaErrorParts {
    std::string ChunkName;
    int Line = 0;
    std::string Msg;
};
LuaErrorParts ParseLuaError(std::string_view text);
std::string LuaChunkFileName(std::string_view chunkName);

// Process-wide output of print and io.write: (bytes, size, count). None at start.
using LuaOutputSink = std::function<void(const char* text, std::size_t size, std::size_t count)>;
void SetLuaOutputSink(LuaOutputSink sink);
std::size_t LuaOutputWrite(const char* text, std::size_t size, std::size_t count);

int LuaPrint(lua_State* L);
int LuaIoWrite(lua_State* L);

}  // namespace pek
