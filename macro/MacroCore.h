#pragma once
// What the macro host shares with the runs' worker threads: the list of running macros, the lock
// flag, and the way onto the main thread. Workers keep it alive through shared ownership, so a
// run that outlives the host (after a forced stop) finds it closed instead of freed.
// Which thread may do what: "Threads" in README.md.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct lua_State;

namespace pek {

class TerminalHost;
class TMacroThread;

// One entry of RunningMacros. Runs are told apart by Id, never by address: a new run may reuse
// the memory of one that ended.
struct TMacroEntry {
    std::uint64_t Id = 0;
    std::string Text;  // CP932: sheet caption + ": " + file name
    std::shared_ptr<TMacroThread> Thread;
};

class TMacroCore : public std::enable_shared_from_this<TMacroCore> {
public:
    explicit TMacroCore(TerminalHost& window);

    // Runs fn with the window on the main thread: directly when called there, otherwise as a
    // blocking queued call. Exceptions of fn reach the caller. Raises Exception("STOP") once the
    // window is gone.
    void OnMain(const std::function<void(TerminalHost&)>& fn);
    static bool OnMainThread();
    // Queues fn for the main thread without waiting; calls made later through OnMain or Post
    // run after it. Dropped once the window is gone. Direct when called on the main thread.
    void Post(std::function<void(TerminalHost&)> fn);

    std::vector<TMacroEntry> RunningMacros() const;
    bool Empty() const;
    std::uint64_t Add(std::string text, std::shared_ptr<TMacroThread> thread);
    // Removes the entry; false when it was not listed any more.
    bool Remove(std::uint64_t id);

    // Polite stop: sets the run's stop request and returns at once.
    bool Stop(std::uint64_t id);
    // Makes the run raise "STOP" at once in every Lua thread it has, finalizers included; the
    // entry leaves the list when the worker has ended. The debugger's entry is stopped politely:
    // its run is on the main thread and ends at its next line.
    bool ForcedStop(std::uint64_t id);
    // Stops every run and waits (serving queued calls) for the workers; those still running after
    // two fifths of waitMs are force-stopped and waited for up to the rest. True when all ended.
    bool StopAll(int waitMs);
    // Waits up to waitMs for every worker to end, serving queued calls on the main thread.
    bool WaitIdle(int waitMs);

    std::atomic<bool>& LockFlag() { return lockFlag_; }

    // Sheets may have been added, closed or renumbered: runs look their ports up again.
    void SheetsChanged() { sheetsGeneration_.fetch_add(1, std::memory_order_release); }
    std::uint64_t SheetsGeneration() const { return sheetsGeneration_.load(std::memory_order_acquire); }
    // The sheet's port was closed, opened, set up anew or replaced: runs look it up again.
    void PortChanged(int sheet);
    std::uint64_t PortGeneration(int sheet) const;

    // Worker bookkeeping: a worker counts from its start to the end of its thread.
    void WorkerStarted();
    void WorkerEnded();

    // Main thread: the window is going away; later OnMain calls fail with "STOP".
    void Close();
    bool Closed() const;

    // Called (queued, main thread) after an entry left the list.
    std::function<void()> OnListChanged;
    // Main thread: shows a run's error (CP932 text and caption) to the user; unset, it is dropped.
    std::function<void(TerminalHost& window, const std::string& text, const std::string& caption)> OnRunError;
    // Main thread: asks the debugged run to stop. Its entry is the one without a thread.
    std::function<void()> StopDebugger;

    // Script functions of features outside the macro host, registered into every new script state
    // after the host's own. Added on the main thread before the first run; read by every run.
    using ScriptLibrary = std::function<void(lua_State*)>;
    void AddScriptLibrary(ScriptLibrary library) { libraries_.push_back(std::move(library)); }
    const std::vector<ScriptLibrary>& ScriptLibraries() const { return libraries_; }

private:
    void NotifyListChanged();
    bool StopDebuggerEntry(std::uint64_t id);

    TerminalHost* window_;  // main thread only; null after Close
    std::atomic<bool> closed_{false};
    mutable std::mutex listMutex_;
    std::vector<TMacroEntry> list_;
    std::uint64_t nextId_ = 1;
    std::atomic<bool> lockFlag_{false};
    std::atomic<std::uint64_t> sheetsGeneration_{0};
    mutable std::mutex portMutex_;
    std::vector<std::uint64_t> portGenerations_;  // by sheet
    mutable std::mutex workerMutex_;
    std::condition_variable workersDone_;
    int workers_ = 0;
    std::vector<ScriptLibrary> libraries_;
};

}  // namespace pek
