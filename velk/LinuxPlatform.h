// Platform on Linux: device nodes opened with open(2), requests through the
// SG_IO ioctl, adapter properties from the block queue's sysfs attributes,
// errno as the error code and strerror's text as its message.
#pragma once

#include "velk/Platform.h"

namespace velk {

class LinuxPlatform final : public Platform {
public:
    bool Open(const char* path, DeviceAccess access, DeviceHandle& handle) override;
    bool PassThrough(DeviceHandle handle, RequestBlock& block, void* transfer,
                     std::uint32_t& bytesReturned) override;
    bool QueryProperty(DeviceHandle handle, const STORAGE_PROPERTY_QUERY& query,
                       std::span<std::uint8_t> out, std::uint32_t& bytesReturned) override;
    std::uint32_t LastError() const override { return lastError_; }
    bool SystemMessage(std::uint32_t code, std::span<char> out) override;
    void Close(DeviceHandle handle) override;

private:
    bool Fail(int code) noexcept;

    std::uint32_t lastError_ = 0;
};

} // namespace velk
