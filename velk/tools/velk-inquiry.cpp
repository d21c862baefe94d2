// velk-inquiry DEVICE: sends a standard INQUIRY through libvelk and prints
// the device's vendor, product and revision.
#include "tools/InquiryData.h"
#include "velk/velk.h"

#include <algorithm>
#include <array>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velk-inquiry DEVICE   (a name under /dev, e.g. sg0 or sr0)\n");
        return 2;
    }
    const char* const device = argv[1];

    std::uint32_t mask = 0;
    std::uint32_t status = 0;
    if (getAlignmentMaskForDevice(device, &mask, &status) == 0)
        mask = 0; // the command below reports the reason

    constexpr std::uint8_t kAllocation = 96;
    const std::array<std::uint8_t, 6> cdb{0x12, 0, 0, 0, kAllocation, 0};
    std::array<std::uint8_t, kAllocation> data{};
    std::array<std::uint8_t, VELK_SENSE_LENGTH> sense{};
    std::uint32_t received = 0;
    const std::int32_t result =
        sptiexe(device, VELK_DATA_IN, cdb.data(), static_cast<std::uint8_t>(cdb.size()),
                data.data(), kAllocation, sense.data(), 10, &status, &received, &mask);

    if (result == VELK_OPEN_FAILED || result == VELK_REQUEST_FAILED) {
        std::array<char, VELK_MESSAGE_BUFFER> message{};
        getHostError(message.data(), status);
        std::fprintf(stderr, "velk-inquiry: %s: %s\n", device, message.data());
        return 1;
    }
    if (result != VELK_DONE) {
        std::fprintf(stderr, "velk-inquiry: %s: result code %d\n", device, static_cast<int>(result));
        return 1;
    }
    const unsigned scsiStatus = status & 0xFFFFu;
    if (scsiStatus != 0) {
        std::fprintf(stderr, "velk-inquiry: %s: SCSI status 0x%02X, %s\n", device, scsiStatus,
                     velk::DescribeSense(sense).c_str());
        return 1;
    }
    // The request does not say how much data came; the answer's additional
    // length byte does.
    const std::uint32_t length = std::min<std::uint32_t>(kAllocation, 5u + data[4]);
    const velk::InquiryText text = velk::ParseInquiry(data, length);
    std::printf("Vendor:   %s\nProduct:  %s\nRevision: %s\n", text.vendor.c_str(),
                text.product.c_str(), text.revision.c_str());
    return 0;
}
