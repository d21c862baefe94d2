#pragma once
// Runs the event loop as the program does (sleeping when idle) until pred holds, checking every
// checkMs; false when timeoutMs passed first.
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace pek::bench {

inline bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 60000, int checkMs = 1)
{
    if (pred()) return true;
    QEventLoop loop;
    QTimer check;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool ok = true;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (pred()) loop.quit();
        else if (std::chrono::steady_clock::now() > end) {
            ok = false;
            loop.quit();
        }
    });
    check.start(checkMs);
    loop.exec();
    return ok;
}

}  // namespace pek::bench
