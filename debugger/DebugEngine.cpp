#include "debugger/DebugEngine.h"

#include "debugger/SourceFiles.h"
#include "lua/LuaSafeLoad.h"
#include "lua/LuaUtils.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace pek {

namespace {

// The debugged state's allocator carries the engine as its user data: the hook finds it with one
// read instead of a registry lookup at every line.
void* Allocate(void* ud, void* block, std::size_t, std::size_t size)
{
    (void)ud;
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

int Panic(lua_State* L)
{
    std::fprintf(stderr, "Lua panic: %s\n", lua_tostring(L, -1));
    return 0;
}

// Sets the view state for the time a line event is handled, whatever way it is left.
class ScopedViewState {
public:
    ScopedViewState(lua_State*& slot, lua_State* L) : slot_(slot), old_(slot) { slot_ = L; }
    ~ScopedViewState() { slot_ = old_; }
    ScopedViewState(const ScopedViewState&) = delete;
    ScopedViewState& operator=(const ScopedViewState&) = delete;

private:
    lua_State*& slot_;
    lua_State* old_;
};

bool IsStopMessage(const std::string& msg)
{
    const auto first = msg.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    const std::string_view text = std::string_view(msg).substr(first);
    // A stop inside a finalizer reaches the run wrapped by the collector.
    return text == "STOP" || text == "error in __gc metamethod (STOP)";
}

int ProtectedTrampoline(lua_State* L)
{
    const auto* fn = static_cast<const std::function<void(lua_State*)>*>(lua_touserdata(L, 1));
    lua_pop(L, 1);
    return LuaGuard(L, [&] {
        (*fn)(L);
        return 0;
    });
}

}  // namespace

bool LuaProtected(lua_State* L, const std::function<void(lua_State*)>& fn)
{
    const int top = lua_gettop(L);
    if (!lua_checkstack(L, 2)) return false;
    lua_pushcfunction(L, ProtectedTrampoline);
    lua_pushlightuserdata(L, const_cast<std::function<void(lua_State*)>*>(&fn));
    const int status = lua_pcall(L, 1, 0, 0);
    lua_settop(L, top);
    return status == LUA_OK;
}

TDebugEngine::~TDebugEngine()
{
    // Only reached with a run in progress when the program is torn down from inside it.
    if (FLuaState != nullptr) lua_sethook(FLuaState, nullptr, 0, 0);
}

void TDebugEngine::Run() { DebugRun({}); }

void TDebugEngine::Trace()
{
    if (FBreakNext) return;
    TRunRequest request;
    request.Trace = true;
    DebugRun(request);
}

void TDebugEngine::Step()
{
    if (FBreakNext) return;
    TRunRequest request;
    request.TargetDepth = FStepDepth;
    DebugRun(request);
}

void TDebugEngine::Up()
{
    if (FBreakNext) return;
    TRunRequest request;
    request.TargetDepth = FStepDepth - 1;
    DebugRun(request);
}

void TDebugEngine::ExecuteToCursor(const std::string& file, int line)
{
    if (FBreakNext) return;
    TRunRequest request;
    request.CursorFile = file;
    request.CursorLine = line;
    DebugRun(request);
}

void TDebugEngine::Pause()
{
    if (!FExecuting) return;
    FBreakNext = true;
}

void TDebugEngine::Stop()
{
    FRunning = false;
    view_.ActionsChanged();
}

void TDebugEngine::ApplyRequest(const TRunRequest& request)
{
    if (!request.Trace) view_.CurrentLineLeft();
    FBreakNext = request.Trace;
    FTargetDepth = request.TargetDepth;
    FCursorLine = request.CursorLine;
    FCursorFile = request.CursorFile;
    if (FRunning) {
        FExecuting = true;
        view_.ActionsChanged();
    }
}

void TDebugEngine::DebugRun(const TRunRequest& request)
{
    if (FRunning) {
        ApplyRequest(request);
        return;
    }
    StartRun(request);
}

void TDebugEngine::StartRun(const TRunRequest& request)
{
    ApplyRequest(request);
    lua_State* L = lua_newstate(Allocate, this);
    if (L == nullptr) throw Exception("Lua state could not be created");
    lua_atpanic(L, Panic);
    FLuaState = L;
    try {
        LuaInitState(L);
        if (OnInitState) OnInitState(L);
        lua_sethook(L, Hook, LUA_MASKCALL | LUA_MASKRET | LUA_MASKLINE, 0);
        FRunning = true;
        FStepDepth = 1;
        FDepth = 1;
        view_.ActionsChanged();
        FCurFile = view_.TargetFileName();
        FCurLine = 0;
        view_.RunStarting(request.Trace);
        FCallHistory.Clear();
        callDepths_.clear();
        const auto start = std::chrono::steady_clock::now();
        lastServe_ = start;
        const std::string text = view_.TargetText();
        if (!text.empty()) {
            LuaLoadText(L, text, FCurFile);
            LuaCallFunction(L, request.FunctionName, request.Args);
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            char line[64];
            std::snprintf(line, sizeof line, "%s%lld%s", Sjis("実行時間=").c_str(), static_cast<long long>(ms.count()), "ms");
            view_.AppendMessage(line);
            if (request.Results != nullptr) {
                for (int i = 1; i <= lua_gettop(L); ++i) request.Results->push_back(LuaValueToStr(L, i));
            }
            view_.RefreshAfterRun(L);
        }
    } catch (const ELuaException& e) {
        EndRun();
        ReportError(e);
        if (!IsStopMessage(e.Msg)) throw;
        return;
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

void TDebugEngine::EndRun()
{
    if (OnRunEnd) OnRunEnd();
    view_.RunEnded();
    lua_State* L = FLuaState;
    FLuaState = nullptr;
    viewState_ = nullptr;
    lua_sethook(L, nullptr, 0, 0);  // finalizers run by the close are not debugged
    lua_close(L);
    FRunning = false;
    FBreakNext = false;
    FTargetDepth = 0;
    FCursorLine = -1;
    FCursorFile.clear();
    FStepDepth = 1;
    FDepth = 1;
    threads_.clear();
    resumeChain_.clear();
    eventThread_ = nullptr;
    eventFrames_ = nullptr;
    view_.ActionsChanged();
}

void TDebugEngine::ReportError(const ELuaException& e)
{
    // A stop reads the same however it came: from the hook, or from a script function's stop check
    // (which carries the script's position).
    if (IsStopMessage(e.Msg)) {
        view_.ShowError(FCurFile, 0, "STOP");
        view_.AppendMessage("[" + FCurFile + "] (0): STOP");
        return;
    }
    std::string file = LuaChunkFileName(e.ChunkName);
    if (!SourceFileExists(file)) file = FCurFile;
    view_.ShowError(file, SourceFileExists(file) ? e.Line : 0, e.Msg);
    view_.AppendMessage("[" + file + "] (" + std::to_string(e.Line) + "): " + e.Msg);
}

void TDebugEngine::Hook(lua_State* L, lua_Debug* ar)
{
    void* ud = nullptr;
    if (lua_getallocf(L, &ud) != Allocate || ud == nullptr) return;
    auto* engine = static_cast<TDebugEngine*>(ud);
    bool stop = false;
    std::string error;
    try {
        switch (ar->event) {
        case LUA_HOOKCALL: engine->OnCall(L, ar); break;
        case LUA_HOOKRET: engine->OnReturn(L, ar); break;
        case LUA_HOOKLINE: stop = engine->OnLine(L, ar); break;
        default: break;  // a tail call takes its caller's place; counts are not asked for
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!error.empty()) luaL_error(L, "%s", error.c_str());
    if (stop) {
        lua_pushliteral(L, "STOP");
        lua_error(L);
    }
}

TDebugEngine::ThreadFrames& TDebugEngine::EnterThread(lua_State* L)
{
    if (L == eventThread_) return *eventFrames_;
    std::size_t at = 0;
    while (at < resumeChain_.size() && resumeChain_[at] != L) ++at;
    if (at < resumeChain_.size()) {
        // Back in a thread that resumed others: they yielded or ended. An ended thread's frames go.
        for (std::size_t i = at + 1; i < resumeChain_.size(); ++i) {
            const auto found = threads_.find(resumeChain_[i]);
            if (found != threads_.end() && found->second.frames.empty()) threads_.erase(found);
        }
        resumeChain_.resize(at + 1);
    } else {
        int base = 0;
        if (!resumeChain_.empty()) {
            const ThreadFrames& resumer = threads_[resumeChain_.back()];
            base = resumer.base + int(resumer.frames.size());
        }
        // Threads that died by an error keep stale lists; past a bound they are forgotten (a
        // suspended one forgotten this way is rebuilt from its stack when it runs again).
        if (threads_.size() > 4096) {
            for (auto it = threads_.begin(); it != threads_.end();) {
                const bool onChain =
                    std::find(resumeChain_.begin(), resumeChain_.end(), it->first) != resumeChain_.end();
                it = onChain ? std::next(it) : threads_.erase(it);
            }
        }
        resumeChain_.push_back(L);
        threads_[L].base = base;
    }
    eventThread_ = L;
    eventFrames_ = &threads_[L];
    return *eventFrames_;
}

void TDebugEngine::SyncFrames(lua_State* L, ThreadFrames& thread, const void* frame)
{
    auto& frames = thread.frames;
    while (!frames.empty() && frames.back() != frame) frames.pop_back();
    if (!frames.empty() || frame == nullptr) return;
    // Not seen before (a thread met in the middle of its work): read the whole stack once.
    lua_Debug probe;
    for (int level = 0; lua_getstack(L, level, &probe) != 0; ++level) frames.push_back(probe.i_ci);
    std::reverse(frames.begin(), frames.end());
}

void TDebugEngine::UpdateDepth(const ThreadFrames& thread)
{
    FDepth = 1 + thread.base + int(thread.frames.size());
    if (!callDepths_.empty()) DropCallsDeeperThan(FDepth);
}

void TDebugEngine::OnCall(lua_State* L, lua_Debug* ar)
{
    ThreadFrames& thread = EnterThread(L);
    lua_Debug caller;
    // The caller's frame must be on top of the list: frames above it were left by an error.
    const void* callerFrame = lua_getstack(L, 1, &caller) != 0 ? caller.i_ci : nullptr;
    if (callerFrame == nullptr) thread.frames.clear();
    else SyncFrames(L, thread, callerFrame);
    thread.frames.push_back(ar->i_ci);
    UpdateDepth(thread);
    if (view_.DisplayOn() && FCurLine != 0) {
        view_.CallEntered(view_.LineText(FCurFile, FCurLine));
        FCallHistory.Add(FCurFile, FCurLine, false);
        callDepths_.push_back(FDepth);
    }
}

void TDebugEngine::OnReturn(lua_State* L, lua_Debug* ar)
{
    ThreadFrames& thread = EnterThread(L);
    SyncFrames(L, thread, ar->i_ci);
    if (!thread.frames.empty()) thread.frames.pop_back();
    UpdateDepth(thread);
}

void TDebugEngine::DropCallsDeeperThan(int depth)
{
    int dropped = 0;
    while (!callDepths_.empty() && callDepths_.back() > depth) {
        callDepths_.pop_back();
        FCallHistory.Delete(FCallHistory.Count() - 1);
        ++dropped;
    }
    if (dropped > 0) view_.CallsDropped(dropped);
}

bool TDebugEngine::OnLine(lua_State* L, lua_Debug* ar)
{
    // O(1) while the list is right: the running frame is on top of it.
    ThreadFrames& thread = EnterThread(L);
    if (thread.frames.empty() || thread.frames.back() != ar->i_ci) {
        SyncFrames(L, thread, ar->i_ci);
        UpdateDepth(thread);
    }
    FStepDepth = FDepth - 1;
    const int line = ar->currentline - 1;
    std::string_view file;
    bool haveFile = false;
    const auto fileName = [&]() -> std::string_view {
        if (!haveFile) {
            lua_getinfo(L, "S", ar);
            file = ar->source != nullptr ? ar->source : "";
            if (!file.empty() && file.front() == '@') file.remove_prefix(1);
            haveFile = true;
        }
        return file;
    };
    const bool stop = FBreakNext || (!FBreakPoints.Empty() && FBreakPoints.Exists(fileName(), line)) ||
                      (FCursorLine == line && fileName() == FCursorFile) || FTargetDepth >= FStepDepth;
    const bool wasExecuting = FExecuting;
    FExecuting = !stop;
    if (stop) {
        FBreakNext = false;
        FTargetDepth = 0;
        FCursorLine = -1;
        FCursorFile.clear();
        view_.ShowWindow();
    }
    if (stop || wasExecuting != FExecuting) view_.ActionsChanged();
    const ScopedViewState viewState(viewState_, L);
    if (stop || view_.DisplayOn()) {
        std::string full = FullSourcePath(fileName());
        view_.ShowPosition(full, line, L);
        FCurFile = std::move(full);
        FCurLine = line;
    }
    // The clock is read every few lines only: a line of a tight loop costs tens of nanoseconds.
    bool serve = stop;
    if (!serve && ++linesSinceClock_ >= 32) {
        linesSinceClock_ = 0;
        serve = std::chrono::steady_clock::now() - lastServe_ >= ServeInterval;
    }
    if (serve) {
        view_.ServeEvents(false);
        lastServe_ = std::chrono::steady_clock::now();
    }
    for (;;) {
        if (!FRunning) return true;
        if (FExecuting) return false;
        view_.ServeEvents(true);
        lastServe_ = std::chrono::steady_clock::now();
    }
}

}  // namespace pek
