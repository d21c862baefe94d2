#pragma once
#include <QCoreApplication>

#include <chrono>
#include <thread>

namespace pek::test {

// Serves the main thread's queue until `done` holds or the deadline passes.
template <class Predicate>
bool ServeUntil(Predicate done, std::chrono::milliseconds deadline = std::chrono::seconds(5))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Serves the main thread's queue for a while (to give a wrong report the chance to arrive).
inline void ServeFor(std::chrono::milliseconds time)
{
    ServeUntil([] { return false; }, time);
}

}  // namespace pek::test
