#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pek {

// The device control block: the port settings the engine keeps and applies as a whole.
struct ComDcb {
    std::int32_t BaudRate = 9600;
    std::int32_t ByteSize = 8;
    std::int32_t Parity = 0;    // 0 none, 1 odd, 2 even
    std::int32_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    std::uint32_t Flags = 0;    // flow-control flag word (ComDcbFlag bits)
    std::int32_t XonLim = 0;
    std::int32_t XoffLim = 0;
    char XonChar = 17;
    char XoffChar = 19;
};

namespace ComDcbFlag {
inline constexpr std::uint32_t Binary = 0x0001;
inline constexpr std::uint32_t Parity = 0x0002;
inline constexpr std::uint32_t OutxCtsFlow = 0x0004;
inline constexpr std::uint32_t OutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DtrControlEnable = 0x0010;
inline constexpr std::uint32_t DtrControlHandshake = 0x0020;
inline constexpr std::uint32_t OutX = 0x0100;
inline constexpr std::uint32_t InX = 0x0200;
inline constexpr std::uint32_t RtsControlEnable = 0x1000;
inline constexpr std::uint32_t RtsControlHandshake = 0x2000;
}  // namespace ComDcbFlag

struct ComTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// What a wait on the port saw.
namespace ComEvent {
inline constexpr std::uint32_t RxChar = 0x0001;
inline constexpr std::uint32_t Break = 0x0040;
inline constexpr std::uint32_t Err = 0x0080;
inline constexpr std::uint32_t Woken = 0x10000;     // the wake-up descriptor was signalled
inline constexpr std::uint32_t Vanished = 0x20000;  // the device is gone (hang-up, I/O error)
}  // namespace ComEvent

// Line-error flags as TakeLineErrors reports them.
namespace ComError {
inline constexpr std::uint32_t RxOver = 0x01;
inline constexpr std::uint32_t Overrun = 0x02;
inline constexpr std::uint32_t RxParity = 0x04;
inline constexpr std::uint32_t Frame = 0x08;
inline constexpr std::uint32_t Break = 0x10;
}  // namespace ComError

// One serial device, the operations the engine needs and nothing more. Calls that fail return
// false or -1; none throws. Read and Write never block: the engine does the waiting, so that it
// can be woken by Close and by a purge.
class ComPort {
public:
    virtual ~ComPort() = default;

    virtual bool Open(int portNo) = 0;
    virtual void Close() = 0;
    // Lets go of a device that has gone away, from any thread: the system's hold on it (its
    // device number, the lock) ends now, not at Close. The handle stays valid but dead until
    // Close, so a thread still using it never reaches a descriptor reused for another file; calls
    // fail from here on and waits report the device vanished.
    virtual void ReleaseDevice() {}
    virtual bool IsOpen() const = 0;
    // The OS handle of the open device (for display); -1 while closed.
    virtual int NativeHandle() const = 0;
    // The device the last Open tried, and why it failed: an errno value, EBUSY when another
    // program holds the device; 0 when the reason is not known.
    virtual std::string OpenedPath() const { return {}; }
    virtual int OpenError() const { return 0; }

    virtual bool SetupQueues(std::int32_t receiveSize, std::int32_t transmitSize) = 0;
    virtual bool GetState(ComDcb& dcb) = 0;
    virtual bool SetState(const ComDcb& dcb) = 0;
    virtual bool GetTimeouts(ComTimeouts& timeouts) = 0;
    virtual bool SetTimeouts(const ComTimeouts& timeouts) = 0;
    virtual void PurgeTransmit() = 0;
    virtual void PurgeReceive() = 0;
    virtual void SetRts(bool on) = 0;
    virtual void SetDtr(bool on) = 0;

    // Bytes waiting in the input queue; -1 when it cannot be asked.
    virtual std::int32_t InQueCount() = 0;
    // Bytes written but not yet sent on the line; -1 when it cannot be asked.
    virtual std::int32_t OutQueCount() = 0;
    // Line errors seen since the last call (ComError bits), then cleared.
    virtual std::uint32_t TakeLineErrors() = 0;

    // Blocks until data, a break or a line error arrives, the device vanishes, or `wakeFd` (an
    // eventfd) becomes readable; returns ComEvent bits. Does not consume the wake-up.
    virtual std::uint32_t WaitEvent(int wakeFd) = 0;
    // Blocks until the port can take more output, `wakeFd` is signalled or `timeoutMs` passed;
    // true when writable.
    virtual bool WaitWritable(int wakeFd, int timeoutMs) = 0;
    // Blocks until input is waiting, `wakeFd` is signalled or `timeoutMs` passed; true when
    // readable. Does not consume the wake-up.
    virtual bool WaitReadable(int wakeFd, int timeoutMs) = 0;

    // Bytes read (0: nothing waiting), or -1 on failure.
    virtual long Read(void* buffer, std::size_t count) = 0;
    // Bytes taken (0: the output queue is full), or -1 on failure.
    virtual long Write(const void* bytes, std::size_t count) = 0;
};

// Maps a port number to a device path.
using PortResolver = std::function<std::string(int portNo)>;
// "/dev/ttyS<n-1>": the built-in ports.
std::string DefaultPortPath(int portNo);
// Resolves by the settings file's [Ports] section, key COM<n>, read afresh at every call; a
// missing key falls back to DefaultPortPath. `settingsPath` is a file-system path.
PortResolver PortsFromSettings(std::string settingsPath);

// Makes the port object the engine opens; the default makes a PosixComPort.
using ComPortFactory = std::function<std::unique_ptr<ComPort>()>;

}  // namespace pek
