#include "editor/EditorModel.h"
#include "editor/EditorProps.h"

#include <gtest/gtest.h>

#include <climits>

namespace pek {
namespace {

class FakeClipboard : public TEditorClipboard {
public:
    std::string GetText() override { return text; }
    void SetText(const std::string& t) override { text = t; }
    std::string text;
};

TEST(EditorModel, RowAndLineConversionsWithoutWrapping)
{
    TEditorModel m;
    m.SetText(std::string(200, 'a') + "\r\nb\r\nc");
    for (long long r = 0; r < 5; ++r) {
        EXPECT_EQ(m.RowToLines(r), r);
        EXPECT_EQ(m.LinesToRow(r), r);
    }
}

TEST(EditorModel, RowAndLineConversionsWithWrappingAt80)
{
    TEditorModel m;
    m.SetWordWrap(true);
    m.SetWrapByte(80);
    m.SetText(std::string(200, 'a') + "\r\n" + std::string(79, 'b') + "\r\n" + std::string(80, 'c') + "\r\nd");
    EXPECT_EQ(m.Lines().RowCount(), 3 + 1 + 2 + 1);
    EXPECT_EQ(m.RowToLines(0), 0);
    EXPECT_EQ(m.RowToLines(2), 0);
    EXPECT_EQ(m.RowToLines(3), 1);
    EXPECT_EQ(m.RowToLines(4), 2);
    EXPECT_EQ(m.RowToLines(5), 2);
    EXPECT_EQ(m.RowToLines(6), 3);
    EXPECT_EQ(m.LinesToRow(1), 3);
    EXPECT_EQ(m.LinesToRow(2), 4);
    EXPECT_EQ(m.LinesToRow(3), 6);
    EXPECT_TRUE(m.RowEndsLine(3));
    EXPECT_FALSE(m.RowEndsLine(4));
    EXPECT_TRUE(m.RowEndsLine(5));
    EXPECT_EQ(m.Lines().RowInfo(5).start, m.Lines().RowInfo(5).end);  // the empty row of the 80-column line
}

TEST(EditorModel, ColToCharCountsEarlierRowsAndRefusesOutsidePositions)
{
    TEditorModel m;
    m.SetWordWrap(true);
    m.SetWrapByte(80);
    m.SetText(std::string(100, 'a') + "\r\nx\t\x82\xa0y");
    EXPECT_EQ(m.ColToChar(-1, 0), -1);
    EXPECT_EQ(m.ColToChar(0, -1), -1);
    EXPECT_EQ(m.ColToChar(4, 0), -1);
    EXPECT_EQ(m.ColToChar(3, 0), 0);   // the row after the text
    EXPECT_EQ(m.ColToChar(0, 5), 5);
    EXPECT_EQ(m.ColToChar(1, 5), 85);
    EXPECT_EQ(m.ColToChar(1, 500), 100);
    EXPECT_EQ(m.ColToChar(2, 3), 1);   // inside the tab
    EXPECT_EQ(m.ColToChar(2, 9), 2);   // second half of the double-byte character
    EXPECT_EQ(m.ColToChar(2, 10), 4);
}

TEST(EditorModel, CaretMovesByCharactersAndRows)
{
    TEditorModel m;
    m.SetText("a\x82\xa0z\r\nline2");
    m.SetCaret(0, 2);  // second half of the double-byte character
    EXPECT_EQ(m.CaretPos(), (TTextPos{0, 1}));
    EXPECT_EQ(m.Col(), 1);
    m.MoveCaret(TCaretMove::Right, false);
    EXPECT_EQ(m.Col(), 3);
    m.MoveCaret(TCaretMove::Right, false);
    m.MoveCaret(TCaretMove::Right, false);
    EXPECT_EQ(m.Row(), 1);
    EXPECT_EQ(m.Col(), 0);
    m.MoveCaret(TCaretMove::Left, false);
    EXPECT_EQ(m.CaretPos(), (TTextPos{0, 4}));
    m.MoveCaret(TCaretMove::Down, false);
    EXPECT_EQ(m.CaretPos(), (TTextPos{1, 4}));
    m.MoveCaret(TCaretMove::RowEnd, true);
    EXPECT_EQ(m.SelText(), "2");
    m.MoveCaret(TCaretMove::TextHome, true);
    EXPECT_EQ(m.SelText(), "a\x82\xa0z\r\nline");
}

TEST(EditorModel, SelectionOffsetsCountLineBreaksAsTwo)
{
    TEditorModel m;
    m.SetText("abc\r\ndef");
    m.SetSelStart(2);
    m.SetSelLength(4);
    EXPECT_TRUE(m.Selected());
    EXPECT_EQ(m.SelText(), "c\r\nd");
    EXPECT_EQ(m.SelStart(), 2);
    EXPECT_EQ(m.SelLength(), 4);
    EXPECT_EQ(m.SelStartRow(), 0);
    EXPECT_EQ(m.SelStartCol(), 2);
    EXPECT_EQ(m.SelEndRow(), 1);
    EXPECT_EQ(m.SelEndCol(), 1);
    m.SetSelText("XY");
    EXPECT_EQ(m.Text(), "abXYef");
    EXPECT_FALSE(m.Selected());
    EXPECT_EQ(m.SelStart(), 4);
}

// Scroll and selection values from a script may be anything: they are clamped, and nothing that
// follows (scrolling to the caret or to a row) overflows.
TEST(EditorModel, ExtremeScrollLayoutAndSelectionValuesAreClamped)
{
    TEditorModel m;
    m.SetText("abc\r\ndef\tgh");
    m.SetVisibleExtent(LLONG_MAX, INT_MAX);
    m.SetTopRow(1);
    m.SetTopCol(1);
    m.SetCaret(1, 2);
    m.ScrollCaret();
    EXPECT_EQ(m.TopCol(), 1);
    for (const long long row : {LLONG_MAX, LLONG_MIN, 1LL}) {
        m.ScrollToRow(row);
        EXPECT_GE(m.TopRow(), 0) << row;
        EXPECT_LE(m.TopRow(), 1) << row;
    }
    const struct {
        int value, topCol;
    } cols[] = {{INT_MAX, TEditorModel::kMaxTopCol}, {INT_MIN, 0}, {7, 7}};
    for (const auto& c : cols) {
        m.SetTopCol(c.value);
        EXPECT_EQ(m.TopCol(), c.topCol) << c.value;
    }
    m.SetVisibleExtent(3, 4);
    m.SetTopCol(INT_MAX);
    m.ScrollCaret();
    EXPECT_EQ(m.TopCol(), 2);
    m.SetTopRow(LLONG_MAX);
    EXPECT_EQ(m.TopRow(), 1);
    m.SetSelStart(2);
    m.SetSelLength(LLONG_MAX);
    EXPECT_EQ(m.SelLength(), m.Lines().TextLength() - 2);
    m.SetSelLength(LLONG_MIN);
    EXPECT_EQ(m.SelLength(), 0);
    m.SetTabSpaceCount(INT_MAX);
    EXPECT_EQ(m.TabSpaceCount(), kMaxTabSpaceCount);
    m.SetWrapByte(INT_MAX);
    EXPECT_EQ(m.WrapByte(), kMaxColumn);
    m.SetCaret(1, INT_MAX);
    EXPECT_EQ(m.Col(), kMaxTabSpaceCount + 2);  // "def", a tab to the first stop, "gh"
}

TEST(EditorModel, BoxSelectionTakesColumnsOfEveryRow)
{
    TEditorModel m;
    m.SetText("abcdef\r\nghijkl\r\nmn");
    m.SetSelectionMode(TSelectionMode::smBox);
    m.SetCaret(0, 1);
    m.SetCaret(2, 4, true);
    EXPECT_EQ(m.SelText(), "bcd\r\nhij\r\nn");
    m.DeleteSelection();
    EXPECT_EQ(m.Text(), "aef\r\ngkl\r\nm");
}

TEST(EditorModel, MovingTheSelectionForwardBackwardAndOntoItself)
{
    TEditorModel m;
    m.SetText("abc\r\ndef\r\nghi");
    m.Select({0, 1}, {1, 1});  // "bc\r\nd"
    ASSERT_TRUE(m.MoveSelectionTo({2, 1}));
    EXPECT_EQ(m.Text(), "aef\r\ngbc\r\ndhi");
    EXPECT_EQ(m.SelText(), "bc\r\nd");
    ASSERT_TRUE(m.MoveSelectionTo({0, 0}));
    EXPECT_EQ(m.Text(), "bc\r\ndaef\r\nghi");
    EXPECT_EQ(m.SelText(), "bc\r\nd");
    EXPECT_FALSE(m.MoveSelectionTo({0, 1}));
    EXPECT_EQ(m.Text(), "bc\r\ndaef\r\nghi");
    m.Undo();
    m.Undo();
    EXPECT_EQ(m.Text(), "aef\r\ngbc\r\ndhi");
}

TEST(EditorModel, AMovedSelectionBesideAnUnpairedLeadByteCoversEveryMovedByte)
{
    // A lone lead byte (at a line end) pairs with a byte moved next to it: the selection then
    // holds the whole character, never less than what was moved.
    struct Case {
        std::string text;
        TTextPos a, z, drop;
        std::string after, selected;
    };
    const std::vector<Case> cases = {
        {"ab\x81\r\ncd", {1, 0}, {1, 2}, {0, 3}, "ab\x81" "cd\r\n", "\x81" "cd"},
        {"ab\r\ndc\x81", {1, 1}, {1, 3}, {0, 1}, "ac\x81" "b\r\nd", "c\x81" "b"},
    };
    for (const Case& c : cases) {
        TEditorModel m;
        m.SetText(c.text);
        m.Select(c.a, c.z);
        ASSERT_TRUE(m.MoveSelectionTo(c.drop)) << c.after;
        EXPECT_EQ(m.Text(), c.after);
        EXPECT_EQ(m.SelText(), c.selected) << c.after;
    }
}

TEST(EditorModel, CutCopyPasteThroughTheClipboard)
{
    FakeClipboard clip;
    TEditorModel m;
    m.SetClipboard(&clip);
    m.SetText("hello world");
    m.SetSelStart(0);
    m.SetSelLength(5);
    m.CutToClipboard();
    EXPECT_EQ(clip.text, "hello");
    EXPECT_EQ(m.Text(), " world");
    m.MoveCaret(TCaretMove::TextEnd, false);
    m.PasteFromClipboard();
    EXPECT_EQ(m.Text(), " worldhello");
    m.SelectAll();
    m.CopyToClipboard();
    EXPECT_EQ(clip.text, " worldhello");
    m.Undo();
    EXPECT_EQ(m.Text(), " world");
    m.Redo();
    EXPECT_EQ(m.Text(), " worldhello");
}

TEST(EditorModel, TypingInsertsOrOverwritesAndUndoesAsOneStep)
{
    TEditorModel m;
    m.SetText("abcd");
    m.SetCaret(0, 1);
    m.TypeText("X");
    m.TypeText("Y");
    EXPECT_EQ(m.Text(), "aXYbcd");
    m.Undo();
    EXPECT_EQ(m.Text(), "abcd");
    EXPECT_EQ(m.CaretPos(), (TTextPos{0, 1}));
    m.SetOverWrite(true);
    m.TypeText("\x82\xa0");  // one character overwrites one character
    EXPECT_EQ(m.Text(), "a\x82\xa0" "cd");
    m.SetCaret(0, 5);
    m.TypeText("zz");  // at the end of the line nothing is left to overwrite
    EXPECT_EQ(m.Text(), "a\x82\xa0" "cdzz");
}

TEST(EditorModel, BackspaceAndDeleteJoinLinesAndRespectDoubleByteCharacters)
{
    TEditorModel m;
    m.SetText("a\x82\xa0\r\nb");
    m.SetCaretPos({0, 3});
    m.DeleteBack();
    EXPECT_EQ(m.Text(), "a\r\nb");
    m.DeleteForward();
    EXPECT_EQ(m.Text(), "ab");
    m.MoveCaret(TCaretMove::TextHome, false);
    m.DeleteBack();  // nothing before the text
    EXPECT_EQ(m.Text(), "ab");
}

TEST(EditorModel, WordsAndTokensUnderTheCaret)
{
    TEditorModel m;
    m.SetText("call foo_bar(12.5e3) \x83\x4a\x83\x5e\x82\xa9\x82\xc8");
    m.SetCaretPos({0, 7});
    EXPECT_EQ(m.WordString(), "foo_bar");
    EXPECT_EQ(m.TokenString(), "foo_bar");
    m.SetCaretPos({0, 14});
    EXPECT_EQ(m.TokenString(), "12.5e3");
    m.SetCaretPos({0, 22});  // katakana, followed by hiragana
    EXPECT_EQ(m.WordString(), "\x83\x4a\x83\x5e");
    m.SelectWordFromCaret();
    EXPECT_EQ(m.SelText(), "\x83\x4a\x83\x5e");
    m.SetCaretPos({0, 1});
    m.SelectTokenFromCaret();
    EXPECT_EQ(m.SelText(), "call");
}

TEST(EditorModel, SharedTextShowsEditsInBothViewsWithTheirOwnCarets)
{
    TEditorModel a, b;
    a.SetText("first\r\nsecond");
    b.AttachLines(a.SharedLines());
    EXPECT_EQ(b.Text(), "first\r\nsecond");
    b.SetCaretPos({1, 3});
    a.SetCaretPos({0, 0});
    a.InsertText("new\r\n");
    EXPECT_EQ(b.Text(), "new\r\nfirst\r\nsecond");
    EXPECT_EQ(b.CaretPos(), (TTextPos{2, 3}));   // b's caret stays on its character
    EXPECT_EQ(a.CaretPos(), (TTextPos{1, 0}));
    b.TypeText("!");
    EXPECT_EQ(a.Lines().GetLine(2), "sec!ond");
    EXPECT_EQ(a.CaretPos(), (TTextPos{1, 0}));
    a.SelectAll();
    EXPECT_FALSE(b.Selected());
    b.Undo();
    EXPECT_EQ(a.Lines().GetLine(2), "second");
}

TEST(EditorModel, AppendKeepsTheCaretAtTheEndAndTheScrollPosition)
{
    TEditorModel m;
    m.SetVisibleExtent(10, 80);
    m.AppendText("a\r\nb");
    EXPECT_EQ(m.CaretPos(), (TTextPos{1, 1}));
    for (int i = 0; i < 30; ++i) m.AppendText("line\r\n");
    EXPECT_EQ(m.TopRow(), 0);
    m.ScrollToEnd();
    EXPECT_EQ(m.TopRow(), m.Lines().RowCount() - 8);
    EXPECT_EQ(m.CaretPos(), m.Lines().EndPos());
}

TEST(EditorModel, AppendCanPutTheCaretAtTheEndFirst)
{
    TEditorModel m;
    m.SetText("abc\r\ndef");
    m.SetSelStart(1);
    m.SetSelLength(2);
    m.AppendText("gh", false);
    EXPECT_EQ(m.SelText(), "bc");  // left alone
    m.AppendText("\r\nij", true);
    EXPECT_FALSE(m.Selected());
    EXPECT_EQ(m.CaretPos(), (TTextPos{2, 2}));
    EXPECT_EQ(m.TopRow(), 0);
}

TEST(EditorModel, TopRowIsClampedOntoTheText)
{
    TEditorModel m;
    m.SetText("a\r\nb");
    m.SetTopRow(50);
    EXPECT_EQ(m.TopRow(), 1);
    m.SetTopRow(-3);
    EXPECT_EQ(m.TopRow(), 0);
}

}  // namespace
}  // namespace pek
