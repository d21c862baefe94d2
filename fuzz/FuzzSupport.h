#pragma once
// Shared by the harnesses: reading a fuzzer's bytes as a series of choices, and a check that fails
// the same way under libFuzzer and in the corpus replay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace pek::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, size_t size) : bytes_(reinterpret_cast<const char*>(data), size) {}

    bool Empty() const { return bytes_.empty(); }
    // 0 once the input is used up, so every input is a complete run.
    unsigned Byte()
    {
        if (bytes_.empty()) return 0;
        const auto b = static_cast<unsigned char>(bytes_.front());
        bytes_.remove_prefix(1);
        return b;
    }
    // A number in [0, limit], from as many bytes as the limit needs.
    std::uint32_t Number(std::uint32_t limit)
    {
        std::uint64_t value = 0;
        for (std::uint64_t span = limit; span > 0; span >>= 8) value = (value << 8) | Byte();
        return limit == 0 ? 0 : std::uint32_t(value % (std::uint64_t(limit) + 1));
    }
    std::string Bytes(size_t limit)
    {
        const size_t wanted = Number(std::uint32_t(limit));  // before the size: it consumes bytes
        const size_t n = std::min(wanted, bytes_.size());
        std::string out(bytes_.substr(0, n));
        bytes_.remove_prefix(n);
        return out;
    }
    std::string Rest()
    {
        std::string out(bytes_);
        bytes_ = {};
        return out;
    }

private:
    std::string_view bytes_;
};

// A folder for the files a harness writes: memory-backed where possible, since every settings
// write is flushed to disk.
std::string ScratchFile(const char* name);

}  // namespace pek::fuzz
