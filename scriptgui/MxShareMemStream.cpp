#include "scriptgui/MxShareMemStream.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace pek {

TMxShareMemStream::TMxShareMemStream(const std::string& name, std::int64_t size)
{
    const std::string path = name.empty() || name[0] != '/' ? "/" + name : name;
    fd_ = ::shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno == EEXIST) fd_ = ::shm_open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
        // The name is fixed and known: a block that someone else made, or that others may write,
        // would let them read and set what is shared here.
        if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            ::close(fd_);
            fd_ = -1;
            throw Exception(Sjis("共有メモリ[") + name + Sjis("]は他のユーザーが作ったか書き込めるため使いません"));
        }
        // A new block is empty: give it its size. An existing one keeps the size it has.
        if (st.st_size == 0 && size > 0 && ::ftruncate(fd_, off_t(size)) == 0) st.st_size = off_t(size);
        size_ = std::min<std::int64_t>(st.st_size, std::max<std::int64_t>(size, 0));
        if (size_ > 0) {
            map_ = ::mmap(nullptr, std::size_t(size_), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
            if (map_ == MAP_FAILED) map_ = nullptr;
        }
    }
    if (map_ == nullptr) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        throw Exception(Sjis("共有メモリ[") + name + Sjis("]を開けません"));
    }
}

TMxShareMemStream::~TMxShareMemStream()
{
    if (map_ != nullptr) ::munmap(map_, std::size_t(size_));
    if (fd_ >= 0) ::close(fd_);
}

std::int64_t TMxShareMemStream::Read(void* buffer, std::int64_t count)
{
    if (count <= 0 || position_ < 0 || position_ >= size_) return 0;
    const std::int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, static_cast<const char*>(map_) + position_, std::size_t(n));
    position_ += n;
    return n;
}

void TMxShareMemStream::Write(const void* buffer, std::int64_t count)
{
    if (count <= 0) return;
    if (position_ < 0 || position_ > size_ || count > size_ - position_) throw Exception(Sjis("共有メモリを逸脱した書き込み"));
    std::memcpy(static_cast<char*>(map_) + position_, buffer, std::size_t(count));
    position_ += count;
}

std::int64_t TMxShareMemStream::Seek(std::int64_t offset, TOrigin origin)
{
    const std::int64_t base = origin == TOrigin::Begin ? 0 : origin == TOrigin::Current ? position_ : size_;
    // Saturating: a far offset must not wrap round to a small position.
    if (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) position_ = std::numeric_limits<std::int64_t>::max();
    else if (offset < 0 && base < std::numeric_limits<std::int64_t>::min() - offset) position_ = std::numeric_limits<std::int64_t>::min();
    else position_ = base + offset;
    return position_;
}

}  // namespace pek
