#include "terminal/EditorAllCodec.h"

#include "platform/Profile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pek;

TEST(EditorAll, HundredBytesMakeFourLines)
{
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += char(i * 7);
    const auto lines = EncodeHexLines(bytes);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].size(), 64u);
    EXPECT_EQ(lines[3].size(), 8u);
    EXPECT_EQ(lines[0].substr(0, 6), "00070E");
    EXPECT_EQ(DecodeHexLines(lines), bytes);
}

TEST(EditorAll, BadDigitsGiveZeroBytes)
{
    EXPECT_EQ(DecodeHexLines({"41zz42", "4"}), std::string("A\0B", 3));
}

TEST(EditorAll, RewritingAShorterValueDeletesOldLines)
{
    pek::test::TempDir dir;
    ProfileFile ini(dir.file("p.ini").string());
    WriteEditorAll(ini, "env", std::string(100, 'x'));
    EXPECT_EQ(ini.ReadInteger("env", "EditorAll_c", 0), 4);
    WriteEditorAll(ini, "env", std::string(10, 'y'));
    EXPECT_EQ(ini.ReadInteger("env", "EditorAll_c", 0), 1);
    EXPECT_FALSE(ini.ValueExists("env", "EditorAll_d1"));
    EXPECT_FALSE(ini.ValueExists("env", "EditorAll_d3"));
    EXPECT_EQ(ReadEditorAll(ini, "env"), std::string(10, 'y'));
    WriteEditorAll(ini, "env", "");
    EXPECT_FALSE(ini.ValueExists("env", "EditorAll_c"));
    EXPECT_FALSE(ini.ValueExists("env", "EditorAll_d0"));
    EXPECT_EQ(ReadEditorAll(ini, "env"), "");
}
