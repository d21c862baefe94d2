#include "macro/FakeTerminal.h"
#include "macro/MacroHost.h"
#include "macro/ScriptResults.h"
#include "search/SearchFeature.h"
#include "terminal/main_u.h"

#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace pek::test {
namespace {

// A window with the three search actions, on a settings file of its own or a shared one.
class SearchWindow : public FakeTerminal {
public:
    explicit SearchWindow(const std::string& iniPath = {}) : FakeTerminal(3, 1)
    {
        if (!iniPath.empty()) ini_ = std::make_unique<ProfileFile>(iniPath);
        for (const char* name : {"SrchSearchAct", "SrchForwardAct", "SrchBackwardAct"}) {
            auto* action = new QAction(&owner_);
            action->setObjectName(name);
            action->setEnabled(false);
        }
    }
    QAction* Action(std::string_view name) const override
    {
        for (QAction* action : owner_.findChildren<QAction*>())
            if (action->objectName().toStdString() == name) return action;
        return FakeTerminal::Action(name);
    }
    ProfileFile& Ini() override { return ini_ ? *ini_ : FakeTerminal::Ini(); }
    QWidget* DialogParent() override { return &frame; }
    QWidget frame;  // the window's own widgets: a second view of a sheet goes in here
    void Trigger(const char* name) { Action(name)->trigger(); }

private:
    std::unique_ptr<ProfileFile> ini_;
    QObject owner_;
};

// Answers the dialog's Exec by running what the test does in it.
class AnsweringDialogs : public RecordingDialogs {
public:
    std::function<void(Tsrch_form&)> answer;
    int Exec(QDialog& dialog) override
    {
        if (answer) answer(static_cast<Tsrch_form&>(dialog));
        return dialog.result();
    }
};

std::string Lines(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += "line " + std::to_string(i) + "\r\n";
    return text;
}

class SearchTest : public ::testing::Test {
protected:
    TEditorEx& Pane(int sheet = 0) { return *window.SheetPane(sheet); }
    void Accept(TSearchType type, const std::string& text, bool matchCase = false)
    {
        Tsrch_form& form = search->Form();
        form.FormShow();
        form.SrchTypeRG[int(type)]->setChecked(true);
        form.ChkMatchCase->setChecked(matchCase);
        form.SetFindText(text);
        form.OkbtnClick();
    }

