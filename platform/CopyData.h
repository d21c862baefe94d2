#pragma once
// Command strings from other programs. Each terminal window listens on a Unix socket
// <dir>/<pid>.<n> (dir: $XDG_RUNTIME_DIR/pek, else /tmp/pek-<uid>, mode 0700). A frame is a
// little-endian 32-bit dwData, a little-endian 32-bit byte count and that many bytes (the string
// with its terminating zero). The window answers each frame with a little-endian 32-bit result:
// 1 handled, 0 refused. A frame over 1 MiB is refused and the connection closed.
//
// Frames are carried out one at a time across every connection and every window of the process:
// while one is carried out (and any box it shows runs its own event loop), the others wait in one
// queue, each connection with at most one frame there. What waits is bounded; a frame beyond the
// bounds is refused at once, and a connection beyond them is answered 0 and closed.
#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLocalServer;

namespace pek {

constexpr std::uint32_t kMaxCopyDataBytes = 1u << 20;
constexpr size_t kMaxWaitingCopyDataFrames = 256;
// Bytes of frames waiting and of frames still arriving, over all connections.
constexpr size_t kMaxWaitingCopyDataBytes = 16u << 20;
constexpr size_t kMaxCopyDataConnections = 512;

struct CopyDataFrame {
    std::uint32_t dwData = 0;
    std::string payload;
};

// Cuts a byte stream into frames without trusting the sender's count.
class CopyDataFrameReader {
public:
    enum class Status { NeedMore, Frame, TooLarge };
    void Feed(const char* data, size_t size) { buffer_.append(data, size); }
    // Takes the next complete frame into frame; TooLarge means the stream must be dropped.
    Status Next(CopyDataFrame& frame);
    size_t Buffered() const { return buffer_.size(); }

private:
    std::string buffer_;
};

// The string a frame carries: its bytes up to the first zero, or all of them when the sender left
// the zero out (never bytes of an earlier message).
std::string CopyDataString(const std::string& payload);

std::string EncodeCopyDataFrame(std::uint32_t dwData, const std::string& payload);

// Folder of the sockets, created with mode 0700 when missing; empty when it cannot be made private.
std::string CopyDataDirectory();

struct CopyDataWindow {
    std::string socketPath;
    long long pid = 0;
    int number = 0;
    std::string caption;  // UTF-8, as the window wrote it
};

// The live windows, newest process first, windows of one process in number order; sockets of
// processes that are gone are removed on the way.
std::vector<CopyDataWindow> ListCopyDataWindows(const std::string& directory = CopyDataDirectory());

enum class CopyDataResult {
    Handled,
    Refused,
    NotDelivered,  // no window there, or the frame did not reach it whole: it was not carried out
    NoAnswer,      // the frame was delivered but no answer came (time-out, or the window closed):
                   // the window may carry it out, or have carried it out, all the same
};

// Sends one frame and waits for the answer: without a time-out for as long as the window takes
// (a box it shows may stay open).
CopyDataResult SendCopyDataFrame(const std::string& socketPath, std::uint32_t dwData, const std::string& payload,
                                 std::optional<std::chrono::milliseconds> timeout = std::nullopt);
// The same, as handled or refused; nullopt for no answer. A negative time-out waits for the answer.
std::optional<bool> SendCopyData(const std::string& socketPath, std::uint32_t dwData, const std::string& payload,
                                 int timeoutMs = -1);

// Frames waiting to be carried out in this process, and the bytes held for them and for frames
// still arriving.
struct CopyDataLoad {
    size_t frames = 0;
    size_t bytes = 0;
    size_t connections = 0;
};
CopyDataLoad CopyDataWaiting();

// While one exists (main thread), frames are carried out even though the handler of an earlier one
// has not returned: a debugged run that a frame started serves the program for as long as the
// script runs, and commands from other programs must not wait for its end. At most
// kMaxNestedCopyDataFrames are in progress at once.
class CopyDataNestedScope {
public:
    CopyDataNestedScope();
    ~CopyDataNestedScope();
    CopyDataNestedScope(const CopyDataNestedScope&) = delete;
    CopyDataNestedScope& operator=(const CopyDataNestedScope&) = delete;
};
constexpr int kMaxNestedCopyDataFrames = 8;

// Listens for one window. The handler runs on the main thread and returns whether it handled the frame.
class CopyDataServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(std::uint32_t dwData, const std::string& payload)>;

    CopyDataServer(int windowNumber, Handler handler, QObject* parent = nullptr,
                   std::string directory = CopyDataDirectory());
    ~CopyDataServer() override;

    bool Listening() const;
    const std::string& SocketPath() const { return socketPath_; }
    // The caption that pek-send lists for this window (UTF-8).
    void SetCaption(const std::string& utf8Caption);

private:
    friend class CopyDataQueue;
    void accept(int fd);

    Handler handler_;
    std::string socketPath_;
    std::string caption_;
    QLocalServer* server_ = nullptr;
};

}  // namespace pek
