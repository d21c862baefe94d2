#pragma once
#include "platform/Exception.h"
#include "serial/ComPort.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace pek {

enum TCommParityBits : std::uint8_t { cpbNone, cpbOdd, cpbEven };
enum TCommStopBits : std::uint8_t { csb1, csb1p5, csb2 };
enum TCommFlowCtrls : std::uint8_t { cfcRtsCts, cfcDtrDsr, cfcXonXoff, cfcHalfHigh, cfcHalfLow, cfcNone };
// Stored by number: ctLf came later and is 3, so that stored 0..2 keep their meaning.
enum TCrTyp : std::uint8_t { ctNone, ctCr, ctCrLf, ctLf };

// A failure of the serial engine; the message is one of the engine's fixed CP932 texts.
class ECommError : public Exception {
public:
    using Exception::Exception;
};

class TCustomCommX;

// Writes the queued blocks to the port, one burst at a time, switching the RTS line around a
// burst in the half-duplex modes.
class TCommTransThread {
public:
    TCommTransThread(TCustomCommX& owner, ComPort& port);
    ~TCommTransThread();  // stops and joins
    TCommTransThread(const TCommTransThread&) = delete;
    TCommTransThread& operator=(const TCommTransThread&) = delete;

    void Start();  // throws std::system_error when the thread cannot be created
    void SetCharTime(int ms) { charTime_.store(ms); }
    int CharTime() const { return charTime_.load(); }
    // The block belongs to the thread from here on. With a `charDelay` (ms) above 0 its bytes are
    // written one at a time, each followed by a pause of that length, which an abort or the end
    // of the thread cuts short.
    void Post(std::unique_ptr<char[]> block, std::int32_t size, std::int32_t charDelay = 0);
    void SetAbort(bool abort);
    bool Aborting() const { return abort_.load(); }
    const std::atomic<bool>& AbortFlag() const { return abort_; }
    void Terminate();

private:
    struct Block {
        std::unique_ptr<char[]> data;
        std::int32_t size = 0;
        std::int32_t charDelay = 0;
    };
    void Run();
    void Send(const char* data, std::int32_t size);
    void SendPaced(const Block& block);
    void Pause(int ms);
    void WaitUntilSent();
    void Finish(const Block& block);  // counters
    void Wake();
    bool Stopped() const { return abort_.load() || terminated_.load(); }

    TCustomCommX& owner_;
    ComPort& port_;
    int wakeFd_ = -1;
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<Block> queue_;
    std::atomic<bool> abort_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<int> charTime_{1};
    std::thread thread_;
};

// When a trickle read by `now` is reported, the last report having been made at `lastReport`: at
// `reportBy` (a moment a pane asked for, after it will have taken the bytes in itself) when that
// is ahead and near, otherwise a moment after the last report, so that one report carries several
// pieces.
std::chrono::steady_clock::time_point TrickleReportTime(std::chrono::steady_clock::time_point now,
                                                        std::chrono::steady_clock::time_point lastReport,
                                                        std::chrono::steady_clock::time_point reportBy);

// Takes what arrives on the port in as it comes (into the ring buffer and the engine's read-ahead)
// and tells the main thread without waiting for it; breaks, line errors and a vanished device are
// reported and waited for.
class TCommReceiveThread {
public:
    TCommReceiveThread(TCustomCommX& owner, ComPort& port);
    ~TCommReceiveThread();  // stops and joins
    TCommReceiveThread(const TCommReceiveThread&) = delete;
    TCommReceiveThread& operator=(const TCommReceiveThread&) = delete;

    void Start();  // throws std::system_error when the thread cannot be created
    void Terminate();

private:
    void Run();
    bool WaitWake(int timeoutMs);  // true when woken
    // Reads what the port holds until it is empty or the read-ahead is full; the bytes taken.
    std::int64_t TakeIn(char* buffer);

