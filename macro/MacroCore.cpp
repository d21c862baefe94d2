#include "macro/MacroCore.h"

#include "macro/MacroHost.h"
#include "macro/macrothread_u.h"
#include "platform/Exception.h"
#include "platform/ThreadCall.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <exception>

namespace pek {

TMacroCore::TMacroCore(TerminalHost& window) : window_(&window) {}

bool TMacroCore::OnMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void TMacroCore::OnMain(const std::function<void(TerminalHost&)>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) throw Exception("STOP");
    if (QThread::currentThread() == app->thread()) {
        if (window_ == nullptr) throw Exception("STOP");
        fn(*window_);
        return;
    }
    bool ran = false;
    std::exception_ptr failure;
    // A call dropped unserved because the application went away first ends in "STOP".
    CallOnThreadOf(app, [&] {
        if (window_ == nullptr) return;
        ran = true;
        try {
            fn(*window_);
        } catch (...) {
            failure = std::current_exception();  // no Lua state is touched here: handed back to the worker
        }
    });
    if (failure) std::rethrow_exception(failure);
    if (!ran) throw Exception("STOP");
}

void TMacroCore::Post(std::function<void(TerminalHost&)> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    const auto run = [weak = weak_from_this(), fn = std::move(fn)] {
        const auto core = weak.lock();
        if (!core || core->window_ == nullptr) return;
        try {
            fn(*core->window_);
        } catch (const std::exception&) {
            // Nobody waits for a posted call: its failure has no one to go to.
        }
    };
    if (QThread::currentThread() == app->thread()) run();
    else QMetaObject::invokeMethod(app, run, Qt::QueuedConnection);
}

std::vector<TMacroEntry> TMacroCore::RunningMacros() const
{
    std::lock_guard lock(listMutex_);
    return list_;
}

bool TMacroCore::Empty() const
{
    std::lock_guard lock(listMutex_);
    return list_.empty();
}

std::uint64_t TMacroCore::Add(std::string text, std::shared_ptr<TMacroThread> thread)
{
    std::lock_guard lock(listMutex_);
    const std::uint64_t id = nextId_++;
    list_.push_back({id, std::move(text), std::move(thread)});
    return id;
}

bool TMacroCore::Remove(std::uint64_t id)
{
    bool removed = false;
    {
        std::lock_guard lock(listMutex_);
        for (auto it = list_.begin(); it != list_.end(); ++it) {
            if (it->Id == id) {
                list_.erase(it);
                removed = true;
                break;
            }
        }
    }
    if (removed) NotifyListChanged();
    return removed;
}

void TMacroCore::NotifyListChanged()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    std::weak_ptr<TMacroCore> weak = weak_from_this();
    QMetaObject::invokeMethod(
        app,
        [weak] {
            if (auto core = weak.lock(); core && !core->Closed() && core->OnListChanged) core->OnListChanged();
        },
        Qt::QueuedConnection);
}

bool TMacroCore::Stop(std::uint64_t id)
{
    std::shared_ptr<TMacroThread> thread;
    {
        std::lock_guard lock(listMutex_);
        for (const auto& e : list_)
            if (e.Id == id) thread = e.Thread;
    }
    if (!thread) return StopDebuggerEntry(id);
    thread->Terminate();
    return true;
}

bool TMacroCore::StopDebuggerEntry(std::uint64_t id)
{
    bool listed = false;
    {
        std::lock_guard lock(listMutex_);
        for (const auto& e : list_) listed = listed || (e.Id == id && e.Thread == nullptr);
    }
    // The debugged run ends at its next line and then leaves the list itself.
    if (!listed || !StopDebugger) return false;
    OnMain([this](TerminalHost&) {
        if (StopDebugger) StopDebugger();
    });
    return true;
}

bool TMacroCore::ForcedStop(std::uint64_t id)
{
    if (StopDebuggerEntry(id)) return true;
    std::shared_ptr<TMacroThread> thread;
    {
        std::lock_guard lock(listMutex_);
        for (const auto& e : list_)
            if (e.Id == id) thread = e.Thread;
    }
    if (!thread) return false;
    thread->ForceStop();
    return true;
}

bool TMacroCore::StopAll(int waitMs)
{
    QElapsedTimer timer;
    timer.start();
    for (const auto& e : RunningMacros()) Stop(e.Id);
    if (WaitIdle(waitMs * 2 / 5)) return true;
    for (const auto& e : RunningMacros()) ForcedStop(e.Id);
    return WaitIdle(int(std::max<qint64>(0, waitMs - timer.elapsed())));
}

void TMacroCore::PortChanged(int sheet)
{
    if (sheet < 0 || sheet > 0xFFFF) return;
    std::lock_guard lock(portMutex_);
    if (std::size_t(sheet) >= portGenerations_.size()) portGenerations_.resize(std::size_t(sheet) + 1, 0);
    ++portGenerations_[std::size_t(sheet)];
}

std::uint64_t TMacroCore::PortGeneration(int sheet) const
{
    std::lock_guard lock(portMutex_);
    return sheet >= 0 && std::size_t(sheet) < portGenerations_.size() ? portGenerations_[std::size_t(sheet)] : 0;
}

bool TMacroCore::WaitIdle(int waitMs)
{
    QElapsedTimer timer;
    timer.start();
    if (!OnMainThread()) {
        std::unique_lock lock(workerMutex_);
        return workersDone_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return workers_ == 0; });
    }
    // A worker may be blocked on a call to this thread: keep serving them while waiting. A worker
    // that ends posts a wake-up, and the timer bounds the wait.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.callOnTimeout([] {});
    for (;;) {
        {
            std::lock_guard lock(workerMutex_);
            if (workers_ == 0) return true;
        }
        const qint64 left = waitMs - timer.elapsed();
        if (left <= 0) return false;
        // A timer may fire a little early: it is started again for what is left.
        if (!deadline.isActive()) deadline.start(int(left));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TMacroCore::WorkerStarted()
{
    std::lock_guard lock(workerMutex_);
    ++workers_;
}

void TMacroCore::WorkerEnded()
{
    {
        std::lock_guard lock(workerMutex_);
        --workers_;
        workersDone_.notify_all();
    }
    // Wakes a main thread that waits for the workers in its event loop.
    if (QCoreApplication* app = QCoreApplication::instance()) QMetaObject::invokeMethod(app, [] {}, Qt::QueuedConnection);
}

void TMacroCore::Close()
{
    closed_ = true;
    window_ = nullptr;
}

bool TMacroCore::Closed() const { return closed_; }

void UseCNumericLocale() { std::setlocale(LC_NUMERIC, "C"); }

}  // namespace pek
