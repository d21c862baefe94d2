#include "lua/LuaUtils.h"

#include "lua/LuaSafeLoad.h"
#include "platform/CodePage.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace pek {

namespace {

std::string PointerText(const void* p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*" PRIXPTR, int(sizeof(void*) * 2), reinterpret_cast<std::uintptr_t>(p));
    return buf;
}

int Limit(int limit) { return limit < 0 ? LuaDefaultLimit : limit; }

// Key text of a table entry: numbers bracketed, strings raw.
std::string KeyText(lua_State* L, int index, int limit)
{
    switch (lua_type(L, index)) {
    case LUA_TNUMBER:
        return "[" + LuaValueToStr(L, index, limit) + "]";
    case LUA_TSTRING: {
        std::size_t len = 0;
        const char* s = lua_tolstring(L, index, &len);
        return std::string(s, len);
    }
    default:
        return LuaValueToStr(L, index, limit);
    }
}

// The error value as text: a string as it is, anything else rendered.
std::string ErrorText(lua_State* L, int index)
{
    if (lua_type(L, index) == LUA_TSTRING) {
        std::size_t len = 0;
        const char* s = lua_tolstring(L, index, &len);
        return std::string(s, len);
    }
    return LuaValueToStr(L, index, -1);
}

[[noreturn]] void ThrowLuaError(lua_State* L)
{
    LuaErrorParts parts = ParseLuaError(ErrorText(L, -1));
    throw ELuaException(std::move(parts.ChunkName), parts.Line, std::move(parts.Msg));
}

// Nesting beyond this shows as "{...}": a chain of a million tables must not exhaust the C stack.
constexpr int kTreeDepthLimit = 200;

void FillTree(lua_State* L, int index, std::vector<LuaTreeNode>& nodes, std::unordered_set<const void*>& visited,
              int limit, int depth)
{
    index = lua_absindex(L, index);
    if (!lua_checkstack(L, 3)) return;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        std::string key = KeyText(L, -2, limit);
        if (key == "_G") {
            nodes.push_back({"_G = " + Sjis("{グローバル変数}"), {}});
        } else if (lua_type(L, -1) == LUA_TTABLE) {
            if (!visited.insert(lua_topointer(L, -1)).second) {
                nodes.push_back({key + " = " + Sjis("{循環参照}"), {}});
            } else if (depth >= kTreeDepthLimit) {
                nodes.push_back({key + " = {...}", {}});
            } else {
                nodes.push_back({std::move(key), {}});
                std::vector<LuaTreeNode> children;
                FillTree(L, -1, children, visited, limit, depth + 1);
                nodes.back().Children = std::move(children);
            }
        } else {
            key += " = ";
            key += LuaValueToStr(L, -1, limit);
            nodes.push_back({std::move(key), {}});
        }
        lua_pop(L, 1);
    }
}

std::mutex sinkMutex;
LuaOutputSink outputSink;  // the process-wide sink; guarded by sinkMutex

}  // namespace

ELuaException::ELuaException(std::string chunkName, int line, std::string msg)
    : Exception(chunkName + (line > 0 ? "(" + std::to_string(line) + ")" : std::string()) + msg),
      ChunkName(std::move(chunkName)), Line(line), Msg(std::move(msg))
{
}

std::string LuaFormatNumber(double value, int precision)
{
    // Whole numbers with fewer digits than the precision print as plain integers: the common case,
    // without the cost of a formatted print (the globals view renders 100,000 of them at a stop).
    if (precision > 0 && precision <= 15 && std::trunc(value) == value && std::fabs(value) < std::pow(10.0, precision) &&
        !(value == 0 && std::signbit(value))) {
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<long long>(value)).ptr;
        return std::string(digits, end);
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", precision, value);
    std::string text(buf);
    const auto e = text.find_first_of("eE");
    if (e == std::string::npos) return text;
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    bool negative = false;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        negative = exponent[0] == '-';
        exponent.erase(0, 1);
    }
    const auto digits = exponent.find_first_not_of('0');
    exponent = digits == std::string::npos ? "0" : exponent.substr(digits);
    return mantissa + "E" + (negative ? "-" : "") + exponent;
}

