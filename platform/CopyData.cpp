#include "platform/CopyData.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

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

std::optional<bool> SendCopyData(const std::string& socketPath, std::uint32_t dwData, const std::string& payload,
                                 int timeoutMs)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return std::nullopt;
    const std::string frame = EncodeCopyDataFrame(dwData, payload);
    size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        sent += size_t(n);
    }
    char answer[4];
    size_t got = 0;
    while (got < sizeof answer) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
        const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return std::nullopt;
        }
        got += size_t(n);
    }
    return readLe32(answer) != 0;
}

CopyDataServer::CopyDataServer(int windowNumber, Handler handler, QObject* parent, std::string directory)
    : QObject(parent), handler_(std::move(handler))
{
    if (directory.empty()) return;
    // Clear out sockets of processes that are gone before adding ours.
    ListCopyDataWindows(directory);
    socketPath_ = directory + "/" + std::to_string(::getpid()) + "." + std::to_string(windowNumber);
    QLocalServer::removeServer(QString::fromStdString(socketPath_));
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(QString::fromStdString(socketPath_))) {
        socketPath_.clear();
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, &CopyDataServer::accept);
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

void CopyDataServer::accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto reader = std::make_shared<CopyDataFrameReader>();
        auto busy = std::make_shared<bool>(false);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader, busy] {
            const QByteArray bytes = socket->readAll();
            reader->Feed(bytes.constData(), size_t(bytes.size()));
            if (reader->Buffered() > 4 * size_t(kMaxCopyDataBytes)) {
                // A sender flooding us faster than frames are carried out.
                socket->abort();
                return;
            }
            // A handler may pump events (a modal box, a waiting write): frames that arrive meanwhile
            // are buffered and carried out in order once it returns.
            if (*busy) return;
            *busy = true;
            CopyDataFrame frame;
            for (;;) {
                const auto status = reader->Next(frame);
                if (status == CopyDataFrameReader::Status::NeedMore) break;
                std::string answer;
                if (status == CopyDataFrameReader::Status::TooLarge) {
                    appendLe32(answer, 0);
                    socket->write(answer.data(), qint64(answer.size()));
                    socket->flush();
                    socket->disconnectFromServer();
                    break;
                }
                const QPointer<QLocalSocket> alive(socket);
                const bool handled = handler_ ? handler_(frame.dwData, frame.payload) : false;
                // A handler that showed a box ran a nested event loop, in which a sender that gave
                // up waiting may have disconnected and its socket been deleted.
                if (!alive) return;
                appendLe32(answer, handled ? 1 : 0);
                socket->write(answer.data(), qint64(answer.size()));
                socket->flush();
            }
            *busy = false;
        });
    }
}

}  // namespace pek
