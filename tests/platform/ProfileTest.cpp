#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Profile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pek;
using pek::test::ReadFileBytes;
using pek::test::WriteFileBytes;

class ProfileTest : public ::testing::Test {
protected:
    pek::test::TempDir dir;
    std::string path = dir.file("pek.ini").string();
    ProfileFile ini{path};
};

TEST_F(ProfileTest, MissingFileGivesDefaultsAndWriteCreatesIt)
{
    EXPECT_EQ(ini.ReadString("No0", "PortNo", "1"), "1");
    EXPECT_EQ(ini.ReadInteger("No0", "PortNo", 7), 7);
    EXPECT_TRUE(ini.ReadSections().empty());
    ini.WriteInteger("No0", "PortNo", 3);
    EXPECT_EQ(ReadFileBytes(path), "[No0]\r\nPortNo=3\r\n");
    EXPECT_EQ(ini.ReadInteger("no0", "PORTNO", 7), 3);
}

TEST_F(ProfileTest, NamesCompareWithoutCaseButTrailBytesAreNotFolded)
{
    const std::string env = Sjis("環境");
    const std::string search = Sjis("検索");
    ini.WriteString(env, search, "abc");
    EXPECT_EQ(ini.ReadString(env, search, ""), "abc");
    // 0x8A 0xC2 vs 0x8A 0xE2: folding the trail byte would wrongly match another character.
    std::string other = env;
    other[1] = static_cast<char>(0xE2);
    EXPECT_EQ(ini.ReadString(other, search, "none"), "none");
    EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{env});
}

TEST_F(ProfileTest, WritesKeepUnrelatedLinesByteForByte)
{
    const std::string original =
        "; comment kept\r\n[A]\r\nx = 1 \r\nodd line without equals\r\n\r\n[B]\nY=2\n[C]\r\nz=3";
    WriteFileBytes(path, original);
    ini.WriteString("a", "X", "42");
    ini.WriteString("b", "new", "v");
    ini.WriteString("C", "w", "9");
    EXPECT_EQ(ReadFileBytes(path),
              "; comment kept\r\n[A]\r\nX=42\r\nodd line without equals\r\n\r\n[B]\nY=2\nnew=v\r\n[C]\r\nz=3\r\nw=9\r\n");
    EXPECT_EQ(ini.ReadString("A", "x", ""), "42");
    EXPECT_EQ(ini.ReadString("B", "y", ""), "2");
}

TEST_F(ProfileTest, ValuesAreTrimmedNotUnquoted)
{
    WriteFileBytes(path, "[S]\nk =  \"a b\"  \nempty=\n");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "\"a b\"");
    EXPECT_EQ(ini.ReadString("S", "empty", "def"), "");
    EXPECT_TRUE(ini.ValueExists("S", "EMPTY"));
    EXPECT_FALSE(ini.ValueExists("S", "none"));
}

TEST_F(ProfileTest, MalformedNumbersFallBackToTheDefault)
{
    WriteFileBytes(path, "[S]\na=12x\nb=\nc=0x1F\nd=$ff\ne=-5\nf=99999999999\ng=0xFFFFFFFF\nbool=1\nbool0=0\n");
    EXPECT_EQ(ini.ReadInteger("S", "a", -1), -1);
    EXPECT_EQ(ini.ReadInteger("S", "b", -1), -1);
    EXPECT_EQ(ini.ReadInteger("S", "c", -1), 31);
    EXPECT_EQ(ini.ReadInteger("S", "d", -1), 255);
    EXPECT_EQ(ini.ReadInteger("S", "e", 0), -5);
    EXPECT_EQ(ini.ReadInteger("S", "f", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "g", 7), -1);
    EXPECT_TRUE(ini.ReadBool("S", "bool", false));
    EXPECT_FALSE(ini.ReadBool("S", "bool0", true));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
}

TEST_F(ProfileTest, SectionsListEraseAndDeleteKey)
{
    WriteFileBytes(path, "[No0]\na=1\nb=2\n[No1]\na=1\n[no0]\nc=3\n[Main]\nx=1\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"No0", "No1", "Main"}));
    EXPECT_EQ(ini.ReadSectionKeys("NO0"), (std::vector<std::string>{"a", "b"}));
    ini.DeleteKey("No0", "A");
    EXPECT_EQ(ini.ReadString("No0", "a", "gone"), "gone");
    EXPECT_EQ(ini.ReadString("No0", "b", ""), "2");
    ini.EraseSection("no1");
    EXPECT_FALSE(ini.SectionExists("No1"));
    EXPECT_EQ(ReadFileBytes(path), "[No0]\nb=2\n[no0]\nc=3\n[Main]\nx=1\n");
    ini.EraseSection("absent");
    ini.DeleteKey("Main", "absent");
    EXPECT_EQ(ini.ReadString("Main", "x", ""), "1");
}

TEST(CommaText, QuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(ToCommaText({"ATZ", "AT&F", "a b", "x,y", "say \"hi\"", ""}),
              "ATZ,AT&F,\"a b\",\"x,y\",\"say \"\"hi\"\"\",\"\"");
    EXPECT_EQ(ToCommaText({}), "");
}

TEST(CommaText, RoundTripsEveryKindOfItem)
{
    const std::vector<std::vector<std::string>> cases = {
        {}, {""}, {"", ""}, {"a"}, {" lead", "trail ", "tab\there"}, {"\"", "\"\"", ","},
        {Sjis("検索"), Sjis("ソ表"), "!macro.lua"}, {"a", "", "b"},
    };
    for (const auto& items : cases) EXPECT_EQ(FromCommaText(ToCommaText(items)), items) << ToCommaText(items);
}

TEST(CommaText, ReadsHandWrittenLists)
{
    EXPECT_EQ(FromCommaText("  a , b,c,"), (std::vector<std::string>{"a", "b", "c", ""}));
    EXPECT_EQ(FromCommaText("a b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FromCommaText("\"unterminated"), (std::vector<std::string>{"unterminated"}));
}

TEST_F(ProfileTest, LineBreaksCannotSmuggleKeysOrSectionsIn)
{
    ini.WriteString("S", "k", "v");
    EXPECT_THROW(ini.WriteString("S", "InpCmd", "AT\r\n[No7]\r\nComPortOpen=0"), Exception);
    EXPECT_THROW(ini.WriteString("S\n", "k", "v"), Exception);
    EXPECT_THROW(ini.WriteString("S", "k\r", "v"), Exception);
    EXPECT_EQ(ReadFileBytes(path), "[S]\r\nk=v\r\n");
}
