#include "scriptgui/BackingFile.h"

#include "platform/Exception.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace pek {

namespace {

[[noreturn]] void Fail(int error) { throw Exception(std::strerror(error)); }

std::string TempFolder()
{
    std::error_code ec;
    const auto dir = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : dir.string();
}

}  // namespace

TBackingFile::TBackingFile()
{
    const std::string dir = TempFolder();
#ifdef O_TMPFILE
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
#endif
    if (fd_ < 0) {
        // File systems without O_TMPFILE: a unique name, unlinked at once.
        std::string name = dir + "/pek-XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) Fail(errno);
        ::unlink(name.c_str());
        ::fchmod(fd_, 0600);
    }
}

TBackingFile::~TBackingFile()
{
    if (fd_ >= 0) ::close(fd_);
}

TBackingFile::TBackingFile(TBackingFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

TBackingFile& TBackingFile::operator=(TBackingFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

std::int64_t TBackingFile::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) const
{
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, std::size_t(count - done), off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

void TBackingFile::WriteAt(std::int64_t offset, const void* buffer, std::int64_t count)
{
    const auto* in = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd_, in + done, std::size_t(count - done), off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
        }
        done += n;
    }
}

void TBackingFile::Resize(std::int64_t size)
{
    while (::ftruncate(fd_, off_t(size)) != 0)
        if (errno != EINTR) Fail(errno);
}

std::int64_t TBackingFile::FileSize() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail(errno);
    return st.st_size;
}

void TBackingFile::Move(std::int64_t src, std::int64_t dst, std::int64_t count)
{
    if (count <= 0 || src == dst) return;
    constexpr std::int64_t Chunk = 1 << 20;
    std::vector<char> buffer(std::size_t(std::min(Chunk, count)));
    // Moving up copies from the end, moving down from the start, so no byte is overwritten unread.
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t n = std::min(Chunk, count - done);
        const std::int64_t at = dst > src ? count - done - n : done;
        if (ReadAt(src + at, buffer.data(), n) != n) throw Exception(std::strerror(EIO));
        WriteAt(dst + at, buffer.data(), n);
        done += n;
    }
}

}  // namespace pek
