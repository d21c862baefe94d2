// sptiexe's logic on the fake platform: what reaches the system, what comes
// back to the caller, and what bad input gets.
#include "velk/FakePlatform.h"
#include "velk/PassThrough.h"
#include "velk/SgIo.h"
#include "velk/velk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace velk {
namespace {

constexpr std::uint32_t kGarbage = 0xDEADBEEF;

std::uint32_t U32At(const RequestBlock& block, std::size_t offset)
{
    std::uint32_t value = 0;
    std::memcpy(&value, reinterpret_cast<const std::uint8_t*>(&block) + offset, sizeof value);
    return value;
}

std::uint8_t ByteAt(const RequestBlock& block, std::size_t offset)
{
    return reinterpret_cast<const std::uint8_t*>(&block)[offset];
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

class SptiexeTest : public ::testing::Test {
protected:
    std::int32_t Run(std::uint8_t direction, const std::uint8_t* cdb, std::uint8_t cdbLength,
                     std::uint8_t* data, std::uint32_t dataLength, std::uint8_t* sense = nullptr,
                     const std::uint32_t* mask = nullptr, const char* device = "sg1",
                     std::uint32_t timeOut = 30)
    {
        return Sptiexe(fake, device, direction, cdb, cdbLength, data, dataLength, sense, timeOut,
                       &status, &returned, mask);
    }

    void ExpectClosedOnce() const
    {
        EXPECT_EQ(fake.openHandles, 0);
        EXPECT_EQ(fake.closeCalls, 1);
    }

    FakePlatform fake;
    std::uint32_t status = kGarbage;
    std::uint32_t returned = kGarbage;
    const std::array<std::uint8_t, 6> inquiry{0x12, 0, 0, 0, 36, 0};
};

TEST_F(SptiexeTest, RequestBlockCarriesEveryFieldAtItsOffset)
{
    fake.bytesReturnedReply = 44;
    std::vector<std::uint8_t> data(36);
    const std::uint32_t mask = 0;
    ASSERT_EQ(Run(1, inquiry.data(), 6, data.data(), 36, nullptr, &mask, "sg1", 7), VELK_DONE);

    ASSERT_EQ(fake.requests.size(), 1u);
    const RequestBlock& block = fake.requests[0].block;
    EXPECT_EQ(sizeof block, 80u);
    EXPECT_EQ(ByteAt(block, 0) | (ByteAt(block, 1) << 8), 44);  // Length
    EXPECT_EQ(ByteAt(block, 2), 0);                             // ScsiStatus
    EXPECT_EQ(ByteAt(block, 3), 0);                             // PathId
    EXPECT_EQ(ByteAt(block, 4), 1);                             // TargetId
    EXPECT_EQ(ByteAt(block, 5), 0);                             // Lun
    EXPECT_EQ(ByteAt(block, 6), 6);                             // CdbLength
    EXPECT_EQ(ByteAt(block, 7), 32);                            // SenseInfoLength
    EXPECT_EQ(ByteAt(block, 8), 1);                             // DataIn
    EXPECT_EQ(ByteAt(block, 9) | ByteAt(block, 10) | ByteAt(block, 11), 0);
    EXPECT_EQ(U32At(block, 12), 36u);                           // DataTransferLength
    EXPECT_EQ(U32At(block, 16), 7u);                            // TimeOutValue, seconds
    EXPECT_EQ(U32At(block, 20), 0u);                            // DataBuffer slot
    EXPECT_EQ(U32At(block, 24), 48u);                           // SenseInfoOffset
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_EQ(ByteAt(block, 28 + i), i < 6 ? inquiry[i] : 0) << "CDB byte " << i;
    for (std::size_t i = 44; i < 80; ++i)
        EXPECT_EQ(ByteAt(block, i), 0) << "filler or sense byte " << i;

    EXPECT_NE(fake.requests[0].transfer, nullptr);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(returned, 44u);
    ASSERT_EQ(fake.opens.size(), 1u);
    EXPECT_EQ(fake.opens[0].path, "/dev/sg1");
    EXPECT_EQ(fake.opens[0].access, DeviceAccess::ReadWrite);
    ExpectClosedOnce();
}

TEST_F(SptiexeTest, CdbOfSixteenBytesIsSentWhole)
{
    const auto cdb = Pattern(16, 0x80);
    ASSERT_EQ(Run(2, cdb.data(), 16, nullptr, 0), VELK_DONE);
    ASSERT_EQ(fake.requests.size(), 1u);
    const auto& sptd = fake.requests[0].block.Sptd;
    EXPECT_EQ(sptd.CdbLength, 16);
    EXPECT_EQ(std::vector<std::uint8_t>(sptd.Cdb, sptd.Cdb + 16), cdb);
}

TEST_F(SptiexeTest, CdbOfSeventeenBytesOrMoreOrMissingSendsNothing)
{
    // The caller's array is exactly as long as it claims; nothing past it is read.
    for (const std::uint8_t length : {std::uint8_t{17}, std::uint8_t{64}, std::uint8_t{255}}) {
        FakePlatform fresh;
        const std::vector<std::uint8_t> cdb = Pattern(length, 1);
        std::vector<std::uint8_t> data = Pattern(8, 3);
        const auto before = data;
        const std::int32_t result = Sptiexe(fresh, "sg0", 1, cdb.data(), length, data.data(), 8,
                                            nullptr, 5, &status, &returned, nullptr);
        EXPECT_EQ(result, VELK_BAD_CDB) << int(length);
        EXPECT_TRUE(fresh.requests.empty());
        EXPECT_EQ(data, before);
        EXPECT_EQ(fresh.openHandles, 0);
        EXPECT_EQ(status, 0u);
    }
    EXPECT_EQ(Run(1, nullptr, 6, nullptr, 0), VELK_BAD_CDB);
    EXPECT_TRUE(fake.requests.empty());
    ExpectClosedOnce();
}

TEST_F(SptiexeTest, NoCommandForCdbLengthZeroOrDirectionZero)
{
    const auto longCdb = Pattern(17, 1);
    std::vector<std::uint8_t> data = Pattern(4, 9);
    const auto before = data;
    EXPECT_EQ(Run(1, inquiry.data(), 0, data.data(), 4), VELK_DONE);
    EXPECT_EQ(Run(0, inquiry.data(), 6, data.data(), 4), VELK_DONE);
    // Checked before the CDB and the data buffer.
    EXPECT_EQ(Run(0, longCdb.data(), 17, nullptr, 512), VELK_DONE);
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_EQ(fake.opens.size(), 3u);
    EXPECT_EQ(fake.closeCalls, 3);
    EXPECT_EQ(fake.openHandles, 0);
    EXPECT_EQ(data, before);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(returned, 0u);
}

TEST_F(SptiexeTest, DataLengthWithoutBufferSendsNothing)
{
    EXPECT_EQ(Run(1, inquiry.data(), 6, nullptr, 512), VELK_NO_DATA_BUFFER);
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_EQ(status, 0u);
    ExpectClosedOnce();
}

TEST_F(SptiexeTest, NoBufferAndNoLengthSendsCommandWithoutData)
{
    const std::array<std::uint8_t, 6> testUnitReady{};
    EXPECT_EQ(Run(2, testUnitReady.data(), 6, nullptr, 0), VELK_DONE);
    ASSERT_EQ(fake.requests.size(), 1u);
    EXPECT_EQ(fake.requests[0].transfer, nullptr);
    EXPECT_EQ(fake.requests[0].block.Sptd.DataTransferLength, 0u);
    ExpectClosedOnce();
}

TEST_F(SptiexeTest, TransferBufferFollowsTheAlignmentMask)
{
    for (const std::uint32_t mask : {0u, 3u, 511u}) {
        FakePlatform fresh;
        std::vector<std::uint8_t> data = Pattern(100, static_cast<std::uint8_t>(mask));
        const auto before = data;
        ASSERT_EQ(Sptiexe(fresh, "sg0", 1, inquiry.data(), 6, data.data(), 100, nullptr, 5,
                          &status, &returned, &mask),
                  VELK_DONE);
        ASSERT_EQ(fresh.requests.size(), 1u);
        const auto address = reinterpret_cast<std::uintptr_t>(fresh.requests[0].transfer);
        EXPECT_NE(address, 0u);
        EXPECT_NE(fresh.requests[0].transfer, data.data()) << "the caller's buffer is not handed down";
        EXPECT_EQ(address & mask, 0u) << "mask " << mask;
        EXPECT_EQ(fresh.requests[0].dataSeen, before) << "mask " << mask;
    }
    // No mask at all counts as 0.
    std::vector<std::uint8_t> data(10);
    EXPECT_EQ(Run(1, inquiry.data(), 6, data.data(), 10, nullptr, nullptr), VELK_DONE);
    EXPECT_EQ(fake.requests.size(), 1u);
}

TEST_F(SptiexeTest, DataGoesDownAndComesBackForEveryDirection)
{
    // 1 data in, 2 unspecified, 3 data to the device (the request carries the system's data-out
    // value 0, which the kernel request turns into a transfer to the device), 9 a value only the
    // system can judge. The alignments are ones malloc does not give by itself, so data copied
    // back from anywhere but the aligned buffer shows.
    struct Case {
        std::uint8_t direction, dataIn;
        std::uint32_t mask;
    };
    for (const Case c : {Case{1, 1, 4095}, Case{2, 2, 255}, Case{VELK_DATA_TO_DEVICE, 0, 4095}, Case{9, 9, 63}}) {
        FakePlatform fresh;
        fresh.dataReply = {0xA1, 0xA2, 0xA3};
        std::vector<std::uint8_t> data = Pattern(64, c.direction);
        const auto before = data;
        ASSERT_EQ(Sptiexe(fresh, "sg0", c.direction, inquiry.data(), 6, data.data(), 64, nullptr, 5,
                          &status, &returned, &c.mask),
                  VELK_DONE);
        ASSERT_EQ(fresh.requests.size(), 1u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(fresh.requests[0].transfer) & c.mask, 0u);
        EXPECT_EQ(fresh.requests[0].block.Sptd.DataIn, c.dataIn);
        EXPECT_EQ(fresh.requests[0].dataSeen, before) << "copy-in, direction " << int(c.direction);
        auto expected = before;
        std::copy(fresh.dataReply.begin(), fresh.dataReply.end(), expected.begin());
        EXPECT_EQ(data, expected) << "copy-back, direction " << int(c.direction);
        if (c.direction <= VELK_DATA_TO_DEVICE) {
            sg_io_hdr_t io;
            RequestBlock block = fresh.requests[0].block;
            ASSERT_EQ(sgio::Prepare(block, data.data(), io), 0);
            EXPECT_EQ(io.dxfer_direction, c.direction == VELK_DATA_TO_DEVICE ? SG_DXFER_TO_DEV
                                          : c.direction == 1                 ? SG_DXFER_FROM_DEV
                                                                             : SG_DXFER_TO_FROM_DEV);
        }
    }
}

TEST_F(SptiexeTest, CheckConditionGivesStatusTwoAndTheSenseBytes)
{
    fake.scsiStatus = 2;
    fake.senseReply = Pattern(32, 0x70);
    fake.bytesReturnedReply = 80;
    std::array<std::uint8_t, 33> sense{};
    sense.fill(0x55);
    std::vector<std::uint8_t> data(36);
    EXPECT_EQ(Run(1, inquiry.data(), 6, data.data(), 36, sense.data()), VELK_DONE);
    EXPECT_EQ(status, 0x00000002u);
    EXPECT_EQ(returned, 80u);
    EXPECT_EQ(std::vector<std::uint8_t>(sense.begin(), sense.begin() + 32), fake.senseReply);
    EXPECT_EQ(sense[32], 0x55) << "only 32 sense bytes are written";

    // Without a sense buffer the command still runs.
    FakePlatform other;
    other.scsiStatus = 2;
    EXPECT_EQ(Sptiexe(other, "sg1", 1, inquiry.data(), 6, nullptr, 0, nullptr, 5, &status,
                      &returned, nullptr),
              VELK_DONE);
    EXPECT_EQ(status, 2u);
}

TEST_F(SptiexeTest, FailedOpenZeroesDataAndSenseAndReportsTheHostError)
{
    fake.openError = 2;
    std::vector<std::uint8_t> data(65, 0x77);
    std::array<std::uint8_t, 33> sense{};
    sense.fill(0x66);
    EXPECT_EQ(Run(1, inquiry.data(), 6, data.data(), 64, sense.data()), VELK_OPEN_FAILED);
    EXPECT_EQ(status, 0x00020000u);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(std::count(data.begin(), data.begin() + 64, 0), 64);
    EXPECT_EQ(data[64], 0x77) << "only data-length bytes are cleared";
    EXPECT_EQ(std::count(sense.begin(), sense.begin() + 32, 0), 32);
    EXPECT_EQ(sense[32], 0x66);
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_EQ(fake.closeCalls, 0);

    // Only the low 16 bits of the error fit in the status word; no buffers is fine.
    FakePlatform other;
    other.openError = 0x12345;
    EXPECT_EQ(Sptiexe(other, "sg1", 1, inquiry.data(), 6, nullptr, 0, nullptr, 5, &status,
                      &returned, nullptr),
              VELK_OPEN_FAILED);
    EXPECT_EQ(status, 0x23450000u);
}

TEST_F(SptiexeTest, RefusedRequestIsReportedAsAFailureWithTheHostError)
{
    fake.requestError = 25;
    fake.bytesReturnedReply = 44;
    std::vector<std::uint8_t> data = Pattern(16, 4);
    const auto before = data;
    std::array<std::uint8_t, 32> sense{};
    sense.fill(0x11);
    EXPECT_EQ(Run(1, inquiry.data(), 6, data.data(), 16, sense.data()), VELK_REQUEST_FAILED);
    ASSERT_EQ(fake.requests.size(), 1u);
    EXPECT_EQ(status, 0x00190000u);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(data, before) << "the caller gets back what it passed";
    EXPECT_EQ(std::count(sense.begin(), sense.end(), 0), 32);
    ExpectClosedOnce();
}

TEST_F(SptiexeTest, TransferBufferThatCannotExistSendsNothing)
{
    // data length + mask does not fit in 32 bits: refused before the
    // caller's (small) buffer is touched.
    std::vector<std::uint8_t> data = Pattern(16, 2);
    const auto before = data;
    const std::uint32_t mask = 0x1F;
    EXPECT_EQ(Run(1, inquiry.data(), 6, data.data(), 0xFFFFFFF0u, nullptr, &mask), VELK_NO_MEMORY);
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_EQ(data, before);
    EXPECT_EQ(status, 0u);
    ExpectClosedOnce();
}

TEST_F(SptiexeTest, DevicePathIsCutAtTwentyFourCharacters)
{
    const std::string nineteen(19, 'n');
    const std::string twenty = std::string(19, 't') + "X";
    const std::string long_ = std::string(100, 'L');
    Run(1, inquiry.data(), 0, nullptr, 0, nullptr, nullptr, nineteen.c_str());
    Run(1, inquiry.data(), 0, nullptr, 0, nullptr, nullptr, twenty.c_str());
    Run(1, inquiry.data(), 0, nullptr, 0, nullptr, nullptr, long_.c_str());
    Run(1, inquiry.data(), 0, nullptr, 0, nullptr, nullptr, nullptr);
    ASSERT_EQ(fake.opens.size(), 4u);
    EXPECT_EQ(fake.opens[0].path, "/dev/" + nineteen);
    EXPECT_EQ(fake.opens[1].path, "/dev/" + std::string(19, 't'));
    EXPECT_EQ(fake.opens[2].path, "/dev/" + std::string(19, 'L'));
    EXPECT_EQ(fake.opens[3].path, "/dev/");
    for (const auto& open : fake.opens)
        EXPECT_LE(open.path.size(), 24u);
}

TEST_F(SptiexeTest, MissingStatusAndCountPointersDoNotCrash)
{
    EXPECT_EQ(Sptiexe(fake, "sg1", 1, inquiry.data(), 6, nullptr, 0, nullptr, 5, nullptr, nullptr,
                      nullptr),
              VELK_DONE);
    fake.openError = 2;
    EXPECT_EQ(Sptiexe(fake, "sg1", 1, inquiry.data(), 6, nullptr, 0, nullptr, 5, nullptr, nullptr,
                      nullptr),
              VELK_OPEN_FAILED);
}

} // namespace
} // namespace velk
