#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace pek {

std::uint32_t timeGetTime() noexcept
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint32_t GetTickCount() noexcept
{
    return timeGetTime();
}

void Sleep(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace pek
