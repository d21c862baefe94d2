#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace pek {

// The most recent bytes received on one port. There is no read pointer: every reader keeps its
// own position and gets the advanced one back, so several readers follow the same stream and
// nothing a reader does removes data. Old data is overwritten silently.
//
// The port's receive thread puts, scripts on their threads read and clear, all at the same time:
// each operation runs whole under a short lock, so a reader sees the bytes of whole puts in order
// and a clear falls between two puts. Pos alone reads the published write position without it.
class TRingBuf {
public:
    explicit TRingBuf(std::int32_t size);
    TRingBuf(const TRingBuf&) = delete;
    TRingBuf& operator=(const TRingBuf&) = delete;

    void Put(const void* bytes, std::int32_t count);
    std::int32_t Pos() const noexcept { return pos_.load(std::memory_order_acquire); }
    std::int32_t Size() const noexcept { return size_; }

    // Up to `count` bytes available from `pos`; `pos` advances past them. Any position is reduced
    // modulo Size first (negative ones too); a negative count delivers nothing.
    std::string Get(std::int32_t& pos, std::int32_t count) const;
    std::string Get(std::int32_t& pos, std::int32_t count, std::int32_t& delivered) const;
    // Searches the data available from `pos` for `pattern`. Found: `pos` is the index just behind
    // the match (it may exceed Size-1 for a match across the end of the storage). Not found: `pos`
    // is the first index where a match may still begin once more data has arrived.
    bool Srch(std::int32_t& pos, std::string_view pattern) const;
    // Bytes available from `pos` (also right for a position past Size-1 as Srch returns it).
    std::int32_t DataSize(std::int32_t pos) const noexcept;
    void Clear();

private:
    std::int32_t Reduce(std::int32_t pos) const noexcept;
    bool MatchesAt(std::int32_t at, std::string_view pattern) const noexcept;

    const std::int32_t size_;
    std::unique_ptr<char[]> storage_;
    mutable std::mutex mutex_;
    std::atomic<std::int32_t> pos_{0};
};

}  // namespace pek
