#include "velk/SgIo.h"

#include <cerrno>
#include <climits>

namespace velk::sgio {

namespace {

// Direction values of the request block.
constexpr std::uint8_t kDataOut = 0;
constexpr std::uint8_t kDataIn = 1;
constexpr std::uint8_t kDataUnspecified = 2;

// Transport results the kernel reports for a request it carried out.
constexpr unsigned kHostTimeOut = 0x03; // DID_TIME_OUT
constexpr unsigned kDriverStatusMask = 0x0F;
constexpr unsigned kDriverTimeOut = 0x06; // DRIVER_TIMEOUT
constexpr unsigned kDriverSense = 0x08;   // DRIVER_SENSE: sense bytes present, no fault

} // namespace

int Prepare(RequestBlock& block, void* transfer, sg_io_hdr_t& io) noexcept
{
    io = sg_io_hdr_t{};
    SCSI_PASS_THROUGH_DIRECT& sptd = block.Sptd;
    if (sptd.CdbLength == 0 || sptd.CdbLength > kMaxCdbLength)
        return EINVAL;
    if (sptd.SenseInfoOffset > sizeof block ||
        sptd.SenseInfoLength > sizeof block - sptd.SenseInfoOffset)
        return EINVAL;
    if (transfer == nullptr && sptd.DataTransferLength != 0)
        return EINVAL;

    io.interface_id = 'S';
    switch (sptd.DataIn) {
    case kDataOut: io.dxfer_direction = SG_DXFER_TO_DEV; break;
    case kDataIn: io.dxfer_direction = SG_DXFER_FROM_DEV; break;
    // The buffer goes to the device and comes back.
    case kDataUnspecified: io.dxfer_direction = SG_DXFER_TO_FROM_DEV; break;
    default: return EINVAL;
    }
    if (sptd.DataTransferLength == 0)
        io.dxfer_direction = SG_DXFER_NONE;
    io.cmd_len = sptd.CdbLength;
    io.cmdp = sptd.Cdb;
    io.dxfer_len = sptd.DataTransferLength;
    io.dxferp = sptd.DataTransferLength != 0 ? transfer : nullptr;
    io.mx_sb_len = sptd.SenseInfoLength;
    io.sbp = reinterpret_cast<unsigned char*>(&block) + sptd.SenseInfoOffset;
    io.timeout = sptd.TimeOutValue > UINT_MAX / 1000 ? UINT_MAX : sptd.TimeOutValue * 1000;
    return 0;
}

int Complete(const sg_io_hdr_t& io, RequestBlock& block, std::uint32_t& bytesReturned) noexcept
{
    bytesReturned = 0;
    SCSI_PASS_THROUGH_DIRECT& sptd = block.Sptd;
    sptd.ScsiStatus = io.status;
    if (io.resid > 0 && static_cast<unsigned>(io.resid) <= sptd.DataTransferLength)
        sptd.DataTransferLength -= static_cast<unsigned>(io.resid);
    const unsigned driver = io.driver_status & kDriverStatusMask;
    if (io.host_status == kHostTimeOut || driver == kDriverTimeOut)
        return ETIMEDOUT;
    if (io.host_status != 0 || (driver != 0 && driver != kDriverSense))
        return EIO;
    const unsigned sense = io.sb_len_wr < sptd.SenseInfoLength ? io.sb_len_wr : sptd.SenseInfoLength;
    bytesReturned = sense > 0 ? sptd.SenseInfoOffset + sense
                              : static_cast<std::uint32_t>(sizeof sptd);
    return 0;
}

} // namespace velk::sgio
