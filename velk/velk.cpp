// The library's exports: the pass-through logic on the Linux platform.
#include "velk/velk.h"

#include "velk/LinuxPlatform.h"
#include "velk/PassThrough.h"

extern "C" {

VELK_API int32_t sptiexe(const char* deviceName, uint8_t direction, const uint8_t* cdb,
                         uint8_t cdbLength, uint8_t* data, uint32_t dataLength, uint8_t* sense,
                         uint32_t timeOut, uint32_t* status, uint32_t* bytesReturned,
                         const uint32_t* alignmentMask)
{
    velk::LinuxPlatform platform;
    return velk::Sptiexe(platform, deviceName, direction, cdb, cdbLength, data, dataLength, sense,
                         timeOut, status, bytesReturned, alignmentMask);
}

VELK_API int32_t getHostError(char* buffer, uint32_t status)
{
    velk::LinuxPlatform platform;
    return velk::HostError(platform, buffer, status);
}

VELK_API int32_t getAlignmentMaskForDevice(const char* deviceName, uint32_t* alignmentMask,
                                           uint32_t* status)
{
    velk::LinuxPlatform platform;
    return velk::AlignmentMaskForDevice(platform, deviceName, alignmentMask, status);
}

} // extern "C"
