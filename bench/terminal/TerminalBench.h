#pragma once
// Pieces the terminal benchmarks share. MakeStream: the text a device sends: CR LF lines of 10..140 bytes, ASCII and
// Shift-JIS pairs (lead 0x81..0x9F / 0xE0..0xEF, trail 0x40..0xFC without 0x7F), including trail
// bytes that are themselves lead bytes and 0x5C. No other control codes, so the receive display
// keeps every byte. The same size always gives the same text. With asciiOnly the lines are plain
// ASCII, as most device logs are.
#include "platform/Profile.h"

#include <cstdint>
#include <string>

namespace pek::bench {

inline std::string MakeStream(std::uint64_t size, std::uint64_t* lines, bool asciiOnly = false)
{
    std::string s;
    s.reserve(size + 256);
    std::uint32_t x = 2463534242u;
    const auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    *lines = 0;
    while (s.size() < size) {
        const std::size_t length = 10 + next() % 131;
        const std::size_t end = s.size() + length;
        while (s.size() < end) {
            const std::uint32_t r = next();
            if (!asciiOnly && r % 4 == 0) {
                const std::uint32_t lead = r % 3 ? 0x81 + (r >> 8) % 31 : 0xE0 + (r >> 8) % 16;
                std::uint32_t trail = 0x40 + (r >> 16) % 189;
                if (trail >= 0x7F) ++trail;
                s += char(lead);
                s += char(trail);
            } else {
                s += char(' ' + (r >> 8) % 95);
            }
        }
        s += "\r\n";
        ++*lines;
    }
    return s;
}

// A settings file with one sheet whose port (COM1) is devicePath, opened at start, without flow
// control, with the time-stamp type given.
inline void WriteSheetProfile(const std::string& iniPath, const std::string& devicePath, int timeTyp)
{
    pek::ProfileFile profile(iniPath);
    profile.WriteString("Ports", "COM1", devicePath);
    profile.WriteInteger("No0", "ComPortOpen", 1);
    profile.WriteInteger("No0", "ComPortNo", 1);
    profile.WriteInteger("No0", "ComTimeTyp", timeTyp);
    profile.WriteInteger("No0", "ComFlowCtrl", 5);
}

}  // namespace pek::bench