    TCustomCommX& owner_;
    ComPort& port_;
    int wakeFd_ = -1;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

// One serial port: settings, transmit queue, receive reports. Open, Close, the setters and the
// events belong to the main thread (Qt's GUI thread); Write, PurgeTrans and the counters may be
// used from any thread.
//
// Received bytes are read by the receive thread as they come, handed to Arrived there, and kept
// for Read; the main thread hears of them by a queued call that nobody waits for (at most one is
// outstanding). Breaks, line errors and a vanished device are queued calls the reporting thread
// waits for; it stops waiting when the port is being closed, so Close never waits for a thread
// that is blocked on a report, even when Close runs inside an event handler.
class TCustomCommX {
public:
    using ReceiveEvent = std::function<void(TCustomCommX& sender, std::int32_t receiveSize)>;
    using NotifyEvent = std::function<void(TCustomCommX& sender)>;
    using ErrorEvent = std::function<void(TCustomCommX& sender, std::int32_t errorState)>;

    static constexpr std::uint32_t InvalidHandle = 0xFFFFFFFFu;
    static constexpr std::int32_t MaxQueuedBlocks = 32;
    // The longest pause after each character of SendStr, ms.
    static constexpr std::int32_t MaxDelayTrans = 10000;
    // The receive thread asks the port again after a failed read at most this many times in a row.
    static constexpr int ReadRetries = 3;

    TCustomCommX();
    virtual ~TCustomCommX();
    TCustomCommX(const TCustomCommX&) = delete;
    TCustomCommX& operator=(const TCustomCommX&) = delete;

    // Where port numbers lead. By default /dev/ttyS<n-1>; use PortsFromSettings(iniPath) for the
    // [Ports] section of the settings file. Takes effect at the next Open.
    void SetPortResolver(PortResolver resolver);
    // Replaces the device layer (tests use FakeComDevice::FactoryFor). Takes effect at the next Open.
    void SetPortFactory(ComPortFactory factory);

    std::int32_t PortNo() const { return portNo_.load(); }
    void SetPortNo(std::int32_t value);
    std::int32_t BitRate() const { return bitRate_.load(); }
    // Values below 10 are refused with ECommError.
    void SetBitRate(std::int32_t value);
    std::int32_t CharSize() const { return charSize_.load(); }
    void SetCharSize(std::int32_t value);
    TCommParityBits ParityBit() const { return parityBit_.load(); }
    void SetParityBit(TCommParityBits value);
    TCommStopBits StopBit() const { return stopBit_.load(); }
    void SetStopBit(TCommStopBits value);
    TCommFlowCtrls FlowCtrl() const { return flowCtrl_.load(); }
    void SetFlowCtrl(TCommFlowCtrls value);
    std::int32_t TimeOutTrans() const { return timeOutTrans_.load(); }
    void SetTimeOutTrans(std::int32_t value);
    std::int32_t TimeOutReceive() const { return timeOutReceive_.load(); }
    void SetTimeOutReceive(std::int32_t value);
    std::int32_t DelayTrans() const { return delayTrans_.load(); }
    // Values outside 0..MaxDelayTrans are refused with ECommError.
    void SetDelayTrans(std::int32_t value);
    TCrTyp CrTypTrans() const { return crTypTrans_.load(); }
    void SetCrTypTrans(TCrTyp value) { crTypTrans_.store(value); }
    char XonChar() const { return xonChar_.load(); }
    void SetXonChar(char value);
    char XoffChar() const { return xoffChar_.load(); }
    void SetXoffChar(char value);
    // Values below 1 are refused with ECommError (a block of 0 bytes would never end a write).
    std::int32_t BufLenTrans() const { return bufLenTrans_.load(); }
    void SetBufLenTrans(std::int32_t value);
    std::int32_t BufLenReceive() const { return bufLenReceive_.load(); }
    void SetBufLenReceive(std::int32_t value);
    // The OS handle of the open port; InvalidHandle while closed.
    std::uint32_t Handle() const;
    bool IsOpen() const { return open_.load(); }

