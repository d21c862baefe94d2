#include "tools/InquiryData.h"

#include <algorithm>
#include <cstdio>

namespace velk {

namespace {

std::string Field(std::span<const std::uint8_t> data, std::size_t from, std::size_t length)
{
    if (from >= data.size())
        return {};
    const std::size_t end = std::min(data.size(), from + length);
    std::string text;
    for (std::size_t i = from; i < end; ++i) {
        const std::uint8_t c = data[i];
        text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

} // namespace

InquiryText ParseInquiry(std::span<const std::uint8_t> data, std::uint32_t received)
{
    const std::span<const std::uint8_t> sent = data.first(std::min<std::size_t>(data.size(), received));
    return {Field(sent, 8, 8), Field(sent, 16, 16), Field(sent, 32, 4)};
}

std::string DescribeSense(std::span<const std::uint8_t> sense)
{
    if (sense.empty())
        return "no sense data";
    const std::uint8_t code = sense[0] & 0x7F;
    unsigned key = 0;
    unsigned asc = 0;
    unsigned ascq = 0;
    if ((code == 0x70 || code == 0x71) && sense.size() >= 14) {
        key = sense[2] & 0x0F;
        asc = sense[12];
        ascq = sense[13];
    } else if ((code == 0x72 || code == 0x73) && sense.size() >= 4) {
        key = sense[1] & 0x0F;
        asc = sense[2];
        ascq = sense[3];
    } else {
        return "no sense data";
    }
    char text[64];
    std::snprintf(text, sizeof text, "sense key %X, ASC 0x%02X, ASCQ 0x%02X", key, asc, ascq);
    return text;
}

} // namespace velk
