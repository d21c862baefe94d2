#include "platform/ThreadCall.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThread>

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace pek;

namespace {

template <typename T>
T ServeUntil(std::future<T>& result)
{
    QElapsedTimer timer;
    timer.start();
    while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return result.get();
}

// Throws its queued calls away unserved, as an event loop that goes away does.
class DroppingObject : public QObject {
public:
    bool event(QEvent* e) override { return e->type() == QEvent::MetaCall ? true : QObject::event(e); }
};

}  // namespace

TEST(ThreadCall, EachCallRunsOnTheReceivingThreadAndItsEffectIsSeenOnReturn)
{
    QObject context;
    const QThread* const mainThread = QThread::currentThread();
    auto worker = std::async(std::launch::async, [&] {
        int wrong = 0;
        for (int i = 0; i < 3000; ++i) {
            int seen = -1;
            bool onMain = false;
            const bool served = CallOnThreadOf(&context, [&] {
                onMain = QThread::currentThread() == mainThread;
                // Some calls outlast the caller's spin, so it sleeps and is woken.
                if (i % 300 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                seen = i * 3;
            });
            if (!served || !onMain || seen != i * 3) ++wrong;
        }
        return wrong;
    });
    EXPECT_EQ(ServeUntil(worker), 0);
}

TEST(ThreadCall, ACallDroppedUnservedReleasesTheCallerWithoutRunning)
{
    DroppingObject context;
    auto worker = std::async(std::launch::async, [&] {
        bool ran = false;
        const bool served = CallOnThreadOf(&context, [&] { ran = true; });
        return !served && !ran;
    });
    EXPECT_TRUE(ServeUntil(worker));
}
