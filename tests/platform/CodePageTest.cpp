#include "platform/CodePage.h"

#include <gtest/gtest.h>

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
