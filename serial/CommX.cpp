#include "serial/CommX.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "serial/PosixComPort.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

namespace pek {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t LineErrorMask = ComError::Overrun | ComError::RxParity | ComError::Frame;

int MakeWakeFd()
{
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

void SignalFd(int fd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void DrainFd(int fd)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

[[noreturn]] void Fail(const char* utf8Message)
{
    throw ECommError(Sjis(utf8Message));
}

// The fixed text, then the port, the device and the reason on lines of their own: "cannot open"
// alone leaves the user guessing between a wrong path, missing rights and another program.
std::string OpenFailureMessage(std::int32_t portNo, const ComPort& port)
{
    const auto cp932 = [](const std::string& systemText) {
        std::string converted;
        return Utf8ToCp932Checked(systemText, converted) ? converted : systemText;
    };
    std::string message = Sjis("ポートをオープンできませんでした\r\nポート: COM") + std::to_string(portNo);
    if (const std::string path = port.OpenedPath(); !path.empty()) message += Sjis("\r\nデバイス: ") + cp932(path);
    if (const int error = port.OpenError(); error == EBUSY)
        message += Sjis("\r\n理由: 他のプログラムが使用しています");
    else if (error != 0)
        message += Sjis("\r\n理由: ") + cp932(std::generic_category().message(error));
    return message;
}

bool IsHalfDuplex(TCommFlowCtrls mode)
{
    return mode == cfcHalfHigh || mode == cfcHalfLow;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Transmit thread

TCommTransThread::TCommTransThread(TCustomCommX& owner, ComPort& port) : owner_(owner), port_(port), wakeFd_(MakeWakeFd()) {}

TCommTransThread::~TCommTransThread()
{
    Terminate();
    if (thread_.joinable()) thread_.join();
    ::close(wakeFd_);
}

void TCommTransThread::Start()
{
    thread_ = std::thread([this] { Run(); });
}

void TCommTransThread::Post(std::unique_ptr<char[]> block, std::int32_t size, std::int32_t charDelay)
{
    {
        const std::lock_guard lock(queueMutex_);
        queue_.push_back({std::move(block), size, charDelay});
    }
    queueChanged_.notify_one();
}

void TCommTransThread::SetAbort(bool abort)
{
    abort_.store(abort);
    if (abort) Wake();
}

void TCommTransThread::Terminate()
{
    {
        const std::lock_guard lock(queueMutex_);
        terminated_.store(true);
    }
    queueChanged_.notify_one();
    Wake();
}

void TCommTransThread::Wake()
{
    SignalFd(wakeFd_);
}

void TCommTransThread::Finish(const Block& block)
{
    const std::lock_guard lock(owner_.counterLock_);
    owner_.pendingBytes_ = std::max(owner_.pendingBytes_ - block.size, 0);
    if (owner_.queuedBlocks_ > 0) owner_.queuedBlocks_--;
}

void TCommTransThread::Send(const char* data, std::int32_t size)
{
    std::int32_t left = size;
    const std::int32_t timeout = owner_.TimeOutTrans();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout);
    while (!Stopped()) {
        long written = 0;
        {
            const std::lock_guard lock(owner_.writeLock_);
            written = port_.Write(data, std::size_t(left));
        }
        if (written < 0) {
            owner_.ReportLineErrors(port_, &abort_);
            return;
        }
        data += written;
        left -= std::int32_t(written);
        if (left == 0) return;
        int wait = 1000;
        if (timeout > 0) {
            const auto now = SteadyClock::now();
            // Write time-out: what did not go out is given up, like a short write.
            if (now >= deadline) return;
            wait = int(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
        }
        port_.WaitWritable(wakeFd_, wait);
        DrainFd(wakeFd_);
    }
}

void TCommTransThread::Pause(int ms)
{
    const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
    while (!Stopped()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - SteadyClock::now()).count();
        if (left <= 0) return;
        pollfd fd{wakeFd_, POLLIN, 0};
        if (poll(&fd, 1, int(left)) > 0) DrainFd(wakeFd_);
    }
}

void TCommTransThread::SendPaced(const Block& block)
{
    for (std::int32_t i = 0; i < block.size && !Stopped(); ++i) {
        Send(block.data.get() + i, 1);
        Pause(block.charDelay);
    }
}

void TCommTransThread::WaitUntilSent()
{
    // Polled rather than tcdrain(), which nothing but a signal could interrupt: Close must be able
    // to end this thread while flow control holds the output back.
    while (!Stopped() && port_.OutQueCount() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TCommTransThread::Run()
{
    for (;;) {
        {
            std::unique_lock lock(queueMutex_);
            queueChanged_.wait(lock, [&] { return terminated_.load() || !queue_.empty(); });
            if (terminated_.load()) break;
        }
        bool burst = false;
        TCommFlowCtrls burstMode = cfcNone;
        for (;;) {
            Block block;
            {
                const std::lock_guard lock(queueMutex_);
                if (queue_.empty()) break;
                block = std::move(queue_.front());
                queue_.pop_front();
            }
            if (!Stopped()) {
                if (!burst) {
                    burst = true;
                    burstMode = owner_.FlowCtrl();
                    if (IsHalfDuplex(burstMode)) {
                        Sleep(50);
                        port_.SetRts(burstMode == cfcHalfHigh);
                        Sleep(std::uint32_t(CharTime()));
                    }
                }
                if (block.charDelay > 0) SendPaced(block);
                else Send(block.data.get(), block.size);
            }
            Finish(block);
        }
        if (burst && IsHalfDuplex(burstMode)) {
            // The driver takes the bytes long before they leave the line: an RS-485 transceiver
            // switched back now would cut off the end of the burst.
            WaitUntilSent();
            Sleep(std::uint32_t(CharTime()));
            port_.SetRts(burstMode != cfcHalfHigh);
        }
    }
    // Whatever is still queued is given up; the counters must drain with it.
    const std::lock_guard lock(queueMutex_);
    for (const Block& block : queue_) Finish(block);
    queue_.clear();
}

// ---------------------------------------------------------------------------------------------
// Receive thread

TCommReceiveThread::TCommReceiveThread(TCustomCommX& owner, ComPort& port) : owner_(owner), port_(port), wakeFd_(MakeWakeFd()) {}

TCommReceiveThread::~TCommReceiveThread()
{
    Terminate();
    if (thread_.joinable()) thread_.join();
    ::close(wakeFd_);
}

void TCommReceiveThread::Start()
{
    thread_ = std::thread([this] { Run(); });
}

void TCommReceiveThread::Terminate()
{
    terminated_.store(true);
    SignalFd(wakeFd_);
}

bool TCommReceiveThread::WaitWake(int timeoutMs)
{
    pollfd fd{wakeFd_, POLLIN, 0};
    return poll(&fd, 1, timeoutMs) > 0;
}

// The main thread takes received bytes in at its own pace: a pane shows them only at its next
// refresh and takes them in itself just before it, so a trickle is held until a moment after that
// (the pane asks for it) and reported then only if the pane has not taken it. Without such a
// moment a trickle is told a few milliseconds after the last report. The bytes themselves reach
// the ring buffer as they are read, held or not.
constexpr auto kGatherTime = std::chrono::milliseconds(2);
constexpr auto kLongestHold = std::chrono::milliseconds(24);  // a frame and a margin
constexpr std::int32_t kReadPiece = 65536;

SteadyClock::time_point TrickleReportTime(SteadyClock::time_point now, SteadyClock::time_point lastReport,
                                          SteadyClock::time_point reportBy)
{
    if (reportBy > now && reportBy - now <= kLongestHold) return reportBy;
    return lastReport + kGatherTime;
}

std::int64_t TCommReceiveThread::TakeIn(char* buffer)
{
    std::int64_t taken = 0;
    int failures = 0;
    while (!terminated_.load()) {
        const std::int32_t room = std::min(owner_.ReadAheadRoom(), kReadPiece);
        if (room <= 0) break;
        const long n = port_.Read(buffer, std::size_t(room));
        if (n == 0) break;
        if (n > 0) {
            owner_.TakeArrival(buffer, std::int32_t(n));
            taken += n;
            continue;
        }
        owner_.ReportLineErrors(port_, nullptr);
        if (++failures > TCustomCommX::ReadRetries) break;
    }
    return taken;
}

void TCommReceiveThread::Run()
{
    const auto buffer = std::make_unique_for_overwrite<char[]>(std::size_t(kReadPiece));
    SteadyClock::time_point lastReport{};
    std::int64_t lastReportBytes = 0;  // waiting at the last report
    bool holding = false;              // bytes were taken in since
    while (!terminated_.load()) {
        if (holding) {
            // A pane that took the bytes in itself leaves nothing to tell.
            const std::int64_t waiting = owner_.ReadAheadCount();
            if (waiting == 0) {
                holding = false;
                continue;
            }
            // A flood is told at once; a trickle is held a moment, reading on meanwhile.
            const bool flood = waiting >= TCustomCommX::kFloodPiece || lastReportBytes >= TCustomCommX::kFloodPiece;
            const auto by = SteadyClock::time_point(SteadyClock::duration(owner_.reportBy_.load()));
            const auto now = SteadyClock::now();
            const auto left =
                flood ? 0 : std::chrono::ceil<std::chrono::milliseconds>(TrickleReportTime(now, lastReport, by) - now).count();
            if (left <= 0) {
                owner_.PostReceiveReport();
                lastReport = now;
                lastReportBytes = waiting;
                holding = false;
                continue;
            }
            // Until the report is due, only an arrival or a close wakes the thread: the moment a
            // pane asks for moves on at each refresh, and waking for it would cost a wake-up a frame.
            if (owner_.ReadAheadRoom() <= 0) WaitWake(1);
            else if (port_.WaitReadable(wakeFd_, int(left))) TakeIn(buffer.get());
            continue;
        }
        if (owner_.ReadAheadRoom() <= 0) {
            // Full: the main thread is behind. The port keeps the rest until there is room.
            WaitWake(1);
            continue;
        }
        const std::uint32_t events = port_.WaitEvent(wakeFd_);
        if (terminated_.load()) break;
        if (events & ComEvent::Woken) DrainFd(wakeFd_);
        if (events & ComEvent::Vanished) {
            // Let go of the device now rather than when the main thread gets to the report: a
            // replugged adapter then comes back under its old name.
            port_.ReleaseDevice();
            owner_.Report(TCustomCommX::ReportKind::Vanished, 0, nullptr);
            break;
        }
        owner_.ReportLineErrors(port_, nullptr);
        if (events & ComEvent::Break) owner_.Report(TCustomCommX::ReportKind::Break, events & 0xFFFF, nullptr);
        const std::int64_t taken = (events & ComEvent::RxChar) ? TakeIn(buffer.get()) : 0;
        holding = taken > 0;
        // The port says readable but gives nothing (or only failures): do not spin on it.
        if (taken == 0 && !(events & (ComEvent::Break | ComEvent::Err | ComEvent::Woken))) WaitWake(10);
    }
}

// ---------------------------------------------------------------------------------------------
// Engine

TCustomCommX::TCustomCommX()
    : resolver_(DefaultPortPath),
      notifier_(std::make_unique<QObject>()),
      readAhead_(std::make_unique_for_overwrite<char[]>(std::size_t(ReadAheadSize)))
{
}

TCustomCommX::~TCustomCommX()
{
    Close();
}

void TCustomCommX::SetPortResolver(PortResolver resolver)
{
    resolver_ = std::move(resolver);
}

void TCustomCommX::SetPortFactory(ComPortFactory factory)
{
    factory_ = std::move(factory);
}

bool TCustomCommX::OnMainThread() const
{
    return QThread::currentThread() == notifier_->thread();
}

void TCustomCommX::ServeMessages()
{
    if (OnMainThread() && QCoreApplication::instance()) QCoreApplication::processEvents();
}

int TCustomCommX::CharTimeFor(std::int32_t bitRate)
{
    return 1000 / std::max(bitRate / 10, 1) + 1;
}

std::uint32_t TCustomCommX::Handle() const
{
    const std::lock_guard lock(portMutex_);
    return port_ && port_->NativeHandle() >= 0 ? std::uint32_t(port_->NativeHandle()) : InvalidHandle;
}

std::int32_t TCustomCommX::PendingBytes() const
{
    const std::lock_guard lock(counterLock_);
    return pendingBytes_;
}

std::int32_t TCustomCommX::QueuedBlocks() const
{
    const std::lock_guard lock(counterLock_);
    return queuedBlocks_;
}

// --- reports -----------------------------------------------------------------------------------

void TCustomCommX::Report(ReportKind kind, std::uint32_t value, const std::atomic<bool>* giveUp)
{
    const std::uint64_t generation = generation_.load();
    if (OnMainThread()) {
        HandleReport(kind, value, generation);
        return;
    }
    auto done = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        notifier_.get(),
        [this, done, kind, value, generation] {
            // Marks the report handled even when a handler throws.
            struct Finished {
                TCustomCommX& self;
                bool& flag;
                ~Finished()
                {
                    {
                        const std::lock_guard lock(self.reportMutex_);
                        flag = true;
                    }
                    self.reportDone_.notify_all();
                }
            } finished{*this, *done};
            HandleReport(kind, value, generation);
        },
        Qt::QueuedConnection);
    std::unique_lock lock(reportMutex_);
    reportDone_.wait(lock, [&] { return *done || stopping_ || (giveUp && giveUp->load()); });
}

void TCustomCommX::ReportLineErrors(ComPort& port, const std::atomic<bool>* giveUp)
{
    const std::uint32_t errors = port.TakeLineErrors() & LineErrorMask;
    if (errors != 0) Report(ReportKind::Error, errors, giveUp);
}

struct TCustomCommX::QueuedReceiveReport {
    TCustomCommX* port;
    std::uint64_t generation;
    void operator()() const
    {
        port->receiveReportPosted_.store(false);
        port->HandleReport(ReportKind::Receive, 0, generation);
    }
};

void TCustomCommX::PostReceiveReport()
{
    if (receiveReportPosted_.exchange(true)) return;
    QMetaObject::invokeMethod(notifier_.get(), QueuedReceiveReport{this, generation_.load()}, Qt::QueuedConnection);
}

bool TCustomCommX::DeliverReceived(std::uint64_t generation, bool once)
{
    bool took = false;
    for (;;) {
        if (!IsOpen() || generation != generation_.load() || !OnReceive) return false;
        const std::int32_t count = ReadAheadCount();
        if (count <= 0) return took;
        const ReceiveEvent handler = OnReceive;  // the handler may reassign the event
        const std::uint64_t before = bytesRead_.load();
        handler(*this, count);
        took = bytesRead_.load() != before;
        if (once || !took) return took && IsOpen() && generation == generation_.load();
    }
}

void TCustomCommX::DeliverSlice(std::uint64_t generation)
{
    // A handler that took some and returned with more waiting (a flood, shown in slices) is
    // called again once the event loop has had its turn.
    if (DeliverReceived(generation, true) && ReadAheadCount() > 0) PostReceiveReport();
}

bool TCustomCommX::TakeInNow()
{
    if (IsOpen()) DeliverSlice(generation_.load());
    const std::uint64_t read = bytesRead_.load();
    return std::exchange(readAtLastTake_, read) != read;
}

void TCustomCommX::HandleReport(ReportKind kind, std::uint32_t value, std::uint64_t generation)
{
    if (!IsOpen() || generation != generation_.load()) return;
    switch (kind) {
    case ReportKind::Receive: DeliverSlice(generation); break;
    case ReportKind::Break:
        if (OnBreak) {
            const NotifyEvent handler = OnBreak;
            handler(*this);
        }
        break;
    case ReportKind::Error:
        if (OnError) {
            const ErrorEvent handler = OnError;
            handler(*this, std::int32_t(value));
        }
        break;
    case ReportKind::Vanished:
        // What came before the device went is shown before the port closes.
        DeliverReceived(generation, false);
        Close();
        if (OnDisconnect) {
            const NotifyEvent handler = OnDisconnect;
            handler(*this);
        }
        break;
    }
}

// --- settings ----------------------------------------------------------------------------------

void TCustomCommX::ApplyState(const char* failureMessage)
{
    if (!port_->SetState(dcb_)) Fail(failureMessage);
}

void TCustomCommX::ApplyBitRate()
{
    dcb_.BaudRate = bitRate_.load();
    ApplyState("通信速度の設定でエラーが発生しました");
}

void TCustomCommX::ApplyCharSize()
{
    dcb_.ByteSize = charSize_.load();
    ApplyState("通信ビット数の設定でエラーが発生しました");
}

void TCustomCommX::ApplyParityBit()
{
    const TCommParityBits parity = parityBit_.load();
    if (parity < cpbNone || parity > cpbEven) return;  // stored, not applied
    dcb_.Parity = std::int32_t(parity);
    ApplyState("通信パリティチェックの設定でエラーが発生しました");
}

void TCustomCommX::ApplyStopBit()
{
    const TCommStopBits stop = stopBit_.load();
    if (stop < csb1 || stop > csb2) return;  // stored, not applied
    dcb_.StopBits = std::int32_t(stop);
    ApplyState("通信ストップビット数の設定でエラーが発生しました");
}

void TCustomCommX::ApplyFlowCtrl()
{
    using namespace ComDcbFlag;
    std::uint32_t flags = Binary | Parity;
    switch (flowCtrl_.load()) {
    case cfcRtsCts: flags |= RtsControlHandshake | OutxCtsFlow | DtrControlEnable; break;
    case cfcDtrDsr: flags |= DtrControlHandshake | OutxDsrFlow | RtsControlEnable; break;
    case cfcXonXoff: flags |= OutX | InX | DtrControlEnable | RtsControlEnable; break;
    case cfcHalfHigh: flags |= DtrControlEnable; break;
    case cfcHalfLow:
    case cfcNone: flags |= DtrControlEnable | RtsControlEnable; break;
    default: return;  // not a mode: stored, not applied
    }
    dcb_.Flags = flags;
    dcb_.XonLim = bufLenReceive_.load() / 4;
    dcb_.XoffLim = bufLenReceive_.load() / 4;
    ApplyState("通信フロー制御の設定で失敗しました");
}

void TCustomCommX::ApplyTimeouts()
{
    ComTimeouts timeouts;
    if (!port_->GetTimeouts(timeouts)) Fail("通信タイムアウト時間の設定で失敗しました");
    timeouts.ReadIntervalTimeout = 0xFFFFFFFFu;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = std::uint32_t(std::max(timeOutReceive_.load(), 0));
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = std::uint32_t(std::max(timeOutTrans_.load(), 0));
    if (!port_->SetTimeouts(timeouts)) Fail("通信タイムアウト時間の設定で失敗しました");
}

void TCustomCommX::ApplyXonChar()
{
    dcb_.XonChar = xonChar_.load();
    ApplyState("Ｘｏｎ文字の設定でエラーが発生しました");
}

void TCustomCommX::ApplyXoffChar()
{
    dcb_.XoffChar = xoffChar_.load();
    ApplyState("Ｘｏｆｆ文字の設定でエラーが発生しました");
}

void TCustomCommX::ApplyQueues()
{
    if (!port_->SetupQueues(bufLenReceive_.load(), bufLenTrans_.load())) Fail("通信用ポートのバッファを準備できませんでした");
}

void TCustomCommX::SetPortNo(std::int32_t value)
{
    portNo_.store(value);
    if (IsOpen()) {
        Close();
        Open();
    }
}

void TCustomCommX::SetBitRate(std::int32_t value)
{
    // The character time divides by BitRate div 10.
    if (value < 10) Fail("通信速度の設定でエラーが発生しました（10 bps 未満は設定できません）");
    bitRate_.store(value);
    if (!IsOpen()) return;
    ApplyBitRate();
    if (trans_) trans_->SetCharTime(CharTimeFor(value));
}

void TCustomCommX::SetCharSize(std::int32_t value)
{
    charSize_.store(value);
    if (IsOpen()) ApplyCharSize();
}

void TCustomCommX::SetParityBit(TCommParityBits value)
{
    parityBit_.store(value);
    if (IsOpen()) ApplyParityBit();
}

void TCustomCommX::SetStopBit(TCommStopBits value)
{
    stopBit_.store(value);
    if (IsOpen()) ApplyStopBit();
}

void TCustomCommX::SetFlowCtrl(TCommFlowCtrls value)
{
    flowCtrl_.store(value);
    if (IsOpen()) ApplyFlowCtrl();
}

void TCustomCommX::SetTimeOutTrans(std::int32_t value)
{
    timeOutTrans_.store(value);
    if (IsOpen()) ApplyTimeouts();
}

void TCustomCommX::SetTimeOutReceive(std::int32_t value)
{
    timeOutReceive_.store(value);
    if (IsOpen()) ApplyTimeouts();
}

static_assert(TCustomCommX::MaxDelayTrans == 10000, "the message below names the bound");

void TCustomCommX::SetDelayTrans(std::int32_t value)
{
    // The pause is made for every character: a huge one would hold the transmit queue for ever.
    if (value < 0 || value > MaxDelayTrans)
        Fail("送信遅延の設定でエラーが発生しました（0 ms から 10000 ms までの値を設定してください）");
    delayTrans_.store(value);
}

void TCustomCommX::SetXonChar(char value)
{
    xonChar_.store(value);
    if (IsOpen()) ApplyXonChar();
}

void TCustomCommX::SetXoffChar(char value)
{
    xoffChar_.store(value);
    if (IsOpen()) ApplyXoffChar();
}

void TCustomCommX::SetBufLenTrans(std::int32_t value)
{
    if (value < 1) Fail("通信用ポートのバッファを準備できませんでした");
    bufLenTrans_.store(value);
    if (IsOpen()) ApplyQueues();
}

void TCustomCommX::SetBufLenReceive(std::int32_t value)
{
    if (value < 1) Fail("通信用ポートのバッファを準備できませんでした");
    bufLenReceive_.store(value);
    if (!IsOpen()) return;
    ApplyQueues();
    ApplyFlowCtrl();  // the XON/XOFF limits follow the queue size
}

// --- open and close ----------------------------------------------------------------------------

void TCustomCommX::Open()
{
    if (IsOpen()) Fail("ポートは、すでにオープンされています");
    std::unique_ptr<ComPort> port = factory_ ? factory_() : std::make_unique<PosixComPort>(resolver_);
    if (!port) Fail("ポートをオープンできませんでした");
    if (!port->Open(portNo_.load())) throw ECommError(OpenFailureMessage(portNo_.load(), *port));
    {
        const std::lock_guard lock(portMutex_);
        port_ = std::move(port);
        open_.store(true);
    }
    {
        const std::lock_guard lock(counterLock_);
        pendingBytes_ = 0;
        queuedBlocks_ = 0;
    }
    try {
        ApplyQueues();
        port_->PurgeTransmit();
        port_->PurgeReceive();
        port_->GetState(dcb_);
        ApplyBitRate();
        ApplyCharSize();
        ApplyParityBit();
        ApplyStopBit();
        ApplyFlowCtrl();
        ApplyTimeouts();
        ApplyXonChar();
        ApplyXoffChar();

        generation_.fetch_add(1);
        receiveReportPosted_.store(false);
        {
            const std::lock_guard lock(reportMutex_);
            stopping_ = false;
        }
        try {
            auto trans = std::make_unique<TCommTransThread>(*this, *port_);
            trans->SetCharTime(CharTimeFor(bitRate_.load()));
            trans->Start();
            const std::lock_guard lock(portMutex_);
            trans_ = std::move(trans);
        } catch (const std::system_error&) {
            Fail("送信用スレッドを生成できませんでした");
        }
        try {
            auto receive = std::make_unique<TCommReceiveThread>(*this, *port_);
            receive->Start();
            const std::lock_guard lock(portMutex_);
            receive_ = std::move(receive);
        } catch (const std::system_error&) {
            Fail("受信用スレッドを生成できませんでした");
        }
        Sleep(100);
    } catch (...) {
        Close();
        throw;
    }
}

void TCustomCommX::Close()
{
    if (!IsOpen()) return;
    SetDtr(false);
    SetRts(false);
    PurgeTrans();
    PurgeReceive();
    Sleep(100);
    {
        const std::lock_guard lock(reportMutex_);
        stopping_ = true;
    }
    reportDone_.notify_all();
    std::unique_ptr<TCommTransThread> trans;
    std::unique_ptr<TCommReceiveThread> receive;
    {
        const std::lock_guard lock(portMutex_);
        trans = std::move(trans_);
        receive = std::move(receive_);
    }
    // Neither thread can be waiting on the main thread any more: joining is safe, also from
    // inside an event handler.
    trans.reset();
    receive.reset();
    {
        const std::lock_guard lock(portMutex_);
        open_.store(false);
        if (port_) port_->Close();
        port_.reset();
    }
    DropReadAhead();
    {
        const std::lock_guard lock(counterLock_);
        pendingBytes_ = 0;
        queuedBlocks_ = 0;
    }
    Sleep(200);
}

// --- data --------------------------------------------------------------------------------------

bool TCustomCommX::Write(const void* bytes, std::int32_t count)
{
    return Queue(bytes, count, 0);
}

bool TCustomCommX::Queue(const void* bytes, std::int32_t count, std::int32_t charDelay)
{
    if (count == 0) return true;
    if (count < 0 || bytes == nullptr) return false;
    const char* data = static_cast<const char*>(bytes);
    std::int32_t left = count;
    while (left > 0) {
        const std::int32_t size = std::min(left, std::max(bufLenTrans_.load(), 1));
        std::unique_ptr<char[]> block;
        try {
            block = std::make_unique_for_overwrite<char[]>(std::size_t(size));
            std::memcpy(block.get(), data, std::size_t(size));
        } catch (const std::bad_alloc&) {
            block.reset();  // dropped, as a failed allocation always was
        }
        while (block) {
            {
                const std::lock_guard lock(portMutex_);
                if (!open_.load() || !trans_) return false;
                const std::lock_guard counters(counterLock_);
                if (queuedBlocks_ < MaxQueuedBlocks) {
                    pendingBytes_ += size;
                    queuedBlocks_++;
                    trans_->Post(std::move(block), size, charDelay);
                    break;
                }
            }
            ServeMessages();
            Sleep(1);
        }
        if (!IsOpen()) return false;
        data += size;
        left -= size;
    }
    return true;
}

std::int32_t TCustomCommX::ReadAheadRoom() const
{
    const std::lock_guard lock(readAheadMutex_);
    return ReadAheadSize - readAheadCount_;
}

void TCustomCommX::TakeArrival(const char* bytes, std::int32_t count)
{
    try {
        Arrived(bytes, count);
    } catch (...) {
        // An override must handle its own failures; the bytes still go on to Read.
    }
    {
        const std::lock_guard lock(readAheadMutex_);
        const std::int32_t n = std::min(count, ReadAheadSize - readAheadCount_);
        const std::int32_t end = (readAheadBegin_ + readAheadCount_) % ReadAheadSize;
        const std::int32_t first = std::min(n, ReadAheadSize - end);
        std::memcpy(readAhead_.get() + end, bytes, std::size_t(first));
        std::memcpy(readAhead_.get(), bytes + first, std::size_t(n - first));
        readAheadCount_ += n;
    }
    readAheadGrew_.notify_all();
}

std::int32_t TCustomCommX::TakeReadAhead(char* out, std::int32_t count)
{
    const std::lock_guard lock(readAheadMutex_);
    const std::int32_t n = std::min(count, readAheadCount_);
    const std::int32_t first = std::min(n, ReadAheadSize - readAheadBegin_);
    std::memcpy(out, readAhead_.get() + readAheadBegin_, std::size_t(first));
    std::memcpy(out + first, readAhead_.get(), std::size_t(n - first));
    readAheadBegin_ = (readAheadBegin_ + n) % ReadAheadSize;
    readAheadCount_ -= n;
    return n;
}

std::int32_t TCustomCommX::ReadAheadCount() const
{
    const std::lock_guard lock(readAheadMutex_);
    return readAheadCount_;
}

void TCustomCommX::DropReadAhead()
{
    const std::lock_guard lock(readAheadMutex_);
    readAheadBegin_ = readAheadCount_ = 0;
}

void TCustomCommX::Arrived(const char*, std::int32_t) {}

std::int32_t TCustomCommX::Read(void* buffer, std::int32_t count)
{
    if (!IsOpen() || !receive_ || buffer == nullptr) return -1;
    if (count <= 0) return 0;
    char* out = static_cast<char*>(buffer);
    std::int32_t got = 0;
    const std::int32_t timeout = timeOutReceive_.load();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    for (;;) {
        const std::int32_t n = TakeReadAhead(out + got, count - got);
        bytesRead_.fetch_add(std::uint64_t(n));
        got += n;
        if (got == count || timeout <= 0 || SteadyClock::now() >= deadline) return got;
        ServeMessages();
        if (!IsOpen() || !receive_) return got > 0 ? got : -1;
        // The receive thread reads the port; wait for it to bring more.
        std::unique_lock lock(readAheadMutex_);
        readAheadGrew_.wait_for(lock, std::chrono::milliseconds(1), [&] { return readAheadCount_ > 0; });
    }
}

std::int32_t TCustomCommX::InQueCount()
{
    const std::lock_guard lock(portMutex_);
    if (!open_.load() || !port_) return 0;
    return std::max(port_->InQueCount(), 0) + ReadAheadCount();
}

void TCustomCommX::PurgeTrans()
{
    const std::lock_guard lock(portMutex_);
    if (!open_.load() || !port_) return;
    if (!trans_) {
        const std::lock_guard write(writeLock_);
        port_->PurgeTransmit();
        return;
    }
    trans_->SetAbort(true);
    {
        // A transmit thread waiting on a report gives up on it now.
        const std::lock_guard report(reportMutex_);
    }
    reportDone_.notify_all();
    do {
        {
            const std::lock_guard write(writeLock_);
            port_->PurgeTransmit();
        }
        Sleep(1);
    } while (PendingBytes() > 0);
    trans_->SetAbort(false);
}

void TCustomCommX::PurgeReceive()
{
    const std::lock_guard lock(portMutex_);
    if (open_.load() && port_) port_->PurgeReceive();
    DropReadAhead();
}

void TCustomCommX::SetRts(bool on)
{
    const std::lock_guard lock(portMutex_);
    if (open_.load() && port_) port_->SetRts(on);
}

void TCustomCommX::SetReportBy(SteadyClock::time_point moment)
{
    reportBy_.store(moment.time_since_epoch().count());
}

void TCustomCommX::SetDtr(bool on)
{
    const std::lock_guard lock(portMutex_);
    if (open_.load() && port_) port_->SetDtr(on);
}

// ---------------------------------------------------------------------------------------------
// String operations

std::string TCommX::CrStr() const
{
    switch (CrTypTrans()) {
    case ctCr: return "\r";
    case ctCrLf: return "\r\n";
    case ctLf: return "\n";
    default: return {};
    }
}

void TCommX::SetCrStr(std::string_view value)
{
    SetCrTypTrans(value == "\r" ? ctCr : value == "\r\n" ? ctCrLf : value == "\n" ? ctLf : ctNone);
}

bool TCommX::WriteStr(std::string_view text)
{
    if (text.empty()) return true;
    return Write(text.data(), std::int32_t(text.size()));
}

bool TCommX::SendStr(std::string_view text)
{
    const std::int32_t delay = DelayTrans();
    if (delay < 1) return WriteStr(text);
    if (text.empty()) return true;
    // One queued block per BufLenTrans bytes, paced by the transmit thread: the caller (mostly
    // the main thread) never sleeps, and closing the port or a purge ends the pauses at once.
    return Queue(text.data(), std::int32_t(text.size()), delay);
}

bool TCommX::SendLine(std::string_view text)
{
    std::string line(text);
    line += CrStr();
    return SendStr(line);
}

bool TCommX::SendByte(std::uint8_t byte)
{
    const char c = char(byte);
    return Write(&c, 1);
}

}  // namespace pek