std::string LuaValueToStr(lua_State* L, int index, int limit)
{
    switch (lua_type(L, index)) {
    case LUA_TNIL:
        return "nil";
    case LUA_TBOOLEAN:
        return lua_toboolean(L, index) ? "True" : "False";
    case LUA_TLIGHTUSERDATA:
        return "LIGHTUSERDATA: " + PointerText(lua_touserdata(L, index));
    case LUA_TNUMBER:
        return LuaFormatNumber(lua_tonumber(L, index), 15);
    case LUA_TSTRING: {
        std::size_t len = 0;
        const char* s = lua_tolstring(L, index, &len);
        std::string out = "\"";
        for (std::size_t i = 0; i < len; ++i) {
            if (s[i] == '"') out += '"';
            out += s[i];
        }
        return out + "\"";
    }
    case LUA_TTABLE:
        return LuaTableToStr(L, index, limit);
    case LUA_TFUNCTION:
        if (lua_iscfunction(L, index))
            return "CFUNC: " + PointerText(reinterpret_cast<const void*>(lua_tocfunction(L, index)));
        return "FUNC: " + PointerText(lua_topointer(L, index));
    case LUA_TUSERDATA:
        return "USERDATA: " + PointerText(lua_touserdata(L, index));
    case LUA_TTHREAD:
        return "THREAD: " + PointerText(lua_topointer(L, index));
    default:
        return "";
    }
}

std::string LuaTableToStr(lua_State* L, int index, int limit)
{
    index = lua_absindex(L, index);
    limit = Limit(limit);
    std::string out = "{ ";
    int count = 0;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        if (++count > limit) {
            out += "... ";
            lua_pop(L, 2);
            break;
        }
        const std::string key = KeyText(L, -2, limit);
        if (key == "_G") {
            out += key + "=" + Sjis("{グローバル変数}") + " ";
        } else if (lua_type(L, -1) == LUA_TFUNCTION) {
            out += key + "()=" + PointerText(lua_topointer(L, -1)) + " ";
        } else if (lua_type(L, -1) == LUA_TTABLE) {
            out += key + "={...} ";  // never descended into
        } else {
            out += key + "=" + LuaValueToStr(L, -1, limit) + " ";
        }
        lua_pop(L, 1);
    }
    return out + "}";
}

void LuaStackToStrings(lua_State* L, std::vector<std::string>& list, int limit)
{
    list.clear();
    for (int i = lua_gettop(L); i >= 1; --i) list.push_back(LuaValueToStr(L, i, limit));
}

void LuaLocalsToStrings(lua_State* L, std::vector<std::pair<std::string, std::string>>& list, int limit, int level)
{
    list.clear();
    lua_Debug ar{};
    if (lua_getstack(L, level, &ar) == 0) return;
    for (int i = 1;; ++i) {
        const char* name = lua_getlocal(L, &ar, i);
        if (name == nullptr) break;
        std::string value = LuaValueToStr(L, -1, limit);
        lua_pop(L, 1);
        bool replaced = false;
        for (auto& entry : list) {
            if (entry.first == name) {
                entry.second = std::move(value);
                replaced = true;
                break;
            }
        }
        if (!replaced) list.emplace_back(name, std::move(value));
    }
}

void LuaTableToTree(lua_State* L, int index, std::vector<LuaTreeNode>& tree, int limit)
{
    tree.clear();
    std::unordered_set<const void*> visited;
    FillTree(L, index, tree, visited, limit, 0);
}

