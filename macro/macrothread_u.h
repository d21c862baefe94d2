#pragma once
// The worker of one thread run: reads and compiles the script, runs it, reports a script error
// in a box, and takes its entry off the list when it ends. Threads: "Threads" in README.md.
#include "macro/RunGuard.h"

#include <lua.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pek {

class TMacroCore;

class TMacroThread : public std::enable_shared_from_this<TMacroThread> {
public:
    // The state is made and prepared by Attach; it is closed on the worker when the run ends.
    TMacroThread(std::shared_ptr<TMacroCore> core, std::string fileName, std::vector<std::string> arguments);
    ~TMacroThread();
    TMacroThread(const TMacroThread&) = delete;
    TMacroThread& operator=(const TMacroThread&) = delete;

    // A new state for the run, guarded by it; null when memory is short. Owned by the run.
    lua_State* NewState();

    // Starts the worker (detached: it keeps this object alive until it ends).
    void Start(std::uint64_t entryId);

    // The stop request. Terminate wakes a Wait at once.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
    // A thread cannot be killed safely: every Lua thread of the state, finalizers included, raises
    // "STOP" at once or within a few thousand instructions instead, and keeps raising it so a
    // pcall cannot swallow it. The run stays listed until its worker has ended.
    void ForceStop();
    bool Forced() const { return guard_.forced.load(std::memory_order_relaxed); }

    // Sleeps up to ms milliseconds, or until the stop request when ms is beyond MaxSleepMs;
    // false when a stop request ended the sleep.
    bool Sleep(std::int64_t ms);
    static constexpr std::int64_t MaxSleepMs = std::int64_t(1) << 40;  // about 35 years

private:
    void Execute();
    void ShowError(const std::string& text, const std::string& caption);

    std::shared_ptr<TMacroCore> core_;
    std::mutex stateMutex_;  // the state is closed by the worker and hooked by a forced stop
    TRunGuard guard_;
    lua_State* state_ = nullptr;
    const std::string fileName_;
    const std::vector<std::string> arguments_;
    std::uint64_t entryId_ = 0;

    std::atomic<bool> terminated_{false};
    std::mutex sleepMutex_;
    std::condition_variable wake_;
};

}  // namespace pek