    AnsweringDialogs dialogs;
    ScopedDialogService scope{dialogs};
    SearchWindow window;
    std::unique_ptr<TSearchFeature> search = AttachSearch(window);
};

TEST_F(SearchTest, LabelsShowTheirMnemonicsAndFocusTheirBox)
{
    const QList<QLabel*> labels = search->Form().findChildren<QLabel*>();
    ASSERT_GE(labels.size(), 2);
    for (const QLabel* label : labels)
        if (label->text().contains('&')) {
            EXPECT_NE(label->buddy(), nullptr) << label->text().toStdString();
        }
}

TEST_F(SearchTest, ActionsEnabledAndF3KeepsAMarginAroundTheHit)
{
    for (const char* name : {"SrchSearchAct", "SrchForwardAct", "SrchBackwardAct"}) EXPECT_TRUE(window.Action(name)->isEnabled());
    Pane().SetText(Lines(100));
    Pane().Model().SetVisibleExtent(10, 80);
    Accept(TSearchType::Plain, "line 50");
    window.Trigger("SrchForwardAct");
    EXPECT_EQ(Pane().Row(), 50);
    EXPECT_EQ(Pane().TopRow(), 43);
    Accept(TSearchType::Plain, "LINE 5");
    window.Trigger("SrchBackwardAct");
    EXPECT_EQ(Pane().Row(), 5);
    EXPECT_EQ(Pane().TopRow(), 2);
    Accept(TSearchType::Plain, "LINE 7", true);  // match case: nothing, and no box either
    window.Trigger("SrchForwardAct");
    EXPECT_EQ(Pane().Row(), 5);
    // A split pane of two rows keeps the hit in view.
    Pane().Model().SetVisibleExtent(2, 80);
    Accept(TSearchType::Regex, "line 9\\d");
    window.Trigger("SrchForwardAct");
    EXPECT_EQ(Pane().Row(), 90);
    EXPECT_GE(Pane().Row(), Pane().TopRow());
    EXPECT_LT(Pane().Row(), Pane().TopRow() + 2);
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(SearchTest, CtrlFTakesOneLineOfTheSelectionAndEnterSearchesOnce)
{
    Pane().SetText("x\r\nAT+CSQ: 17\r\nmore AT+CSQ\r\nAT+CSQ again\r\n");
    Pane().SetSelStart(3);
    Pane().SetSelLength(14);  // "AT+CSQ: 17\r\nmo"
    std::string offered;
    dialogs.answer = [&](Tsrch_form& form) {
        offered = form.FindText();
        form.SrchTypeRG[int(TSearchType::Wildcard)]->setChecked(true);
        form.SetFindText("AT+C*");
        QTest::keyClick(form.srch_cbox->lineEdit(), Qt::Key_Return);
    };
    window.Trigger("SrchSearchAct");
    EXPECT_EQ(offered, "AT+CSQ: 17");
    EXPECT_EQ(search->Form().Pattern(), "AT\\+C(.*)");
    EXPECT_EQ(search->Form().result(), QDialog::Accepted);
    EXPECT_EQ(Pane().SelText(), "AT+CSQ");  // the next one after the selection, once
    EXPECT_EQ(Pane().Row(), 2);

    // Shift+Enter stores without searching; Escape drops the change.
    dialogs.answer = [](Tsrch_form& form) {
        form.SetFindText("again");
        QTest::keyClick(form.srch_cbox->lineEdit(), Qt::Key_Return, Qt::ShiftModifier);
    };
    window.Trigger("SrchSearchAct");
    EXPECT_EQ(Pane().Row(), 2);
    dialogs.answer = [](Tsrch_form& form) {
        form.SetFindText("zzz");
        QTest::keyClick(form.srch_cbox->lineEdit(), Qt::Key_Escape);
    };
    window.Trigger("SrchSearchAct");
    EXPECT_EQ(search->Form().Pattern(), "again");
    EXPECT_EQ(window.Ini().ReadString("Surchwin", Sjis("検索"), ""), "again,AT+C*,");
    EXPECT_EQ(window.Ini().ReadInteger("Surchwin", "SrchType", -1), 2);

    // A whole large selection offers at most 1024 bytes of its first line, never half a character.
    Pane().SetText(std::string(1023, 'a') + Sjis("あ") + "\r\nb");
    Pane().SelectAll();
    dialogs.answer = [&](Tsrch_form& form) { offered = form.FindText(); };
    window.Trigger("SrchSearchAct");
    EXPECT_EQ(offered, std::string(1023, 'a'));
}

TEST_F(SearchTest, BadPatternSaysWhyAndHistoriesAreSharedBetweenWindows)
{
    Pane().SetText("abc");
    Accept(TSearchType::Regex, "a(");
    window.Trigger("SrchForwardAct");
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_NE(dialogs.boxes[0].text.find("parenthesis"), std::string::npos) << dialogs.boxes[0].text;

    SearchWindow other(window.Ini().Path());
    const auto otherSearch = AttachSearch(other);
    Accept(TSearchType::Plain, "one");
    otherSearch->Form().FormShow();
    EXPECT_EQ(otherSearch->Form().srch_cbox->itemText(0), "one");
    otherSearch->Form().SetFindText("two");
    otherSearch->Form().NextbtnClick();
    Accept(TSearchType::Plain, "three");
    EXPECT_EQ(search->Form().SrchHist.History(), (std::vector<std::string>{"three", "two", "one", "a("}));
    for (int i = 0; i < 25; ++i) Accept(TSearchType::Plain, std::to_string(i));
    EXPECT_EQ(search->Form().SrchHist.Count(), 21);
    EXPECT_EQ(search->Form().SrchHist.History().back(), "4");

    // A settings file that cannot be written: the search still runs, the failure is told once.
    SearchWindow readOnly(window.Dir().file("missing/dir/pek.ini").string());
    const auto readOnlySearch = AttachSearch(readOnly);
    readOnly.SheetPane(0)->SetText("find me, find me");
    for (int i = 0; i < 2; ++i) {
        readOnlySearch->Form().SetFindText("find");
        readOnlySearch->Form().NextbtnClick();
    }
    EXPECT_EQ(readOnly.SheetPane(0)->SelStart(), 9);
    EXPECT_EQ(dialogs.boxes.size(), 2u);
}

// A pattern the library gives up on ends F3 there with the library's words: the line below that
// would match is not searched line after line for minutes.
TEST_F(SearchTest, GivingUpEndsTheSearchAndSaysWhy)
{
    std::string text;
    for (int i = 0; i < 3; ++i) text += std::string(100, 'a') + "b\r\n";
    Pane().SetText(text + "aaa\r\n");
    Accept(TSearchType::Regex, "(a+)+$");
    for (int i = 0; i < 2; ++i) {  // the next F3 tries again, and says so again
        EXPECT_FALSE(search->Search(&Pane(), true));
        ASSERT_EQ(dialogs.boxes.size(), size_t(i + 1));
        EXPECT_EQ(dialogs.boxes[size_t(i)].text, "retry-limit-in-match over");
    }
    Pane().Model().SetCaretPos({3, 0});  // below the lines it gives up on
    EXPECT_TRUE(search->Search(&Pane(), true));
    EXPECT_EQ(Pane().SelText(), "aaa");

    // Backwards, the hit above the line it gave up on is not the nearest one: no hit, the caret stays.
    Pane().SetText("aaa\r\n" + text + "aaa\r\n");
    Pane().Model().SetCaretPos({5, 0});
    EXPECT_FALSE(search->Search(&Pane(), false));
    EXPECT_EQ(dialogs.boxes.back().text, "retry-limit-in-match over");
    EXPECT_EQ(Pane().Model().CaretPos(), (TTextPos{5, 0}));
    EXPECT_FALSE(Pane().Model().Selected());
}

// A sheet shown in two panes: F3 searches the one with the focus.
TEST_F(SearchTest, FocusedViewOfTheActiveSheet)
{
    Pane().SetText("one\r\ntwo\r\none\r\n");
    auto* upper = new TEditorEx(&window.frame);
    upper->ShareTextWith(Pane());
    window.frame.show();
    window.frame.activateWindow();
    upper->setFocus();
    if (!QTest::qWaitForWindowActive(&window.frame) || QApplication::focusWidget() != upper) GTEST_SKIP() << "no focus offscreen";
    Accept(TSearchType::Plain, "one");
    window.Trigger("SrchForwardAct");
    EXPECT_EQ(upper->SelText(), "one");
    EXPECT_FALSE(Pane().Selected());
}

// An Editor object searches its own pane, not the active sheet's.
TEST_F(SearchTest, EditorObjectSearchesItsOwnPane)
{
    std::unique_ptr<TMacroHost> host = AttachMacroHost(window);
    Pane(0).SetText("needle here");
    Pane(1).SetText("hay\r\nhay needle");
    Accept(TSearchType::Plain, "needle");
    const std::string path = window.Dir().file("s.lua").string();
    WriteFileBytes(path, std::string(ScriptResults) + R"(
local e = Editor{} e.No = 1
e:FindNext() say(e.HitSelLength, e.SelText, e.Row)
e:FindPrev() say(e.Row)
e.Row = 0 e.Col = 1 e:Find() say(e.SelText, e.SelStart)
io.writeEx(2, table.concat(out, '\n'))
)");
    std::string offered;
    dialogs.answer = [&](Tsrch_form& form) {
        offered = form.FindText();
        form.SetFindText("needle");
        QTest::keyClick(form.srch_cbox->lineEdit(), Qt::Key_Return);
    };
    host->Run(0, path);
    ASSERT_TRUE(host->WaitIdle(20000));
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
    EXPECT_EQ(WithoutCr(window.PaneText(2)), "6 needle 1\n1\nneedle 9");
    EXPECT_EQ(offered, "hay");  // the word at the caret of the object's pane
    EXPECT_FALSE(Pane(0).Selected());
    EXPECT_EQ(window.ActiveSheet(), 0);
    EXPECT_TRUE(host->StopAll(5000));
}

// The real window: its search actions served, and the window may go before the feature does.
TEST(SearchWindowTest, RealWindowFindsAndOutlivesNothing)
{
    AnsweringDialogs dialogs;
    ScopedDialogService scope(dialogs);
    TempDir dir;
    WriteFileBytes(dir.file("pek.ini"), "[No0]\r\nComPortOpen=0\r\n");
    auto form = std::make_unique<TPekForm>(dir.file("pek.ini").string());
    form->LoadSheets();
    const auto search = AttachSearch(*form);
    form->SheetPane(0)->SetText("abc\r\nAT+CSQ\r\n");
    dialogs.answer = [](Tsrch_form& form) {
        form.SrchTypeRG[int(TSearchType::Wildcard)]->setChecked(true);
        form.SetFindText("AT+C*");
        form.OkbtnClick();
    };
    form->Action("SrchSearchAct")->trigger();
    form->Action("SrchForwardAct")->trigger();
    EXPECT_EQ(form->SheetPane(0)->SelText(), "AT+CSQ");
    EXPECT_TRUE(form->Action("SrchBackwardAct")->isEnabled());
    // A shadow window searches its own view of the sheet with the same pattern.
    TPekForm* shadow = form->ViewOtherWinActExecute();
    ASSERT_NE(shadow, nullptr);
    ASSERT_TRUE(shadow->Action("SrchForwardAct")->isEnabled());
    shadow->SheetPane(0)->SetCaret(0, 0);
    shadow->Action("SrchForwardAct")->trigger();
    EXPECT_EQ(shadow->SheetPane(0)->SelText(), "AT+CSQ");
    EXPECT_TRUE(dialogs.boxes.empty());
    form->close();
    form.reset();
}

}  // namespace
}  // namespace pek::test