std::string LuaEvalName(lua_State* L, std::string_view name, int limit, int level)
{
    if (name.empty()) return "";
    std::vector<std::pair<std::string, std::string>> locals;
    LuaLocalsToStrings(L, locals, limit, level);
    for (const auto& [localName, value] : locals)
        if (localName == name) return value;
    // Raw: a script's __index on _G must not run here (from a debug hook nothing could stop it).
    lua_pushglobaltable(L);
    lua_pushlstring(L, name.data(), name.size());
    lua_rawget(L, -2);
    std::string text = LuaValueToStr(L, -1, limit);
    lua_pop(L, 2);
    return text;
}

namespace {

void BudgetSpent(lua_State* T, lua_Debug*) { luaL_error(T, "%s", Sjis("実行命令数の上限を超えたため中断しました").c_str()); }

}  // namespace

std::string LuaRunBudgeted(lua_State* L, std::string_view chunk, const char* chunkName, int budget)
{
    if (!lua_checkstack(L, 2)) return "stack overflow";
    lua_State* T = lua_newthread(L);  // anchored on L's stack until the end
    // Finalizers run with hooks off: no collection while the budget is what stops the code.
    const bool collecting = lua_gc(L, LUA_GCISRUNNING, 0) != 0;
    lua_gc(L, LUA_GCSTOP, 0);
    lua_sethook(T, BudgetSpent, LUA_MASKCOUNT, budget);
    std::string error;
    if (luaL_loadbufferx(T, chunk.data(), chunk.size(), chunkName, "t") != LUA_OK || lua_pcall(T, 0, 0, 0) != LUA_OK)
        error = ErrorText(T, -1);
    if (collecting) lua_gc(L, LUA_GCRESTART, 0);
    lua_pop(L, 1);
    return error;
}

std::string LuaSetValue(lua_State* L, std::string_view name, std::string_view value, int limit, int level)
{
    std::vector<std::pair<std::string, std::string>> locals;
    LuaLocalsToStrings(L, locals, limit, level);
    bool isLocal = false;
    for (const auto& entry : locals) isLocal = isLocal || entry.first == name;
    if (!isLocal) {
        const std::string chunk = std::string(name) + "=" + std::string(value);
        return LuaRunBudgeted(L, chunk, "debug", LuaEvalBudget);
    }
    lua_Debug ar{};
    if (lua_getstack(L, level, &ar) == 0) return {};
    int target = 0;
    for (int i = 1;; ++i) {
        const char* localName = lua_getlocal(L, &ar, i);
        if (localName == nullptr) break;
        lua_pop(L, 1);
        if (name == localName) target = i;
    }
    const std::string text(value);
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (!text.empty() && end != nullptr && *end == '\0') {
        lua_pushnumber(L, number);
    } else {
        std::string s = text;
        if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
            s = s.substr(1, s.size() - 2);
            std::string single;
            for (std::size_t i = 0; i < s.size(); ++i) {
                single += s[i];
                if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') ++i;
            }
            s = single;
        }
        lua_pushlstring(L, s.data(), s.size());
    }
    if (lua_setlocal(L, &ar, target) == nullptr) lua_pop(L, 1);
    return {};
}

lua_Integer LuaToInteger(lua_State* L, int index)
{
    const double d = std::trunc(lua_tonumber(L, index));
    if (std::isnan(d)) return 0;
    constexpr double lo = double(std::numeric_limits<lua_Integer>::min());
    constexpr double hi = double(std::numeric_limits<lua_Integer>::max());
    if (d <= lo) return std::numeric_limits<lua_Integer>::min();
    if (d >= hi) return std::numeric_limits<lua_Integer>::max();
    return lua_Integer(d);
}

