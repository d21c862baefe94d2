#include "macro/ScriptKit.h"

#include "lua/LuaUtils.h"
#include "macro/MacroCore.h"
#include "macro/macrothread_u.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "serial/CommXEx.h"
#include "terminal/TerminalHost.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <unordered_set>
#include <utility>

namespace pek {

bool OnMainThread() { return TMacroCore::OnMainThread(); }

void TMainThread::Call(const std::function<void(TerminalHost&)>& fn) const { core_->OnMain(fn); }

void TMainThread::Post(std::function<void(TerminalHost&)> fn) const { core_->Post(std::move(fn)); }

bool TMainThread::Closed() const { return core_->Closed(); }

namespace {

const char contextKey = 0;  // its address keys the context in the registry

// The userdata holds a pointer to the context. A script can reach the userdata through the
// registry and call its __gc itself, any number of times and with any userdata: only a userdata
// listed as a live context slot is freed, once, and every use checks the list.
// Never destroyed: a run left behind at the process's end may still free its context.
std::mutex& liveMutex = *new std::mutex;
std::unordered_set<const void*>& liveSlots = *new std::unordered_set<const void*>;

TScriptContext* LiveContext(lua_State* L, int index)
{
    if (lua_type(L, index) != LUA_TUSERDATA) return nullptr;
    auto** slot = static_cast<TScriptContext**>(lua_touserdata(L, index));
    std::lock_guard lock(liveMutex);
    return liveSlots.count(slot) != 0 ? *slot : nullptr;
}

int ContextGc(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TUSERDATA) return 0;
    auto** slot = static_cast<TScriptContext**>(lua_touserdata(L, 1));
    TScriptContext* context = nullptr;
    {
        std::lock_guard lock(liveMutex);
        if (liveSlots.erase(slot) == 0) return 0;
        context = std::exchange(*slot, nullptr);
    }
    delete context;
    return 0;
}

}  // namespace

std::string NoSheetText(int sheet) { return Sjis("シート ") + std::to_string(sheet) + Sjis(" はありません"); }
std::string NoPortText(int sheet) { return Sjis("シート ") + std::to_string(sheet) + Sjis(" にはポートがありません"); }

void TScriptContext::Revalidate()
{
    const std::uint64_t now = Core->SheetsGeneration();
    if (now == generation_) return;
    generation_ = now;
    ports_.clear();
    shownSheets_.clear();
}

TCommXEx& TScriptContext::Port(int sheet)
{
    Revalidate();
    const auto now = std::chrono::steady_clock::now();
    for (auto it = ports_.begin(); it != ports_.end(); ++it) {
        if (it->sheet != sheet) continue;
        // A port closed, replaced or set up anew may not be the sheet's port any more. A closed
        // one is looked up again at most every RecheckClosed, so a poll on it stays cheap.
        const bool current = it->generation == Core->PortGeneration(sheet) &&
                             (it->port->IsOpen() || now - it->checked < RecheckClosed);
        if (current) return *it->port;
        ports_.erase(it);
        break;
    }
    const std::uint64_t generation = Core->PortGeneration(sheet);
    std::shared_ptr<TCommXEx> port;
    bool exists = false;
    Core->OnMain([&](TerminalHost& window) {
        exists = sheet >= 0 && sheet < window.SheetCount();
        if (exists) port = window.SheetPortShared(sheet);
    });
    if (!exists) throw Exception(NoSheetText(sheet));

    if (port == nullptr) throw Exception(NoPortText(sheet));
    ports_.push_back({sheet, generation, now, port});
    return *port;
}

namespace {

// By number, not by pane: a window without panes (pek-run's) has its sheets too.
bool SheetExists(const TerminalHost& window, int sheet) { return sheet >= 0 && sheet < window.SheetCount(); }

// Shown and logged by the options of the sheet it is shown on: that is the log it goes to.
void ShowOnSheet(TerminalHost& window, int sheet, std::string_view text)
{
    if (!SheetExists(window, sheet)) return;  // the sheet went away meanwhile
    const TCommXEx* port = window.SheetPort(sheet);
    window.ShowText(sheet, text, port != nullptr && port->LogMsg());
}

}  // namespace

