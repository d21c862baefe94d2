#include "support/FakeComPort.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace pek {

using Clock = std::chrono::steady_clock;

FakeComDevice::FakeComDevice() : eventFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (eventFd_ < 0) throw std::runtime_error("eventfd failed");
}

FakeComDevice::~FakeComDevice()
{
    ::close(eventFd_);
}

ComPortFactory FakeComDevice::FactoryFor(const std::shared_ptr<FakeComDevice>& device)
{
    return [device] { return std::make_unique<FakeComPort>(device); };
}

void FakeComDevice::Signal()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(eventFd_, &one, sizeof one);
}

void FakeComDevice::Log(FakeComEvent event)
{
    event.time = Clock::now();
    events_.push_back(std::move(event));
    changed_.notify_all();
}

void FakeComDevice::RefuseOpen(bool refuse)
{
    const std::lock_guard lock(mutex_);
    refuseOpen_ = refuse;
}

void FakeComDevice::RefuseQueues(bool refuse)
{
    const std::lock_guard lock(mutex_);
    refuseQueues_ = refuse;
}

void FakeComDevice::RefuseTimeouts(bool refuse)
{
    const std::lock_guard lock(mutex_);
    refuseTimeouts_ = refuse;
}

void FakeComDevice::RefuseState(std::function<bool(const ComDcb&)> refuse)
{
    const std::lock_guard lock(mutex_);
    refuseState_ = std::move(refuse);
}

void FakeComDevice::FailReads(int count, std::uint32_t errors)
{
    const std::lock_guard lock(mutex_);
    failReads_ = count;
    readErrors_ = errors;
}

void FakeComDevice::FailWrites(bool fail, std::uint32_t errors)
{
    const std::lock_guard lock(mutex_);
    failWrites_ = fail;
    writeErrors_ = errors;
}

void FakeComDevice::SetWritePacing(std::size_t chunk, std::chrono::milliseconds delay)
{
    const std::lock_guard lock(mutex_);
    writeChunk_ = chunk;
    writeDelay_ = delay;
}

void FakeComDevice::SetStalled(bool stalled)
{
    {
        const std::lock_guard lock(mutex_);
        stalled_ = stalled;
    }
    changed_.notify_all();
}

void FakeComDevice::InjectReceive(const std::string& bytes)
{
    {
        const std::lock_guard lock(mutex_);
        input_ += bytes;
    }
    changed_.notify_all();
    Signal();
}

void FakeComDevice::InjectLineError(std::uint32_t errors)
{
    {
        const std::lock_guard lock(mutex_);
        lineErrors_ |= errors;
    }
    Signal();
}

void FakeComDevice::InjectBreak()
{
    {
        const std::lock_guard lock(mutex_);
        breakPending_ = true;
        lineErrors_ |= ComError::Break;
    }
    Signal();
}

void FakeComDevice::Vanish()
{
    {
        const std::lock_guard lock(mutex_);
        vanished_ = true;
    }
    Signal();
}

std::vector<FakeComEvent> FakeComDevice::Events() const
{
    const std::lock_guard lock(mutex_);
    return events_;
}

std::string FakeComDevice::Written() const
{
    const std::lock_guard lock(mutex_);
    return written_;
}

std::string FakeComDevice::WaitWritten(std::size_t count, std::chrono::milliseconds deadline) const
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, deadline, [&] { return written_.size() >= count; });
    return written_;
}

int FakeComDevice::OpenCount() const
{
    const std::lock_guard lock(mutex_);
    return openCount_;
}

bool FakeComDevice::IsOpen() const
{
    const std::lock_guard lock(mutex_);
    return open_;
}

std::size_t FakeComDevice::InputLeft() const
{
    const std::lock_guard lock(mutex_);
    return input_.size();
}

FakeComPort::~FakeComPort()
{
    Close();
}

bool FakeComPort::Open(int /*portNo*/)
{
    const std::lock_guard lock(device_->mutex_);
    if (device_->refuseOpen_ || device_->open_ || device_->vanished_) return false;
    device_->open_ = true;
    device_->openCount_++;
    open_ = true;
    device_->Log({FakeComEvent::Open, {}, true, {}, {}, {}});
    return true;
}

void FakeComPort::Close()
{
    if (!open_) return;
    const std::lock_guard lock(device_->mutex_);
    device_->open_ = false;
    open_ = false;
    device_->Log({FakeComEvent::Close, {}, false, {}, {}, {}});
}

bool FakeComPort::SetupQueues(std::int32_t receiveSize, std::int32_t transmitSize)
{
    const std::lock_guard lock(device_->mutex_);
    device_->Log({FakeComEvent::SetupQueues, {}, false, std::to_string(receiveSize) + "/" + std::to_string(transmitSize), {}, {}});
    return !device_->refuseQueues_ && receiveSize > 0 && transmitSize > 0;
}

bool FakeComPort::GetState(ComDcb& dcb)
{
    const std::lock_guard lock(device_->mutex_);
    dcb = device_->dcb_;
    return true;
}

bool FakeComPort::SetState(const ComDcb& dcb)
{
    const std::lock_guard lock(device_->mutex_);
    device_->Log({FakeComEvent::SetState, {}, false, {}, dcb, {}});
    if (device_->refuseState_ && device_->refuseState_(dcb)) return false;
    device_->dcb_ = dcb;
    return true;
}

bool FakeComPort::GetTimeouts(ComTimeouts& timeouts)
{
    const std::lock_guard lock(device_->mutex_);
    timeouts = device_->timeouts_;
    return true;
}

