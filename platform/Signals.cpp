#include "platform/Signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pek {

namespace {

// The handler may only write to a descriptor; everything else happens on the main thread.
int g_signalWriteEnd = -1;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnTerminationSignal(int signal)
{
    for (int s : kSignals) std::signal(s, SIG_DFL);  // a second signal ends the program
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalWriteEnd, &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal))
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    g_signalWriteEnd = fds[1];
    notifier_ = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this, readEnd = fds[0]] {
        unsigned char byte = 0;
        if (::read(readEnd, &byte, 1) == 1 && onSignal_) onSignal_(byte);
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals) ::sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    for (int s : kSignals) std::signal(s, SIG_DFL);
    if (notifier_) {
        ::close(int(notifier_->socket()));
        ::close(g_signalWriteEnd);
        g_signalWriteEnd = -1;
    }
}

}  // namespace pek
