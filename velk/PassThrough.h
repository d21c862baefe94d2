// The logic behind the three exported functions, written against Platform so
// that tests can run it on a fake system. Arguments and results are those of
// the exported functions (see velk/velk.h).
#pragma once

#include "velk/Platform.h"

#include <cstddef>
#include <cstdint>

namespace velk {

inline constexpr std::size_t kMaxDevicePathLength = 24;

struct DevicePath {
    char text[kMaxDevicePathLength + 1];
};

// "/dev/" + name, cut to 24 characters; the name itself is not checked.
DevicePath MakeDevicePath(const char* name) noexcept;

// Host error half of a status word.
constexpr std::uint32_t HostErrorWord(std::uint32_t code) noexcept
{
    return (code & 0xFFFFu) << 16;
}

std::int32_t Sptiexe(Platform& platform, const char* deviceName, std::uint8_t direction,
                     const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                     std::uint32_t dataLength, std::uint8_t* sense, std::uint32_t timeOut,
                     std::uint32_t* status, std::uint32_t* bytesReturned,
                     const std::uint32_t* alignmentMask) noexcept;

std::int32_t HostError(Platform& platform, char* buffer, std::uint32_t status) noexcept;

std::int32_t AlignmentMaskForDevice(Platform& platform, const char* deviceName,
                                    std::uint32_t* alignmentMask, std::uint32_t* status) noexcept;

} // namespace velk