void LuaRegisterFunction(lua_State* L, std::string_view dottedName, lua_CFunction fn)
{
    std::string_view rest = dottedName;
    int pushed = 0;  // intermediate tables on the stack; the innermost is the current table
    auto dot = rest.find('.');
    while (dot != std::string_view::npos) {
        const std::string head(rest.substr(0, dot));
        if (pushed == 0) lua_getglobal(L, head.c_str());
        else lua_getfield(L, -1, head.c_str());
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            lua_newtable(L);
            lua_pushvalue(L, -1);
            if (pushed == 0) {
                lua_setglobal(L, head.c_str());
            } else {
                lua_pushstring(L, head.c_str());
                lua_insert(L, -2);
                lua_rawset(L, -4);
            }
        }
        ++pushed;
        rest = rest.substr(dot + 1);
        dot = rest.find('.');
    }
    const std::string last(rest);
    lua_pushcfunction(L, fn);
    if (pushed == 0) lua_setglobal(L, last.c_str());
    else lua_setfield(L, -2, last.c_str());
    lua_pop(L, pushed);
}

void LuaGetField(lua_State* L, int index, const char* name)
{
    if (index == LUA_REGISTRYINDEX) lua_getglobal(L, name);
    else lua_getfield(L, index, name);
}

void* LuaGetUserDataField(lua_State* L, int index, const char* name)
{
    LuaGetField(L, index, name);
    void* p = lua_touserdata(L, -1);
    lua_pop(L, 1);
    return p;
}

namespace {
// Pushes the value, then stores it under name into the table at index (or the globals).
template <typename Push>
void SetField(lua_State* L, int index, const char* name, bool raw, Push push)
{
    if (index == LUA_REGISTRYINDEX) {
        push();
        lua_setglobal(L, name);
        return;
    }
    index = lua_absindex(L, index);
    if (raw) {
        lua_pushstring(L, name);
        push();
        lua_rawset(L, index);
    } else {
        push();
        lua_setfield(L, index, name);
    }
}
}  // namespace

void LuaSetIntegerField(lua_State* L, int index, const char* name, lua_Integer value)
{
    SetField(L, index, name, false, [&] { lua_pushinteger(L, value); });
}
void LuaSetFunctionField(lua_State* L, int index, const char* name, lua_CFunction fn)
{
    SetField(L, index, name, false, [&] { lua_pushcfunction(L, fn); });
}
void LuaSetLightUserDataField(lua_State* L, int index, const char* name, void* value)
{
    SetField(L, index, name, false, [&] { lua_pushlightuserdata(L, value); });
}
void LuaRawSetFunctionField(lua_State* L, int index, const char* name, lua_CFunction fn)
{
    SetField(L, index, name, true, [&] { lua_pushcfunction(L, fn); });
}
void LuaSetGlobalFunction(lua_State* L, const char* name, lua_CFunction fn)
{
    lua_pushcfunction(L, fn);
    lua_setglobal(L, name);
}
void LuaSetMetaFunction(lua_State* L, int index, const char* name, lua_CFunction fn)
{
    index = lua_absindex(L, index);
    if (lua_getmetatable(L, index) == 0) lua_newtable(L);
    lua_pushstring(L, name);
    lua_pushcfunction(L, fn);
    lua_rawset(L, -3);
    lua_setmetatable(L, index);
}

void LuaInitState(lua_State* L)
{
    lua_gc(L, LUA_GCSTOP, 0);
    luaL_openlibs(L);
    LuaMakeLibrariesSafe(L);
    lua_gc(L, LUA_GCRESTART, 0);
    lua_settop(L, 0);
    LuaRegisterFunction(L, "print", LuaPrint);
    LuaRegisterFunction(L, "io.write", LuaIoWrite);
}

void LuaLoadBuffer(lua_State* L, std::string_view text, const std::string& chunkName)
{
    if (luaL_loadbufferx(L, text.data(), text.size(), chunkName.c_str(), nullptr) != LUA_OK) ThrowLuaError(L);
}

void LuaPCall(lua_State* L, int nargs, int nresults)
{
    if (lua_pcall(L, nargs, nresults, 0) != LUA_OK) ThrowLuaError(L);
}

