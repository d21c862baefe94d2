// What each visible row shows, laid out without painting: runs of cells and the end of the row.
#include "editor/EditorRowLayout.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace pek {
namespace {

constexpr uint32_t kSel = 0x000011, kFind = 0x000022, kParen = 0x000033, kHit = 0x000044, kRes = 0x000055, kRange = 0x000066;

TEditorProps Props()
{
    TEditorProps p;
    p.View.Colors = {};
    p.View.Colors.Select = {clBlack, kSel, 0};
    p.View.Colors.Reserve = {kRes, clNone, 0};
    p.ExMarks = {};
    p.ExMarks.FindMark = {clGray, kFind, 0, true};
    p.ExMarks.ParenMark = {clWhite, kParen, 0, true};
    p.ExMarks.Hit = {clWhite, kHit, 0, true};
    p.Marks.RetMark.Visible = p.Marks.EofMark.Visible = p.Marks.WrapMark.Visible = p.Marks.HideMark.Visible = true;
    return p;
}

// "col:text/flags" per run (white space shown as dots), then "|endCol" and what follows the text.
std::string Describe(const TRowLayout& r)
{
    std::string out;
    for (const TRowRun& run : r.runs) {
        std::string text(r.text.substr(run.start, run.length));
        if (run.blank) text.assign(text.size(), '.');
        out += std::to_string(run.col) + ":" + text;
        std::string flags;
        for (const auto& [color, flag] : {std::pair{kSel, 'S'}, {kFind, 'F'}, {kParen, 'P'}, {kHit, 'H'}})
            if (run.style.bkColor == color) flags += flag;
        if (run.style.color == kRes) flags += 'R';
        if (run.style.color == kRange) flags += 'Q';
        if (run.style.mark == TCellMark::Tab) flags += 't';
        if (run.style.mark == TCellMark::Space) flags += 's';
        out += (flags.empty() ? "" : "/" + flags) + " ";
    }
    out += "|" + std::to_string(r.endCol);
    const char* marks[] = {"", " ret", " eof", " wrap"};
    out += marks[size_t(r.endMark)];
    if (r.hiddenMark) out += " >";
    if (r.breakColor == kSel) out += " brk=S";
    if (r.caretUnderline) out += " u";
    return out;
}

TEST(EditorRowLayout, RowsShowRunsOfLikeCellsAndTheirEnd)
{
    struct Case {
        const char* name;
        std::string text;
        std::function<void(TEditorModel&, TEditorProps&)> setup;
        int topCol, colsShown;
        std::string rows;  // " / " between rows
    };
    const auto none = [](TEditorModel&, TEditorProps&) {};
    const std::vector<Case> cases = {
        {"plain line", "ab cd", none, 0, 80, "0:ab 2:. 3:cd |5 eof"},
        {"selection over a line break", "ab cd\r\nxy",
         [](TEditorModel& m, TEditorProps&) { m.Select({0, 1}, {1, 0}); }, 0, 80,
         "0:a 1:b/S 2:./S 3:cd/S |5 ret brk=S / 0:xy |2 eof"},
        {"box selection by columns", "abcd\r\nefgh",
         [](TEditorModel& m, TEditorProps&) {
             m.SetSelectionMode(TSelectionMode::smBox);
             m.Select({0, 1}, {1, 3});
         },
         0, 80, "0:a 1:bc/S 3:d |4 ret / 0:e 1:fg/S 3:h |4 eof"},
        {"find matches and the current hit drawn", "cd cd",
         [](TEditorModel& m, TEditorProps&) {
             m.SetFindString("cd");
             m.SetHitStyle(THitStyle::hsDraw);
             ASSERT_TRUE(m.FindNext());
         },
         0, 80, "0:cd/H 2:. 3:cd/F |5 eof"},
        {"brackets paired with the caret's", "(a)", none, 0, 80, "0:(/P 1:a 2:)/P |3 eof"},
        {"reserved word and a range in its colour", "if \"x\" y",
         [](TEditorModel& m, TEditorProps&) { m.SetHighlightRules({"", {{"\"", "\"", kRange}}, {"if"}}); }, 0, 80,
         "0:if/R 2:. 3:\"x\"/Q 6:. 7:y |8 eof"},
        {"a line too long to highlight", "if " + std::string(70000, 'x'),
         [](TEditorModel& m, TEditorProps&) { m.SetHighlightRules({"", {}, {"if"}}); }, 0, 6, "0:if 2:. 3:xxx |70003 eof >"},
        {"scrolled sideways past half a wide character", "a\x82\xa0" "bcdefgh", none, 2, 4, "1:\x82\xa0" "bcd |10 eof >"},
        {"white space with its marks, a control code", "a\tb \x81\x40" "c\x01",
         [](TEditorModel&, TEditorProps& p) { p.ExMarks.TabMark.Visible = p.ExMarks.SpaceMark.Visible = true; }, 0, 80,
         "0:a 1:./t 8:b 9:./s 10:.. 12:c\x01 |14 eof"},
        {"wrapped rows, the caret row underlined", "abcdefg\r\nz",
         [](TEditorModel& m, TEditorProps& p) {
             m.SetWordWrap(true);
             m.SetWrapByte(4);
             m.SetCaret(1, 0);
             p.Marks.Underline.Visible = true;
         },
         0, 80, "0:abcd |4 wrap / 0:efg |3 ret u / 0:z |1 eof"},
    };
    for (const Case& c : cases) {
        TEditorModel model;
        model.SetWordWrap(false);
        model.SetText(c.text);
        TEditorProps props = Props();
        c.setup(model, props);
        // All rows top to bottom, and each row on its own (the rows between were not asked for).
        TRowLayouter all(model, props, c.topCol, c.colsShown);
        std::string rows;
        for (long long row = 0; row < model.Lines().RowCount(); ++row) {
            const std::string inTurn = Describe(all.Layout(row));
            EXPECT_EQ(Describe(TRowLayouter(model, props, c.topCol, c.colsShown).Layout(row)), inTurn) << c.name << " row " << row;
            rows += (row ? " / " : "") + inTurn;
        }
        EXPECT_EQ(rows, c.rows) << c.name;
    }
}

}  // namespace
}  // namespace pek
