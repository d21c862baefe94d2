#include "platform/CopyData.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QSocketNotifier>
#include <QPointer>
#include <QTimer>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>

namespace pek {

namespace {

std::uint32_t readLe32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

void appendLe32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string captionFile(const std::string& socketPath)
{
    return socketPath + ".caption";
}

bool processAlive(long long pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

CopyDataFrameReader::Status CopyDataFrameReader::Next(CopyDataFrame& frame)
{
    if (buffer_.size() < 8) return Status::NeedMore;
    const std::uint32_t count = readLe32(buffer_.data() + 4);
    if (count > kMaxCopyDataBytes) return Status::TooLarge;
    if (buffer_.size() < 8 + size_t(count)) return Status::NeedMore;
    frame.dwData = readLe32(buffer_.data());
    frame.payload.assign(buffer_, 8, count);
    buffer_.erase(0, 8 + size_t(count));
    return Status::Frame;
}

std::string CopyDataString(const std::string& payload)
{
    const size_t zero = payload.find('\0');
    return zero == std::string::npos ? payload : payload.substr(0, zero);
}

std::string EncodeCopyDataFrame(std::uint32_t dwData, const std::string& payload)
{
    std::string frame;
    appendLe32(frame, dwData);
    appendLe32(frame, std::uint32_t(payload.size()));
    return frame + payload;
}

std::string CopyDataDirectory()
{
    std::string dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        dir = std::string(runtime) + "/pek";
    else
        dir = "/tmp/pek-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // Someone else's folder, or one others can enter, would let them drive our windows.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return {};
    return dir;
}

std::vector<CopyDataWindow> ListCopyDataWindows(const std::string& directory)
{
    std::vector<CopyDataWindow> windows;
    if (directory.empty()) return windows;
    DIR* d = ::opendir(directory.c_str());
    if (!d) return windows;
    while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        const size_t dot = name.find('.');
        if (dot == std::string::npos || dot == 0 || name.find('.', dot + 1) != std::string::npos) continue;
        if (!std::all_of(name.begin(), name.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; }))
            continue;
        CopyDataWindow w;
        w.socketPath = directory + "/" + name;
        w.pid = std::atoll(name.substr(0, dot).c_str());
        w.number = std::atoi(name.substr(dot + 1).c_str());
        if (!processAlive(w.pid)) {
            ::unlink(w.socketPath.c_str());
            ::unlink(captionFile(w.socketPath).c_str());
            continue;
        }
        std::ifstream in(captionFile(w.socketPath), std::ios::binary);
        w.caption.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        windows.push_back(std::move(w));
    }
    ::closedir(d);
    std::sort(windows.begin(), windows.end(), [](const CopyDataWindow& a, const CopyDataWindow& b) {
        return a.pid != b.pid ? a.pid > b.pid : a.number < b.number;
    });
    return windows;
}

CopyDataResult SendCopyDataFrame(const std::string& socketPath, std::uint32_t dwData, const std::string& payload,
                                 std::optional<std::chrono::milliseconds> timeout)
{
    using Clock = std::chrono::steady_clock;
    const bool limited = timeout.has_value();
    const Clock::time_point deadline = Clock::now() + timeout.value_or(std::chrono::milliseconds(0));
    // Milliseconds poll may wait: -1 for no limit, 0 once the time is up.
    const auto remaining = [&]() -> int {
        if (!limited) return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return int(std::clamp<long long>(left, 0, 1 << 30));
    };
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) return CopyDataResult::NotDelivered;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return CopyDataResult::NotDelivered;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // A window busy with a box may leave its listen queue full: connecting then waits, within the time-out.
    if (limited) {
        const int ms = std::max(remaining(), 1);
        const timeval limit{ms / 1000, (ms % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    int connected;
    do connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (connected != 0 && errno == EINTR);
    if (connected != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
        return CopyDataResult::NotDelivered;
    char answer[4];
    size_t got = 0;
    const std::string frame = EncodeCopyDataFrame(dwData, payload);
    size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n >= 0) {
            sent += size_t(n);
            continue;
        }
        if (errno == EINTR) continue;
        pollfd p{fd, POLLOUT, 0};
        if (errno == EAGAIN && ::poll(&p, 1, remaining()) > 0) continue;
        // Cut short, so never carried out; but the window may have answered its refusal before closing.
        while (got < sizeof answer) {
            const ssize_t r = ::recv(fd, answer + got, sizeof answer - got, 0);
            if (r <= 0 && !(r < 0 && errno == EINTR)) break;
            if (r > 0) got += size_t(r);
        }
        return got == sizeof answer && readLe32(answer) == 0 ? CopyDataResult::Refused : CopyDataResult::NotDelivered;
    }
    while (got < sizeof answer) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, remaining());
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return CopyDataResult::NoAnswer;
        const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, 0);
        if (n > 0) got += size_t(n);
        else if (n == 0 || (errno != EINTR && errno != EAGAIN)) return CopyDataResult::NoAnswer;
    }
    return readLe32(answer) != 0 ? CopyDataResult::Handled : CopyDataResult::Refused;
}

