// The debugger window driven offscreen: a breakpoint set by double click, a run that stops there,
// the views, the evaluation window changing a local and a global, and a stop.
#include "debugger/EvalFrm.h"
#include "debugger/MacroFrm.h"
#include "editor/EditorEx.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace pek {
namespace {

class BoxRecorder : public DialogService {
public:
    int count = 0;
    int MessageBox(QWidget*, const QString&, const QString&, unsigned) override { return ++count, IDOK; }
    std::optional<QString> OpenFileName(QWidget*, const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> SaveFileName(QWidget*, const FileDialogRequest&) override { return std::nullopt; }
    int Exec(QDialog&) override { return 0; }
};

// Calls `step` every few milliseconds from inside the run's event serving until it returns true.
void WhenStopped(TfrmMacro& form, std::function<void()> step)
{
    auto* timer = new QTimer(&form);
    QObject::connect(timer, &QTimer::timeout, &form, [&form, timer, step] {
        if (!form.IsRunning() || form.Engine().Executing()) return;
        timer->stop();
        timer->deleteLater();
        step();
    });
    timer->start(5);
}

bool Has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(DebuggerWindow, BreakpointViewsEvaluationAndStop)
{
    test::TempDir dir;
    const std::string path = dir.file("script.lua").string();
    test::WriteFileBytes(path, "x = 10\n"
                               "local function f(a)\n"
                               "  local b = a + 1\n"
                               "  return b\n"
                               "end\n"
                               "local r = f(x)\n"
                               "print(r, x)\n");
    TfrmMacro form(nullptr, nullptr);
    form.resize(800, 600);
    form.show();
    form.LoadFile(path);
    TEditorEx& editor = form.ActiveTab()->Editor();
    TDebuggerViewModel& view = form.View();
    ASSERT_EQ(editor.LineCount(), 8);

    // A double click in the left margin of row 3 ("return b") sets a breakpoint there.
    const int rowY = (3 - int(editor.TopRow())) * editor.CellHeight() + editor.CellHeight() / 2;
    QTest::mouseDClick(editor.viewport(), Qt::LeftButton, {}, QPoint(2, rowY));
    ASSERT_EQ(form.Engine().FBreakPoints.Count(), 1);
    EXPECT_EQ(form.Engine().FBreakPoints.Items(0).Line, 3);
    ASSERT_EQ(view.Breakpoints().size(), 1u);
    EXPECT_EQ(view.Breakpoints()[0].Line, 4);
    EXPECT_EQ(editor.RowMarks(3), kBreakPointMark);
    view.AddWatch("b");
    view.AddWatch("x");

    bool sawStop = false;
    WhenStopped(form, [&] {
        sawStop = true;
        EXPECT_EQ(editor.RowMarks(3), kCurrentLineMark);
        EXPECT_EQ(view.PositionRow(), 3);
        EXPECT_TRUE(Has(view.Locals(), "a=10"));
        EXPECT_EQ(view.Watches()[0].Value, "11");
        EXPECT_EQ(view.Watches()[1].Value, "10");
        // The widgets draw the view-model.
        std::vector<std::string> shownLocals;
        const auto* locals = form.findChild<QListWidget*>("lstLocal");
        for (int i = 0; i < locals->count(); ++i) shownLocals.push_back(QStringToCp932(locals->item(i)->text()));
        EXPECT_EQ(shownLocals, view.Locals());
        EXPECT_EQ(form.findChild<QTableWidget*>("sgWatch")->item(1, 1)->text(), "10");
        TfrmEval& eval = form.EvalForm();
        eval.edtIdent->setText("b");
        eval.edtNewValue->setText("12");
        eval.btnChange->click();
        EXPECT_EQ(eval.memValue->toPlainText(), "12");
        eval.edtIdent->setText("x");
        eval.edtNewValue->setText("20");
        eval.btnChange->click();
        EXPECT_EQ(eval.memValue->toPlainText(), "20");
        EXPECT_EQ(view.Watches()[0].Value, "12");
        form.Action("acRun")->trigger();
    });
    form.Action("acRun")->trigger();  // returns when the run has ended
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(form.IsRunning());
    EXPECT_EQ(view.Console(), "12\t20\r\n");
    EXPECT_EQ(form.findChild<QPlainTextEdit*>("memConsole")->toPlainText(), "12\t20\n");
    EXPECT_EQ(editor.RowMarks(3), kBreakPointMark);
    EXPECT_EQ(view.PositionRow(), -1);
    ASSERT_FALSE(view.Messages().empty());
    EXPECT_TRUE(view.Messages().front().starts_with(Sjis("実行時間=")));

    // Stopped again, the stop command ends the run with its message line and no error box.
    WhenStopped(form, [&] { form.Action("acStop")->trigger(); });
    form.Action("acRun")->trigger();
    EXPECT_FALSE(form.IsRunning());
    ASSERT_EQ(view.Messages().size(), 1u);
    EXPECT_TRUE(view.Messages().back().ends_with("(0): STOP")) << view.Messages().back();
    EXPECT_EQ(view.EvalName("x"), "");  // no run, no value

    // A syntax error on line 3: its message line, the caret on row 2 and the error box.
    test::WriteFileBytes(path, "local a = 1\nlocal b = 2\nlocal c = = 3\n");
    form.LoadFile(path);
    BoxRecorder boxes;
    ScopedDialogService scope(boxes);
    form.Action("acRun")->trigger();
    EXPECT_EQ(form.ActiveTab()->Editor().Row(), 2);
    ASSERT_FALSE(view.Messages().empty());
    EXPECT_NE(view.Messages().back().find("] (3): "), std::string::npos) << view.Messages().back();
    EXPECT_EQ(boxes.count, 1);
}

TEST(DebuggerWindow, BreakpointsFromTheMenuAndTheMarginAndTabsThatGo)
{
    test::TempDir dir;
    const std::string path = dir.file("b.lua").string();
    test::WriteFileBytes(path, "local a = 1\nlocal b = 2\nlocal c = 3\n");
    auto form = std::make_unique<TfrmMacro>(nullptr, nullptr);
    form->resize(800, 600);
    form->show();
    form->LoadFile(path);
    TEditorEx& editor = form->ActiveTab()->Editor();
    const auto rowY = [&](int row) { return (row - int(editor.TopRow())) * editor.CellHeight() + editor.CellHeight() / 2; };

    QAction* setBreak = form->Action("acSetBreak");
    ASSERT_NE(setBreak, nullptr);
    QAction* inMenu = nullptr;
    for (QAction* menu : form->menuBar()->actions())
        if (menu->menu() && menu->menu()->actions().contains(setBreak)) inMenu = menu;
    ASSERT_NE(inMenu, nullptr);
    EXPECT_EQ(inMenu->text(), Cp932ToQString(Sjis("実行(&R)")));
    EXPECT_EQ(setBreak->shortcut(), QKeySequence(Qt::Key_F5));
    editor.SetCaret(2, 0);
    setBreak->trigger();
    QTest::mouseClick(editor.viewport(), Qt::LeftButton, {}, QPoint(2, rowY(0)));
    EXPECT_EQ(form->Engine().FBreakPoints.Count(), 2);
    QTest::mouseClick(editor.viewport(), Qt::LeftButton, {}, QPoint(2, rowY(2)));
    ASSERT_EQ(form->Engine().FBreakPoints.Count(), 1);
    EXPECT_EQ(form->Engine().FBreakPoints.Items(0).Line, 0);

    // Tabs deleted one by one and with the window: the tab widget's change slot never meets a
    // list in the middle of its change.
    form->NewTab(dir.file("c.lua").string());
    form->NewTab(dir.file("d.lua").string());
    ASSERT_EQ(form->TabCount(), 3);
    form->DeleteTab(0);
    form->DeleteTab(1);
    ASSERT_EQ(form->TabCount(), 1);
    EXPECT_EQ(form->ActiveTab(), &form->Tab(0));
    form->NewTab(dir.file("e.lua").string());
    form.reset();
}

}  // namespace
}  // namespace pek
