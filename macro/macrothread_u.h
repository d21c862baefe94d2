#pragma once
// The worker of one thread run: reads and compiles the script, runs it, reports a script error
// in a box, and takes its entry off the list when it ends.
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
    // Takes ownership of the prepared state; it is closed on the worker when the run ends.
    TMacroThread(std::shared_ptr<TMacroCore> core, lua_State* state, std::string fileName,
                 std::vector<std::string> arguments);
    ~TMacroThread();
    TMacroThread(const TMacroThread&) = delete;
    TMacroThread& operator=(const TMacroThread&) = delete;

    // Starts the worker (detached: it keeps this object alive until it ends).
    void Start(std::uint64_t entryId);

    // The stop request. Terminate wakes a Wait at once.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
    // A thread cannot be killed safely: the state raises "STOP" at its next instruction instead,
    // and keeps raising it so a pcall cannot swallow it.
    void ForceStop();
    bool Forced() const { return forced_.load(std::memory_order_relaxed); }

    // Sleeps up to ms milliseconds; false when a stop request ended the sleep.
    bool Sleep(std::int64_t ms);

private:
    void Execute();
    void ShowError(const std::string& text, const std::string& caption);

    std::shared_ptr<TMacroCore> core_;
    std::mutex stateMutex_;  // the state is closed by the worker and hooked by a forced stop
    lua_State* state_;
    const std::string fileName_;
    const std::vector<std::string> arguments_;
    std::uint64_t entryId_ = 0;

    std::atomic<bool> terminated_{false};
    std::atomic<bool> forced_{false};
    std::mutex sleepMutex_;
    std::condition_variable wake_;
};

}  // namespace pek