    void Open();
    void Close();
    // Queues the bytes for the transmit thread in blocks of at most BufLenTrans bytes, waiting
    // while 32 blocks are queued. False when the port is closed.
    virtual bool Write(const void* bytes, std::int32_t count);
    // Reads up to `count` received bytes, waiting at most TimeOutReceive ms for all of them;
    // -1 when the port is closed (or closes while waiting, before any byte came).
    virtual std::int32_t Read(void* buffer, std::int32_t count);
    // Received bytes waiting to be read; 0 while closed.
    std::int32_t InQueCount();
    // The received bytes the engine has taken from the port: a Read of at most this many returns at once.
    std::int32_t ReadAheadCount() const;
    void PurgeTrans();
    void PurgeReceive();
    void SetRts(bool on);
    void SetDtr(bool on);
    // A pane shows what arrives only at its next refresh, and takes it in itself then (TakeInNow):
    // a trickle arriving before `moment` is held, and reported at `moment` only if it is still
    // there, rather than in a report every few milliseconds. A moment already gone holds nothing.
    // Any thread.
    void SetReportBy(std::chrono::steady_clock::time_point moment);
    // Hands what has been read so far to OnReceive now, as a report would; whether the handler
    // took any since the last call, here or in reports. Main thread.
    bool TakeInNow();

    // Blocks handed to the transmit thread and not finished yet, and their bytes.
    std::int32_t PendingBytes() const;
    std::int32_t QueuedBlocks() const;
    // The character time the transmit thread uses, ms (1000 div (BitRate div 10) + 1).
    static int CharTimeFor(std::int32_t bitRate);

    // Events run on the main thread, only while the port is open.
    ReceiveEvent OnReceive;
    NotifyEvent OnBreak;
    ErrorEvent OnError;
    // The device went away while open (an adapter pulled out, the other end of a
    // pseudo-terminal closed). Reported once: the engine has already stopped its threads and is
    // closed when the handler runs. Not an OnError: there is no line error to show.
    NotifyEvent OnDisconnect;

protected:
    // Write with a pause of `charDelay` ms after each byte, made by the transmit thread.
    bool Queue(const void* bytes, std::int32_t count, std::int32_t charDelay);
    // On the receive thread, each piece as it is read from the port, in order, before Read can
    // hand it out. Must not throw. A subclass that overrides it closes the port in its destructor.
    virtual void Arrived(const char* bytes, std::int32_t count);

private:
    friend class TCommTransThread;
    friend class TCommReceiveThread;
    // A read of at least this many bytes means the device is flooding rather than trickling.
    static constexpr std::int32_t kFloodPiece = 1024;
    enum class ReportKind { Receive, Break, Error, Vanished };

    bool OnMainThread() const;
    void ServeMessages();
    // From the port threads: hands the report to the main thread and waits until it has been
    // handled, the port is closing, or `giveUp` turns true.
    void Report(ReportKind kind, std::uint32_t value, const std::atomic<bool>* giveUp);
    void HandleReport(ReportKind kind, std::uint32_t value, std::uint64_t generation);
    void ReportLineErrors(ComPort& port, const std::atomic<bool>* giveUp);
    // Tells the main thread that bytes wait, unless a call saying so is still on its way.
    void PostReceiveReport();
    struct QueuedReceiveReport;   // the posted call, named so the thread sanitizer's suppressions can name it
    friend struct QueuedReceiveReport;
    // Runs OnReceive while bytes wait and it takes some (`once`: one call); whether the last call
    // took any and the port is still the same opening.
    bool DeliverReceived(std::uint64_t generation, bool once);
    void DeliverSlice(std::uint64_t generation);
    // The receive thread's side of the read-ahead: its free room, and a piece to add.
    std::int32_t ReadAheadRoom() const;
    void TakeArrival(const char* bytes, std::int32_t count);
    std::int32_t TakeReadAhead(char* out, std::int32_t count);
    void DropReadAhead();

