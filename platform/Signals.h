#pragma once
// Turns SIGTERM, SIGINT and SIGHUP (logout, kill, Ctrl+C in the starting terminal) into a call on
// the main thread, so the program can close as if the user had closed its window. A second signal
// while that runs ends the program at once.
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace pek {

class TerminationSignals : public QObject {
public:
    // One instance per process; onSignal runs on the thread that created it.
    explicit TerminationSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace pek
