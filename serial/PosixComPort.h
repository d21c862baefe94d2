#pragma once
#include "serial/ComPort.h"

#include <atomic>
#include <mutex>

namespace pek {

// A serial device on Linux through termios. Line errors and breaks come from the driver's
// interrupt counters (TIOCGICOUNT) where it keeps them; a pseudo-terminal has none.
class PosixComPort final : public ComPort {
public:
    explicit PosixComPort(PortResolver resolver = DefaultPortPath);
    ~PosixComPort() override;
    PosixComPort(const PosixComPort&) = delete;
    PosixComPort& operator=(const PosixComPort&) = delete;

    std::string OpenedPath() const override { return path_; }
    int OpenError() const override { return openError_; }

    bool Open(int portNo) override;
    void Close() override;
    void ReleaseDevice() override;
    bool IsOpen() const override { return fd_ >= 0; }
    int NativeHandle() const override { return fd_; }

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
    // Folds new counter deltas into the pending line errors; true when a break was counted.
    bool UpdateCounters();
    void SetModemLine(int bit, bool on);
    // The path opened no longer leads to the open device (unplugged, or another device in its place).
    bool NodeGone() const;
    static constexpr int kNodeCheckMs = 500;

    PortResolver resolver_;
    std::string path_;
    int fd_ = -1;
    std::atomic<bool> released_{false};  // fd_ names /dev/null: the device is let go
    int openError_ = 0;
    ComDcb dcb_;
    ComTimeouts timeouts_;

    std::mutex countersMutex_;  // the receive thread and Read both fold counter deltas
    bool haveCounters_ = false;
    int lastFrame_ = 0, lastParity_ = 0, lastOverrun_ = 0, lastBufOverrun_ = 0, lastBrk_ = 0;
    bool pendingBreak_ = false;   // a break not yet handed out by WaitEvent
    int hangUpsWithData_ = 0;     // waits that saw a hang-up with data still unread
    std::uint32_t pendingErrors_ = 0;
};

}  // namespace pek
