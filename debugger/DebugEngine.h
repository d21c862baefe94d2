#pragma once
// The run machinery of the debugger: one debugged run at a time, executed on the main thread under
// a Lua debug hook that counts the call depth, decides at every line whether to stop, and while
// stopped keeps the program live by serving its events. The window is reached only through
// TDebugView, so the stepping rules are tested without a display.
#include "debugger/BreakPoints.h"

#include <lua.hpp>

#include <chrono>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace pek {

class ELuaException;

struct TRunRequest {
    bool Trace = false;
    int TargetDepth = 0;
    std::string CursorFile;
    int CursorLine = -1;
    // For a new run only: the function to call after the chunk (empty: the chunk itself), its
    // arguments, and where the returned values go as text (null: nowhere).
    std::string FunctionName;
    std::vector<std::string> Args;
    std::vector<std::string>* Results = nullptr;
};

// What the run machinery asks of the debugger window. Every call is made on the main thread.
class TDebugView {
public:
    virtual ~TDebugView() = default;
    // The run state changed: enable the run commands accordingly.
    virtual void ActionsChanged() = 0;
    // The file name and the whole text of the run's target tab.
    virtual std::string TargetFileName() = 0;
    virtual std::string TargetText() = 0;
    // A run starts: marks, console page, caption, undo, console/messages/call-history views emptied;
    // with trace, line 0 of the target marked as current.
    virtual void RunStarting(bool trace) = 0;
    // The script runs on: the current-line mark of CurFile()/CurLine() is taken away.
    virtual void CurrentLineLeft() = 0;
    // A run ended (any way): the current-line mark taken away, the target tab active again.
    virtual void RunEnded() = 0;
    // Execution stopped at, or passes with the display on, row `line` of `file` (full path); the views
    // read the state `L` (the Lua thread that is executing, a coroutine's when stopped in one).
    virtual void ShowPosition(const std::string& file, int line, lua_State* L) = 0;
    // After a run's chunk returned: stack, globals and watches from the run's state.
    virtual void RefreshAfterRun(lua_State* L) = 0;
    // A stop brings the window to the front.
    virtual void ShowWindow() = 0;
    // An error or a stop ended the run at row `line` - 1 of `file` (line 0: no row).
    virtual void ShowError(const std::string& file, int line, const std::string& message) = 0;
    virtual void AppendMessage(const std::string& text) = 0;
    // The call-history view: a call was made from `text`'s line; `count` newest entries went away.
    virtual void CallEntered(const std::string& text) = 0;
    virtual void CallsDropped(int count) = 0;
    // Text of row `line` of the tab of `file` (empty when there is none).
    virtual std::string LineText(const std::string& file, int line) = 0;
    // The execution display (views updated at every line).
    virtual bool DisplayOn() = 0;
    // Serve the program's pending events; with wait, block until one arrives or 50 ms pass.
    virtual void ServeEvents(bool wait) = 0;
};

class TDebugEngine {
public:
    explicit TDebugEngine(TDebugView& view) : view_(view) {}
    ~TDebugEngine();
    TDebugEngine(const TDebugEngine&) = delete;
    TDebugEngine& operator=(const TDebugEngine&) = delete;

    // Starts a run when idle (returning when it has ended), or applies the request to the run in
    // progress. A script error is thrown on as ELuaException after the message line was written; a
    // stop is not.
    void DebugRun(const TRunRequest& request);

    // The run commands; each does nothing when its guard does not hold.
    void Run();
    void Trace();
    void Step();
    void Up();
    void ExecuteToCursor(const std::string& file, int line);
    void Pause();
    void Stop();

    bool IsRunning() const { return FRunning; }
    bool Executing() const { return FExecuting; }
    bool BreakNext() const { return FBreakNext; }
    int Depth() const { return FDepth; }
    int StepDepth() const { return FStepDepth; }
    const std::string& CurFile() const { return FCurFile; }
    int CurLine() const { return FCurLine; }

    // Which commands are enabled in the current state.
    bool CanTrace() const { return !(FRunning && FExecuting); }
    bool CanPause() const { return FRunning && FExecuting; }
    bool CanStop() const { return FRunning; }

    // The Lua thread to read and change values in: the one stopped (or showing its position), null
    // while no script is at a line.
    lua_State* ViewState() const { return viewState_; }
    // The stack level of the running function inside a call made through LuaProtected.
    static constexpr int ProtectedLevel = 1;

    TBreakPoints FBreakPoints;
    TBreakPoints FCallHistory;
    // The host's script API for each new state; called once per run after the standard libraries.
    std::function<void(lua_State*)> OnInitState;
    // After every run that got as far as creating its state.
    std::function<void()> OnRunEnd;

    // Minimum time between two rounds of event serving while a script executes.
    static constexpr std::chrono::milliseconds ServeInterval{10};

private:
    static void Hook(lua_State* L, lua_Debug* ar);
    void OnCall(lua_State* L, lua_Debug* ar);
    void OnReturn(lua_State* L, lua_Debug* ar);
    // True when the run is to end with "STOP".
    bool OnLine(lua_State* L, lua_Debug* ar);

    // The frames of one Lua thread as the hook has seen them, each known by its CallInfo (stable
    // while the frame is active), and the depth of the frames that resumed the thread.
    struct ThreadFrames {
        std::vector<const void*> frames;
        int base = 0;
    };
    // Makes L the thread the events come from: a thread not on the resume chain was resumed by the
    // one on top; threads above L on the chain have yielded or ended.
    ThreadFrames& EnterThread(lua_State* L);
    // Drops the frames above `frame` that were unwound without return events (a caught error), so
    // `frame` is on top; rebuilds the thread's list from its stack when `frame` is not in it.
    static void SyncFrames(lua_State* L, ThreadFrames& thread, const void* frame);
    void UpdateDepth(const ThreadFrames& thread);
    void DropCallsDeeperThan(int depth);
    void ApplyRequest(const TRunRequest& request);
    void StartRun(const TRunRequest& request);
    void EndRun();
    void ReportError(const ELuaException& e);

    TDebugView& view_;
    lua_State* FLuaState = nullptr;
    bool FRunning = false;
    bool FExecuting = false;
    bool FBreakNext = false;
    int FDepth = 1;
    int FStepDepth = 1;
    int FTargetDepth = 0;
    std::string FCursorFile;
    int FCursorLine = -1;
    std::string FCurFile;
    int FCurLine = 0;
    lua_State* viewState_ = nullptr;
    std::unordered_map<lua_State*, ThreadFrames> threads_;
    std::vector<lua_State*> resumeChain_;  // the run's main thread first
    lua_State* eventThread_ = nullptr;
    ThreadFrames* eventFrames_ = nullptr;
    // The depth each call-history record was made at, in step with FCallHistory.
    std::vector<int> callDepths_;
    std::chrono::steady_clock::time_point lastServe_{};
    int linesSinceClock_ = 0;
};

// Runs fn(L) in a protected call on L: a Lua error (a strict _G, a failing metamethod, no memory) or
// a C++ exception is caught and false returned, with L's stack as before. Inside fn, the function
// that was running is at stack level TDebugEngine::ProtectedLevel.
bool LuaProtected(lua_State* L, const std::function<void(lua_State*)>& fn);

}  // namespace pek
