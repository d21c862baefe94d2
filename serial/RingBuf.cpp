#include "serial/RingBuf.h"

#include <algorithm>
#include <cstring>

namespace pek {

// Zeroed: a reader may look ahead of the write position before anything has been received.
TRingBuf::TRingBuf(std::int32_t size)
    : size_(std::max<std::int32_t>(size, 0)), storage_(std::make_unique<char[]>(std::size_t(size_)))
{
}

std::int32_t TRingBuf::Reduce(std::int32_t pos) const noexcept
{
    const std::int32_t r = pos % size_;
    return r < 0 ? r + size_ : r;
}

void TRingBuf::Put(const void* bytes, std::int32_t count)
{
    if (size_ == 0 || count <= 0 || bytes == nullptr) return;
    const char* src = static_cast<const char*>(bytes);
    const std::lock_guard lock(mutex_);
    const std::int32_t start = pos_.load(std::memory_order_relaxed);
    // Only the last Size bytes survive; the position still advances by the whole count.
    const std::int32_t skip = count > size_ ? count - size_ : 0;
    std::int32_t at = std::int32_t((std::int64_t(start) + skip) % size_);
    std::int32_t left = count - skip;
    src += skip;
    while (left > 0) {
        const std::int32_t n = std::min(left, size_ - at);
        std::memcpy(storage_.get() + at, src, std::size_t(n));
        src += n;
        left -= n;
        at += n;
        if (at == size_) at = 0;
    }
    // The bytes are in place before the new position becomes visible to readers.
    pos_.store(at, std::memory_order_release);
}

std::string TRingBuf::Get(std::int32_t& pos, std::int32_t count) const
{
    std::int32_t delivered = 0;
    return Get(pos, count, delivered);
}

std::string TRingBuf::Get(std::int32_t& pos, std::int32_t count, std::int32_t& delivered) const
{
    if (size_ == 0) return {};
    const std::lock_guard lock(mutex_);
    const std::int32_t writePos = Pos();
    const std::int32_t p = Reduce(pos);
    const std::int64_t want = std::max<std::int32_t>(count, 0);
    std::string out;
    if (p + want > size_ && p > writePos) {
        const std::int32_t first = size_ - p;
        const std::int32_t second = std::int32_t(std::min<std::int64_t>(want - first, writePos));
        out.resize(std::size_t(first) + std::size_t(second));
        std::memcpy(out.data(), storage_.get() + p, std::size_t(first));
        std::memcpy(out.data() + first, storage_.get(), std::size_t(second));
        pos = second;
    } else {
        // Behind a wrap the wanted bytes all lie before the end of the storage (p + want <= Size).
        const std::int32_t n = p > writePos ? std::int32_t(want) : std::int32_t(std::min<std::int64_t>(want, writePos - p));
        out.assign(storage_.get() + p, std::size_t(n));
        pos = p + n;
    }
    delivered = std::int32_t(out.size());
    return out;
}

bool TRingBuf::MatchesAt(std::int32_t at, std::string_view pattern) const noexcept
{
    // `at` + length may run past the end of the storage: the comparison then wraps to index 0.
    const std::size_t len = pattern.size();
    const std::size_t first = std::min(len, std::size_t(size_ - at));
    if (std::memcmp(storage_.get() + at, pattern.data(), first) != 0) return false;
    return std::memcmp(storage_.get(), pattern.data() + first, len - first) == 0;
}

bool TRingBuf::Srch(std::int32_t& pos, std::string_view pattern) const
{
    if (pattern.empty()) return true;
    if (size_ == 0) return false;
    const std::int64_t len = std::int64_t(pattern.size());
    const std::lock_guard lock(mutex_);
    const std::int64_t writePos = Pos();
    // A position past the end (as a match across the end returns) names the same byte as its
    // remainder; scanning such a position from 0 would search bytes already consumed.
    std::int64_t p = Reduce(pos);
    if (len > size_) {
        pos = std::int32_t(p);
        return false;
    }
    const char head = pattern.front();
    auto plainScan = [&](std::int64_t limit) {
        for (; p <= limit; ++p) {
            if (storage_[std::size_t(p)] == head && MatchesAt(std::int32_t(p), pattern)) return true;
        }
        return false;
    };

    const bool wrapped = p > writePos;
    if (plainScan(wrapped ? size_ - len : writePos - len)) {
        pos = std::int32_t(p + len);
        return true;
    }
    if (!wrapped) {
        pos = std::int32_t(p);
        return false;
    }
    // Matches that run across the end of the storage. One that would end beyond the write
    // position would compare bytes not received yet; from there on every later start would too.
    for (; p < size_; ++p) {
        if (p + len - size_ > writePos) {
            pos = std::int32_t(p);
            return false;
        }
        if (MatchesAt(std::int32_t(p), pattern)) {
            pos = std::int32_t(p + len);
            return true;
        }
    }
    p = 0;
    if (plainScan(writePos - len)) {
        pos = std::int32_t(p + len);
        return true;
    }
    pos = std::int32_t(p);
    return false;
}

std::int32_t TRingBuf::DataSize(std::int32_t pos) const noexcept
{
    // In 64 bits: a script may pass any position, and the difference must not overflow.
    const std::int64_t writePos = Pos();
    const std::int64_t p = pos;
    return std::int32_t(writePos >= p ? writePos - p : writePos + size_ - p);
}

void TRingBuf::Clear()
{
    const std::lock_guard lock(mutex_);
    if (size_ > 0) std::memset(storage_.get(), 0, std::size_t(size_));
    pos_.store(0, std::memory_order_release);
}

}  // namespace pek