void LuaCallFunction(lua_State* L, const std::string& functionName, const std::vector<std::string>& args)
{
    if (!functionName.empty()) {
        LuaPCall(L, 0, 0);
        lua_getglobal(L, functionName.c_str());
        if (!lua_isfunction(L, -1)) {
            lua_pop(L, 1);
            std::string text = Sjis("関数 %s が見つかりません");
            text.replace(text.find("%s"), 2, functionName);
            throw Exception(text);
        }
        for (const auto& a : args) lua_pushlstring(L, a.data(), a.size());
        LuaPCall(L, int(args.size()), LUA_MULTRET);
        return;
    }
    lua_createtable(L, int(args.size()), 0);
    for (std::size_t i = 0; i < args.size(); ++i) {
        lua_pushlstring(L, args[i].data(), args[i].size());
        lua_rawseti(L, -2, int(i + 1));
    }
    lua_setglobal(L, "arg");
    LuaPCall(L, 0, LUA_MULTRET);
}

LuaErrorParts ParseLuaError(std::string_view text)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != ':') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        if (j >= text.size() || !isDigit(text[j])) {
            i += 2;  // the colon and the character after it
            continue;
        }
        while (j < text.size() && isDigit(text[j])) ++j;
        if (j < text.size() && text[j] == ':') {
            LuaErrorParts parts;
            parts.ChunkName = std::string(text.substr(0, i));
            const std::string digits(text.substr(i + 1, j - i - 1));
            parts.Line = digits.size() > 9 ? 0 : std::atoi(digits.c_str());
            parts.Msg = std::string(text.substr(j + 1));
            return parts;
        }
        i = j;
    }
    return {"", 0, std::string(text)};
}

std::string LuaChunkFileName(std::string_view chunkName)
{
    const auto first = chunkName.find('"');
    if (first == std::string_view::npos) return std::string(chunkName);
    const auto second = chunkName.find('"', first + 1);
    return std::string(chunkName.substr(first + 1, second == std::string_view::npos ? std::string_view::npos
                                                                                   : second - first - 1));
}

void SetLuaOutputSink(LuaOutputSink sink)
{
    std::lock_guard lock(sinkMutex);
    outputSink = std::move(sink);
}

std::size_t LuaOutputWrite(const char* text, std::size_t size, std::size_t count)
{
    LuaOutputSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = outputSink;
    }
    if (sink) sink(text, size, count);
    return size * count;
}

namespace {

int PrintBody(lua_State* L)
{
    const int n = lua_gettop(L);
    lua_getglobal(L, "tostring");
    for (int i = 1; i <= n; ++i) {
        lua_pushvalue(L, -1);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        std::size_t len = 0;
        const char* s = lua_tolstring(L, -1, &len);
        if (s == nullptr) return luaL_error(L, "`tostring' must return a string to `print'");
        if (i > 1) LuaOutputWrite("\b", 1, 1);
        LuaOutputWrite(s, 1, len);
        lua_pop(L, 1);
    }
    LuaOutputWrite("\n", 1, 1);
    return 0;
}

int IoWriteBody(lua_State* L)
{
    const int n = lua_gettop(L);
    for (int i = 1; i <= n; ++i) {
        if (lua_type(L, i) == LUA_TNUMBER) {
            const std::string text = LuaFormatNumber(lua_tonumber(L, i), 14);
            LuaOutputWrite(text.data(), 1, text.size());
        } else {
            std::size_t len = 0;
            const char* s = luaL_checklstring(L, i, &len);
            LuaOutputWrite(s, 1, len);
        }
    }
    lua_pushboolean(L, 1);
    return 1;
}

}  // namespace

int LuaPrint(lua_State* L) { return LuaGuard(L, [L] { return PrintBody(L); }); }
int LuaIoWrite(lua_State* L) { return LuaGuard(L, [L] { return IoWriteBody(L); }); }

}  // namespace pek
