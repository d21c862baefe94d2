#include "terminal/ReceiveText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace pek;

namespace {
std::string filter(std::string chunk)
{
    chunk.resize(size_t(ControlCodeFilter(chunk.data(), int(chunk.size()))));
    return chunk;
}
}  // namespace

TEST(ControlCodes, KeepsTextAndLineBreaksDropsOtherControls)
{
    EXPECT_EQ(filter("AB\bC"), "AC");
    EXPECT_EQ(filter("\bX"), "X");  // a leading BS reaches into the pane, not this chunk
    EXPECT_EQ(filter("a\x07" "b\x1b[0mc"), "ab[0mc");
    EXPECT_EQ(filter("t\tl\nc\r\xFF\x80 "), "t\tl\nc\r\xFF\x80 ");
    EXPECT_EQ(filter(std::string("n\0u", 3)), "nu");
    EXPECT_EQ(filter("ab\b\b\bc"), "c");
    EXPECT_EQ(filter(""), "");
}

TEST(TimeStamps, EveryTypeFormatsItsClock)
{
    EXPECT_EQ(TimeStampPrefix(0, 1234, 0), "");
    EXPECT_EQ(TimeStampPrefix(7, 1234, 0), "");
    EXPECT_EQ(TimeStampPrefix(1, 4294967295u, 0), "4294967295| ");
    // 1 day, 2 h, 3 min, 4.005 s
    const std::uint32_t tick = ((24 + 2) * 3600 + 3 * 60 + 4) * 1000 + 5;
    EXPECT_EQ(TimeStampText(2, tick, 0), "01_02:03:04.005");
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 0;
    local.tm_mday = 31;
    local.tm_hour = 9;
    local.tm_min = 15;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    EXPECT_EQ(TimeStampText(3, 0, std::mktime(&local)), "01/31/09:15:07");
}

TEST(LinePrefixes, EveryBreakThatMoreTextFollowsGetsThePrefix)
{
    EXPECT_EQ(InsertLinePrefixes("abc\r\ndef", "P| "), "abc\r\nP| def");
    EXPECT_EQ(InsertLinePrefixes("abc\r\n", "P| "), "abc\r\n");
    EXPECT_EQ(InsertLinePrefixes("A\nB", "P| "), "A\nP| B");
    EXPECT_EQ(InsertLinePrefixes("a\rb\n\nc\r\n", "> "), "a\r> b\n> \n> c\r\n");
    EXPECT_EQ(InsertLinePrefixes("a\r\ndef", ""), "a\r\ndef");
    EXPECT_EQ(InsertLinePrefixes("\n\n", "> "), "\n> \n");
    EXPECT_EQ(InsertLinePrefixes("ab\r", "> "), "ab\r");
}

TEST(LeadByteHold, ACharacterSplitAcrossChunksIsShownWholeOnce)
{
    LeadByteHold hold;
    EXPECT_EQ(hold.Take("ab\x82"), "ab");
    EXPECT_TRUE(hold.Held());
    EXPECT_EQ(hold.Take("\xA0" "c"), "\x82\xA0" "c");
    EXPECT_FALSE(hold.Held());
}

TEST(LeadByteHold, PairsAtTheEndAreShownAtOnce)
{
    LeadByteHold hold;
    EXPECT_EQ(hold.Take("a\x82\x81"), "a\x82\x81");  // two lead-valued bytes: one character
    EXPECT_FALSE(hold.Held());
    EXPECT_EQ(hold.Take("a\x81"), "a");
    EXPECT_TRUE(hold.Held());
}

TEST(LeadByteHold, TrailBytesInTheLeadRangeAreNotMistakenForLeads)
{
    LeadByteHold hold;
    // Kanji 0x889F followed by a lone lead byte: the 0x9F is a trail byte, the 0x81 must wait.
    EXPECT_EQ(hold.Take("\x88\x9F\x81"), "\x88\x9F");
    EXPECT_TRUE(hold.Held());
    EXPECT_EQ(hold.Take("\x40"), "\x81\x40");
    // A held lead whose trail is itself lead-valued.
    EXPECT_EQ(hold.Take("x\x88"), "x");
    EXPECT_EQ(hold.Take("\x9F\x82"), "\x88\x9F");
    EXPECT_EQ(hold.Take("\xA0"), "\x82\xA0");
}

TEST(LeadByteHold, AnEmptiedChunkKeepsTheHeldByte)
{
    LeadByteHold hold;
    EXPECT_EQ(hold.Take("\x82"), "");
    EXPECT_EQ(hold.Take(""), "");
    EXPECT_TRUE(hold.Held());
    EXPECT_EQ(hold.Take("\xA0"), "\x82\xA0");
}

TEST(LeadByteHold, RandomStreamsCutAnywhereShowWhatACharacterWalkShows)
{
    // The reference walks the whole stream from its start, a lead-valued byte taking the next byte
    // with it: whatever has come is shown up to the last character boundary.
    const std::string alphabet = "a\n\x40\x7e\x81\x88\x9f\xa0\xb1\xe0\xfc\xfd";
    std::mt19937 random(27);
    for (int round = 0; round < 3000; ++round) {
        std::string stream;
        const size_t size = random() % 40;
        for (size_t k = 0; k < size; ++k) stream += alphabet[random() % alphabet.size()];
        std::vector<bool> boundary(size + 2, false);
        for (size_t i = 0; i <= size;) {
            boundary[i] = true;
            if (i == size) break;
            const auto c = static_cast<unsigned char>(stream[i]);
            i += (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc) ? 2 : 1;
        }
        LeadByteHold hold;
        std::string shown;
        for (size_t fed = 0, at = 0; at < size; fed = at) {
            at += std::min<size_t>(size - at, random() % 6);
            shown.append(hold.Take(std::string_view(stream).substr(fed, at - fed)));
            ASSERT_EQ(shown, stream.substr(0, boundary[at] ? at : at - 1)) << round << " at " << at;
            ASSERT_EQ(hold.Held(), !boundary[at]) << round;
        }
    }
}

TEST(LineStamper, AStreamCutAnywhereIsStampedAsAWholeStreamWould)
{
    // Reference: the whole stream read character by character; every line start that has text
    // (or a break) after it is stamped, CR LF being one break.
    const auto reference = [](const std::string& text) {
        std::string out;
        bool lineStart = true;
        for (size_t i = 0; i < text.size(); ++i) {
            if (lineStart) out += "P| ";
            out += text[i];
            lineStart = text[i] == '\n' || text[i] == '\r';
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') out += text[++i];
        }
        return out;
    };
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'z', '\r', '\n', '\x82', '\xA0'};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int length = int(random() % 16);
        for (int i = 0; i < length; ++i) text += alphabet[random() % 6];
        LineStamper stamper;
        std::string out;
        for (size_t at = 0; at < text.size();) {
            const size_t piece = 1 + random() % 4;
            stamper.Add(std::string_view(text).substr(at, piece), "P| ", out);
            at += piece;
        }
        ASSERT_EQ(out, reference(text)) << round;
    }
    // The case that once lost its stamp: a line starting in the last two characters of a piece.
    LineStamper stamper;
    stamper.Reset(false, false);
    std::string out;
    stamper.Add("...\nz", "> ", out);
    stamper.Add("w\r\n", "> ", out);
    EXPECT_EQ(out, "...\n> zw\r\n");
}
