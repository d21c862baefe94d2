#include "terminal/PortWatch.h"

#include "serial/CommXEx.h"

#include <QTimer>

#include <sys/stat.h>

#include <algorithm>

namespace pek {

namespace {

// Changes when the node is created again or its owner or mode change (udev sets them after creating it).
std::string DeviceIdentity(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_rdev) + ":" +
           std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

}  // namespace

PortWatch::PortWatch(PortResolver resolver, QObject* parent, int intervalMs)
    : QObject(parent), resolver_(std::move(resolver)), timer_(new QTimer(this))
{
    timer_->setInterval(intervalMs);
    connect(timer_, &QTimer::timeout, this, [this] { Poll(); });
}

void PortWatch::Watch(const std::shared_ptr<TCommXEx>& port, std::function<void()> onOpened)
{
    Unwatch(port.get());
    entries_.push_back({port, port.get(), std::move(onOpened), DeviceIdentity(resolver_(port->PortNo()))});
    timer_->start();
}

void PortWatch::Unwatch(const TCommXEx* port)
{
    std::erase_if(entries_, [&](const Entry& e) { return e.key == port; });
    if (entries_.empty()) timer_->stop();
}

bool PortWatch::Watching(const TCommXEx* port) const
{
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == port; });
}

void PortWatch::Poll()
{
    // Opening runs handlers that may watch or unwatch: work on a copy, act on what is still listed.
    const std::vector<Entry> round = entries_;
    for (const Entry& entry : round) {
        const std::shared_ptr<TCommXEx> port = entry.port.lock();
        if (!port || port->IsOpen()) {
            Unwatch(entry.key);
            continue;
        }
        const std::string identity = DeviceIdentity(resolver_(port->PortNo()));
        if (identity.empty() || identity == entry.triedIdentity) continue;
        try {
            port->Open();
        } catch (const ECommError&) {
            for (Entry& e : entries_)
                if (e.key == entry.key) e.triedIdentity = identity;
            continue;
        }
        Unwatch(entry.key);
        if (entry.onOpened) entry.onOpened();
    }
}

}  // namespace pek
