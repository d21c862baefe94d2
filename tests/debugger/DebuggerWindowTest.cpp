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
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

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

QStringList Items(const QListWidget& list)
{
    QStringList items;
    for (int i = 0; i < list.count(); ++i) items << list.item(i)->text();
    return items;
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
    ASSERT_EQ(editor.LineCount(), 8);

    // A double click in the left margin of row 3 ("return b") sets a breakpoint there.
    const int rowY = (3 - int(editor.TopRow())) * editor.CellHeight() + editor.CellHeight() / 2;
    QTest::mouseDClick(editor.viewport(), Qt::LeftButton, {}, QPoint(2, rowY));
    ASSERT_EQ(form.Engine().FBreakPoints.Count(), 1);
    EXPECT_EQ(form.Engine().FBreakPoints.Items(0).Line, 3);
    EXPECT_EQ(form.sgBreak->item(0, 1)->text(), "4");
    EXPECT_EQ(editor.RowMarks(3), kBreakPointMark);
    form.AddWatch("b");
    form.AddWatch("x");

    bool sawStop = false;
    WhenStopped(form, [&] {
        sawStop = true;
        EXPECT_EQ(editor.RowMarks(3), kCurrentLineMark);
        EXPECT_TRUE(Items(*form.lstLocal).contains("a=10")) << Items(*form.lstLocal).join(" ").toStdString();
        EXPECT_EQ(form.sgWatch->item(0, 1)->text(), "11");
        EXPECT_EQ(form.sgWatch->item(1, 1)->text(), "10");
        TfrmEval& eval = form.EvalForm();
        eval.edtIdent->setText("b");
        eval.edtNewValue->setText("12");
        eval.btnChange->click();
        EXPECT_EQ(eval.memValue->toPlainText(), "12");
        eval.edtIdent->setText("x");
        eval.edtNewValue->setText("20");
        eval.btnChange->click();
        EXPECT_EQ(eval.memValue->toPlainText(), "20");
        EXPECT_EQ(form.sgWatch->item(0, 1)->text(), "12");
        form.acRun->trigger();
    });
    form.acRun->trigger();  // returns when the run has ended
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(form.IsRunning());
    EXPECT_EQ(form.memConsole->toPlainText(), "12\t20\n");
    EXPECT_EQ(editor.RowMarks(3), kBreakPointMark);
    EXPECT_TRUE(form.memMessage->toPlainText().startsWith(Cp932ToQString(Sjis("実行時間="))));

    // Stopped again, the stop command ends the run with its message line and no error box.
    WhenStopped(form, [&] { form.acStop->trigger(); });
    form.acRun->trigger();
    EXPECT_FALSE(form.IsRunning());
    EXPECT_TRUE(form.memMessage->toPlainText().endsWith("(0): STOP")) << form.memMessage->toPlainText().toStdString();
    EXPECT_EQ(form.EvalName("x"), "");  // no run, no value

    // A syntax error on line 3: its message line, the caret on row 2 and the error box.
    test::WriteFileBytes(path, "local a = 1\nlocal b = 2\nlocal c = = 3\n");
    form.LoadFile(path);
    BoxRecorder boxes;
    ScopedDialogService scope(boxes);
    form.acRun->trigger();
    EXPECT_EQ(form.ActiveTab()->Editor().Row(), 2);
    EXPECT_TRUE(form.memMessage->toPlainText().contains("] (3): ")) << form.memMessage->toPlainText().toStdString();
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

    QAction* inMenu = nullptr;
    for (QAction* menu : form->menuBar()->actions())
        if (menu->menu() && menu->menu()->actions().contains(form->acSetBreak)) inMenu = menu;
    ASSERT_NE(inMenu, nullptr);
    EXPECT_EQ(inMenu->text(), Cp932ToQString(Sjis("実行(&R)")));
    EXPECT_EQ(form->acSetBreak->shortcut(), QKeySequence(Qt::Key_F5));
    editor.SetCaret(2, 0);
    form->acSetBreak->trigger();
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