std::optional<bool> SendCopyData(const std::string& socketPath, std::uint32_t dwData, const std::string& payload,
                                 int timeoutMs)
{
    const auto timeout = timeoutMs < 0 ? std::nullopt : std::optional(std::chrono::milliseconds(timeoutMs));
    switch (SendCopyDataFrame(socketPath, dwData, payload, timeout)) {
    case CopyDataResult::Handled: return true;
    case CopyDataResult::Refused: return false;
    default: return std::nullopt;
    }
}

class CopyDataConnection;

// Hands each accepted connection over as its descriptor.
class DescriptorServer : public QLocalServer {
public:
    DescriptorServer(std::function<void(int)> onConnection, QObject* parent)
        : QLocalServer(parent), onConnection_(std::move(onConnection))
    {
    }

protected:
    void incomingConnection(quintptr descriptor) override { onConnection_(int(descriptor)); }

private:
    std::function<void(int)> onConnection_;
};

// The one queue of the process: a frame carried out while another's box is open would run inside
// that box's event loop, one level deeper for each, until the stack overflows.
class CopyDataQueue : public QObject {
public:
    static CopyDataQueue* Instance()
    {
        // Shared by every window of the process, as their one main thread is; owned by the application.
        static QPointer<CopyDataQueue> queue;
        if (!queue) queue = new CopyDataQueue(QCoreApplication::instance());
        return queue;
    }

    struct Entry {
        QPointer<CopyDataConnection> connection;
        QPointer<CopyDataServer> server;
        CopyDataFrame frame;
    };

    void Add(Entry entry)
    {
        bytes += entry.frame.payload.size();
        waiting.push_back(std::move(entry));
        scheduleNext();
    }

    std::deque<Entry> waiting;
    size_t bytes = 0;  // of waiting frames and of frames still arriving
    size_t connections = 0;
    int nestedScopes = 0;

    void NestingAllowed() { scheduleNext(); }

private:
    explicit CopyDataQueue(QObject* parent) : QObject(parent) {}

    void scheduleNext()
    {
        if (scheduled_ || waiting.empty()) return;
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { carryOutNext(); });
    }

    void carryOutNext();

    int inProgress_ = 0;
    bool scheduled_ = false;
};

// One sender's connection: cuts its stream into frames and puts one at a time in the queue,
// reading no further while that one waits, so a flood stays in the sender's socket. It works on the
// descriptor itself: a sender that closes its sending side after its frames still gets every
// answer, which a local socket object cannot give (it closes the whole connection at the end of input).
class CopyDataConnection : public QObject {
public:
    CopyDataConnection(int fd, CopyDataServer* server)
        : QObject(server),
          fd_(fd),
          server_(server),
          queue_(CopyDataQueue::Instance()),
          readable_(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
          writable_(new QSocketNotifier(fd, QSocketNotifier::Write, this))
    {
        ++queue_->connections;
        writable_->setEnabled(false);
        connect(readable_, &QSocketNotifier::activated, this, &CopyDataConnection::Pump);
        connect(writable_, &QSocketNotifier::activated, this, &CopyDataConnection::Flush);
    }
    ~CopyDataConnection() override
    {
        delete readable_;
        delete writable_;
        ::close(fd_);
        if (!queue_) return;
        --queue_->connections;
        queue_->bytes -= reader_.Buffered();
    }

    void Pump()
    {
        while (!waiting_ && !closing_ && queue_) {
            CopyDataFrame frame;
            const size_t before = reader_.Buffered();
            const auto status = reader_.Next(frame);
            queue_->bytes -= before - reader_.Buffered();
            if (status == CopyDataFrameReader::Status::Frame) {
                if (queue_->waiting.size() >= kMaxWaitingCopyDataFrames) {
                    Answer(false);
                    continue;
                }
                waiting_ = true;
                queue_->Add({this, server_, std::move(frame)});
                break;
            }
            if (status == CopyDataFrameReader::Status::TooLarge) return refuse();
            if (inputEnded_) return Finish();  // no more frames come; a partial one is dropped
            char buffer[16 * 1024];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0) return Drop();
            if (n == 0) {
                inputEnded_ = true;
                continue;
            }
            if (queue_->bytes + size_t(n) > kMaxWaitingCopyDataBytes) return refuse();
            reader_.Feed(buffer, size_t(n));
            queue_->bytes += size_t(n);
        }
        readable_->setEnabled(!waiting_ && !closing_ && !inputEnded_);
    }

    void Answer(bool handled)
    {
        if (dropped_) return;
        appendLe32(output_, handled ? 1 : 0);
        Flush();
    }

