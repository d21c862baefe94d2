#pragma once
// A stream over a named block of POSIX shared memory. Every access is bounded by the size the
// block really has, which another program may have made smaller than asked for.
#include <cstdint>
#include <string>

namespace pek {

class TMxShareMemStream {
public:
    enum class TOrigin { Begin, Current, End };

    // Creates the block (mode 0600) or opens the existing one and maps it. Throws Exception
    // "共有メモリ[name]を開けません" when that fails, and refuses (with its own message) a block
    // another user owns or that group or others may write.
    TMxShareMemStream(const std::string& name, std::int64_t size);
    ~TMxShareMemStream();
    TMxShareMemStream(const TMxShareMemStream&) = delete;
    TMxShareMemStream& operator=(const TMxShareMemStream&) = delete;

    std::int64_t Size() const { return size_; }
    std::int64_t Position() const { return position_; }
    // Up to count bytes from the position, never past the block; the number copied.
    std::int64_t Read(void* buffer, std::int64_t count);
    // Throws Exception "共有メモリを逸脱した書き込み" when the write would leave the block.
    void Write(const void* buffer, std::int64_t count);
    std::int64_t Seek(std::int64_t offset, TOrigin origin);

private:
    int fd_ = -1;
    void* map_ = nullptr;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

}  // namespace pek
