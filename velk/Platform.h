// The operating-system services the pass-through functions use. The shared
// library runs on LinuxPlatform; tests run the same logic on FakePlatform.
#pragma once

#include "velk/StorageTypes.h"

#include <cerrno>
#include <cstdint>
#include <span>

namespace velk {

// Platform error codes the logic itself must recognise (errno values here).
namespace error {
inline constexpr std::uint32_t kMoreData = EOVERFLOW;
inline constexpr std::uint32_t kInvalidFunction = ENOTTY;
inline constexpr std::uint32_t kNotSupported = EOPNOTSUPP;
inline constexpr std::uint32_t kOutOfMemory = ENOMEM;
} // namespace error

struct DeviceHandle {
    std::intptr_t value = -1;
};

enum class DeviceAccess {
    ReadWrite,      // for pass-through requests
    PropertiesOnly, // no data access, enough for property queries
};

class Platform {
public:
    virtual ~Platform() = default;

    // False on failure, the reason in LastError().
    virtual bool Open(const char* path, DeviceAccess access, DeviceHandle& handle) = 0;

    // Carries out the request described by the block, which is read and
    // written back (SCSI status, sense bytes). transfer is the data buffer
    // of DataTransferLength bytes, or null. False when the system refused
    // the request or could not deliver it.
    virtual bool PassThrough(DeviceHandle handle, RequestBlock& block, void* transfer,
                             std::uint32_t& bytesReturned) = 0;

    // Writes the answer to the query into out (as much as fits).
    virtual bool QueryProperty(DeviceHandle handle, const STORAGE_PROPERTY_QUERY& query,
                               std::span<std::uint8_t> out, std::uint32_t& bytesReturned) = 0;

    // Error code of the most recent failed operation.
    virtual std::uint32_t LastError() const = 0;

    // The system's text for an error code, zero-terminated and cut to fit
    // out. False when the system has none (reason in LastError()).
    virtual bool SystemMessage(std::uint32_t code, std::span<char> out) = 0;

    virtual void Close(DeviceHandle handle) = 0;
};

} // namespace velk
