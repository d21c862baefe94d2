// getAlignmentMaskForDevice's logic on the fake platform: the four property
// queries, the errors they may meet, and what the caller gets.
#include "velk/FakePlatform.h"
#include "velk/PassThrough.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace velk {
namespace {

std::vector<std::uint8_t> Header(std::uint32_t size)
{
    const STORAGE_DESCRIPTOR_HEADER header{size, size};
    std::vector<std::uint8_t> bytes(sizeof header);
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

std::vector<std::uint8_t> Adapter(std::uint32_t mask)
{
    STORAGE_ADAPTER_DESCRIPTOR adapter{};
    adapter.Version = adapter.Size = sizeof adapter;
    adapter.MaximumTransferLength = 0x10000;
    adapter.AlignmentMask = mask;
    std::vector<std::uint8_t> bytes(sizeof adapter);
    std::memcpy(bytes.data(), &adapter, sizeof adapter);
    return bytes;
}

FakePlatform::QueryAnswer Bytes(std::vector<std::uint8_t> bytes)
{
    return {std::move(bytes), 0};
}

FakePlatform::QueryAnswer Error(std::uint32_t code)
{
    return {{}, code};
}

// Adapter with the given mask, device descriptor of 40 bytes.
std::vector<FakePlatform::QueryAnswer> FullAnswers(std::uint32_t mask)
{
    return {Bytes(Header(32)), Bytes(Adapter(mask)), Bytes(Header(40)),
            Bytes(std::vector<std::uint8_t>(40, 0xD0))};
}

class AlignmentMaskTest : public ::testing::Test {
protected:
    std::int32_t Run(const char* device = "sr0")
    {
        return AlignmentMaskForDevice(fake, device, &mask, &status);
    }

    FakePlatform fake;
    std::uint32_t mask = 0xDEADBEEF;
    std::uint32_t status = 0xDEADBEEF;
};

TEST_F(AlignmentMaskTest, FourQueriesInOrderGiveTheAdapterMask)
{
    fake.queryAnswers = FullAnswers(511);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(mask, 511u);
    EXPECT_EQ(status, 0u);

    ASSERT_EQ(fake.queries.size(), 4u);
    const STORAGE_PROPERTY_ID ids[] = {StorageAdapterProperty, StorageAdapterProperty,
                                       StorageDeviceProperty, StorageDeviceProperty};
    const std::size_t sizes[] = {8, 32, 8, 40};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& q = fake.queries[i];
        EXPECT_EQ(q.query.PropertyId, ids[i]) << i;
        EXPECT_EQ(q.query.QueryType, PropertyStandardQuery) << i;
        EXPECT_EQ(std::vector<std::uint8_t>(q.query.AdditionalParameters,
                                            q.query.AdditionalParameters + 4),
                  std::vector<std::uint8_t>(4, 0));
        EXPECT_EQ(q.outSize, sizes[i]) << i;
    }
    ASSERT_EQ(fake.opens.size(), 1u);
    EXPECT_EQ(fake.opens[0].path, "/dev/sr0");
    EXPECT_EQ(fake.opens[0].access, DeviceAccess::PropertiesOnly);
    EXPECT_EQ(fake.openHandles, 0);
    EXPECT_EQ(fake.closeCalls, 1);
}

TEST_F(AlignmentMaskTest, SizeZeroSkipsTheFullQuery)
{
    fake.queryAnswers = {Bytes(Header(0)), Bytes(Header(0))};
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(mask, 0u);
    ASSERT_EQ(fake.queries.size(), 2u);
    EXPECT_EQ(fake.queries[0].query.PropertyId, StorageAdapterProperty);
    EXPECT_EQ(fake.queries[1].query.PropertyId, StorageDeviceProperty);
}

TEST_F(AlignmentMaskTest, ToleratedErrorsAtAnyStepLeaveTheSequenceGoing)
{
    const auto A = StorageAdapterProperty;
    const auto D = StorageDeviceProperty;
    for (const std::uint32_t code :
         {error::kMoreData, error::kInvalidFunction, error::kNotSupported}) {
        struct Case {
            std::vector<FakePlatform::QueryAnswer> answers;
            std::vector<STORAGE_PROPERTY_ID> expectedIds;
            std::uint32_t expectedMask;
        };
        const Case cases[] = {
            // Adapter header fails: its size stays 0, the full query is skipped.
            {{Error(code), Bytes(Header(40)), Bytes(std::vector<std::uint8_t>(40))}, {A, D, D}, 0},
            // Full adapter answer fails: left zero-filled although the system
            // wrote into it, so no mask.
            {{Bytes(Header(32)), Error(code), Bytes(Header(40)), Bytes(std::vector<std::uint8_t>(40))},
             {A, A, D, D}, 0},
            {{Bytes(Header(32)), Bytes(Adapter(3)), Error(code)}, {A, A, D}, 3},
            {{Bytes(Header(32)), Bytes(Adapter(3)), Bytes(Header(40)), Error(code)}, {A, A, D, D}, 3},
        };
        for (std::size_t step = 0; step < 4; ++step) {
            FakePlatform fresh;
            fresh.queryAnswers = cases[step].answers;
            mask = status = 0xDEADBEEF;
            EXPECT_EQ(AlignmentMaskForDevice(fresh, "sr0", &mask, &status), 1)
                << "error " << code << " at step " << step;
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(mask, cases[step].expectedMask) << "error " << code << " at step " << step;
            std::vector<STORAGE_PROPERTY_ID> ids;
            for (const auto& q : fresh.queries)
                ids.push_back(q.query.PropertyId);
            EXPECT_EQ(ids, cases[step].expectedIds) << "error " << code << " at step " << step;
            EXPECT_EQ(fresh.openHandles, 0);
        }
    }
}

TEST_F(AlignmentMaskTest, OtherErrorsEndTheSequenceAsAFailure)
{
    for (std::size_t step = 0; step < 4; ++step) {
        FakePlatform fresh;
        fresh.queryAnswers = FullAnswers(3);
        fresh.queryAnswers[step] = Error(5);
        mask = status = 0xDEADBEEF;
        EXPECT_EQ(AlignmentMaskForDevice(fresh, "sr0", &mask, &status), 0) << step;
        EXPECT_EQ(status, 0x00050000u) << step;
        EXPECT_EQ(mask, 0u) << step;
        EXPECT_EQ(fresh.queries.size(), step + 1) << "no query after the failure";
        EXPECT_EQ(fresh.openHandles, 0);
        EXPECT_EQ(fresh.closeCalls, 1);
    }
}

TEST_F(AlignmentMaskTest, UnsupportedAdapterGivesSuccessWithMaskZero)
{
    // No answers at all: every query is "not supported".
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(fake.queries.size(), 2u);
}

TEST_F(AlignmentMaskTest, AnswerTooShortForTheMaskCountsAsNone)
{
    for (const std::uint32_t size : {8u, 16u, 19u}) {
        FakePlatform fresh;
        auto adapter = Adapter(511);
        adapter.resize(size);
        fresh.queryAnswers = {Bytes(Header(size)), Bytes(adapter), Bytes(Header(0))};
        mask = 0xDEADBEEF;
        EXPECT_EQ(AlignmentMaskForDevice(fresh, "sr0", &mask, &status), 1) << size;
        EXPECT_EQ(mask, 0u) << size;
        EXPECT_EQ(fresh.queries.at(1).outSize, size);
    }
    FakePlatform exact;
    auto adapter = Adapter(63);
    adapter.resize(20);
    exact.queryAnswers = {Bytes(Header(20)), Bytes(adapter)};
    EXPECT_EQ(AlignmentMaskForDevice(exact, "sr0", &mask, &status), 1);
    EXPECT_EQ(mask, 63u);
}

TEST_F(AlignmentMaskTest, FailedOpenReportsTheHostError)
{
    fake.openError = 13;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(status, 0x000D0000u);
    EXPECT_EQ(mask, 0u);
    EXPECT_TRUE(fake.queries.empty());
    EXPECT_EQ(fake.closeCalls, 0);
}

TEST_F(AlignmentMaskTest, DevicePathIsCutAtTwentyFourCharacters)
{
    const std::string name(30, 'd');
    Run(name.c_str());
    ASSERT_EQ(fake.opens.size(), 1u);
    EXPECT_EQ(fake.opens[0].path, "/dev/" + std::string(19, 'd'));
}

TEST_F(AlignmentMaskTest, MissingOutputPointersDoNotCrash)
{
    fake.queryAnswers = FullAnswers(7);
    EXPECT_EQ(AlignmentMaskForDevice(fake, "sr0", nullptr, nullptr), 1);
    fake.openError = 2;
    EXPECT_EQ(AlignmentMaskForDevice(fake, "sr0", nullptr, nullptr), 0);
}

} // namespace
} // namespace velk
