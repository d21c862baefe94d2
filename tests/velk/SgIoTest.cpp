// The SG_IO header built from a request block, and the kernel's answer read
// back into it, as the Linux platform hands them to and takes them from the ioctl.
#include "velk/SgIo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace velk {
namespace {

RequestBlock Block(std::uint8_t direction, std::uint32_t length, std::uint32_t timeOut = 30)
{
    RequestBlock block{};
    block.Sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    block.Sptd.TargetId = 1;
    block.Sptd.CdbLength = 6;
    block.Sptd.Cdb[0] = 0x12;
    block.Sptd.Cdb[4] = 36;
    block.Sptd.SenseInfoLength = 32;
    block.Sptd.DataIn = direction;
    block.Sptd.DataTransferLength = length;
    block.Sptd.TimeOutValue = timeOut;
    block.Sptd.SenseInfoOffset = 48;
    return block;
}

TEST(VelkSgIo, HeaderCarriesTheBlocksFields)
{
    std::vector<std::uint8_t> data(36);
    RequestBlock block = Block(1, 36, 7);
    sg_io_hdr_t io;
    ASSERT_EQ(sgio::Prepare(block, data.data(), io), 0);
    EXPECT_EQ(io.interface_id, 'S');
    EXPECT_EQ(io.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(io.cmd_len, 6);
    EXPECT_EQ(io.cmdp, block.Sptd.Cdb);
    EXPECT_EQ(io.dxfer_len, 36u);
    EXPECT_EQ(io.dxferp, data.data());
    EXPECT_EQ(io.mx_sb_len, 32);
    EXPECT_EQ(io.sbp, block.SenseBuffer) << "sense lands at offset 48 of the block";
    EXPECT_EQ(io.timeout, 7000u) << "milliseconds";
    EXPECT_EQ(io.iovec_count, 0);
    EXPECT_EQ(io.flags, 0u);
}

TEST(VelkSgIo, DirectionsAndEmptyTransfers)
{
    std::vector<std::uint8_t> data(8);
    sg_io_hdr_t io;
    RequestBlock out = Block(0, 8);
    ASSERT_EQ(sgio::Prepare(out, data.data(), io), 0);
    EXPECT_EQ(io.dxfer_direction, SG_DXFER_TO_DEV);
    RequestBlock both = Block(2, 8);
    ASSERT_EQ(sgio::Prepare(both, data.data(), io), 0);
    EXPECT_EQ(io.dxfer_direction, SG_DXFER_TO_FROM_DEV);
    for (const std::uint8_t direction : {0, 1, 2}) {
        RequestBlock none = Block(direction, 0);
        ASSERT_EQ(sgio::Prepare(none, nullptr, io), 0);
        EXPECT_EQ(io.dxfer_direction, SG_DXFER_NONE);
        EXPECT_EQ(io.dxferp, nullptr);
    }
}

TEST(VelkSgIo, BlocksNoRequestCanBeMadeOf)
{
    std::vector<std::uint8_t> data(8);
    sg_io_hdr_t io;
    RequestBlock unknown = Block(3, 8);
    EXPECT_EQ(sgio::Prepare(unknown, data.data(), io), EINVAL);
    RequestBlock noBuffer = Block(1, 8);
    EXPECT_EQ(sgio::Prepare(noBuffer, nullptr, io), EINVAL);
    RequestBlock longCdb = Block(1, 8);
    longCdb.Sptd.CdbLength = 17;
    EXPECT_EQ(sgio::Prepare(longCdb, data.data(), io), EINVAL);
    RequestBlock senseOutside = Block(1, 8);
    senseOutside.Sptd.SenseInfoOffset = 60;
    EXPECT_EQ(sgio::Prepare(senseOutside, data.data(), io), EINVAL);
}

TEST(VelkSgIo, LongTimeOutIsHeldAtTheLargestValue)
{
    sg_io_hdr_t io;
    RequestBlock block = Block(1, 0, 0xFFFFFFFFu);
    ASSERT_EQ(sgio::Prepare(block, nullptr, io), 0);
    EXPECT_EQ(io.timeout, UINT_MAX);
}

TEST(VelkSgIo, CheckConditionWithSenseIsACompletedCommand)
{
    RequestBlock block = Block(1, 36);
    sg_io_hdr_t io{};
    io.status = 2;
    io.driver_status = 0x08; // sense bytes present
    io.sb_len_wr = 18;
    io.resid = 4;
    std::uint32_t returned = 0;
    EXPECT_EQ(sgio::Complete(io, block, returned), 0);
    EXPECT_EQ(block.Sptd.ScsiStatus, 2);
    EXPECT_EQ(block.Sptd.DataTransferLength, 32u);
    EXPECT_EQ(returned, 48u + 18u);

    RequestBlock good = Block(1, 36);
    EXPECT_EQ(sgio::Complete(sg_io_hdr_t{}, good, returned), 0);
    EXPECT_EQ(good.Sptd.ScsiStatus, 0);
    EXPECT_EQ(returned, 44u);
}

TEST(VelkSgIo, TransportFailuresAreErrors)
{
    std::uint32_t returned = 99;
    RequestBlock block = Block(1, 36);
    sg_io_hdr_t io{};
    io.host_status = 0x03; // timed out
    EXPECT_EQ(sgio::Complete(io, block, returned), ETIMEDOUT);
    EXPECT_EQ(returned, 0u);
    io = sg_io_hdr_t{};
    io.driver_status = 0x06;
    EXPECT_EQ(sgio::Complete(io, block, returned), ETIMEDOUT);
    io = sg_io_hdr_t{};
    io.host_status = 0x01; // no connection
    EXPECT_EQ(sgio::Complete(io, block, returned), EIO);
    io = sg_io_hdr_t{};
    io.driver_status = 0x04; // driver error
    EXPECT_EQ(sgio::Complete(io, block, returned), EIO);
}

} // namespace
} // namespace velk
