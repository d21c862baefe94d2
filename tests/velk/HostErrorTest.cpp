// getHostError's logic on the fake platform.
#include "velk/FakePlatform.h"
#include "velk/PassThrough.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace velk {
namespace {

class HostErrorTest : public ::testing::Test {
protected:
    HostErrorTest() { buffer.fill('#'); }

    // 80 bytes for the message and one guard byte behind them.
    std::array<char, 81> buffer{};
    FakePlatform fake;
};

TEST_F(HostErrorTest, MessageOfTheHostHalfWithItsLength)
{
    fake.messages[2] = "No such file or directory";
    EXPECT_EQ(HostError(fake, buffer.data(), 0x00020002u), 25);
    EXPECT_STREQ(buffer.data(), "No such file or directory");
    ASSERT_EQ(fake.messageCodes.size(), 1u);
    EXPECT_EQ(fake.messageCodes[0], 2u) << "the SCSI half is not part of the code";
    // The whole 80-byte message buffer is handed over, nothing more.
    for (std::size_t i = 25; i < 80; ++i)
        EXPECT_EQ(buffer[i], '\0') << i;
    EXPECT_EQ(buffer[80], '#');
}

TEST_F(HostErrorTest, LongMessageIsCutToSeventyNineCharacters)
{
    fake.messages[5] = std::string(200, 'm');
    EXPECT_EQ(HostError(fake, buffer.data(), 0x00050000u), 79);
    EXPECT_EQ(std::string(buffer.data()), std::string(79, 'm'));
    EXPECT_EQ(buffer[80], '#');
}

TEST_F(HostErrorTest, NoMessageGivesZeroAndSaysWhy)
{
    fake.messageError = 22;
    EXPECT_EQ(HostError(fake, buffer.data(), 0xFFFF0000u), 0);
    EXPECT_STREQ(buffer.data(), "Format message failed.  Error: 22\n");
    EXPECT_EQ(fake.messageCodes.at(0), 0xFFFFu);
    EXPECT_EQ(buffer[80], '#');

    fake.messageError = 0x7FFFFFFF; // the longest text still fits
    EXPECT_EQ(HostError(fake, buffer.data(), 0x00010000u), 0);
    EXPECT_STREQ(buffer.data(), "Format message failed.  Error: 2147483647\n");
}

TEST_F(HostErrorTest, NullBufferGivesZero)
{
    fake.messages[2] = "No such file or directory";
    EXPECT_EQ(HostError(fake, nullptr, 0x00020000u), 0);
}

} // namespace
} // namespace velk
