// The ASCII code list without a display: entry lines, the built-in list and its file.
#include "dialogs/AsciiFormList.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pek {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(AsciiCodeList, EntryLinesParse)
{
    const struct {
        const char* line;
        std::vector<std::string> fields;
        std::optional<std::uint8_t> code;
    } cases[] = {
        {"0D, CR, 復帰", {"0D", "CR", "復帰"}, 0x0D},
        {"22, \"\"\"\", x", {"22", "\"", "x"}, 0x22},
        {"2C, \",\", y", {"2C", ",", "y"}, 0x2C},
        {"41, A, ", {"41", "A"}, 0x41},
        {"7f,DEL", {"7f", "DEL"}, 0x7F},
        {"00ff", {"00ff"}, 0xFF},
        {"zz, Q, z", {"zz", "Q", "z"}, 0},  // not hexadecimal: code 0
        {"-1, M", {"-1", "M"}, 0},
        {"", {}, 0},
        {"100, X", {"100", "X"}, std::nullopt},  // above a byte: unreadable
        {"1FF, X", {"1FF", "X"}, std::nullopt},
        {"FFFFFFFFFFFF", {"FFFFFFFFFFFF"}, std::nullopt},
    };
    for (const auto& c : cases) {
        const TAsciiLine parsed = ParseAsciiLine(Sjis(c.line));
        std::vector<std::string> fields;
        for (const auto& f : c.fields) fields.push_back(Sjis(f));
        EXPECT_EQ(parsed.Fields, fields) << c.line;
        EXPECT_EQ(parsed.Code, c.code) << c.line;
    }
}

TEST(AsciiCodeList, BuiltInListHasEveryCodeInOrder)
{
    const auto& lines = TAsciiCodeList::BuiltIn();
    ASSERT_EQ(lines.size(), 128u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TAsciiLine parsed = ParseAsciiLine(lines[i]);
        EXPECT_EQ(parsed.Code, std::uint8_t(i)) << i;
        ASSERT_GE(parsed.Fields.size(), 2u) << i;
        if (i > 0x20 && i < 0x7F) {
            EXPECT_EQ(parsed.Fields[1], std::string(1, char(i))) << i;
        }
    }
    const struct {
        std::size_t code;
        const char* line;
    } exact[] = {
        {0x00, "00, NUL, Null文字"},  {0x08, "08, BS,  後退"},   {0x09, "09, HT,  水平タブ"},
        {0x0D, "0D, CR, 復帰"},       {0x1B, "1B, ESC, エスケープ"}, {0x20, "20, SP, スペース"},
        {0x22, "22, \"\"\"\", 二重引用符、ダブルクォーテーション"}, {0x2C, "2C, \",\", コンマ"},
        {0x41, "41, A, "},            {0x5C, "5C, \\, "},       {0x7E, "7E, ~, チルダ"},
        {0x7F, "7F, DEL, 削除"},
    };
    for (const auto& e : exact) EXPECT_EQ(lines[e.code], Sjis(e.line)) << e.code;
}

TEST(AsciiCodeList, ShortListsKeepCaptionsAndShowNoHover)
{
    TAsciiCodeList list;
    list.Relabel(0);
    list.SetLines({"0D, CR, a", "1B", "zz, Q"});
    list.Relabel(1);
    EXPECT_EQ(list.Caption(11), "1B");  // a line of one field leaves the caption as it was
    EXPECT_EQ(list.Caption(0), "Q");
    EXPECT_EQ(list.HoverText(0), "0D, CR, a");
    EXPECT_EQ(list.HoverText(9), "");  // the list is shorter than the code
    for (const std::ptrdiff_t outside : {-1, 3}) EXPECT_EQ(list.Code(outside), std::nullopt);
}

TEST(AsciiCodeList, FileIsWrittenWhenMissingAndReadOtherwise)
{
    const TempDir dir;
    const std::string path = dir.file("ascii.txt").string();
    EXPECT_EQ(AsciiListPath(dir.file("pek.ini").string()), path);
    EXPECT_EQ(AsciiListPath("pek.ini"), "ascii.txt");

    TAsciiCodeList list;
    list.LoadOrCreate(path);
    EXPECT_EQ(ReadFileBytes(path), TAsciiCodeList::JoinLines(TAsciiCodeList::BuiltIn()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left

    const struct {
        std::string bytes;
        std::vector<std::string> lines;
    } files[] = {
        {"", {}},
        {"a\r\nb\n\nc", {"a", "b", "", "c"}},
        {"x\r\n", {"x"}},
        {std::string("\0\xff\r\r\n", 5), {std::string("\0\xff\r", 3)}},
    };
    for (const auto& f : files) {
        WriteFileBytes(path, f.bytes);
        list.LoadOrCreate(path);
        EXPECT_EQ(list.Lines(), f.lines);
        EXPECT_EQ(ReadFileBytes(path), f.bytes);
    }

    // A list that cannot be written stays in hand, and no partial file appears.
    const std::string missingFolder = dir.file("none").string() + "/ascii.txt";
    EXPECT_THROW(list.LoadOrCreate(missingFolder), Exception);
    EXPECT_EQ(list.Lines(), files[3].lines);
    EXPECT_FALSE(std::filesystem::exists(dir.file("none")));
}

}  // namespace
}  // namespace pek
