// The hex view's lines against a plain formatter under random chunking, and the hex command parser.
#include "PartsFixture.h"
#include "terminal/CommandLine.h"
#include "terminal/HexText.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <utility>

namespace pek::test {
namespace {

// Reference: 16 bytes a line, every byte shown; stamps numbered by line.
std::string ReferenceHex(const std::string& bytes, const std::vector<int>& breaksAfter, int& lines)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    int line = 0;
    size_t inLine = 0;
    std::string hex, chars;
    const auto finish = [&] {
        out += "T" + std::to_string(line++) + "| " + hex + std::string((16 - inLine) * 3 + 1, ' ') + chars + "\r\n";
        hex.clear();
        chars.clear();
        inLine = 0;
    };
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        hex += {digits[b >> 4], digits[b & 15], ' '};
        chars += b >= 0x20 && b < 0x7F ? char(b) : '.';
        if (++inLine == 16 || std::find(breaksAfter.begin(), breaksAfter.end(), int(i)) != breaksAfter.end()) finish();
    }
    if (inLine > 0) out += "T" + std::to_string(line++) + "| " + hex + std::string((16 - inLine) * 3 + 1, ' ') + chars;
    lines = line;
    return out;
}

TEST(HexLines, RandomChunksShowWhatTheReferenceShowsAndLogOnlyFinishedLines)
{
    std::mt19937 rng(4242);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(size_t(rng() % 300), '\0');
        for (char& c : bytes) c = char(rng() % 256);
        std::vector<int> breaksAfter;   // other text shown after these bytes
        HexLines hex;
        int stamps = 0;
        const HexLines::Stamp stamp = [&] { return "T" + std::to_string(stamps++) + "| "; };
        std::string pane, log;
        const auto apply = [&](const HexLines::Update& u) {
            ASSERT_LE(u.erase, pane.size());
            pane.erase(pane.size() - u.erase);
            pane += u.append;
            log += u.completed;
        };
        // Some pieces are folded together before they reach the pane, as one receive call does.
        std::optional<HexLines::Update> held;
        const auto flush = [&] {
            if (held) apply(*std::exchange(held, std::nullopt));
        };
        for (size_t at = 0; at < bytes.size();) {
            const size_t n = std::min(bytes.size() - at, size_t(rng() % 40));
            HexLines::Update update = hex.Add(std::string_view(bytes).substr(at, n), stamp);
            if (held) HexLines::Merge(*held, std::move(update));
            else held = std::move(update);
            if (rng() % 3 == 0) flush();
            at += n;
            if (n > 0 && rng() % 7 == 0) {
                flush();
                if (hex.LineOpen()) breaksAfter.push_back(int(at) - 1);
                apply(hex.Break());
            }
        }
        flush();
        int lines = 0;
        const std::string expect = ReferenceHex(bytes, breaksAfter, lines);
        ASSERT_EQ(pane, expect) << "round " << round;
        ASSERT_EQ(log, expect.substr(0, expect.rfind("\r\n") == std::string::npos ? 0 : expect.rfind("\r\n") + 2)) << round;
        ASSERT_EQ(stamps, lines) << "one stamp per line, at its start";
    }
}

TEST(HexCommand, ParsesPairsOfDigitsAndRefusesEverythingElse)
{
    const struct {
        const char* text;
        std::optional<std::string> bytes;
    } cases[] = {
        {"02 41 42 03", std::string("\x02\x41\x42\x03", 4)},
        {"024142 03", std::string("\x02\x41\x42\x03", 4)},
        {"  ff,00\t7e ", std::string("\xff\x00\x7e", 3)},
        {"aB", std::string("\xab")},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"0", std::nullopt},
        {"0 2", std::nullopt},
        {"123", std::nullopt},
        {"0x41", std::nullopt},
        {"4G", std::nullopt},
        {"41\r\n", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(ParseHexBytes(c.text, &error), c.bytes) << c.text;
        EXPECT_EQ(error.empty(), c.bytes.has_value()) << c.text;
    }
}

TEST(HexCommand, SendsTheBytesWithoutLineEndingOrRefusesWithAMessage)
{
    FakePortBench bench;
    std::vector<std::string> messages, shown;
    CommandProcessor processor{CommandWindow{
        [&](int) { return bench.port; }, [&](int, std::string_view text, bool) { shown.emplace_back(text); },
        [&](const std::string& text, const std::string&, unsigned) { messages.push_back(text); },
        [](const std::string&) { return false; }, nullptr, nullptr, nullptr}};
    bench.port->SetCrTypTrans(ctCrLf);
    bench.port->Open();
    EXPECT_FALSE(processor.ExecHexCommand(0, "02 4", true));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(processor.History().Items().empty());
    EXPECT_TRUE(processor.ExecHexCommand(0, "00 0d 0A ff", true));
    EXPECT_EQ(bench.device->WaitWritten(4), std::string("\x00\x0d\x0a\xff", 4));
    EXPECT_EQ(shown, std::vector<std::string>{"00 0d 0A ff\r\n"});
    EXPECT_EQ(processor.History().Items(), std::vector<std::string>{"00 0d 0A ff"});
}

}  // namespace
}  // namespace pek::test
