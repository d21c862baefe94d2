#include "serial/PosixComPort.h"

#include "platform/Profile.h"
#include "serial/PosixBaud.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace pek {

std::string DefaultPortPath(int portNo)
{
    if (portNo < 1) return {};
    return "/dev/ttyS" + std::to_string(portNo - 1);
}

PortResolver PortsFromSettings(std::string settingsPath)
{
    return [path = std::move(settingsPath)](int portNo) {
        const ProfileFile ini(path);
        const std::string mapped = ini.ReadString("Ports", "COM" + std::to_string(portNo), "");
        return mapped.empty() ? DefaultPortPath(portNo) : mapped;
    };
}

namespace {

speed_t SpeedConstant(int bitRate)
{
    switch (bitRate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

}  // namespace

PosixComPort::PosixComPort(PortResolver resolver) : resolver_(std::move(resolver)) {}

PosixComPort::~PosixComPort()
{
    Close();
}

bool PosixComPort::Open(int portNo)
{
    if (fd_ >= 0) return false;
    openError_ = 0;
    path_ = resolver_ ? resolver_(portNo) : DefaultPortPath(portNo);
    if (path_.empty()) return false;
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openError_ = errno;
        return false;
    }
    const auto refuse = [&](int error) {
        openError_ = error;
        ::close(fd);
        return false;
    };
    if (!isatty(fd)) return refuse(ENOTTY);
    // The lock serial programs take on a device they use: two programs on one port would each get
    // part of its bytes. TIOCEXCL alone does not keep out root, nor a program that opened it first.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
    ioctl(fd, TIOCEXCL);
    fd_ = fd;
    released_.store(false);
    pendingErrors_ = 0;
    serial_icounter_struct counters{};
    haveCounters_ = ioctl(fd_, TIOCGICOUNT, &counters) == 0;
    if (haveCounters_) {
        lastFrame_ = counters.frame;
        lastParity_ = counters.parity;
        lastOverrun_ = counters.overrun;
        lastBufOverrun_ = counters.buf_overrun;
        lastBrk_ = counters.brk;
    }
    return true;
}

void PosixComPort::Close()
{
    if (fd_ < 0) return;
    if (released_.load()) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    // The exclusive flag outlives the descriptor on a pseudo-terminal; a later open would fail.
    ioctl(fd_, TIOCNXCL);
    // close() waits for output to drain, for up to 30 s on a real port held back by flow control.
    tcflush(fd_, TCOFLUSH);
    ::close(fd_);
    fd_ = -1;
}

void PosixComPort::ReleaseDevice()
{
    // A held descriptor keeps the device number of an unplugged adapter taken, so it comes back
    // under another name. The descriptor number is not closed but pointed at /dev/null in one step:
    // the transmit and main threads may be using it right now, and a freed number could be handed
    // to a file opened meanwhile.
    if (fd_ < 0 || released_.exchange(true)) return;
    const int placeholder = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (placeholder < 0) {
        released_.store(false);  // nothing to put in its place: Close lets go
        return;
    }
    ::dup3(placeholder, fd_, O_CLOEXEC);
    ::close(placeholder);
}

bool PosixComPort::SetupQueues(std::int32_t receiveSize, std::int32_t transmitSize)
{
    // The tty layer sizes its own queues; only nonsense sizes are refused.
    return fd_ >= 0 && receiveSize > 0 && transmitSize > 0;
}

bool PosixComPort::GetState(ComDcb& dcb)
{
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) return false;
    dcb = dcb_;
    switch (tio.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    dcb.Parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 1 : 2) : 0;
    dcb.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    dcb.XonChar = char(tio.c_cc[VSTART]);
    dcb.XoffChar = char(tio.c_cc[VSTOP]);
    return true;
}

bool PosixComPort::SetState(const ComDcb& dcb)
{
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (dcb.ByteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return false;
    }
    switch (dcb.Parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;  // mark
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;           // space
    default: return false;
    }
    // Bytes arrive as received: with INPCK a byte with a parity or framing error would become
    // 0x00, and without IGNBRK a break would insert one. The driver counts errors and breaks
    // (TIOCGICOUNT) before these masks apply, so the reports still come.
    tio.c_iflag &= ~tcflag_t(IGNPAR | PARMRK | BRKINT | INPCK | IXON | IXOFF | IXANY);
    tio.c_iflag |= IGNBRK;
    switch (dcb.StopBits) {
    case 0: break;
    case 1:  // one and a half: the UART gives 1.5 for 5 data bits when asked for 2
    case 2: tio.c_cflag |= CSTOPB; break;
    default: return false;
    }
    using namespace ComDcbFlag;
    if (dcb.Flags & (OutxCtsFlow | RtsControlHandshake)) tio.c_cflag |= CRTSCTS;
    if (dcb.Flags & OutX) tio.c_iflag |= IXON;
    if (dcb.Flags & InX) tio.c_iflag |= IXOFF;
    // DTR/DSR handshake has no termios counterpart: DTR is raised and DSR is not watched.
    tio.c_cc[VSTART] = cc_t(dcb.XonChar);
    tio.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const speed_t speed = SpeedConstant(dcb.BaudRate);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    if (speed == B0 && !(dcb.BaudRate > 0 && detail::SetCustomBitRate(fd_, dcb.BaudRate))) return false;

    SetModemLine(TIOCM_DTR, (dcb.Flags & (DtrControlEnable | DtrControlHandshake)) != 0);
    SetModemLine(TIOCM_RTS, (dcb.Flags & (RtsControlEnable | RtsControlHandshake)) != 0);
    dcb_ = dcb;
    return true;
}

