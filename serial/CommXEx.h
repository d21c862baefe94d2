#pragma once
#include "serial/CommX.h"
#include "serial/RingBuf.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace pek {

// A file operation failed; carries the OS error code (errno).
class EInOutError : public Exception {
public:
    EInOutError(int errorCode, std::string message) : Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// The port object of one terminal sheet: the engine plus the receive ring buffer that scripts
// read, the sheet's time-stamp type, the receive re-entrancy guard and the log file. Received
// bytes go into the ring buffer, and into a binary receive log, on the receive thread as they
// are read: a script sees an answer without waiting for the main thread.
class TCommXEx : public TCommX {
public:
    static constexpr std::int32_t RingBufSize = 32000;

    TCommXEx();
    ~TCommXEx() override;

    TRingBuf& RingBuf() { return *ringBuf_; }
    const TRingBuf& RingBuf() const { return *ringBuf_; }

    // 0 none, 1 tick count, 2 elapsed time, 3 date and time.
    std::uint8_t TimeTyp() const { return timeTyp_; }
    void SetTimeTyp(std::uint8_t value) { timeTyp_ = value; }
    // The character code the device speaks: received text is shown and typed or Trans text is sent
    // in it. The ring buffer and the binary log keep the bytes as they come whatever it is.
    enum TCharCode : std::uint8_t { ccCp932 = 0, ccUtf8 = 1 };
    TCharCode CharCode() const { return charCode_; }
    void SetCharCode(TCharCode value) { charCode_ = value; }
    // Set while the receive handling runs for this port; a nested arrival is ignored meanwhile.
    bool Receiving() const { return receiving_; }
    void SetReceiving(bool value) { receiving_ = value; }

    bool LogOpened() const;
    bool LogRcv() const { return logRcv_; }
    void SetLogRcv(bool value) { logRcv_ = value; }
    bool LogTrs() const { return logTrs_; }
    void SetLogTrs(bool value) { logTrs_ = value; }
    bool LogMsg() const { return logMsg_; }
    void SetLogMsg(bool value) { logMsg_ = value; }
    bool LogBin() const { return logBin_; }
    void SetLogBin(bool value) { logBin_ = value; }

    // Creates the log file (an existing one is truncated); `fileName` is CP932. A log already
    // open is closed first. Raises EInOutError; a failure leaves the log closed.
    void LogOpen(std::string_view fileName, bool rcv, bool trs, bool msg, bool bin);
    // Closes the log and clears the four options. Raises EInOutError when closing fails.
    void LogClose();
    // Appends the bytes as they are and hands them to the OS at once. Raises EInOutError, also
    // when no log is open.
    void LogWrite(std::string_view text);
    // The message (CP932) of a binary receive log that failed on the receive thread and was
    // closed there, once; empty when none did.
    std::string TakeLogFailure();

protected:
    void Arrived(const char* bytes, std::int32_t count) override;

private:
    std::unique_ptr<TRingBuf> ringBuf_;
    std::uint8_t timeTyp_ = 0;
    std::atomic<TCharCode> charCode_{ccCp932};   // read by macro threads that send
    bool receiving_ = false;
    // Read on the main thread and by macro threads that send: atomic, as the log lock is not taken to read them.
    std::atomic<bool> logRcv_{false}, logTrs_{false}, logMsg_{false}, logBin_{false};
    mutable std::mutex logMutex_;  // the main thread and a macro thread both log
    int logFd_ = -1;
    std::string logName_;     // CP932, for messages
    std::string logFailure_;  // CP932, under logMutex_
};

}  // namespace pek
