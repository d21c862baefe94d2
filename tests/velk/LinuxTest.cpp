// The library as built, on this machine's devices.
#include "velk/velk.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

constexpr const char* kMissing = "velk-no-such-device";

std::string Message(std::uint32_t status, std::int32_t* length = nullptr)
{
    std::array<char, VELK_MESSAGE_BUFFER> buffer{};
    const std::int32_t n = getHostError(buffer.data(), status);
    if (length != nullptr)
        *length = n;
    return buffer.data();
}

TEST(VelkLinux, MissingDeviceGivesOpenFailureAndTheSystemText)
{
    const std::array<std::uint8_t, 6> inquiry{0x12, 0, 0, 0, 36, 0};
    std::array<std::uint8_t, 36> data;
    data.fill(0xAA);
    std::array<std::uint8_t, 32> sense;
    sense.fill(0xBB);
    std::uint32_t status = 0xFFFFFFFF;
    std::uint32_t returned = 0xFFFFFFFF;
    const std::uint32_t mask = 0;
    EXPECT_EQ(sptiexe(kMissing, VELK_DATA_IN, inquiry.data(), 6, data.data(), 36, sense.data(), 5,
                      &status, &returned, &mask),
              VELK_OPEN_FAILED);
    EXPECT_EQ(status, 0x00020000u);
    EXPECT_EQ(std::count(data.begin(), data.end(), 0), 36);
    EXPECT_EQ(std::count(sense.begin(), sense.end(), 0), 32);

    std::int32_t length = -1;
    const std::string text = Message(status, &length);
    EXPECT_EQ(text, std::strerror(ENOENT));
    EXPECT_EQ(length, static_cast<std::int32_t>(std::strlen(std::strerror(ENOENT))));

    std::uint32_t alignment = 0xFFFFFFFF;
    status = 0;
    EXPECT_EQ(getAlignmentMaskForDevice(kMissing, &alignment, &status), 0);
    EXPECT_EQ(status, 0x00020000u);
    EXPECT_EQ(alignment, 0u);
}

TEST(VelkLinux, RequestTheDeviceRefusesIsAFailureNotSuccess)
{
    // /dev/null opens but knows no SCSI requests.
    const std::array<std::uint8_t, 6> inquiry{0x12, 0, 0, 0, 8, 0};
    std::array<std::uint8_t, 8> data{1, 2, 3, 4, 5, 6, 7, 8};
    const auto before = data;
    std::uint32_t status = 0;
    std::uint32_t returned = 0xFFFFFFFF;
    EXPECT_EQ(sptiexe("null", VELK_DATA_IN, inquiry.data(), 6, data.data(), 8, nullptr, 5, &status,
                      &returned, nullptr),
              VELK_REQUEST_FAILED);
    EXPECT_EQ(status, static_cast<std::uint32_t>(ENOTTY) << 16);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(data, before);
    EXPECT_EQ(Message(status), std::strerror(ENOTTY));

    // Without a command the open alone is the whole call.
    EXPECT_EQ(sptiexe("null", VELK_DATA_IN, inquiry.data(), 0, nullptr, 0, nullptr, 5, &status,
                      &returned, nullptr),
              VELK_DONE);
    EXPECT_EQ(status, 0u);
}

TEST(VelkLinux, DeviceWithoutAdapterPropertiesGivesMaskZero)
{
    std::uint32_t mask = 0xFFFFFFFF;
    std::uint32_t status = 0xFFFFFFFF;
    EXPECT_EQ(getAlignmentMaskForDevice("null", &mask, &status), 1);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(status, 0u);
}

TEST(VelkLinux, BlockDeviceGivesTheQueueAlignment)
{
    struct stat st {};
    if (::stat("/dev/loop0", &st) != 0 || !S_ISBLK(st.st_mode))
        GTEST_SKIP() << "no /dev/loop0 here";
    const std::string attribute = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                                  std::to_string(minor(st.st_rdev)) + "/queue/dma_alignment";
    std::ifstream in(attribute);
    std::uint32_t expected = 0;
    if (!(in >> expected))
        GTEST_SKIP() << "kernel does not publish " << attribute;
    std::uint32_t mask = 0xFFFFFFFF;
    std::uint32_t status = 0xFFFFFFFF;
    EXPECT_EQ(getAlignmentMaskForDevice("loop0", &mask, &status), 1);
    EXPECT_EQ(mask, expected);
    EXPECT_EQ(status, 0u);
}

TEST(VelkLinux, UnknownErrorCodeHasNoText)
{
    std::array<char, VELK_MESSAGE_BUFFER + 1> buffer;
    buffer.fill('#');
    EXPECT_EQ(getHostError(buffer.data(), 0xFFFF0000u), 0);
    EXPECT_STREQ(buffer.data(), "Format message failed.  Error: 22\n");
    EXPECT_EQ(buffer[VELK_MESSAGE_BUFFER], '#');
}

} // namespace
