#include "velk/PassThrough.h"

#include "velk/velk.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace velk {

namespace {

inline constexpr std::string_view kDevicePrefix = "/dev/";
inline constexpr std::size_t kMessageBufferLength = VELK_MESSAGE_BUFFER;
inline constexpr std::uint8_t kSystemDataOut = 0;  // the request block's data-out direction

struct FreeMemory {
    void operator()(void* p) const noexcept { std::free(p); }
};

// Closes the device on every way out.
class OpenDevice {
public:
    OpenDevice(Platform& platform, DeviceHandle handle) noexcept
        : platform_(platform), handle_(handle) {}
    ~OpenDevice() { platform_.Close(handle_); }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

private:
    Platform& platform_;
    DeviceHandle handle_;
};

// Heap memory for the data of one request, its start rounded up to the
// adapter's alignment mask.
class TransferBuffer {
public:
    TransferBuffer(std::uint32_t length, std::uint32_t mask) noexcept
    {
        // length + mask must stay within 32 bits; beyond that the request
        // could never be met.
        if (length > UINT32_MAX - mask)
            return;
        const std::size_t size = std::size_t{length} + mask;
        memory_.reset(std::malloc(size == 0 ? 1 : size));
        if (!memory_)
            return;
        const auto address = reinterpret_cast<std::uintptr_t>(memory_.get());
        start_ = reinterpret_cast<std::uint8_t*>((address + mask) & ~std::uintptr_t{mask});
    }

    std::uint8_t* Data() const noexcept { return start_; }
    explicit operator bool() const noexcept { return start_ != nullptr; }

private:
    std::unique_ptr<void, FreeMemory> memory_;
    std::uint8_t* start_ = nullptr;
};

// A zero-filled answer buffer for a property query.
class PropertyBuffer {
public:
    bool Allocate(std::uint32_t size) noexcept
    {
        memory_.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
        size_ = memory_ ? size : 0;
        return memory_ != nullptr;
    }
    std::span<std::uint8_t> Bytes() const noexcept { return {memory_.get(), size_}; }
    bool Exists() const noexcept { return memory_ != nullptr; }

private:
    std::unique_ptr<std::uint8_t, FreeMemory> memory_;
    std::size_t size_ = 0;
};

bool IsToleratedQueryError(std::uint32_t code) noexcept
{
    return code == error::kMoreData || code == error::kInvalidFunction ||
           code == error::kNotSupported;
}

// Runs the four property queries; false with the reason in failure.
class PropertySequence {
public:
    PropertySequence(Platform& platform, DeviceHandle handle) noexcept
        : platform_(platform), handle_(handle) {}

    bool Run(PropertyBuffer& adapter, PropertyBuffer& device) noexcept
    {
        return Fetch(StorageAdapterProperty, adapter) && Fetch(StorageDeviceProperty, device);
    }

    std::uint32_t Failure() const noexcept { return failure_; }

private:
    // The header first, then the whole answer when it has a size.
    bool Fetch(STORAGE_PROPERTY_ID id, PropertyBuffer& full) noexcept
    {
        STORAGE_DESCRIPTOR_HEADER header{};
        if (!Query(id, {reinterpret_cast<std::uint8_t*>(&header), sizeof header}))
            return false;
        if (header.Size == 0)
            return true;
        if (!full.Allocate(header.Size)) {
            failure_ = error::kOutOfMemory;
            return false;
        }
        return Query(id, full.Bytes());
    }

    bool Query(STORAGE_PROPERTY_ID id, std::span<std::uint8_t> out) noexcept
    {
        std::memset(out.data(), 0, out.size());
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = id;
        query.QueryType = PropertyStandardQuery;
        std::uint32_t returned = 0;
        if (platform_.QueryProperty(handle_, query, out, returned))
            return true;
        const std::uint32_t code = platform_.LastError();
        if (IsToleratedQueryError(code)) {
            std::memset(out.data(), 0, out.size());
            return true;
        }
        failure_ = code;
        return false;
    }

    Platform& platform_;
    DeviceHandle handle_;
    std::uint32_t failure_ = 0;
};

} // namespace

DevicePath MakeDevicePath(const char* name) noexcept
{
    DevicePath path{};
    std::memcpy(path.text, kDevicePrefix.data(), kDevicePrefix.size());
    if (name != nullptr) {
        const std::size_t room = kMaxDevicePathLength - kDevicePrefix.size();
        std::memcpy(path.text + kDevicePrefix.size(), name, strnlen(name, room));
    }
    return path;
}

