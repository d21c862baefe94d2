#pragma once
// The macro engine attached to a terminal window: runs "!" and "!!" commands, keeps the list of
// running macros, serves the stop-macro window, and stops every run when the window closes.
// Which thread may do what: "Threads" in README.md.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct lua_State;

namespace pek {

class TerminalHost;
class TMacroCore;
class TStopMacroForm;
struct TMacroEntry;

// The debugger as the host sees it; the composition root connects it once it exists.
class TDebugRunner {
public:
    virtual ~TDebugRunner() = default;
    virtual bool IsRunning() const = 0;
    // Runs the file under the debugger on the main thread and returns when the run has ended.
    // Throws when the file cannot be loaded (the run never started) and passes a script error on.
    virtual void RunFile(const std::string& fileName, const std::string& functionName,
                         std::vector<std::string>* results, const std::vector<std::string>& args) = 0;
    virtual void Stop() = 0;
};

class TMacroHost {
public:
    // Main thread, after QApplication exists.
    explicit TMacroHost(TerminalHost& window);
    // Stops every run (bounded, serving queued calls, then forced) without touching the window;
    // after WindowClosing nothing is waited for again.
    ~TMacroHost();
    TMacroHost(const TMacroHost&) = delete;
    TMacroHost& operator=(const TMacroHost&) = delete;

    // Starts a thread run on the sheet; the id of its entry, 0 when it could not start.
    std::uint64_t Run(int sheet, const std::string& fileName, const std::vector<std::string>& arguments = {});
    // "!file": a debugged run when the debugger is there and idle, else a thread run.
    void RunCommand(int sheet, const std::string& fileName, bool forceThreadRun);
    // Main thread: runs the file under the debugger, listed while it runs; returns when it ended.
    void RunDebugged(int sheet, const std::string& fileName);
    void SetDebugger(TDebugRunner* debugger);
    // The debugger's end-of-run notice: its entry leaves the list.
    void DebugRunEnded();
    std::vector<TMacroEntry> RunningMacros() const;
    bool Stop(std::uint64_t id);
    bool ForcedStop(std::uint64_t id);
    // Every run stopped; waits up to waitMs, then forces the rest. True when all ended.
    bool StopAll(int waitMs);
    bool WaitIdle(int waitMs);
    TStopMacroForm& StopMacroForm() { return *stopForm_; }
    // A feature's script functions (dialogs, script GUI, ...): registered into every later run's
    // state, thread runs and debugged runs alike. Main thread, before runs start.
    void AddScriptLibrary(std::function<void(lua_State*)> library);
    // What the feature's script functions share with the host: the way onto the main thread,
    // the running macros.
    const std::shared_ptr<TMacroCore>& Core() const { return core_; }
    // For a debugged run's state (main thread): the script functions and `_PekNo` = the active
    // sheet; no `_LuaThread`, and stops are the debugger's own.
    void OnDebuggerState(lua_State* L);
    // The same, with the debugger's stop request for the script functions' stop check.
    void OnDebuggerState(lua_State* L, std::function<bool()> stopRequested);

    // How long the window's closing waits for runs to end, politely and then forced.
    static constexpr int CloseWaitMs = 2500;
    // The sheet's port was closed, opened, set up anew or replaced: runs look it up again.
    void PortChanged(int sheet);

    // Main thread: the window is closing; every run is stopped and the window no longer used.
    void WindowClosing();

private:
    friend std::unique_ptr<TMacroHost> AttachMacroHost(TerminalHost& window);

    std::shared_ptr<TMacroCore> core_;
    // Handlers given to the window reach the host through this; it is cleared when the host goes.
    std::shared_ptr<TMacroHost*> self_;
    std::unique_ptr<TStopMacroForm> stopForm_;
    TDebugRunner* debugger_ = nullptr;
    std::uint64_t debugEntry_ = 0;
};

// For the composition root: creates the host, connects it to the window ("!"/"!!" commands, the
// stop-macro window's action, refresh after each command, stop on closing) and sets LC_NUMERIC
// back to "C". The host must be destroyed before the QApplication.
std::unique_ptr<TMacroHost> AttachMacroHost(TerminalHost& window);

// Qt takes the user's locale at start; number formatting and parsing of scripts need "C".
void UseCNumericLocale();

}  // namespace pek
