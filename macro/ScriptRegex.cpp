#include "macro/ScriptRegex.h"

#include "lua/LuaUtils.h"
#include "macro/MacroLua_u.h"
#include "macro/ScriptEditor.h"
#include "platform/CodePage.h"
#include "regex/Onig.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

namespace {

// Case is ignored and an empty text never matches, whatever the script asks.
constexpr OnigOptionType MatchOptions = ONIG_OPTION_IGNORECASE | ONIG_OPTION_FIND_NOT_EMPTY;

struct RegionFree {
    void operator()(OnigRegion* region) const { onig::api().onig_region_free(region, 1); }
};

struct MatchResult {
    bool matched = false;
    int pos = 0, len = 0, matchLen = 0;
    std::vector<std::string_view> groups;  // into the subject, which stays on the Lua stack
};

// Searches the whole subject, zero bytes included (ring-buffer data holds them), without copying
// it. Failures come back as the text of the script error: a pattern that does not compile or is
// too long, and a search the library gave up on. The library's work bounds keep one call short,
// so a stop is served at the next call.
MatchResult Search(std::string_view pattern, std::string_view subject, std::string& error)
{
    MatchResult result;
    const onig::Library library;  // the binding ends the library only at its last reference
    const onig::Api& a = onig::api();
    if (!library.ok() || !a.onig_search || !a.onig_region_new || !a.onig_region_free || !a.OnigSyntaxRuby) {
        error = Sjis("正規表現ライブラリがありません");
        return result;
    }
    std::string compileError;
    const onig::Regex regex = onig::CompileForSearch(pattern, MatchOptions, a.OnigSyntaxRuby, &compileError);
    if (!regex) {
        error = Sjis("正規表現が正しくない: ") + (compileError.empty() ? std::string(pattern.substr(0, pattern.find('\0'))) : compileError);
        return result;
    }
    subject = subject.substr(0, std::min<std::size_t>(subject.size(), INT_MAX));  // offsets are ints
    const std::unique_ptr<OnigRegion, RegionFree> region(a.onig_region_new());
    if (!region) throw std::bad_alloc();
    const auto* const start = reinterpret_cast<const OnigUChar*>(subject.data());
    const OnigUChar* const end = start + subject.size();
    const int r = a.onig_search(regex.get(), start, end, start, end, region.get(), ONIG_OPTION_NONE);
    if (r == ONIG_MISMATCH) return result;
    if (r < 0) {
        // The library gave up (its work bounds): "not found" would be a lie.
        error = onig::ErrorText(r);
        if (error.empty()) error = Sjis("正規表現の検索を打ち切りました");
        return result;
    }
    result.matched = true;
    result.pos = region->beg[0] + 1;
    result.len = region->end[0] - region->beg[0];
    result.matchLen = region->end[0];
    for (int i = 0; i < region->num_regs; ++i)
        if (region->beg[i] >= 0 && region->end[i] > region->beg[i])
            result.groups.push_back(subject.substr(std::size_t(region->beg[i]), std::size_t(region->end[i] - region->beg[i])));
    return result;
}

}  // namespace

int ScriptMatch(lua_State* L)
{
    CheckStop(L);
    if (lua_gettop(L) != 3 || lua_type(L, 1) != LUA_TTABLE || !IsScriptText(L, 2) || !IsScriptText(L, 3)) AccessError(L, "Match");
    std::size_t patternLen = 0, subjectLen = 0;
    const char* pattern = lua_tolstring(L, 2, &patternLen);
    const char* subject = lua_tolstring(L, 3, &subjectLen);
    std::string error;
    MatchResult r;
    LuaGuard(L, [&] {
        r = Search({pattern, patternLen}, {subject, subjectLen}, error);
        return 0;
    });
    if (!error.empty()) luaL_error(L, "%s", error.c_str());
    // Elements past Count from an earlier call stay as they were.
    LuaSetIntegerField(L, 1, "Count", lua_Integer(r.groups.size()));
    LuaSetIntegerField(L, 1, "Pos", r.pos);
    LuaSetIntegerField(L, 1, "Len", r.len);
    LuaSetIntegerField(L, 1, "MatchLen", r.matchLen);
    for (std::size_t i = 0; i < r.groups.size(); ++i) {
        lua_pushlstring(L, r.groups[i].data(), r.groups[i].size());
        lua_rawseti(L, 1, int(i + 1));
    }
    lua_pushboolean(L, r.matched);
    return 1;
}

int ScriptRegex(lua_State* L)
{
    if (lua_gettop(L) < 1 || lua_type(L, 1) != LUA_TTABLE) ArgError(L, "Regex");
    lua_settop(L, 1);
    lua_pushliteral(L, "Match");
    lua_pushcfunction(L, ScriptMatch);
    lua_rawset(L, 1);
    SetObjectHandlers(L, 1, ScriptEditorNoAndText, nullptr);
    return 1;
}

}  // namespace pek
