#pragma once
#include <cstdint>

namespace pek {

// 32-bit millisecond counts of the monotonic clock; they wrap after about 49.7 days like their
// Windows namesakes, so compare them by unsigned difference.
std::uint32_t timeGetTime() noexcept;
std::uint32_t GetTickCount() noexcept;
void Sleep(std::uint32_t milliseconds);

}  // namespace pek