std::int32_t Sptiexe(Platform& platform, const char* deviceName, std::uint8_t direction,
                     const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                     std::uint32_t dataLength, std::uint8_t* sense, std::uint32_t timeOut,
                     std::uint32_t* status, std::uint32_t* bytesReturned,
                     const std::uint32_t* alignmentMask) noexcept
{
    // status and bytesReturned are required; a caller that passes none still
    // gets its result code rather than a crash.
    std::uint32_t unusedStatus = 0;
    std::uint32_t unusedCount = 0;
    std::uint32_t& statusWord = status != nullptr ? *status : unusedStatus;
    std::uint32_t& count = bytesReturned != nullptr ? *bytesReturned : unusedCount;
    statusWord = 0;
    count = 0;

    const DevicePath path = MakeDevicePath(deviceName);
    DeviceHandle handle;
    if (!platform.Open(path.text, DeviceAccess::ReadWrite, handle)) {
        const std::uint32_t code = platform.LastError();
        if (data != nullptr && dataLength != 0)
            std::memset(data, 0, dataLength);
        if (sense != nullptr)
            std::memset(sense, 0, kSenseLength);
        statusWord = HostErrorWord(code);
        return VELK_OPEN_FAILED;
    }
    const OpenDevice device(platform, handle);

    if (cdbLength == 0 || direction == 0)
        return VELK_DONE;

    RequestBlock block{};
    if (cdbLength > kMaxCdbLength || cdb == nullptr)
        return VELK_BAD_CDB;
    std::memcpy(block.Sptd.Cdb, cdb, cdbLength);

    if (data == nullptr && dataLength != 0)
        return VELK_NO_DATA_BUFFER;

    const std::uint32_t mask = alignmentMask != nullptr ? *alignmentMask : 0;
    std::optional<TransferBuffer> transfer;
    if (data != nullptr) {
        transfer.emplace(dataLength, mask);
        if (!*transfer)
            return VELK_NO_MEMORY;
        // Copied for every direction, so data in comes back unchanged where
        // the device writes nothing.
        std::memcpy(transfer->Data(), data, dataLength);
    }

    SCSI_PASS_THROUGH_DIRECT& sptd = block.Sptd;
    sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    sptd.ScsiStatus = 0;
    sptd.PathId = 0;
    sptd.TargetId = 1;
    sptd.Lun = 0;
    sptd.CdbLength = cdbLength;
    sptd.SenseInfoLength = kSenseLength;
    // The request carries the system's values; only this library's own data-out value needs
    // translating, since the system's (0) already means "no command" to our callers.
    sptd.DataIn = direction == VELK_DATA_TO_DEVICE ? std::uint8_t{kSystemDataOut} : direction;
    sptd.DataTransferLength = dataLength;
    sptd.TimeOutValue = timeOut;
    sptd.SenseInfoOffset = offsetof(RequestBlock, SenseBuffer);

    std::uint8_t* const buffer = transfer ? transfer->Data() : nullptr;
    const bool carriedOut = platform.PassThrough(handle, block, buffer, count);
    // A refused request must not pass for a command that completed: it gets
    // its own result code and the system's error in the host half.
    const std::uint32_t hostError = carriedOut ? 0 : platform.LastError();
    if (!carriedOut)
        count = 0;

    if (data != nullptr)
        std::memcpy(data, buffer, dataLength);
    if (sense != nullptr)
        std::memcpy(sense, block.SenseBuffer, kSenseLength);

    statusWord = HostErrorWord(hostError) | block.Sptd.ScsiStatus;
    return carriedOut ? VELK_DONE : VELK_REQUEST_FAILED;
}

std::int32_t HostError(Platform& platform, char* buffer, std::uint32_t status) noexcept
{
    if (buffer == nullptr)
        return 0;
    std::array<char, kMessageBufferLength> message{};
    if (platform.SystemMessage(status >> 16, message)) {
        message.back() = '\0';
        std::memcpy(buffer, message.data(), message.size());
        return static_cast<std::int32_t>(std::strlen(message.data()));
    }
    std::snprintf(buffer, kMessageBufferLength, "Format message failed.  Error: %d\n",
                  static_cast<int>(platform.LastError()));
    return 0;
}

std::int32_t AlignmentMaskForDevice(Platform& platform, const char* deviceName,
                                    std::uint32_t* alignmentMask, std::uint32_t* status) noexcept
{
    std::uint32_t unusedMask = 0;
    std::uint32_t unusedStatus = 0;
    std::uint32_t& mask = alignmentMask != nullptr ? *alignmentMask : unusedMask;
    std::uint32_t& statusWord = status != nullptr ? *status : unusedStatus;
    mask = 0;
    statusWord = 0;

    const DevicePath path = MakeDevicePath(deviceName);
    DeviceHandle handle;
    if (!platform.Open(path.text, DeviceAccess::PropertiesOnly, handle)) {
        statusWord = HostErrorWord(platform.LastError());
        return 0;
    }
    const OpenDevice device(platform, handle);

    PropertyBuffer adapter;
    PropertyBuffer deviceProperty; // fetched as part of the sequence, not used
    PropertySequence sequence(platform, handle);
    if (!sequence.Run(adapter, deviceProperty)) {
        statusWord = HostErrorWord(sequence.Failure());
        return 0;
    }
    // An answer too short to hold the mask counts as none.
    constexpr std::size_t kMaskEnd =
        offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) + sizeof(std::uint32_t);
    if (adapter.Exists() && adapter.Bytes().size() >= kMaskEnd)
        std::memcpy(&mask, adapter.Bytes().data() + offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask),
                    sizeof mask);
    return 1;
}

} // namespace velk
