#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace pek;

TEST(CodePage, LeadBytesOfCp932)
{
    EXPECT_FALSE(IsDBCSLeadByte(0x80));
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByte(0x9F));
    EXPECT_FALSE(IsDBCSLeadByte(0xA0));
    EXPECT_FALSE(IsDBCSLeadByte(0xB1));  // half-width katakana stands alone
    EXPECT_FALSE(IsDBCSLeadByte(0xDF));
    EXPECT_TRUE(IsDBCSLeadByte(0xE0));
    EXPECT_TRUE(IsDBCSLeadByte(0xFC));
    EXPECT_FALSE(IsDBCSLeadByte(0xFD));
    EXPECT_FALSE(IsDBCSLeadByte('A'));
}

TEST(CodePage, RoundTripsJapaneseText)
{
    const std::string sjis = Utf8ToCp932("環境 ｶﾀｶﾅ and ASCII");
    EXPECT_EQ(sjis.substr(0, 4), "\x8A\xC2\x8B\xAB");
    EXPECT_EQ(Cp932ToUtf8(sjis), "環境 ｶﾀｶﾅ and ASCII");
    EXPECT_EQ(QStringToCp932(Cp932ToQString(sjis)), sjis);
}

TEST(CodePage, UndefinedBytesShowAsOneReplacementEachAndNeverStop)
{
    // 0x80, 0xA0 and 0xFD are not characters; 0x81 followed by a newline is a broken pair.
    const std::string received("A\x80" "B\xA0" "C\xFD" "D\x81\n" "E", 10);
    std::string utf8;
    EXPECT_FALSE(Cp932ToUtf8Checked(received, utf8));
    const QString shown = Cp932ToQString(received);
    EXPECT_EQ(shown, QString::fromUtf8("A\uFFFDB\uFFFDC\uFFFDD\uFFFD\nE"));
}

TEST(CodePage, DecodingEmbeddedZeroAndLongInput)
{
    std::string bytes(10000, 'x');
    bytes[5000] = '\0';
    EXPECT_EQ(Cp932ToUtf8(bytes).size(), bytes.size());
}

TEST(CodePage, EncodingRefusesWhatCp932CannotHold)
{
    std::string out;
    EXPECT_TRUE(Utf8ToCp932Checked("ログ.log", out));
    EXPECT_FALSE(Utf8ToCp932Checked("emoji \xF0\x9F\x98\x80 here", out));
    EXPECT_EQ(Utf8ToCp932("a\xF0\x9F\x98\x80z"), "a?z");
}

TEST(CodePage, FileNamesCrossTheFileSystemBoundaryAsUtf8)
{
    const std::string name = Utf8ToCp932("ログ.log");
    EXPECT_EQ(FileNameToSystem(name), "ログ.log");
    EXPECT_EQ(FileNameFromSystem("ログ.log"), name);
}

// Random UTF-8 streams, with characters code page 932 lacks and bytes that are not UTF-8, cut at
// random: the same text as a character-by-character reference, and every mark counted.
TEST(CodePage, Utf8StreamInRandomPiecesMatchesACharacterByCharacterReference)
{
    const std::vector<std::string> pieces = {"a", "\r\n", "\t", "日本", "ｱ", "é", "€", "😀", "\xE3\x81\x82", "\x80",
                                             "\xFF", "\xE3\x81", "\xC3", "\xF0\x9F\x98", "~", "\xED\xA0\x80"};
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        std::string stream;
        for (int n = int(rng() % 60); n > 0; --n) stream += pieces[rng() % pieces.size()];
        stream += "!";   // ends on a whole character
        // Reference: one character (or one stray byte) at a time.
        std::string expect;
        std::uint64_t marks = 0;
        for (size_t i = 0; i < stream.size();) {
            const auto b = static_cast<unsigned char>(stream[i]);
            size_t n = b < 0x80 ? 1 : b >= 0xF0 && b < 0xF8 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            if (b >= 0xF8 || i + n > stream.size()) n = 1;
            for (size_t k = 1; k < n; ++k)
                if ((static_cast<unsigned char>(stream[i + k]) & 0xC0) != 0x80) n = 1;
            std::string one;
            if ((n > 1 || b < 0x80) && Utf8ToCp932Checked(stream.substr(i, n), one)) {
                expect += one;
            } else {
                expect += Utf8ToCp932Stream::kReplacement;
                ++marks;
            }
            i += n;
        }
        Utf8ToCp932Stream decoder;
        std::string shown;
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min(stream.size() - at, size_t(rng() % 6));
            shown += decoder.Convert(std::string_view(stream).substr(at, n));
            at += n;
        }
        ASSERT_EQ(shown, expect) << "round " << round;
        ASSERT_EQ(decoder.Replaced(), marks) << round;
        ASSERT_FALSE(decoder.Pending());
    }
}
