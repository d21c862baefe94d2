#include "MacroFixture.h"
#include "ScriptResults.h"

#include <QTimer>

namespace pek::test {
namespace {


// Sheet 1 closes when the script sends "close1": tokens of its pane must then name nothing.
class ClosingTerminal : public FakeTerminal {
public:
    using FakeTerminal::FakeTerminal;
    TEditorEx* SheetPane(int sheet) const override { return closed && sheet == 1 ? nullptr : FakeTerminal::SheetPane(sheet); }
    void ExecCommand(int sheet, std::string text, bool fromUser) override
    {
        if (text == "close1") closed = true;
        else FakeTerminal::ExecCommand(sheet, std::move(text), fromUser);
    }
    bool closed = false;
};

class EditorScriptTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_TRUE(host->StopAll(5000));
        host.reset();
    }
    // Runs the script (UTF-8 source) on sheet 0 to its end; what it gathered, shown on sheet 2.
    std::string Run(const std::string& utf8Text)
    {
        const std::string path = window.Dir().file("m.lua").string();
        WriteFileBytes(path, Utf8ToCp932(std::string(ScriptResults) + utf8Text + "\nio.writeEx(2, table.concat(out, '\\n') .. '\\n')"));
        const std::string before = window.PaneText(2);
        host->Run(0, path);
        EXPECT_TRUE(host->WaitIdle(20000));
        EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
        return WithoutCr(window.PaneText(2).substr(before.size()));
    }

    ClosingTerminal window{3, 1};
    RecordingDialogs dialogs;
    ScopedDialogService dialogScope{dialogs};
    std::unique_ptr<TMacroHost> host = AttachMacroHost(window);
};

TEST_F(EditorScriptTest, TextLinesSelectionCaretRetargetingAndErrors)
{
    window.SetSheetFile(0, Sjis("ログ.txt"));
    const std::string saved = window.Dir().file("saved.txt").string();
    std::string script = R"(
local e = Editor{}
say(e.No, e.LineCount, e.Text == '', e.RowCount >= 1, e.Handle ~= nil)
e.Text = 'one\ntwo\nthree'
say(e.Text == 'one\r\ntwo\r\nthree', e.LineCount, e:GetLineString(1), e:GetLineString(3) == '', e:GetLineString(-1) == '')
e:SetLineString(5, 'five') say(e.LineCount, e:GetLineString(4) == '', e:GetLineString(5))
e.SelStart = 5 e.SelLength = 5
say(e.SelText == 'two\r\n', e.Selected, e.SelStart, e.SelLength, e.SelSr, e.SelEr, e.SelSc, e.SelEc)
e.SelText = 'X\nY'
say(e:GetLineString(1), e:GetLineString(2), e.Selected)
e:SetLineString(0, 'あいう') e.Row = 0 e.Col = 4
say(e.Row, e.Col, e.SelStart, e:ColToChar(0, 4), e:LinesToRow(2), e:RowToLines(2))
e.LineCount = 99 e.foo = 1 e:Free() e:Free() e.Free()
say(e.LineCount, e.foo, rawget(e, 'foo'), e.TabSpaceCount >= 1, e.SelMode)
e.TabSpaceCount = 4 e.SelMode = true e.ReadOnly = true e.OverWrite = 1
say(e.TabSpaceCount, e.SelMode, e.ReadOnly, e.OverWrite)
e.SelMode = false e.ReadOnly = false e.OverWrite = false
e:SetMarked(1, true) e:SetMarked(99, true)
say(e:IsMarked(1), e:IsMarked(0), e:IsMarked(99))
e.Text = 'hello world' e.Row = 0 e.Col = 7
say(e.WordString, e.TokenString)
e:SelectAll() e.SelText = 'b' e:Undo() say(e.Text)
e:SelectLineFromCaret(false) say(e.SelText)
e.SelStart = 5 e:InsertFileName() say(e.Text)
say(e:Save(SAVED), e:Load('/nonexistent/x.txt'), e.Text == e:GetLineString(0))
e.Text = '' say(e:Load(SAVED), e.Text)
e:SetLineString(2, 'x') e:BeginUpdate() e:SetLineString(3, 'y') e:EndUpdate()
e:SelectAll() e:Delete() say(e.Text == '', e.Modified)
e.No = 1 say(e.No, e.Text == '') e.Text = 'sheet1'
local f = Editor{} f.Handle = e.Handle say(f.No, f.Text)
e.No = 9
say(e.No, e.Handle, E(function() return e.Text end), E(function() return e.SelLength end))
say(E(function() e:Undo() end), E(function() return e.Row end))
rawset(e, 'Handle', 12345) say(e.No, E(function() return e.Selected end))
_PekNo = 9 local g = Editor{} _PekNo = 0 say(g.No, E(function() return g.LineCount end))
e.No = 0 e.Text = 'back'
Trans('close1')
say(f.No, E(function() return f.Text end), E(function() return f:GetLineString(0) end))
local cases = {
  {'GetLineString', function() e.GetLineString(1) end}, {'SetLineString', function() e:SetLineString(-1, 'x') end},
  {'SetLineString', function() e:SetLineString(2000000, 'x') end}, {'SetLineString', function() e:SetLineString(1, {}) end},
  {'ColToChar', function() e:ColToChar(1) end}, {'SetMarked', function() e:SetMarked(1, 1) end},
  {'Save', function() e:Save() end}, {'SelectLineFromCaret', function() e:SelectLineFromCaret(1) end},
  {'Undo', function() e:Undo(1) end}, {'Editor', function() Editor(1) end},
}
for _, c in ipairs(cases) do
  local m = E(c[2])
  if m ~= c[1] .. 'の引数が正しくない' then say('ARG', c[1], m) end
end
say(e.LineCount, e:GetLineString(0))
)";
    for (std::size_t at; (at = script.find("SAVED")) != std::string::npos;) script.replace(at, 5, "'" + saved + "'");
    EXPECT_EQ(Run(script),
              Utf8ToCp932("0 1 true true true\n"
                                              "true 3 two true true\n"
                                              "6 true five\n"
                                              "true true 5 5 1 2 0 0\n"
                                              "X Ythree false\n"
                                              "0 4 4 4 2 2\n"
                                              "6 nil nil true false\n"
                                              "4 true true true\n"
                                              "true false false\n"
                                              "world world\n"
                                              "hello world\n"
                                              "hello world\n"
                                              "helloログ.txt world\n"
                                              "true false true\n"
                                              "true helloログ.txt world\n"
                                              "true true\n"
                                              "1 true\n"
                                              "1 sheet1\n"
                                              "-1 0 Textにはアクセスできません SelLengthTextにはアクセスできません\n"
                                              "Undoの引数が正しくない Rowにはアクセスできません\n"
                                              "-1 Selectedにはアクセスできません\n"
                                              "-1 LineCountにはアクセスできません\n"
                                              "-1 Textにはアクセスできません GetLineStringの引数が正しくない\n"
                                              "1 back\n"));
}

