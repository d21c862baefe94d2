#pragma once
// Reopens ports whose device went away or was missing when the port was opened (a USB adapter
// unplugged, or plugged in after Pek started). A port is tried again only when its device node
// appears or changes, so a device that refuses to open costs nothing while it stays as it is.
#include "serial/ComPort.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;

namespace pek {

class TCommXEx;

class PortWatch : public QObject {
public:
    PortWatch(PortResolver resolver, QObject* parent = nullptr, int intervalMs = 500);

    // Watches until the port opens (then onOpened runs), is unwatched, or is freed.
    void Watch(const std::shared_ptr<TCommXEx>& port, std::function<void()> onOpened);
    void Unwatch(const TCommXEx* port);
    bool Watching(const TCommXEx* port) const;

    // One round of attempts; the timer calls it.
    void Poll();

private:
    struct Entry {
        std::weak_ptr<TCommXEx> port;
        const TCommXEx* key = nullptr;
        std::function<void()> onOpened;
        std::string triedIdentity;  // the device node as it was at the last failed attempt
    };

    PortResolver resolver_;
    QTimer* timer_;
    std::vector<Entry> entries_;
};

}  // namespace pek
