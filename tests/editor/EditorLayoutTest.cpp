#include "editor/EditorLayout.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(EditorLayout, PlainTextShortcutAgreesWithTheGeneralWalk)
{
    // Half-width katakana are one column like ASCII but take the general walk.
    for (int width = 2; width <= 90; width += 11) {
        for (size_t len = 0; len <= 300; ++len) {
            const TWrapLayout layout{true, width, 8};
            std::vector<uint32_t> plain, general;
            const std::string a(len, 'a');
            std::string k = a;
            if (len > 0) k[len / 2] = '\xb1';
            ASSERT_EQ(WrapLine(a, layout, &plain), WrapLine(k, layout, &general));
            ASSERT_EQ(plain, general) << width << " " << len;
        }
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
