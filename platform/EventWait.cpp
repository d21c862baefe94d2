#include "platform/EventWait.h"

#include <QCoreApplication>
#include <QTimer>

namespace pek {

void ServeEventsUpTo(std::chrono::milliseconds most)
{
    // Pending events are served at once; otherwise the timer's own event ends the wait.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(most);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace pek
