#include "serial/CommXEx.h"

#include "platform/CodePage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pek {

namespace {

// The message names the file and the system's reason, so the user can tell a full disk from a
// pulled stick or a missing folder.
[[noreturn]] void RaiseIo(int errorCode, std::string_view what, const std::string& fileName)
{
    throw EInOutError(errorCode, Sjis(what) + fileName + Sjis("\r\n") + Utf8ToCp932(std::strerror(errorCode)) + " (" +
                                     std::to_string(errorCode) + ")");
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
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(logFd_, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseIo(errno, "ログファイルに書き込めません: ", logName_);
        }
        done += std::size_t(n);
    }
}

}  // namespace pek