    void ApplyState(const char* failureMessage);
    void ApplyBitRate();
    void ApplyCharSize();
    void ApplyParityBit();
    void ApplyStopBit();
    void ApplyFlowCtrl();
    void ApplyTimeouts();
    void ApplyXonChar();
    void ApplyXoffChar();
    void ApplyQueues();

    std::atomic<std::int32_t> portNo_{1};
    std::atomic<std::int32_t> bitRate_{9600};
    std::atomic<std::chrono::steady_clock::rep> reportBy_{0};
    std::atomic<std::int32_t> charSize_{8};
    std::atomic<TCommParityBits> parityBit_{cpbNone};
    std::atomic<TCommStopBits> stopBit_{csb1};
    std::atomic<TCommFlowCtrls> flowCtrl_{cfcRtsCts};
    std::atomic<std::int32_t> timeOutTrans_{3000};
    std::atomic<std::int32_t> timeOutReceive_{3000};
    std::atomic<std::int32_t> delayTrans_{0};
    std::atomic<TCrTyp> crTypTrans_{ctCr};
    std::atomic<char> xonChar_{17};
    std::atomic<char> xoffChar_{19};
    std::atomic<std::int32_t> bufLenTrans_{2048};
    std::atomic<std::int32_t> bufLenReceive_{2048};

    PortResolver resolver_;
    ComPortFactory factory_;
    std::unique_ptr<QObject> notifier_;  // lives in the main thread; reports are queued to it

    // Guards the port and the transmit thread against Close while another thread writes or purges.
    mutable std::mutex portMutex_;
    std::unique_ptr<ComPort> port_;
    std::unique_ptr<TCommTransThread> trans_;
    std::unique_ptr<TCommReceiveThread> receive_;
    std::atomic<bool> open_{false};
    ComDcb dcb_;

    std::mutex writeLock_;            // around every port write and every transmit purge
    mutable std::mutex counterLock_;  // pending bytes and queued blocks
    std::int32_t pendingBytes_ = 0;
    std::int32_t queuedBlocks_ = 0;

    std::mutex reportMutex_;
    std::condition_variable reportDone_;
    bool stopping_ = false;  // under reportMutex_: reports stop waiting
    // Received bytes taken from the port but not yet handed out by Read: a circular buffer. When
    // it is full the receive thread leaves the rest in the port (the device's flow control holds).
    static constexpr std::int32_t ReadAheadSize = 262144;
    mutable std::mutex readAheadMutex_;
    std::condition_variable readAheadGrew_;
    std::unique_ptr<char[]> readAhead_;
    std::int32_t readAheadBegin_ = 0;
    std::int32_t readAheadCount_ = 0;
    std::atomic<bool> receiveReportPosted_{false};
    std::atomic<std::uint64_t> bytesRead_{0};   // by Read, so a report sees whether its handler took any
    std::uint64_t readAtLastTake_ = 0;          // bytesRead_ at the last TakeInNow
    std::atomic<std::uint64_t> generation_{0};  // one per Open; reports of an earlier one are dropped
};

// The engine with its string-sending operations.
class TCommX : public TCustomCommX {
public:
    // "\r" for ctCr, "\r\n" for ctCrLf, "\n" for ctLf, empty for ctNone; assigning selects the type the same
    // way, any other text selecting ctNone.
    std::string CrStr() const;
    void SetCrStr(std::string_view value);

    bool WriteStr(std::string_view text);
    // With DelayTrans > 0 each byte is written on its own, followed by a pause of DelayTrans ms.
    // The transmit thread makes the pauses: the caller only queues the text.
    bool SendStr(std::string_view text);
    bool SendLine(std::string_view text);
    bool SendByte(std::uint8_t byte);
};

}  // namespace pek
