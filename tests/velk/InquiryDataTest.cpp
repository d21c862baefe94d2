#include "tools/InquiryData.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace velk {
namespace {

std::array<std::uint8_t, 96> Answer()
{
    std::array<std::uint8_t, 96> data{};
    data[0] = 0x05;
    data[4] = 31;
    std::memcpy(data.data() + 8, "ACME    ", 8);
    std::memcpy(data.data() + 16, "DVD-RW Drive    ", 16);
    std::memcpy(data.data() + 32, "1.0 ", 4);
    return data;
}

TEST(VelkInquiryData, FieldsWithoutTheirPadding)
{
    const auto data = Answer();
    const InquiryText text = ParseInquiry(data, 36);
    EXPECT_EQ(text.vendor, "ACME");
    EXPECT_EQ(text.product, "DVD-RW Drive");
    EXPECT_EQ(text.revision, "1.0");
}

TEST(VelkInquiryData, ShortAnswerAndUnprintableBytes)
{
    auto data = Answer();
    data[9] = 0x01;
    data[10] = 0xFF;
    const InquiryText text = ParseInquiry(data, 20);
    EXPECT_EQ(text.vendor, "A..E");
    EXPECT_EQ(text.product, "DVD-");
    EXPECT_EQ(text.revision, "");
    EXPECT_EQ(ParseInquiry(data, 0).vendor, "");
}

TEST(VelkInquiryData, SenseInBothFormats)
{
    std::array<std::uint8_t, 32> fixed{};
    fixed[0] = 0x70;
    fixed[2] = 0x05;
    fixed[12] = 0x24;
    EXPECT_EQ(DescribeSense(fixed), "sense key 5, ASC 0x24, ASCQ 0x00");
    std::array<std::uint8_t, 32> descriptor{};
    descriptor[0] = 0x72;
    descriptor[1] = 0x02;
    descriptor[2] = 0x3A;
    descriptor[3] = 0x01;
    EXPECT_EQ(DescribeSense(descriptor), "sense key 2, ASC 0x3A, ASCQ 0x01");
    EXPECT_EQ(DescribeSense(std::array<std::uint8_t, 32>{}), "no sense data");
}

} // namespace
} // namespace velk
