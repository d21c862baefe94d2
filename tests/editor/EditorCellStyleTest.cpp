// The look of a cell and a row, decided without painting.
#include "editor/EditorCellStyle.h"

#include <gtest/gtest.h>

#include <functional>

#include "editor/EditorModel.h"

namespace pek {
namespace {

constexpr uint32_t kCyan = 0x00FFFF00, kBlue = 0x00FF0000, kPink = 0x00FF80FF;

TEST(EditorCellStyle, LaterRulesWinAndEachStoredItemShows)
{
    struct Case {
        const char* name;
        std::function<void(TEditorProps&)> props;
        TCellFacts facts;
        THitStyle hitStyle;
        uint32_t color, bkColor;
        uint8_t style;
        uint32_t lineColor;
    };
    const auto none = [](TEditorProps&) {};
    const TCellFacts plain{};
    const auto token = [](TTokenKind kind, uint32_t range = clNone) {
        TCellFacts f;
        f.hasToken = true;
        f.kind = kind;
        f.rangeColor = range;
        return f;
    };
    const auto with = [](TCellFacts f, bool TCellFacts::*flag) {
        f.*flag = true;
        return f;
    };
    const std::vector<Case> cases = {
        {"font", none, plain, THitStyle::hsSelect, clWhite, clNone, 0, clWhite},
        {"reserved word", none, token(TTokenKind::Reserve), THitStyle::hsSelect, clRed, clNone, 0, clRed},
        {"range with its colour", none, token(TTokenKind::Range, kCyan), THitStyle::hsSelect, kCyan, clNone, 0, clWhite},
        {"range without colour is a string", [](TEditorProps& p) { p.View.Colors.Str = {kPink, kBlue, fsItalic}; },
         token(TTokenKind::Range), THitStyle::hsSelect, kPink, kBlue, fsItalic, clWhite},
        {"bold number, underlined", [](TEditorProps& p) { p.View.Colors.Int = {kCyan, clNone, fsBold | fsUnderline}; },
         token(TTokenKind::Number), THitStyle::hsSelect, kCyan, clNone, fsBold | fsUnderline, kCyan},
        {"find match: mark", none, with(plain, &TCellFacts::found), THitStyle::hsSelect, clWhite, clNone, fsUnderline, clGray},
        {"find match: Hit item", [](TEditorProps& p) { p.View.Colors.Hit = {kBlue, kPink, fsBold}; p.ExMarks.FindMark.Visible = false; },
         with(token(TTokenKind::Word), &TCellFacts::found), THitStyle::hsSelect, kBlue, kPink, fsBold, clWhite},
        {"current hit drawn", none, with(plain, &TCellFacts::hit), THitStyle::hsDraw, clYellow, clNone, fsUnderline, clYellow},
        {"current hit selected instead", none, with(plain, &TCellFacts::hit), THitStyle::hsSelect, clWhite, clNone, 0, clWhite},
        {"current hit: caret only", none, with(plain, &TCellFacts::hit), THitStyle::hsCaret, clWhite, clNone, 0, clWhite},
        {"matching bracket", [](TEditorProps& p) { p.ExMarks.ParenMark = {kCyan, kBlue, fsBold, true}; },
         with(plain, &TCellFacts::paren), THitStyle::hsSelect, kCyan, kBlue, fsBold, clWhite},
        {"selection over a hit", none, with(with(token(TTokenKind::Reserve), &TCellFacts::hit), &TCellFacts::selected),
         THitStyle::hsDraw, clBlack, clYellow, fsUnderline, clYellow},
    };
    for (const Case& c : cases) {
        TEditorProps props;
        c.props(props);
        const TCellStyle s = CellStyle(props, c.hitStyle, c.facts);
        EXPECT_EQ(s.color, c.color) << c.name;
        EXPECT_EQ(s.bkColor, c.bkColor) << c.name;
        EXPECT_EQ(s.style, c.style) << c.name;
        if (s.style & fsUnderline) {
            EXPECT_EQ(s.lineColor, c.lineColor) << c.name;
        }
    }
}

TEST(EditorCellStyle, WhiteSpaceMarksShowWhenVisible)
{
    TEditorProps props;
    props.ExMarks.TabMark = {kCyan, clNone, 0, true};
    props.ExMarks.DBSpaceMark = {kBlue, clNone, 0, true};
    const std::vector<std::pair<std::string, TCellMark>> cases = {
        {"\t", TCellMark::Tab}, {" ", TCellMark::None}, {"\x81\x40", TCellMark::DBSpace}, {"\x82\xa0", TCellMark::None}};
    for (const auto& [ch, mark] : cases) {
        TCellFacts f;
        f.space = SpaceOf(ch);
        const TCellStyle s = CellStyle(props, THitStyle::hsSelect, f);
        EXPECT_EQ(s.mark, mark) << ch;
        EXPECT_EQ(s.markColor, mark == TCellMark::DBSpace ? kBlue : mark == TCellMark::Tab ? kCyan : clGray) << ch;
    }
}

TEST(EditorCellStyle, BracketAtTheCaretFindsItsPartner)
{
    TEditorModel m;
    m.SetText("a(b[c\x82\x5b]d)e\r\nf{\r\n}");  // 82 5B: a trail byte that looks like "["
    struct Case {
        TTextPos caret, first, second;
    };
    for (const Case& c : std::vector<Case>{{{0, 1}, {0, 1}, {0, 9}},
                                          {{0, 10}, {0, 9}, {0, 1}},
                                          {{0, 3}, {0, 3}, {0, 7}},
                                          {{1, 2}, {1, 1}, {2, 0}},
                                          {{0, 0}, {-1, 0}, {-1, 0}}}) {
        m.SetCaretPos(c.caret);
        EXPECT_EQ(m.MatchingBrackets(), std::pair(c.first, c.second)) << c.caret.line << ":" << c.caret.byte;
    }
}

}  // namespace
}  // namespace pek
