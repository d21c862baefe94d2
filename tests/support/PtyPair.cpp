#include "support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace pek::test {

PtyPair::PtyPair()
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slaveKeepAlive_, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
    slavePath_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slaveKeepAlive_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slaveKeepAlive_ >= 0) ::close(slaveKeepAlive_);
}

void PtyPair::write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0) throw std::runtime_error("pty write failed");
        done += size_t(n);
    }
}

std::string PtyPair::readExactly(size_t count, std::chrono::milliseconds deadline)
{
    std::string got;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.append(buffer, size_t(n));
    }
    return got;
}

std::string PtyPair::readAvailable(std::chrono::milliseconds quiet)
{
    std::string got;
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, int(quiet.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, size_t(n));
    }
    return got;
}

void PtyPair::closeMaster()
{
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace pek::test
