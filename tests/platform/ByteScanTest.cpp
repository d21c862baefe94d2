#include "platform/ByteScan.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

namespace pek {
namespace {

TEST(ByteScan, EachScanFindsWhatAByteLoopFinds)
{
    // Each scan against its rule, on every start and length within random buffers that mix the
    // bytes it looks for with the rest, so that hits fall in whole blocks and in the tail.
    using Rule = std::function<bool(unsigned char)>;
    using Scan = std::function<std::size_t(const std::string&, std::size_t, std::size_t)>;
    const struct {
        const char* name;
        Rule stops;
        Scan scan;
    } scans[] = {
        {"line break", [](unsigned char c) { return c == '\r' || c == '\n'; },
         [](const std::string& s, std::size_t at, std::size_t n) { return FindLineBreak(s.data() + at, n); }},
        {"plain columns", [](unsigned char c) { return c >= 0x80 || c == '\t'; },
         [](const std::string& s, std::size_t at, std::size_t n) {
             return SpanOfPlainColumns(reinterpret_cast<const unsigned char*>(s.data()) + at, n);
         }},
        {"other control", [](unsigned char c) { return c < 32 && c != '\t' && c != '\n' && c != '\r'; },
         [](const std::string& s, std::size_t at, std::size_t n) { return FindOtherControl(s.data() + at, n); }},
    };
    const std::string alphabet{"a~ \x7f\x80\x81\xff\t\n\r\x08\x1f\x00\x20\x1b", 15};
    std::mt19937 random(1);
    for (int round = 0; round < 60; ++round) {
        std::string buffer(size_t(random() % 70), 'x');
        const unsigned density = 1 + random() % 40;  // one byte in so many is from the alphabet
        for (char& c : buffer)
            if (random() % density == 0) c = alphabet[random() % alphabet.size()];
        for (const auto& s : scans) {
            for (std::size_t at = 0; at <= buffer.size(); ++at) {
                for (std::size_t n = 0; at + n <= buffer.size(); ++n) {
                    std::size_t expected = 0;
                    while (expected < n && !s.stops(static_cast<unsigned char>(buffer[at + expected]))) ++expected;
                    ASSERT_EQ(s.scan(buffer, at, n), expected) << s.name << " round " << round << " at " << at << " n " << n;
                }
            }
        }
    }
}

}  // namespace
}  // namespace pek
