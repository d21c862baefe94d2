#pragma once
// An anonymous temporary file: no name another user could guess or replace, mode 0600, gone from
// the file system from the start, so it vanishes with its descriptor even after a crash.
#include <cstdint>
#include <string_view>

namespace pek {

class TBackingFile {
public:
    // Throws Exception with the system's error text when no file can be made.
    TBackingFile();
    ~TBackingFile();
    TBackingFile(TBackingFile&& other) noexcept;
    TBackingFile& operator=(TBackingFile&& other) noexcept;
    TBackingFile(const TBackingFile&) = delete;
    TBackingFile& operator=(const TBackingFile&) = delete;

    // Whole transfers or an Exception; reading past the end gives fewer bytes (the count read).
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count) const;
    void WriteAt(std::int64_t offset, const void* buffer, std::int64_t count);
    void Resize(std::int64_t size);
    std::int64_t FileSize() const;
    // Moves count bytes from src to dst inside the file (the ranges may overlap).
    void Move(std::int64_t src, std::int64_t dst, std::int64_t count);

private:
    int fd_ = -1;
};

}  // namespace pek
