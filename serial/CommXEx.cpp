#include "serial/CommXEx.h"

#include "platform/CodePage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pek {

namespace {

[[noreturn]] void RaiseIo(int errorCode)
{
    throw EInOutError(errorCode, "I/O error " + std::to_string(errorCode));
}

}  // namespace

TCommXEx::TCommXEx() : ringBuf_(std::make_unique<TRingBuf>(RingBufSize)) {}

TCommXEx::~TCommXEx()
{
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
    if (fd < 0) RaiseIo(errno);
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
    if (::close(fd) != 0 && errno != EINTR) RaiseIo(errno);
}

void TCommXEx::LogWrite(std::string_view text)
{
    const std::lock_guard lock(logMutex_);
    if (logFd_ < 0) RaiseIo(EBADF);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(logFd_, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseIo(errno);
        }
        done += std::size_t(n);
    }
}

}  // namespace pek
