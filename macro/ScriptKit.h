#pragma once
// What a script function needs from the macro host, and all that folders outside macro/ include of
// it: the context of the run, argument checks and errors, calls on the main thread, registration
// from a table. Which thread may do what: "Threads" in README.md.
#include "lua/LuaUtils.h"

#include <lua.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace pek {

class TCommXEx;
class TMacroCore;
class TMacroHost;
class TMacroThread;
class TerminalHost;

// True on the main thread, where the window, its panes and every widget live.
bool OnMainThread();

// A run's way onto the main thread. Copies share the host's part: one kept past the window's
// closing finds it closed instead of freed.
class TMainThread {
public:
    explicit TMainThread(std::shared_ptr<TMacroCore> core) : core_(std::move(core)) {}
    // Runs fn with the window on the main thread: directly when called there, otherwise as a
    // blocking queued call. Exceptions of fn reach the caller; raises Exception("STOP") once the
    // window is gone.
    void Call(const std::function<void(TerminalHost&)>& fn) const;
    // Queues fn for the main thread without waiting; later Call and Post run after it. Dropped
    // once the window is gone. Direct when called on the main thread.
    void Post(std::function<void(TerminalHost&)> fn) const;
    bool Closed() const;

private:
    std::shared_ptr<TMacroCore> core_;
};

// Lives inside each script state (released with it): the host's shared part and, for thread
// runs, the run itself.
class TScriptContext {
public:
    TScriptContext(std::shared_ptr<TMacroCore> core, TMacroThread* run) : Core(std::move(core)), Run(run) {}
    std::shared_ptr<TMacroCore> Core;
    TMacroThread* Run;  // null for runs without a worker of their own
    // For a run without a worker (the debugger's, on the main thread): whether it was asked to stop.
    std::function<bool()> StopRequested;

    TMainThread Main() const { return TMainThread(Core); }

    // The port object of the sheet for ring-buffer reads on the calling thread. Looked up on the
    // main thread, again whenever the sheet's port may have changed (its port generation moved
    // on, or the port is closed); raises Exception when the sheet is missing or has no port.
    TCommXEx& Port(int sheet);

    // Script output for the sheet's pane. The first output to a sheet is shown before this
    // returns (a missing sheet raises Exception); later output is queued and shown on the main
    // thread in batches, before any later main-thread call of the run. A backlog of more than
    // MaxPendingOutput bytes makes the caller wait until it is shown.
    void Show(int sheet, std::string text);
    static constexpr std::size_t MaxPendingOutput = 256 * 1024;

private:
    struct OutputQueue {
        std::mutex mutex;
        std::vector<std::pair<int, std::string>> pending;
        std::size_t bytes = 0;
        bool posted = false;
    };

    // Forgets the lookups when the window's sheets have changed since they were made.
    void Revalidate();

    struct KnownPort {
        int sheet;
        std::uint64_t generation;  // the sheet's port generation when looked up
        std::chrono::steady_clock::time_point checked;
        std::shared_ptr<TCommXEx> port;  // kept alive while the run uses it
    };
    static constexpr std::chrono::milliseconds RecheckClosed{50};

    std::uint64_t generation_ = 0;
    std::vector<KnownPort> ports_;
    std::vector<int> shownSheets_;
    std::shared_ptr<OutputQueue> output_ = std::make_shared<OutputQueue>();
};

// Installs the context into the state; returns it.
TScriptContext& SetScriptContext(lua_State* L, std::shared_ptr<TMacroCore> core, TMacroThread* run);
// The context of the calling run; a script error when the state has none.
TScriptContext& ScriptContext(lua_State* L);

// Runs fn on the main thread for a script function (TMainThread::Call): its exceptions, and the
// window being gone, become script errors.
void OnMain(lua_State* L, const std::function<void(TerminalHost&)>& fn);

// Raises "STOP" when the calling run has been asked to stop.
void CheckStop(lua_State* L);
// The script errors for a bad argument list and for a property or method that cannot be used.
[[noreturn]] void ArgError(lua_State* L, const char* name);
[[noreturn]] void AccessError(lua_State* L, const char* name);
// A string or a number: what script functions take as text.
bool IsScriptText(lua_State* L, int index);
// The script errors for a sheet number that names no sheet, and for a sheet without port.
std::string NoSheetText(int sheet);
std::string NoPortText(int sheet);

void SetGlobalInteger(lua_State* L, const char* name, lua_Integer value);
// Truncated toward zero; 0 when missing or not a number.
lua_Integer GetGlobalInteger(lua_State* L, const char* name);
// The run's sheet: `_PekNo` at the moment of the call.
int ScriptSheet(lua_State* L);

// Every script function behind one more edge: whatever C++ exception is left (an allocation
// failure, say) becomes a Lua error instead of crossing into Lua.
template <lua_CFunction F>
int Guarded(lua_State* L)
{
    return LuaGuard(L, [L] { return F(L); });
}

struct TScriptFunction {
    const char* name;
    lua_CFunction fn;
};
// Registers each function under its name; a dotted name ("io.write") goes into that table.
void RegisterScriptFunctions(lua_State* L, std::span<const TScriptFunction> functions);
// A feature's functions, as globals, each with the feature's number as upvalue 1 (TLuaKeyTable).
void RegisterScriptFunctions(lua_State* L, std::span<const TScriptFunction> functions, lua_Integer feature);

// A feature's script functions: registered into every later run's state, thread runs and
// debugged runs alike. Main thread, before runs start.
using TScriptLibrary = std::function<void(lua_State*)>;
void AddScriptLibrary(TMacroHost& host, TScriptLibrary library);

}  // namespace pek
