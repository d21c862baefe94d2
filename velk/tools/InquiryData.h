// Reading the answer to a standard INQUIRY and the sense bytes of a failed
// command, for velk-inquiry.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velk {

struct InquiryText {
    std::string vendor;   // bytes 8-15
    std::string product;  // bytes 16-31
    std::string revision; // bytes 32-35
};

// Fields the device did not send (received too short) come back empty;
// trailing blanks are dropped and unprintable bytes shown as '.'.
InquiryText ParseInquiry(std::span<const std::uint8_t> data, std::uint32_t received);

// "sense key 5, ASC 0x24, ASCQ 0x00" for fixed or descriptor sense data,
// "no sense data" when there is none.
std::string DescribeSense(std::span<const std::uint8_t> sense);

} // namespace velk