bool PosixComPort::GetTimeouts(ComTimeouts& timeouts)
{
    if (fd_ < 0) return false;
    timeouts = timeouts_;
    return true;
}

bool PosixComPort::SetTimeouts(const ComTimeouts& timeouts)
{
    // The engine does the waiting; the values are kept for GetTimeouts.
    if (fd_ < 0) return false;
    timeouts_ = timeouts;
    return true;
}

void PosixComPort::PurgeTransmit()
{
    if (fd_ >= 0) tcflush(fd_, TCOFLUSH);
}

void PosixComPort::PurgeReceive()
{
    if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

void PosixComPort::SetModemLine(int bit, bool on)
{
    // A pseudo-terminal has no modem lines; the call fails there and that is fine.
    if (fd_ >= 0) ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void PosixComPort::SetRts(bool on)
{
    SetModemLine(TIOCM_RTS, on);
}

void PosixComPort::SetDtr(bool on)
{
    SetModemLine(TIOCM_DTR, on);
}

std::int32_t PosixComPort::InQueCount()
{
    int count = 0;
    if (fd_ < 0 || released_.load() || ioctl(fd_, FIONREAD, &count) != 0) return -1;
    return count;
}

std::int32_t PosixComPort::OutQueCount()
{
    int count = 0;
    if (fd_ < 0 || released_.load() || ioctl(fd_, TIOCOUTQ, &count) != 0) return -1;
    return count;
}

bool PosixComPort::UpdateCounters()
{
    if (!haveCounters_ || fd_ < 0) return false;
    serial_icounter_struct c{};
    if (ioctl(fd_, TIOCGICOUNT, &c) != 0) return false;
    if (c.overrun != lastOverrun_) pendingErrors_ |= ComError::Overrun;
    if (c.buf_overrun != lastBufOverrun_) pendingErrors_ |= ComError::RxOver;
    if (c.parity != lastParity_) pendingErrors_ |= ComError::RxParity;
    if (c.frame != lastFrame_) pendingErrors_ |= ComError::Frame;
    const bool brk = c.brk != lastBrk_;
    if (brk) {
        pendingErrors_ |= ComError::Break;
        pendingBreak_ = true;  // for WaitEvent, even when TakeLineErrors takes the flags first
    }
    lastOverrun_ = c.overrun;
    lastBufOverrun_ = c.buf_overrun;
    lastParity_ = c.parity;
    lastFrame_ = c.frame;
    lastBrk_ = c.brk;
    return brk;
}

std::uint32_t PosixComPort::TakeLineErrors()
{
    const std::lock_guard lock(countersMutex_);
    UpdateCounters();
    return std::exchange(pendingErrors_, 0u);
}

bool PosixComPort::NodeGone() const
{
    struct stat node {};
    if (::stat(path_.c_str(), &node) != 0) return errno == ENOENT || errno == ENOTDIR;
    struct stat open {};
    return ::fstat(fd_, &open) == 0 && S_ISCHR(open.st_mode) && (!S_ISCHR(node.st_mode) || node.st_rdev != open.st_rdev);
}

std::uint32_t PosixComPort::WaitEvent(int wakeFd)
{
    if (released_.load()) return ComEvent::Vanished;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    // A device whose node is removed without a hang-up is gone all the same; looked at while quiet.
    int ready = 0;
    while ((ready = poll(fds, 2, kNodeCheckMs)) == 0)
        if (NodeGone()) return ComEvent::Vanished;
    if (ready < 0) return 0;
    std::uint32_t events = 0;
    if (fds[1].revents & POLLIN) events |= ComEvent::Woken;
    if (fds[0].revents & POLLNVAL) return events | ComEvent::Vanished;
    {
        const std::lock_guard lock(countersMutex_);
        UpdateCounters();
        if (std::exchange(pendingBreak_, false)) events |= ComEvent::Break;
        if (pendingErrors_ & (ComError::Overrun | ComError::RxParity | ComError::Frame)) events |= ComEvent::Err;
    }
    const std::int32_t waiting = InQueCount();
    if ((fds[0].revents & POLLIN) && waiting > 0) events |= ComEvent::RxChar;
    // Data still readable after a hang-up is delivered first (a pseudo-terminal drops it at hang-up);
    // once nobody takes it any more, the hang-up is reported all the same.
    if (fds[0].revents & (POLLHUP | POLLERR)) {
        if (waiting <= 0 || ++hangUpsWithData_ > 100) events |= ComEvent::Vanished;
    } else {
        hangUpsWithData_ = 0;
    }
    return events;
}

bool PosixComPort::WaitWritable(int wakeFd, int timeoutMs)
{
    if (released_.load()) return true;  // the write that follows fails
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return false;
    // A hang-up counts as writable: the write that follows fails and ends the block.
    return (fds[0].revents & (POLLOUT | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool PosixComPort::WaitReadable(int wakeFd, int timeoutMs)
{
    if (released_.load()) return false;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    return poll(fds, 2, timeoutMs) > 0 && (fds[0].revents & POLLIN);
}

long PosixComPort::Read(void* buffer, std::size_t count)
{
    if (fd_ < 0 || released_.load()) return -1;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, count);
        if (n >= 0) return long(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

long PosixComPort::Write(const void* bytes, std::size_t count)
{
    if (fd_ < 0 || released_.load()) return -1;
    for (;;) {
        const ssize_t n = ::write(fd_, bytes, count);
        if (n >= 0) return long(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

}  // namespace pek
