#pragma once
// The launcher of macro runs and what every script function shares: finding its run and its
// sheet, the stop check, argument errors, and the way onto the main thread.
#include <lua.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pek {

class TCommXEx;
class TMacroCore;
class TMacroThread;
class TerminalHost;

// Lives inside each script state (released with it): the host's shared part and, for thread
// runs, the run itself.
class TScriptContext {
public:
    TScriptContext(std::shared_ptr<TMacroCore> core, TMacroThread* run) : Core(std::move(core)), Run(run) {}
    std::shared_ptr<TMacroCore> Core;
    TMacroThread* Run;  // null for runs without a worker of their own
    // For a run without a worker (the debugger's, on the main thread): whether it was asked to stop.
    std::function<bool()> StopRequested;

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
TScriptContext& ScriptContext(lua_State* L);

// The host's script functions, then those of the libraries added to the core (ScriptApi.cpp).
void RegisterFunctions(lua_State* L);
// The script errors for a sheet number that names no sheet, and for a sheet without port.
std::string NoSheetText(int sheet);
std::string NoPortText(int sheet);
// Raises "STOP" when the calling run has been asked to stop.
void CheckStop(lua_State* L);
[[noreturn]] void ArgError(lua_State* L, const char* name);
[[noreturn]] void AccessError(lua_State* L, const char* name);
void SetGlobalInteger(lua_State* L, const char* name, lua_Integer value);
// Truncated toward zero; 0 when missing or not a number.
lua_Integer GetGlobalInteger(lua_State* L, const char* name);
// The run's sheet: `_PekNo` at the moment of the call.
int ScriptSheet(lua_State* L);

// Starts runs. Thread runs only for now: a debugged run needs the debugger.
class TMacroLua {
public:
    TMacroLua(std::shared_ptr<TMacroCore> core, bool debug) : core_(std::move(core)), debug_(debug) {}
    // Main thread. Starts one run on the sheet and returns at once; the entry is listed before it
    // returns. Returns the entry id (0 when the run could not start).
    std::uint64_t Run(int sheet, const std::string& fileName, const std::vector<std::string>& arguments = {});

private:
    std::shared_ptr<TMacroCore> core_;
    bool debug_;
};

}  // namespace pek
