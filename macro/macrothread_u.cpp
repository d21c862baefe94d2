#include "macro/macrothread_u.h"

#include "lua/LuaSafeLoad.h"
#include "lua/LuaUtils.h"
#include "macro/MacroCore.h"
#include "platform/CodePage.h"
#include "terminal/TerminalHost.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace pek {

namespace {

// The lines of the file, whatever their ends (CR, LF or CR LF), joined again with CR LF after each.
bool ReadScript(const std::string& fileName, std::string& text)
{
    std::ifstream in(FileNameToSystem(fileName), std::ios::binary);
    if (!in) return false;
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    text.clear();
    text.reserve(raw.size() + raw.size() / 16);
    std::size_t i = 0;
    while (i < raw.size()) {
        const std::size_t end = raw.find_first_of("\r\n", i);
        if (end == std::string::npos) {
            text.append(raw, i, std::string::npos);
            text += "\r\n";
            break;
        }
        text.append(raw, i, end - i);
        text += "\r\n";
        i = end + 1;
        if (raw[end] == '\r' && i < raw.size() && raw[i] == '\n') ++i;
    }
    return true;
}

bool IsStop(const std::string& msg)
{
    const auto first = msg.find_first_not_of(' ');
    return first != std::string::npos && msg.compare(first, std::string::npos, "STOP") == 0;
}

}  // namespace

TMacroThread::TMacroThread(std::shared_ptr<TMacroCore> core, std::string fileName, std::vector<std::string> arguments)
    : core_(std::move(core)), fileName_(std::move(fileName)), arguments_(std::move(arguments))
{
}

lua_State* TMacroThread::NewState()
{
    if (state_ == nullptr) state_ = NewGuardedState(guard_);
    return state_;
}

TMacroThread::~TMacroThread()
{
    if (state_ != nullptr) lua_close(state_);  // never started
}

void TMacroThread::Start(std::uint64_t entryId)
{
    entryId_ = entryId;
    core_->WorkerStarted();
    std::thread([self = shared_from_this()] { self->Execute(); }).detach();
}

void TMacroThread::Terminate()
{
    {
        std::lock_guard lock(sleepMutex_);
        terminated_ = true;
    }
    wake_.notify_all();
}

void TMacroThread::ForceStop()
{
    {
        std::lock_guard lock(sleepMutex_);
        terminated_ = true;
        guard_.forced = true;
    }
    wake_.notify_all();
    std::lock_guard lock(stateMutex_);
    if (state_ != nullptr) HookForcedStop(state_);
}

bool TMacroThread::Sleep(std::int64_t ms)
{
    std::unique_lock lock(sleepMutex_);
    if (ms > MaxSleepMs) {
        wake_.wait(lock, [this] { return terminated_.load(); });
        return false;
    }
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void TMacroThread::ShowError(const std::string& text, const std::string& caption)
{
    try {
        core_->OnMain([&](TerminalHost& window) {
            if (core_->OnRunError) core_->OnRunError(window, text, caption);
        });
    } catch (const std::exception&) {
        // The window is gone: nobody to tell.
    }
}

void TMacroThread::Execute()
{
    lua_State* L = state_;
    lua_pushinteger(L, lua_Integer(gettid()));
    lua_setglobal(L, "_LuaThread");
    std::string script;
    if (Forced()) {
        // Removed and stopped before it began: nothing to run.
    } else if (!ReadScript(fileName_, script)) {
        ShowError(fileName_ + Sjis(" が見つかりません。"), Sjis("ファイルエラー"));
    } else {
        try {
            LuaLoadText(L, script, fileName_);
            LuaCallFunction(L, "", arguments_);
        } catch (const ELuaException& e) {
            // After a forced stop the run ends silently, whatever error the stop became.
            if (!IsStop(e.Msg) && !Forced())
                ShowError("Line = " + std::to_string(e.Line) + "\r\r" + e.Msg, LuaChunkFileName(e.ChunkName));
        } catch (const std::exception& e) {
            if (!Forced()) ShowError(e.what(), fileName_);
        }
    }
    try {
        core_->OnMain([](TerminalHost&) {});  // the run's queued output is shown before it leaves the list
    } catch (const std::exception&) {
    }
    {
        std::lock_guard lock(stateMutex_);
        state_ = nullptr;
    }
    // The finalizers run at close are the run's too: they run hooked (a forced stop ends them)
    // and the run stays listed until they are done.
    lua_sethook(L, nullptr, 0, 0);
    lua_close(L);
    core_->Remove(entryId_);
    core_->WorkerEnded();
}

}  // namespace pek
