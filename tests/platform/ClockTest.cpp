#include "platform/Clock.h"

#include <gtest/gtest.h>

TEST(Clock, MillisecondCountsAdvanceMonotonically)
{
    const std::uint32_t before = pek::timeGetTime();
    pek::Sleep(2);
    const std::uint32_t after = pek::GetTickCount();
    EXPECT_GE(static_cast<std::uint32_t>(after - before), 1u);
}