void TScriptContext::Show(int sheet, std::string text)
{
    Revalidate();
    const bool known = std::find(shownSheets_.begin(), shownSheets_.end(), sheet) != shownSheets_.end();
    if (!known || TMacroCore::OnMainThread()) {
        Core->OnMain([&](TerminalHost& window) {
            if (!SheetExists(window, sheet)) throw Exception(NoSheetText(sheet));
            ShowOnSheet(window, sheet, text);
        });
        if (!known) shownSheets_.push_back(sheet);
        return;
    }
    bool post = false;
    std::size_t backlog = 0;
    {
        std::lock_guard lock(output_->mutex);
        output_->bytes += text.size();
        backlog = output_->bytes;
        if (!output_->pending.empty() && output_->pending.back().first == sheet) output_->pending.back().second += text;
        else output_->pending.emplace_back(sheet, std::move(text));
        post = !output_->posted;
        output_->posted = true;
    }
    if (post) {
        Core->Post([queue = output_](TerminalHost& window) {
            std::vector<std::pair<int, std::string>> batch;
            {
                std::lock_guard lock(queue->mutex);
                batch.swap(queue->pending);
                queue->bytes = 0;
                queue->posted = false;
            }
            for (const auto& [s, t] : batch) ShowOnSheet(window, s, t);
        });
    }
    if (backlog > MaxPendingOutput) Core->OnMain([](TerminalHost&) {});  // runs after the batch
}

TScriptContext& SetScriptContext(lua_State* L, std::shared_ptr<TMacroCore> core, TMacroThread* run)
{
    auto owned = std::make_unique<TScriptContext>(std::move(core), run);
    auto** slot = static_cast<TScriptContext**>(lua_newuserdata(L, sizeof(TScriptContext*)));
    *slot = nullptr;
    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, ContextGc);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
    TScriptContext* context = owned.release();
    {
        std::lock_guard lock(liveMutex);
        *slot = context;
        liveSlots.insert(slot);
    }
    lua_rawsetp(L, LUA_REGISTRYINDEX, &contextKey);
    return *context;
}

TScriptContext& ScriptContext(lua_State* L)
{
    lua_rawgetp(L, LUA_REGISTRYINDEX, &contextKey);
    // The script may have freed it or put anything else under the key.
    TScriptContext* context = LiveContext(L, -1);
    lua_pop(L, 1);
    if (context == nullptr) luaL_error(L, "no macro host");
    return *context;
}

void CheckStop(lua_State* L)
{
    const TScriptContext& context = ScriptContext(L);
    const bool stop = context.Run != nullptr ? context.Run->Terminated()
                                             : context.StopRequested && context.StopRequested();
    if (stop) luaL_error(L, "STOP");
}

void ArgError(lua_State* L, const char* name)
{
    luaL_error(L, "%s%s", name, Sjis("の引数が正しくない").c_str());
    std::abort();  // luaL_error does not return
}

void AccessError(lua_State* L, const char* name)
{
    luaL_error(L, "%s%s", name, Sjis("にはアクセスできません").c_str());
    std::abort();
}

void SetGlobalInteger(lua_State* L, const char* name, lua_Integer value)
{
    lua_pushinteger(L, value);
    lua_setglobal(L, name);
}

lua_Integer GetGlobalInteger(lua_State* L, const char* name)
{
    lua_getglobal(L, name);
    const lua_Integer value = lua_type(L, -1) == LUA_TNUMBER ? LuaToInteger(L, -1) : 0;
    lua_pop(L, 1);
    return value;
}

int ScriptSheet(lua_State* L)
{
    const lua_Integer sheet = GetGlobalInteger(L, "_PekNo");
    return sheet < INT32_MIN ? INT32_MIN : sheet > INT32_MAX ? INT32_MAX : int(sheet);
}

void OnMain(lua_State* L, const std::function<void(TerminalHost&)>& fn)
{
    LuaGuard(L, [&] {
        ScriptContext(L).Core->OnMain(fn);
        return 0;
    });
}

bool IsScriptText(lua_State* L, int index)
{
    const int type = lua_type(L, index);
    return type == LUA_TSTRING || type == LUA_TNUMBER;
}

void RegisterScriptFunctions(lua_State* L, std::span<const TScriptFunction> functions)
{
    for (const TScriptFunction& f : functions) LuaRegisterFunction(L, f.name, f.fn);
}

void RegisterScriptFunctions(lua_State* L, std::span<const TScriptFunction> functions, lua_Integer feature)
{
    for (const TScriptFunction& f : functions) {
        lua_pushinteger(L, feature);
        lua_pushcclosure(L, f.fn, 1);
        lua_setglobal(L, f.name);
    }
}

}  // namespace pek
