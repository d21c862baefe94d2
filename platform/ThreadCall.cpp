#include "platform/ThreadCall.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <memory>

namespace pek {

namespace {

// A served call arrives within a few tens of microseconds when the receiving thread is idle; one
// that takes longer is busy work there, and the caller sleeps instead of burning a core.
constexpr auto kSpin = std::chrono::microseconds(200);

struct CallState {
    std::atomic<int> state{0};  // 0 waiting, 1 served, 2 dropped
    void Finish(int how)
    {
        int expected = 0;
        if (state.compare_exchange_strong(expected, how, std::memory_order_acq_rel)) state.notify_one();
    }
};

inline void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

bool CallOnThreadOf(QObject* context, std::function<void()> fn)
{
    const auto call = std::make_shared<CallState>();
    // The guard's deleter runs when the last copy of the queued functor goes, served or not: a call
    // the event loop drops without running releases the caller as dropped.
    std::shared_ptr<void> guard(nullptr, [call](void*) { call->Finish(2); });
    QMetaObject::invokeMethod(
        context,
        [call, guard = std::move(guard), fn = std::move(fn)] {
            fn();
            call->Finish(1);
        },
        Qt::QueuedConnection);
    const auto until = std::chrono::steady_clock::now() + kSpin;
    int seen = call->state.load(std::memory_order_acquire);
    for (int i = 0; seen == 0; ++i) {
        CpuRelax();
        if ((i & 63) == 63 && std::chrono::steady_clock::now() >= until) break;
        seen = call->state.load(std::memory_order_acquire);
    }
    while (seen == 0) {
        call->state.wait(0, std::memory_order_acquire);
        seen = call->state.load(std::memory_order_acquire);
    }
    return seen == 1;
}

}  // namespace pek
