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

// Hand-edited sections: the count may lie, lines may be missing, doubled or spelled otherwise.
// Rewriting leaves the new lines and the keys that are not data lines, and reads back the new value.
TEST(EditorAll, ReadsAndRewritesWhatTheFileHoldsWhateverTheCountSays)
{
    struct Case {
        std::string file;
        std::string read;
        std::vector<std::string> keysAfter;
    };
    const std::vector<Case> cases = {
        {"[e]\nEditorAll_c=2147483647\nEditorAll_d0=41\nEditorAll_d7=42\n", "AB", {"EditorAll_c", "EditorAll_d0"}},
        {"[e]\nEditorAll_c=57032543\n", "", {"EditorAll_c", "EditorAll_d0"}},
        {"[e]\nEditorAll_c=2\nEditorAll_d0=41\nEditorAll_d1=42\nEditorAll_d2=43\neditorall_D01=44\n", "AB",
         {"EditorAll_c", "EditorAll_d0", "editorall_D01"}},
        {"[e]\nEditorAll_c=1\nEditorAll_d0=41\nother=1\nEDITORALL_D0=5A\nEditorAll_d1=43\nEditorAll_d1=44\n", "A",
         {"EditorAll_c", "EditorAll_d0", "other"}},
        {"[e]\nEditorAll_c=-3\nEditorAll_d0=41\n", "", {"EditorAll_c", "EditorAll_d0"}},
    };
    for (const auto& c : cases) {
        pek::test::TempDir dir;
        const auto path = dir.file("p.ini");
        pek::test::WriteFileBytes(path, c.file);
        ProfileFile ini(path.string());
        EXPECT_EQ(ReadEditorAll(ini, "e"), c.read) << c.file;
        WriteEditorAll(ini, "E", "xyz");
        const ProfileFile fresh(path.string());
        EXPECT_EQ(ReadEditorAll(fresh, "e"), "xyz") << c.file;
        EXPECT_EQ(fresh.ReadSectionKeys("e"), c.keysAfter) << c.file;
    }
}
