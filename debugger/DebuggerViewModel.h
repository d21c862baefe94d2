#pragma once
// What the debugger window shows, kept apart from its widgets: the current position, the stack,
// locals, globals, watches, breakpoints, call history, messages and console output. The values are
// read from the Lua thread the engine offers (the stopped one); the window draws a part when told
// that it changed. Texts are in code page 932, as the scripts write them.
#include "debugger/DebugEngine.h"
#include "debugger/GlobalsModel.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace pek {

class TDebuggerViewModel {
public:
    enum class Part { Position, Stack, Locals, Globals, Watches, Breakpoints, Calls, Messages, Console, Display };

    struct Watch {
        std::string Name;
        std::string Value;
    };
    struct BreakRow {
        std::string File;
        int Line = 0;  // 1-based, as listed
    };

    static constexpr int WatchRows = 10;

    explicit TDebuggerViewModel(TDebugEngine& engine);
    TDebuggerViewModel(const TDebuggerViewModel&) = delete;
    TDebuggerViewModel& operator=(const TDebuggerViewModel&) = delete;

    // Full path and 0-based row of the line shown as current; row -1 when there is none.
    const std::string& PositionFile() const { return positionFile_; }
    int PositionRow() const { return positionRow_; }
    const std::vector<std::string>& Stack() const { return stack_; }
    // One "name=value" line per local of the current function.
    const std::vector<std::string>& Locals() const { return locals_; }
    TGlobalsModel& Globals() { return globals_; }
    // At least WatchRows rows; a row without a name has no value.
    const std::vector<Watch>& Watches() const { return watches_; }
    std::vector<BreakRow> Breakpoints() const;
    // Newest first.
    const std::deque<std::string>& Calls() const { return calls_; }
    // One line each, oldest first.
    const std::vector<std::string>& Messages() const { return messages_; }
    const std::string& Console() const { return console_; }
    // The execution display: every line event refreshes the views.
    bool DisplayOn() const { return displayOn_; }
    void SetDisplayOn(bool on);
    // While the globals page is shown, stops refresh the globals; showing it refreshes them.
    void SetGlobalsShown(bool shown);

    // Each view from the engine's view state; nothing while there is none.
    void RefreshStack();
    void RefreshLocals();
    void RefreshGlobals(bool force);
    void RefreshWatches();
    // The value of a local or global; empty while there is no state.
    std::string EvalName(const std::string& name);
    // Returns the error text of a change that failed (empty when it was made or there is no state).
    std::string ChangeValue(const std::string& name, const std::string& value);

    // Adds a watch in the first row without a name (a row is added when none is left).
    void AddWatch(const std::string& name);
    // The name of row `row` edited (rows are added up to it); the watches are evaluated again.
    void SetWatchName(int row, const std::string& name);
    void ToggleBreakPoint(const std::string& file, int line);
    // The breakpoint list was changed from elsewhere (a file load empties it).
    void BreakpointsChanged() { Notify(Part::Breakpoints); }

    // The run's side of the views.
    void RunStarting();
    void ShowPosition(const std::string& file, int row, lua_State* L);
    void LeavePosition();
    void ShowAfterRun(lua_State* L);
    void AppendMessage(const std::string& text);
    void AppendConsole(const std::string& text);
    void CallEntered(const std::string& text);
    void CallsDropped(int count);

    // A part changed as a whole; then OnAppended for text added at the end of Messages (one line)
    // or Console, which the window adds without redrawing what it shows.
    std::function<void(Part)> OnChanged;
    std::function<void(Part, const std::string&)> OnAppended;

private:
    void ReadStack(lua_State* L);
    void ReadLocals(lua_State* L);
    void ReadGlobals(lua_State* L);
    void ReadWatches(lua_State* L);
    void Notify(Part part);

    TDebugEngine& engine_;
    std::string positionFile_;
    int positionRow_ = -1;
    std::vector<std::string> stack_;
    std::vector<std::string> locals_;
    TGlobalsModel globals_;
    bool globalsShown_ = false;
    std::vector<Watch> watches_;
    std::deque<std::string> calls_;
    std::vector<std::string> messages_;
    std::string console_;
    bool displayOn_ = false;
};

}  // namespace pek
