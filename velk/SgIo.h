// Translation between the request block and the kernel's SG_IO header,
// apart from the ioctl itself so it can be checked without a SCSI device.
#pragma once

#include "velk/StorageTypes.h"

#include <cstdint>

#include <scsi/sg.h>

namespace velk::sgio {

// Fills io from the block; sense bytes land in the block at SenseInfoOffset.
// Returns 0, or EINVAL for a block no request can be made of.
int Prepare(RequestBlock& block, void* transfer, sg_io_hdr_t& io) noexcept;

// Takes the kernel's answer into the block (SCSI status, data length
// actually moved) and sets bytesReturned. Returns 0, or the error code of a
// command the transport failed to deliver (ETIMEDOUT, EIO).
int Complete(const sg_io_hdr_t& io, RequestBlock& block, std::uint32_t& bytesReturned) noexcept;

} // namespace velk::sgio