    void Answered(bool handled)
    {
        waiting_ = false;
        Answer(handled);
        Pump();
    }

private:
    void Flush()
    {
        while (!output_.empty()) {
            const ssize_t n = ::send(fd_, output_.data(), output_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                output_.erase(0, size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                writable_->setEnabled(true);
                return;
            }
            return Drop();  // the sender is gone
        }
        writable_->setEnabled(false);
        if (closing_) deleteLater();
    }

    // Closes once the answers given so far are out.
    void Finish()
    {
        closing_ = true;
        readable_->setEnabled(false);
        if (queue_) queue_->bytes -= reader_.Buffered();
        reader_ = CopyDataFrameReader();
        Flush();
    }

    void Drop()
    {
        dropped_ = true;
        output_.clear();
        Finish();
    }

    void refuse()
    {
        Answer(false);
        Finish();
    }

    int fd_;
    QPointer<CopyDataServer> server_;
    QPointer<CopyDataQueue> queue_;
    QSocketNotifier* readable_;
    QSocketNotifier* writable_;
    CopyDataFrameReader reader_;
    std::string output_;       // answers the socket has not taken yet
    bool waiting_ = false;     // a frame of ours is in the queue or being carried out
    bool inputEnded_ = false;  // the sender closed its sending side
    bool closing_ = false;
    bool dropped_ = false;
};

void CopyDataQueue::carryOutNext()
{
    scheduled_ = false;
    if (waiting.empty()) return;
    if (inProgress_ > 0 && (nestedScopes == 0 || inProgress_ >= kMaxNestedCopyDataFrames)) return;
    Entry entry = std::move(waiting.front());
    waiting.pop_front();
    bytes -= entry.frame.payload.size();
    bool handled = false;
    {
        struct InProgress {
            int& count;
            explicit InProgress(int& c) : count(c) { ++count; }
            ~InProgress() { --count; }
        } inProgress(inProgress_);
        // A sender that stopped waiting still has its frame carried out, as a sent message would be.
        // A copy: the handler may close the window that owns the server.
        const CopyDataServer::Handler handler = entry.server ? entry.server->handler_ : nullptr;
        if (handler) handled = handler(entry.frame.dwData, entry.frame.payload);
    }
    if (entry.connection) entry.connection->Answered(handled);
    scheduleNext();
}

CopyDataNestedScope::CopyDataNestedScope()
{
    if (CopyDataQueue* queue = CopyDataQueue::Instance()) {
        ++queue->nestedScopes;
        queue->NestingAllowed();
    }
}

CopyDataNestedScope::~CopyDataNestedScope()
{
    if (CopyDataQueue* queue = CopyDataQueue::Instance()) --queue->nestedScopes;
}

CopyDataLoad CopyDataWaiting()
{
    const CopyDataQueue* queue = CopyDataQueue::Instance();
    if (!queue) return {};
    return {queue->waiting.size(), queue->bytes, queue->connections};
}

CopyDataServer::CopyDataServer(int windowNumber, Handler handler, QObject* parent, std::string directory)
    : QObject(parent), handler_(std::move(handler))
{
    if (directory.empty()) return;
    // Clear out sockets of processes that are gone before adding ours.
    ListCopyDataWindows(directory);
    socketPath_ = directory + "/" + std::to_string(::getpid()) + "." + std::to_string(windowNumber);
    QLocalServer::removeServer(QString::fromStdString(socketPath_));
    server_ = new DescriptorServer([this](int fd) { accept(fd); }, this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(QString::fromStdString(socketPath_))) {
        socketPath_.clear();
        return;
    }
}

CopyDataServer::~CopyDataServer()
{
    if (server_) server_->close();
    if (!socketPath_.empty()) {
        ::unlink(socketPath_.c_str());
        ::unlink(captionFile(socketPath_).c_str());
    }
}

bool CopyDataServer::Listening() const
{
    return server_ && server_->isListening();
}

void CopyDataServer::SetCaption(const std::string& utf8Caption)
{
    // Captions are refreshed on every tab change; the file is only rewritten when one changes.
    if (socketPath_.empty() || utf8Caption == caption_) return;
    caption_ = utf8Caption;
    const std::string file = captionFile(socketPath_);
    const std::string temp = file + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << utf8Caption;
    }
    std::rename(temp.c_str(), file.c_str());
}

// How long a refused connection is kept for its sender to finish writing.
constexpr int RefusedHoldMs = 250;

void CopyDataServer::accept(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (CopyDataWaiting().connections >= kMaxCopyDataConnections) {
        const std::string refused(4, '\0');
        [[maybe_unused]] const ssize_t n = ::send(fd, refused.data(), refused.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(fd, SHUT_WR);
        // Closed once the sender has written its frame (its end, or a short while): closed earlier,
        // a sender still writing would get a broken pipe instead of the answer.
        auto* rest = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        auto open = std::make_shared<bool>(true);
        const auto finish = [rest, fd, open] {
            if (!std::exchange(*open, false)) return;  // once: the number may be reused after
            rest->setEnabled(false);
            rest->deleteLater();
            ::close(fd);
        };
        connect(rest, &QSocketNotifier::activated, rest, [fd, open, finish] {
            if (!*open) return;
            char discard[4096];
            ssize_t n = 0;
            while ((n = ::recv(fd, discard, sizeof discard, MSG_DONTWAIT)) > 0) {
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) finish();
        });
        QTimer::singleShot(RefusedHoldMs, rest, finish);
        return;
    }
    (new CopyDataConnection(fd, this))->Pump();
}

}  // namespace pek
