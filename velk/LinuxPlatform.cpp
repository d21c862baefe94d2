#include "velk/LinuxPlatform.h"

#include "velk/SgIo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace velk {

namespace {

int Descriptor(DeviceHandle handle) noexcept
{
    return static_cast<int>(handle.value);
}

std::optional<std::uint32_t> ReadNumber(const char* path) noexcept
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[32] = {};
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || errno != 0 || value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

bool IsDirectory(const char* path) noexcept
{
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The sysfs queue folder of the block device behind fd: the device's own,
// its disk's for a partition, the attached disk's for a SCSI generic node.
bool FindQueue(int fd, char (&queue)[PATH_MAX]) noexcept
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    const unsigned major = ::major(st.st_rdev);
    const unsigned minor = ::minor(st.st_rdev);
    if (S_ISBLK(st.st_mode)) {
        std::snprintf(queue, sizeof queue, "/sys/dev/block/%u:%u/queue", major, minor);
        if (IsDirectory(queue))
            return true;
        std::snprintf(queue, sizeof queue, "/sys/dev/block/%u:%u/../queue", major, minor);
        return IsDirectory(queue);
    }
    if (!S_ISCHR(st.st_mode))
        return false;
    char disks[64];
    std::snprintf(disks, sizeof disks, "/sys/dev/char/%u:%u/device/block", major, minor);
    DIR* const dir = ::opendir(disks);
    if (dir == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const int length = std::snprintf(queue, sizeof queue, "%s/%s/queue", disks, entry->d_name);
        found = length > 0 && static_cast<std::size_t>(length) < sizeof queue && IsDirectory(queue);
        break;
    }
    ::closedir(dir);
    return found;
}

std::optional<STORAGE_ADAPTER_DESCRIPTOR> AdapterDescriptor(int fd) noexcept
{
    char queue[PATH_MAX];
    if (!FindQueue(fd, queue))
        return std::nullopt;
    char attribute[PATH_MAX + 32];
    std::snprintf(attribute, sizeof attribute, "%s/dma_alignment", queue);
    const std::optional<std::uint32_t> alignment = ReadNumber(attribute);
    if (!alignment)
        return std::nullopt; // older kernels do not publish it
    STORAGE_ADAPTER_DESCRIPTOR descriptor{};
    descriptor.Version = sizeof descriptor;
    descriptor.Size = sizeof descriptor;
    descriptor.AlignmentMask = *alignment;
    std::snprintf(attribute, sizeof attribute, "%s/max_hw_sectors_kb", queue);
    if (const auto kib = ReadNumber(attribute))
        descriptor.MaximumTransferLength = *kib > UINT32_MAX / 1024 ? UINT32_MAX : *kib * 1024;
    std::snprintf(attribute, sizeof attribute, "%s/max_segments", queue);
    if (const auto segments = ReadNumber(attribute))
        descriptor.MaximumPhysicalPages = *segments;
    return descriptor;
}

} // namespace

bool LinuxPlatform::Fail(int code) noexcept
{
    lastError_ = static_cast<std::uint32_t>(code);
    return false;
}

bool LinuxPlatform::Open(const char* path, DeviceAccess access, DeviceHandle& handle)
{
    // O_NOCTTY: a terminal named by mistake must not become ours.
    // O_NONBLOCK lets a drive without a medium open, as the command may be
    // the one that asks about the medium; O_PATH needs no access to the
    // node at all, which is all a property query needs.
    const int flags = access == DeviceAccess::ReadWrite ? O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC
                                                        : O_PATH | O_CLOEXEC;
    const int fd = ::open(path, flags);
    if (fd < 0)
        return Fail(errno);
    handle.value = fd;
    return true;
}

bool LinuxPlatform::PassThrough(DeviceHandle handle, RequestBlock& block, void* transfer,
                                std::uint32_t& bytesReturned)
{
    bytesReturned = 0;
    sg_io_hdr_t io{};
    if (const int refused = sgio::Prepare(block, transfer, io); refused != 0)
        return Fail(refused);
    if (::ioctl(Descriptor(handle), SG_IO, &io) < 0)
        return Fail(errno);
    if (const int failed = sgio::Complete(io, block, bytesReturned); failed != 0)
        return Fail(failed);
    return true;
}

bool LinuxPlatform::QueryProperty(DeviceHandle handle, const STORAGE_PROPERTY_QUERY& query,
                                  std::span<std::uint8_t> out, std::uint32_t& bytesReturned)
{
    bytesReturned = 0;
    if (query.QueryType != PropertyStandardQuery || query.PropertyId != StorageAdapterProperty)
        return Fail(EOPNOTSUPP);
    const std::optional<STORAGE_ADAPTER_DESCRIPTOR> descriptor =
        AdapterDescriptor(Descriptor(handle));
    if (!descriptor)
        return Fail(EOPNOTSUPP);
    const std::size_t size = std::min(out.size(), sizeof *descriptor);
    std::memcpy(out.data(), &*descriptor, size);
    bytesReturned = static_cast<std::uint32_t>(size);
    return true;
}

bool LinuxPlatform::SystemMessage(std::uint32_t code, std::span<char> out)
{
    if (out.empty())
        return Fail(EINVAL);
    const int number = static_cast<int>(code);
    if (code > INT_MAX || ::strerrordesc_np(number) == nullptr)
        return Fail(EINVAL); // not an error the system knows
    char text[256];
    const char* const message = ::strerror_r(number, text, sizeof text);
    const std::size_t length = std::min(std::strlen(message), out.size() - 1);
    std::memcpy(out.data(), message, length);
    out[length] = '\0';
    return true;
}

void LinuxPlatform::Close(DeviceHandle handle)
{
    ::close(Descriptor(handle));
}

} // namespace velk
