#include "scriptgui/GuiLayout.h"

#include <gtest/gtest.h>

namespace pek::test {
namespace {

TEST(GuiLayout, CursorArithmetic)
{
    EXPECT_EQ(GuiNextRowY(10, 21), 35);
    EXPECT_EQ(GuiNextRowY(10, 30), 60);
    EXPECT_EQ(GuiNextRowY(10, 25), 60);  // a bottom edge on a grid line belongs to the next row
    EXPECT_EQ(GuiNextRowY(-40, 10), 10);  // truncation toward zero, not flooring
    EXPECT_EQ(GuiLocate(2, 3), (TGuiCursor{55, 85}));
    EXPECT_EQ(GuiLocate(-1, 0), (TGuiCursor{-20, 10}));
    const TGuiCursor far = GuiLocate(INT64_MAX, INT64_MIN);
    EXPECT_GT(far.X, 0);
    EXPECT_LT(far.Y, 0);
    EXPECT_EQ(GuiScrollPixels(1), 25);
    EXPECT_EQ(GuiScrolledCursorY(60, 1), 35);
    EXPECT_EQ(GuiScrolledCursorY(10, 100), 10);
    EXPECT_EQ(GuiScrolledCursorY(35, -2), 85);
}

TEST(GuiLayout, ItemSizes)
{
    int width = 10;
    for (const char* option : {"A", "BB", "CCCCCC"}) width = GuiOptionWidth(width, std::string(option).size(), 6);
    EXPECT_EQ(width, 51);
    EXPECT_EQ(GuiSelOption(2, 51, 20), QRect(102, 0, 51, 20));
    EXPECT_EQ(GuiEditFieldWidth(100, 3, 6), 100);
    EXPECT_EQ(GuiEditFieldWidth(100, 20, 6), 135);
    EXPECT_EQ(GuiNumFieldWidth(TNumKind::Hex4, 100, 6), 39);
    EXPECT_EQ(GuiNumFieldWidth(TNumKind::Hex8, 100, 6), 63);
    EXPECT_EQ(GuiNumFieldWidth(TNumKind::Integer, 100, 6), 75);
    EXPECT_EQ(GuiNumFieldWidth(TNumKind::Float, 100, 6), 100);
    const TGuiRowAlign align = GuiAlignRow(40, 153);
    EXPECT_EQ(align.InnerLeft, 50);
    EXPECT_EQ(align.ClientWidth, 208);
}

TEST(GuiLayout, MenuGridAndKeys)
{
    const TGuiMenuLayout five = GuiArrangeMenu(5, 2, 40, 20);
    EXPECT_EQ(five.Columns, 2);
    EXPECT_EQ(five.ClientWidth, 90);
    EXPECT_EQ(five.ClientHeight, 80);  // three rows
    EXPECT_EQ(five.Options[3], QRect(45, 35, 40, 20));
    const TGuiMenuLayout row = GuiArrangeMenu(3, 0, 40, 20);
    EXPECT_EQ(row.Columns, 3);
    EXPECT_EQ(row.Options[2].top(), 15);
    EXPECT_TRUE(GuiArrangeMenu(0, 2, 40, 20).Options.empty());
    const struct {
        TGuiArrow key;
        int from, to;
    } moves[] = {
        {TGuiArrow::Down, 2, 4}, {TGuiArrow::Down, 3, -1}, {TGuiArrow::Right, 1, -1}, {TGuiArrow::Right, 0, 1},
        {TGuiArrow::Left, 2, -1}, {TGuiArrow::Left, 3, 2}, {TGuiArrow::Up, 1, -1}, {TGuiArrow::Up, 4, 2},
    };
    for (const auto& m : moves) EXPECT_EQ(GuiMenuMove(m.key, m.from, 2, 5), m.to) << m.from;
    EXPECT_EQ(GuiSelMove(TGuiArrow::Left, 0, 3), -1);
    EXPECT_EQ(GuiSelMove(TGuiArrow::Right, 2, 3), -1);
    EXPECT_EQ(GuiSelMove(TGuiArrow::Right, 1, 3), 2);
    EXPECT_EQ(GuiClampOption(7, 3), 2);
    EXPECT_EQ(GuiClampOption(-4, 3), 0);
    EXPECT_EQ(GuiClampOption(0, 0), -1);
}

TEST(NumEditRules, KeyFilter)
{
    const struct {
        TNumKind kind;
        const char* text;
        int caret;
        char ch;
        bool accepted;
    } cases[] = {
        {TNumKind::Integer, "", 0, '-', true},     {TNumKind::Integer, "12", 0, '-', true},
        {TNumKind::Integer, "12", 1, '-', false},  {TNumKind::Integer, "-12", 0, '-', false},
        {TNumKind::Integer, "1", 1, '.', false},   {TNumKind::Float, "1", 1, '.', true},
        {TNumKind::Float, "1.5", 3, '.', false},   {TNumKind::Float, "1", 1, 'e', false},
        {TNumKind::Hex4, "0000", 4, 'f', true},    {TNumKind::Hex8, "0000", 4, 'G', false},
        {TNumKind::Hex4, "0000", 4, '-', false},   {TNumKind::Integer, "", 0, char(22), true},
        {TNumKind::Hex4, "", 0, char(3), true},    {TNumKind::Integer, "", 0, ' ', false},
    };
    for (const auto& c : cases) EXPECT_EQ(NumEditAccepts(c.kind, c.text, c.caret, c.ch), c.accepted) << c.text << " " << c.ch;
}

TEST(NumEditRules, HexNormalisation)
{
    const struct {
        const char* text;
        int caret, digits;
        const char* out;
        int outCaret;
    } cases[] = {
        {"12345", 5, 4, "2345", 4},  {"123", 3, 4, "0123", 4},        {"a1234", 1, 4, "1234", 0},
        {"", 0, 4, "0000", 4},       {"12-x3", 5, 4, "0123", 4},      {"1234abcd5", 9, 8, "234ABCD5", 8},
        {"F00F", 2, 4, "F00F", 2},
    };
    for (const auto& c : cases) {
        const auto [text, caret] = NumEditNormalizeHex(c.text, c.caret, c.digits);
        EXPECT_EQ(text, c.out) << c.text;
        EXPECT_EQ(caret, c.outCaret) << c.text;
    }
}

TEST(NumEditRules, Values)
{
    EXPECT_EQ(NumEditHexValue("8000", 4), -32768);
    EXPECT_EQ(NumEditHexValue("FFFF", 4), -1);
    EXPECT_EQ(NumEditHexValue("7FFF", 4), 32767);
    EXPECT_EQ(NumEditHexValue("80000000", 8), INT32_MIN);
    EXPECT_EQ(NumEditHexValue("FFFFFFFF", 8), -1);
    EXPECT_EQ(NumEditHexValue("", 8), 0);
    EXPECT_EQ(NumEditIntValue("-"), 0);
    EXPECT_EQ(NumEditIntValue(""), 0);
    EXPECT_EQ(NumEditIntValue(" 42 "), 42);
    EXPECT_EQ(NumEditIntValue("99999999999"), INT32_MAX);
    EXPECT_EQ(NumEditIntValue("-99999999999999999999999"), INT32_MIN);
    EXPECT_DOUBLE_EQ(NumEditFloatValue("-1.5"), -1.5);
    EXPECT_DOUBLE_EQ(NumEditFloatValue("."), 0.0);
    EXPECT_DOUBLE_EQ(NumEditFloatValue("-"), 0.0);
    EXPECT_EQ(GuiHexText(18, 8), "00000012");
    EXPECT_EQ(GuiHexText(74565, 4), "2345");
    EXPECT_EQ(GuiHexText(-1, 4), "FFFF");
}

}  // namespace
}  // namespace pek::test
