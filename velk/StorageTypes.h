// Records exchanged with the storage driver: the 80-byte pass-through
// request block and the property query with its answers. Their byte layout
// is fixed so callers and drivers agree on it whatever the compiler does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

inline constexpr std::size_t kMaxCdbLength = 16;
inline constexpr std::size_t kSenseLength = 32;

struct SCSI_PASS_THROUGH_DIRECT {
    std::uint16_t Length;
    std::uint8_t ScsiStatus;
    std::uint8_t PathId;
    std::uint8_t TargetId;
    std::uint8_t Lun;
    std::uint8_t CdbLength;
    std::uint8_t SenseInfoLength;
    std::uint8_t DataIn;
    std::uint8_t Reserved[3];
    std::uint32_t DataTransferLength;
    std::uint32_t TimeOutValue;
    // A 32-bit slot: a 64-bit address does not fit, so the transfer buffer
    // travels beside the block and the slot stays 0.
    std::uint32_t DataBuffer;
    std::uint32_t SenseInfoOffset;
    std::uint8_t Cdb[kMaxCdbLength];
};
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);

// Input and output of one pass-through request.
struct RequestBlock {
    SCSI_PASS_THROUGH_DIRECT Sptd;
    std::uint32_t Filler;
    std::uint8_t SenseBuffer[kSenseLength];
};
static_assert(sizeof(RequestBlock) == 80);
static_assert(offsetof(RequestBlock, Filler) == 44);
static_assert(offsetof(RequestBlock, SenseBuffer) == 48);

enum STORAGE_PROPERTY_ID : std::uint32_t {
    StorageDeviceProperty = 0,
    StorageAdapterProperty = 1,
};

enum STORAGE_QUERY_TYPE : std::uint32_t {
    PropertyStandardQuery = 0,
};

struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    std::uint8_t AdditionalParameters[4];
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);

struct STORAGE_DESCRIPTOR_HEADER {
    std::uint32_t Version;
    std::uint32_t Size;
};
static_assert(sizeof(STORAGE_DESCRIPTOR_HEADER) == 8);

// The leading, fixed part of the adapter's answer.
struct STORAGE_ADAPTER_DESCRIPTOR {
    std::uint32_t Version;
    std::uint32_t Size;
    std::uint32_t MaximumTransferLength;
    std::uint32_t MaximumPhysicalPages;
    std::uint32_t AlignmentMask;
    std::uint8_t AdapterUsesPio;
    std::uint8_t AdapterScansDown;
    std::uint8_t CommandQueueing;
    std::uint8_t AcceleratedTransfer;
    std::uint8_t BusType;
    std::uint8_t Reserved;
    std::uint16_t BusMajorVersion;
    std::uint16_t BusMinorVersion;
    std::uint8_t Reserved2[2];
};
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) == 32);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) == 16);

} // namespace velk
