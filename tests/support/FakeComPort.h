#pragma once
#include "serial/ComPort.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pek {

// What the engine did to the simulated device, with the time it happened.
struct FakeComEvent {
    enum Kind { Open, Close, SetupQueues, SetState, SetTimeouts, PurgeTransmit, PurgeReceive, Rts, Dtr, Write };
    Kind kind;
    std::chrono::steady_clock::time_point time;
    bool on = false;     // Rts, Dtr
    std::string bytes;   // Write: what the device took
    ComDcb dcb;          // SetState
    ComTimeouts timeouts;  // SetTimeouts
};

// An in-memory serial device for tests of the engine. It survives the engine's open and close;
// each open makes a FakeComPort bound to it. Tests inject input, line errors, breaks and a
// vanishing device, slow the output down, make calls fail, and read the event log.
class FakeComDevice {
public:
    FakeComDevice();
    ~FakeComDevice();
    FakeComDevice(const FakeComDevice&) = delete;
    FakeComDevice& operator=(const FakeComDevice&) = delete;

    // A factory for TCustomCommX::SetPortFactory.
    static ComPortFactory FactoryFor(const std::shared_ptr<FakeComDevice>& device);

    // Failures.
    void RefuseOpen(bool refuse);
    void RefuseQueues(bool refuse);
    void RefuseTimeouts(bool refuse);
    // SetState fails whenever this returns true for the block it is given.
    void RefuseState(std::function<bool(const ComDcb&)> refuse);
    // The next `count` reads fail; each failure leaves `errors` as pending line errors.
    void FailReads(int count, std::uint32_t errors = 0);
    // Writes fail (the device takes nothing) and leave `errors` pending.
    void FailWrites(bool fail, std::uint32_t errors = 0);
    // Output pacing: each write takes at most `chunk` bytes (0: all) and the device is writable
    // again only `delay` after a write; `stalled` takes nothing at all.
    void SetWritePacing(std::size_t chunk, std::chrono::milliseconds delay);
    void SetStalled(bool stalled);
    // Bytes taken stay on the line (OutQueCount counts them) for `time` after each write.
    void SetLineTime(std::chrono::milliseconds time);
    // When the last byte written so far has left the line.
    std::chrono::steady_clock::time_point LineIdleAt() const;

    // Input side.
    void InjectReceive(const std::string& bytes);
    void InjectLineError(std::uint32_t errors);
    void InjectBreak();
    void Vanish();

    // Inspection.
    std::vector<FakeComEvent> Events() const;
    std::string Written() const;
    // Waits until at least `count` bytes were written; returns what was.
    std::string WaitWritten(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(5)) const;
    int OpenCount() const;
    bool IsOpen() const;
    std::size_t InputLeft() const;

private:
    friend class FakeComPort;
    void Log(FakeComEvent event);  // with the lock held
    void Signal();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int eventFd_ = -1;  // readable while input, an error, a break or the vanishing is pending
    bool open_ = false;
    int openCount_ = 0;
    bool refuseOpen_ = false, refuseQueues_ = false, refuseTimeouts_ = false;
    std::function<bool(const ComDcb&)> refuseState_;
    int failReads_ = 0;
    std::uint32_t readErrors_ = 0;
    bool failWrites_ = false;
    std::uint32_t writeErrors_ = 0;
    std::size_t writeChunk_ = 0;
    std::chrono::milliseconds writeDelay_{0};
    std::chrono::steady_clock::time_point writableAt_{};
    bool stalled_ = false;
    std::chrono::milliseconds lineTime_{0};
    std::chrono::steady_clock::time_point lineIdleAt_{};
    std::size_t onLine_ = 0;
    std::string input_;
    std::uint32_t lineErrors_ = 0;
    bool breakPending_ = false;
    bool vanished_ = false;
    ComDcb dcb_;
    ComTimeouts timeouts_;
    std::vector<FakeComEvent> events_;
    std::string written_;
};

class FakeComPort final : public ComPort {
public:
    explicit FakeComPort(std::shared_ptr<FakeComDevice> device) : device_(std::move(device)) {}
    ~FakeComPort() override;

    bool Open(int portNo) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    int NativeHandle() const override { return open_ ? 1000 : -1; }

    bool SetupQueues(std::int32_t receiveSize, std::int32_t transmitSize) override;
    bool GetState(ComDcb& dcb) override;
    bool SetState(const ComDcb& dcb) override;
    bool GetTimeouts(ComTimeouts& timeouts) override;
    bool SetTimeouts(const ComTimeouts& timeouts) override;
    void PurgeTransmit() override;
    void PurgeReceive() override;
    void SetRts(bool on) override;
    void SetDtr(bool on) override;

    std::int32_t InQueCount() override;
    std::int32_t OutQueCount() override;
    std::uint32_t TakeLineErrors() override;

    std::uint32_t WaitEvent(int wakeFd) override;
    bool WaitWritable(int wakeFd, int timeoutMs) override;
    bool WaitReadable(int wakeFd, int timeoutMs) override;

    long Read(void* buffer, std::size_t count) override;
    long Write(const void* bytes, std::size_t count) override;

private:
    std::shared_ptr<FakeComDevice> device_;
    bool open_ = false;
};

}  // namespace pek
