#include "editor/EditorLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace pek {
namespace {

const TWrapLayout kWrap80{true, 80, 8};
const std::string kDb = "\x82\xa0";  // hiragana a, two columns

std::vector<uint32_t> Starts(const std::string& line, const TWrapLayout& layout = kWrap80)
{
    std::vector<uint32_t> starts;
    WrapLine(line, layout, &starts);
    return starts;
}

TEST(EditorLayout, LineShorterThanTheWidthIsOneRow)
{
    EXPECT_EQ(WrapLine(std::string(79, 'a'), kWrap80), 1);
    EXPECT_EQ(WrapLine("", kWrap80), 1);
}

TEST(EditorLayout, LineOfExactlyTheWidthGetsAnEmptySecondRow)
{
    EXPECT_EQ(Starts(std::string(80, 'a')), (std::vector<uint32_t>{0, 80}));
    EXPECT_EQ(Starts(std::string(160, 'a')), (std::vector<uint32_t>{0, 80, 160}));
}

TEST(EditorLayout, LongLineIsCutEveryWidthColumns)
{
    EXPECT_EQ(Starts(std::string(200, 'a')), (std::vector<uint32_t>{0, 80, 160}));
    EXPECT_EQ(Starts(std::string(81, 'a')), (std::vector<uint32_t>{0, 80}));
}

TEST(EditorLayout, DoubleByteCharacterAtTheLastColumnStartsTheNextRow)
{
    const std::string line = std::string(79, 'a') + kDb + "b";
    EXPECT_EQ(Starts(line), (std::vector<uint32_t>{0, 79}));
    // One column earlier it fits exactly and fills the row.
    const std::string fits = std::string(78, 'a') + kDb + "b";
    EXPECT_EQ(Starts(fits), (std::vector<uint32_t>{0, 80}));
    // Forty double-byte characters fill the row exactly: an empty row follows.
    std::string forty;
    for (int i = 0; i < 40; ++i) forty += kDb;
    EXPECT_EQ(Starts(forty), (std::vector<uint32_t>{0, 80}));
}

TEST(EditorLayout, TabsWidenToTheNextStopButNeverPastTheRowEnd)
{
    EXPECT_EQ(ColumnOf("a\tb", 0, 2, kWrap80), 8);
    EXPECT_EQ(ColumnOf("\t\t", 0, 2, TWrapLayout{false, 80, 4}), 8);
    // A tab at column 78 would reach 80; it ends the row exactly.
    const std::string line = std::string(78, 'a') + "\tb";
    EXPECT_EQ(Starts(line), (std::vector<uint32_t>{0, 79}));
    EXPECT_EQ(CharColumns(line, 78, 78, kWrap80), 2);
    // Without wrapping the tab is not cut.
    EXPECT_EQ(CharColumns(std::string(78, 'a') + "\t", 78, 78, TWrapLayout{false, 80, 8}), 2);
    EXPECT_EQ(CharColumns(std::string(79, 'a') + "\t", 79, 79, TWrapLayout{false, 80, 8}), 1);
}

// The wrap rule one character at a time, as the reference for the run-at-once shortcut.
std::vector<uint32_t> ReferenceStarts(const std::string& line, const TWrapLayout& layout)
{
    const int width = std::max(2, layout.WrapByte);
    std::vector<uint32_t> starts{0};
    int col = 0;
    for (size_t i = 0; i < line.size();) {
        const bool pair = i + 1 < line.size() && IsDBCSLeadByte(static_cast<unsigned char>(line[i]));
        const auto columns = [&] {
            if (line[i] != '\t') return pair ? 2 : 1;
            const int tab = std::max(1, layout.TabSpaceCount);
            return std::max(1, std::min(tab - col % tab, width - col));
        };
        if (col > 0 && col + columns() > width) {
            starts.push_back(uint32_t(i));
            col = 0;
        }
        col += columns();
        i += pair ? 2 : 1;
        if (col >= width && i < line.size()) {
            starts.push_back(uint32_t(i));
            col = 0;
        }
    }
    if (col >= width) starts.push_back(uint32_t(line.size()));
    return starts;
}

TEST(EditorLayout, RandomLinesWrapAsTheCharacterByCharacterRule)
{
    // ASCII runs, tabs, double-byte characters, half-width katakana and lone lead bytes.
    const std::vector<std::string> pieces{"a", "bcdefghij", "\t", kDb, "\xb1", "\x81", "\x80", "\x88\x9f"};
    std::mt19937 random(24);
    for (int round = 0; round < 4000; ++round) {
        const TWrapLayout layout{true, int(random() % 40) + (round % 2 ? 2 : 60), int(random() % 8) + 1};
        std::string line;
        const size_t count = random() % 60;
        for (size_t k = 0; k < count; ++k) line += pieces[random() % pieces.size()];
        std::vector<uint32_t> starts;
        ASSERT_EQ(WrapLine(line, layout, &starts), int(ReferenceStarts(line, layout).size())) << round;
        ASSERT_EQ(starts, ReferenceStarts(line, layout)) << round;
    }
}

TEST(EditorLayout, WithoutWrappingEveryLineIsOneRow)
{
    EXPECT_EQ(WrapLine(std::string(500, 'a'), TWrapLayout{false, 80, 8}), 1);
}

TEST(EditorLayout, ByteAtColumnMapsInsideTabsAndDoubleByteCharacters)
{
    const std::string line = "a\t" + kDb + "z";
    const TWrapLayout l{false, 80, 8};
    EXPECT_EQ(ByteAtColumn(line, 0, line.size(), 0, l), 0u);
    EXPECT_EQ(ByteAtColumn(line, 0, line.size(), 1, l), 1u);
    EXPECT_EQ(ByteAtColumn(line, 0, line.size(), 7, l), 1u);   // inside the tab
    EXPECT_EQ(ByteAtColumn(line, 0, line.size(), 8, l), 2u);
    EXPECT_EQ(ByteAtColumn(line, 0, line.size(), 9, l), 2u);   // second half of the character
    EXPECT_EQ(ByteAtColumn(line, 0, line.size(), 10, l), 4u);
    EXPECT_EQ(ByteAtColumn(line, 0, line.size(), 99, l), 5u);  // past the end
}

TEST(EditorLayout, LoneLeadByteAtLineEndIsOneColumn)
{
    EXPECT_EQ(CharBytes("a\x82", 1), 1);
    EXPECT_EQ(ColumnOf("a\x82", 0, 2, kWrap80), 2);
}

}  // namespace
}  // namespace pek
