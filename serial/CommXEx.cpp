#include "serial/CommXEx.h"

#include "platform/CodePage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace pek {

namespace {

// The message names the file and the system's reason, so the user can tell a full disk from a
// pulled stick or a missing folder.
std::string IoMessage(int errorCode, std::string_view what, const std::string& fileName)
{
    return Sjis(what) + fileName + Sjis("\r\n") + Utf8ToCp932(std::strerror(errorCode)) + " (" + std::to_string(errorCode) + ")";
}

[[noreturn]] void RaiseIo(int errorCode, std::string_view what, const std::string& fileName)
{
    throw EInOutError(errorCode, IoMessage(errorCode, what, fileName));
}

// Writes all of text; an errno value on failure, else 0.
int WriteAll(int fd, std::string_view text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += std::size_t(n);
    }
    return 0;
}

}  // namespace

TCommXEx::TCommXEx() : ringBuf_(std::make_unique<TRingBuf>(RingBufSize)) {}

TCommXEx::~TCommXEx()
{
    Close();  // the receive thread puts into the ring buffer and logs until then
    ringBuf_.reset();
    // Every write went to the OS at once; closing cannot lose data, so a failure is moot here.
    const std::lock_guard lock(logMutex_);
    if (logFd_ >= 0) ::close(logFd_);
    logFd_ = -1;
}

bool TCommXEx::LogOpened() const
{
    const std::lock_guard lock(logMutex_);
    return logFd_ >= 0;
}

void TCommXEx::LogOpen(std::string_view fileName, bool rcv, bool trs, bool msg, bool bin)
{
    const std::lock_guard lock(logMutex_);
    if (logFd_ >= 0) {
        ::close(logFd_);
        logFd_ = -1;
    }
    logRcv_ = logTrs_ = logMsg_ = logBin_ = false;  // a failed open leaves no options of the old log
    const std::string path = FileNameToSystem(fileName);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) RaiseIo(errno, "ログファイルを作成できません: ", std::string(fileName));
    logName_ = fileName;
    logFd_ = fd;
    logRcv_ = rcv;
    logTrs_ = trs;
    logMsg_ = msg;
    logBin_ = bin;
}

void TCommXEx::LogClose()
{
    const std::lock_guard lock(logMutex_);
    logRcv_ = logTrs_ = logMsg_ = logBin_ = false;
    if (logFd_ < 0) return;
    const int fd = logFd_;
    logFd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) RaiseIo(errno, "ログファイルを閉じられません: ", logName_);
}

void TCommXEx::LogWrite(std::string_view text)
{
    const std::lock_guard lock(logMutex_);
    if (logFd_ < 0) RaiseIo(EBADF, "ログファイルが開いていません: ", logName_);
    if (const int error = WriteAll(logFd_, text); error != 0) RaiseIo(error, "ログファイルに書き込めません: ", logName_);
}

std::string TCommXEx::TakeLogFailure()
{
    const std::lock_guard lock(logMutex_);
    return std::exchange(logFailure_, std::string());
}

void TCommXEx::Arrived(const char* bytes, std::int32_t count)
{
    ringBuf_->Put(bytes, count);
    if (!logBin_.load() || !logRcv_.load()) return;
    const std::lock_guard lock(logMutex_);
    if (logFd_ < 0 || !logBin_.load() || !logRcv_.load()) return;
    const int error = WriteAll(logFd_, std::string_view(bytes, std::size_t(count)));
    if (error == 0) return;
    // No one to throw to here: the log closes, and the window tells the user when it shows these bytes.
    ::close(logFd_);
    logFd_ = -1;
    logRcv_ = logTrs_ = logMsg_ = logBin_ = false;
    logFailure_ = IoMessage(error, "ログファイルに書き込めません: ", logName_);
}

}  // namespace pek