// A script mark (10) sits beside the debugger's marks on the same rows without disturbing them.
TEST_F(EditorScriptTest, ScriptMarkBesideOtherMarks)
{
    EXPECT_EQ(Run("local e = Editor{} e.Text = 'a\\nb\\nc' e:SetMarked(1, true)"), "\n");
    TEditorEx& pane = *window.SheetPane(0);
    pane.AddRowMark(1, 11);
    pane.AddRowMark(2, 12);
    EXPECT_EQ(Run("local e = Editor{} say(e:IsMarked(1), e:IsMarked(2)) e:SetMarked(1, false) e:SetMarked(2, true)"), "true false\n");
    EXPECT_EQ(pane.RowMarks(1), 1u << 11);
    EXPECT_EQ(pane.RowMarks(2), (1u << 12) | (1u << 10));
}

// A large pane (over 4 MB: two pieces) is read in pieces while the window goes on appending to it: the script gets every
// line whole, in order, with what was appended meanwhile after them.
TEST_F(EditorScriptTest, LargeTextReadWhileThePaneGrows)
{
    std::string text;
    for (int i = 0; i < 400000; ++i) text += "line " + std::to_string(i) + "\r\n";
    window.SheetPane(1)->SetText(text);
    QTimer appender;
    QObject::connect(&appender, &QTimer::timeout, [&] { window.SheetPane(1)->AppendText("x\r\n"); });
    appender.start(0);
    EXPECT_EQ(Run(R"(
local e = Editor{} e.No = 1
local s = e.Text
local t = {}
for i = 0, 399999 do t[#t + 1] = 'line ' .. i end
local head = table.concat(t, '\r\n') .. '\r\n'
say(#s > #head, s:sub(1, #head) == head, s:sub(#head + 1):gsub('x\r\n', ''):gsub('x$', '') == '')
)"),
              "true true true\n");
}

}  // namespace
}  // namespace pek::test