bool FakeComPort::SetTimeouts(const ComTimeouts& timeouts)
{
    const std::lock_guard lock(device_->mutex_);
    device_->Log({FakeComEvent::SetTimeouts, {}, false, {}, {}, timeouts});
    if (device_->refuseTimeouts_) return false;
    device_->timeouts_ = timeouts;
    return true;
}

void FakeComPort::PurgeTransmit()
{
    const std::lock_guard lock(device_->mutex_);
    device_->Log({FakeComEvent::PurgeTransmit, {}, false, {}, {}, {}});
}

void FakeComPort::PurgeReceive()
{
    const std::lock_guard lock(device_->mutex_);
    device_->input_.clear();
    device_->Log({FakeComEvent::PurgeReceive, {}, false, {}, {}, {}});
}

void FakeComPort::SetRts(bool on)
{
    const std::lock_guard lock(device_->mutex_);
    device_->Log({FakeComEvent::Rts, {}, on, {}, {}, {}});
}

void FakeComPort::SetDtr(bool on)
{
    const std::lock_guard lock(device_->mutex_);
    device_->Log({FakeComEvent::Dtr, {}, on, {}, {}, {}});
}

std::int32_t FakeComPort::InQueCount()
{
    const std::lock_guard lock(device_->mutex_);
    return std::int32_t(device_->input_.size());
}

std::uint32_t FakeComPort::TakeLineErrors()
{
    const std::lock_guard lock(device_->mutex_);
    return std::exchange(device_->lineErrors_, 0u);
}

std::uint32_t FakeComPort::WaitEvent(int wakeFd)
{
    pollfd fds[2] = {{device_->eventFd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) return 0;
    std::uint32_t events = 0;
    if (fds[1].revents & POLLIN) events |= ComEvent::Woken;
    if (fds[0].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(device_->eventFd_, &count, sizeof count);
        const std::lock_guard lock(device_->mutex_);
        if (device_->vanished_) events |= ComEvent::Vanished;
        if (std::exchange(device_->breakPending_, false)) events |= ComEvent::Break;
        if (device_->lineErrors_ & (ComError::Overrun | ComError::RxParity | ComError::Frame)) events |= ComEvent::Err;
        if (!device_->input_.empty()) events |= ComEvent::RxChar;
    }
    return events;
}

bool FakeComPort::WaitWritable(int wakeFd, int timeoutMs)
{
    int wait = timeoutMs;
    {
        const std::lock_guard lock(device_->mutex_);
        if (!device_->stalled_ && !device_->failWrites_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(device_->writableAt_ - Clock::now()).count();
            if (left <= 0) return true;
            wait = int(std::min<long long>(left, timeoutMs));
        }
    }
    pollfd fd{wakeFd, POLLIN, 0};
    if (poll(&fd, 1, wait) > 0) return false;
    const std::lock_guard lock(device_->mutex_);
    return !device_->stalled_ && Clock::now() >= device_->writableAt_;
}

bool FakeComPort::WaitReadable(int wakeFd, int timeoutMs)
{
    // In slices of a millisecond, so that a wake-up is seen without consuming the device's event.
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(device_->mutex_);
    for (;;) {
        if (device_->changed_.wait_for(lock, std::chrono::milliseconds(1), [&] { return !device_->input_.empty(); })) return true;
        pollfd fd{wakeFd, POLLIN, 0};
        if (poll(&fd, 1, 0) > 0 || Clock::now() >= until) return false;
    }
}

long FakeComPort::Read(void* buffer, std::size_t count)
{
    const std::lock_guard lock(device_->mutex_);
    if (device_->failReads_ > 0) {
        device_->failReads_--;
        device_->lineErrors_ |= device_->readErrors_;
        return -1;
    }
    const std::size_t n = std::min(count, device_->input_.size());
    std::memcpy(buffer, device_->input_.data(), n);
    device_->input_.erase(0, n);
    return long(n);
}

long FakeComPort::Write(const void* bytes, std::size_t count)
{
    const std::lock_guard lock(device_->mutex_);
    if (device_->failWrites_) {
        device_->lineErrors_ |= device_->writeErrors_;
        return -1;
    }
    if (device_->stalled_ || Clock::now() < device_->writableAt_) return 0;
    const std::size_t n = device_->writeChunk_ == 0 ? count : std::min(count, device_->writeChunk_);
    const std::string taken(static_cast<const char*>(bytes), n);
    device_->written_ += taken;
    device_->writableAt_ = Clock::now() + device_->writeDelay_;
    if (device_->lineTime_.count() > 0) {
        device_->lineIdleAt_ = std::max(device_->lineIdleAt_, Clock::now()) + device_->lineTime_;
        device_->onLine_ += n;
    }
    device_->Log({FakeComEvent::Write, {}, false, taken, {}, {}});
    return long(n);
}

std::int32_t FakeComPort::OutQueCount()
{
    const std::lock_guard lock(device_->mutex_);
    if (Clock::now() >= device_->lineIdleAt_) device_->onLine_ = 0;
    return std::int32_t(device_->onLine_);
}

void FakeComDevice::SetLineTime(std::chrono::milliseconds time)
{
    const std::lock_guard lock(mutex_);
    lineTime_ = time;
}

std::chrono::steady_clock::time_point FakeComDevice::LineIdleAt() const
{
    const std::lock_guard lock(mutex_);
    return lineIdleAt_;
}

}  // namespace pek
