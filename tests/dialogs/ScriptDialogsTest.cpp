// The script functions that show dialogs, answered through the dialog service from thread runs.
#include "dialogs/ScriptDialogHost.h"
#include "dialogs/ScriptDialogs.h"
#include "dialogs/ScriptMessageBox.h"
#include "dialogs/SelMenu_u.h"
#include "dialogs/inputpara_u.h"
#include "macro/MacroFixture.h"
#include "settings/AnswerDialogs.h"
#include "support/EventLoop.h"

#include <lua.hpp>

#include <QClipboard>
#include <QFileDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <filesystem>
#include <fstream>

namespace pek::test {
namespace {

class ScriptDialogsTest : public MacroTest {
protected:
    void SetUp() override { host->AddScriptLibrary(ScriptDialogLibrary(scriptDialogs)); }
    // Runs the script on sheet 0 and returns what it printed.
    std::string RunScript(const std::string& utf8, bool quiet = true)
    {
        const std::size_t before = window.PaneText(0).size();
        const std::string print =
            "local function print(...) local t = {...} for i = 1, select('#', ...) do t[i] = tostring(t[i]) end "
            "io.write(table.concat(t, '\\t') .. '\\n') end\n";
        EXPECT_NE(Start(print + utf8), 0u);
        EXPECT_TRUE(Finish());
        if (quiet)
            for (const auto& m : answers.messages) ADD_FAILURE() << m;
        std::string out = window.PaneText(0).substr(before);
        std::erase(out, '\r');
        return out;
    }

    AnswerDialogs answers;
    ScopedDialogService answerScope{answers};
    std::shared_ptr<TScriptDialogs> scriptDialogs = AttachScriptDialogs(window);
};

TEST_F(ScriptDialogsTest, ArgumentErrorsByNameWithoutAWindow)
{
    const char* const cases[][2] = {
        {"FileDialog('a')", "FileDialog"},          {"FileDialog(0, {})", "FileDialog"},
        {"FileDialog(0, 'a', 'b', 'c')", "FileDialog"}, {"InpPara()", "InpPara"},
        {"InpPara({})", "InpPara"},                 {"InpPara('t', true, 'v')", "InpPara"},
        {"InpPara('t', 'k', print)", "InpPara"},    {"InpPara('t', 'k', {1, {}})", "InpPara"},
        {"SelMenu('t', 2)", "SelMenu"},             {"SelMenu('t', 'x', {})", "SelMenu"},
        {"SelMenu({}, 1, {'a'})", "SelMenu"},       {"SelMenu('t', 1, {'a', false})", "SelMenu"},
        {"MessageBox('a')", "MessageBox"},          {"MessageBox({}, 'c')", "MessageBox"},
        {"MessageBox('a', 'b', 'c')", "MessageBox"}, {"ClipBoard(1, 2)", "ClipBoard"},
        {"ClipBoard({})", "ClipBoard"},             {"ShellExecute()", "ShellExecute"},
        {"ShellExecute('a', {})", "ShellExecute"},  {"ShellExecute(nil)", "ShellExecute"},
    };
    for (const auto& c : cases) {
        answers.messages.clear();
        RunScript(std::string(c[0]) + "\nprint('not reached')", false);
        ASSERT_EQ(answers.messages.size(), 1u) << c[0];
        EXPECT_NE(answers.messages[0].find(std::string(c[1]) + "の引数が正しくない"), std::string::npos)
            << c[0] << ": " << answers.messages[0];
        EXPECT_EQ(window.PaneText(0).find("not reached"), std::string::npos);
    }
    EXPECT_EQ(answers.execs, 0);
}

TEST_F(ScriptDialogsTest, EveryDialogAnsweredFromAThreadRun)
{
    const TempDir files;
    for (const char* name : {"a.txt", "b.log", "Makefile"}) WriteFileBytes(files.file(name), "x");
    answers.onExec = [&](QDialog& d) -> int {
        EXPECT_TRUE(TMacroCore::OnMainThread());
        if (auto* para = dynamic_cast<TInputParaForm*>(&d)) {
            EXPECT_EQ(para->windowTitle(), "T");
            EXPECT_EQ(para->RowCount(), 3);
            para->ParaVListEd->item(2, 1)->setText("abc");
            para->OkBtn->click();
        } else if (auto* menu = dynamic_cast<TSelMenuForm*>(&d)) {
            EXPECT_EQ(menu->Buttons().size(), 5u);
            EXPECT_EQ(menu->Buttons()[4]->y(), 50) << "three rows of two";
            menu->Buttons()[3]->click();
        } else if (auto* box = dynamic_cast<TScriptMessageBox*>(&d)) {
            EXPECT_EQ(box->buttons().size(), 2u);
            EXPECT_FALSE(box->Escapable());
            box->buttons()[1]->click();
        } else if (auto* file = dynamic_cast<QFileDialog*>(&d)) {
            EXPECT_EQ(file->fileMode(), QFileDialog::ExistingFiles);
            EXPECT_TRUE(file->nameFilters().join(' ').contains("(*)"));
            file->setDirectory(QString::fromStdString(files.path().string()));
            file->selectFile("\"a.txt\" \"b.log\" \"Makefile\"");
            d.done(QDialog::Accepted);
        } else {
            ADD_FAILURE() << "unexpected dialog";
        }
        return d.result();
    };
    QApplication::clipboard()->setText("old");
    const std::string out = RunScript(R"(
        local ok, n, c, s = InpPara('T', 'n', '$10', 'c', {'A', 'B', 'C'}, 's', 1.5)
        print(ok, n, c, s, math.type and '' or type(n))
        print(SelMenu('M', 2, {'a', 'b', 'c', 'd', 'e'}))
        print(MessageBox('q', 'c', 4))
        local t = FileDialog()
        print(#t, t[3]:match('[^/]+$'))
        print(ClipBoard('new'))
    )");
    EXPECT_NE(out.find("true\t16\tA\tabc\tnumber"), std::string::npos) << out;
    EXPECT_NE(out.find("\n4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n7\n"), std::string::npos) << out;
    EXPECT_NE(out.find("3\tMakefile"), std::string::npos) << out;
    EXPECT_NE(out.find("old"), std::string::npos) << out;
    EXPECT_EQ(QApplication::clipboard()->text(), "new");
    EXPECT_EQ(answers.execs, 4);
}

TEST_F(ScriptDialogsTest, AScriptCannotFreeOrForgeTheFunctionsLink)
{
    QApplication::clipboard()->setText("zero");
    const std::string out = RunScript(R"(
        local reg = debug.getregistry()
        for k, v in pairs(reg) do
            local mt = type(k) == 'string' and type(v) == 'userdata' and debug.getmetatable(v)
            if mt and mt.__gc then for i = 1, 50 do mt.__gc(v) end end
        end
        print('A', ClipBoard('one'), MessageBox('hello', 'c'))
        for k, v in pairs(reg) do
            if type(k) == 'string' and type(v) == 'userdata' then reg[k] = io.stdout end
        end
        debug.setupvalue(FileDialog, 1, io.stdout)
        debug.setupvalue(MessageBox, 1, 99999)
        print('B', pcall(FileDialog))
        print('C', pcall(MessageBox, 'x', 'c'))
    )", false);
    EXPECT_NE(out.find("A\tzero\t"), std::string::npos) << out;
    const std::string broken = "false\t" + Sjis("ダイアログ関数の内部データが壊れています");
    EXPECT_NE(out.find("B\t" + broken), std::string::npos) << out;
    EXPECT_NE(out.find("C\t" + broken), std::string::npos) << out;
    EXPECT_EQ(QApplication::clipboard()->text(), "one");
    EXPECT_EQ(answers.execs, 1);  // the message box before the tampering
}

TEST_F(ScriptDialogsTest, CancelledAndEmptyAnswers)
{
    answers.onExec = [](QDialog& d) {
        d.close();  // the close box
        return d.result();
    };
    const std::string out = RunScript(R"(
        print(InpPara('T', 'a', '$10', 'b'))
        print(InpPara('only title'))
        print(SelMenu('M', 0, {'x'}), SelMenu('M', 0, {}))
        print(FileDialog(1) == nil, select('#', FileDialog()))
        print(MessageBox('q', 'c', 1), MessageBox('q', 'c', 7))
    )");
    EXPECT_NE(out.find("false\t16\t\n"), std::string::npos) << out;
    EXPECT_NE(out.find("false\n"), std::string::npos) << out;
    EXPECT_NE(out.find("0\t0"), std::string::npos) << out;
    EXPECT_NE(out.find("true\t0"), std::string::npos) << out;
    EXPECT_NE(out.find("2\t0"), std::string::npos) << out;
    EXPECT_EQ(answers.execs, 6) << "no menu without items, no box for an unknown button set";
}

TEST_F(ScriptDialogsTest, MessageBoxButtonSets)
{
    const struct {
        unsigned flags;
        int buttons;
        int defaultIndex;
        int escape;  // 0: Esc does nothing
    } sets[] = {{0, 1, 0, 1}, {1, 2, 0, 2}, {2, 3, 0, 0}, {0x103, 3, 1, 2}, {0x204, 2, 0, 0}, {5, 2, 0, 2}, {0x206, 3, 2, 2}};
    for (const auto& s : sets) {
        TScriptMessageBox box("t", "c", s.flags | 0x30);
        EXPECT_EQ(int(box.buttons().size()), s.buttons) << s.flags;
        EXPECT_EQ(box.defaultButton(), box.buttons()[s.defaultIndex]) << s.flags;
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        box.show();
        QTest::keyClick(&box, Qt::Key_Escape);
        if (s.escape) EXPECT_EQ(box.Answer(), s.escape) << s.flags;
        else EXPECT_TRUE(box.isVisible()) << s.flags;
    }
}

TEST_F(ScriptDialogsTest, ClosingPekEndsTheRunThatWaitsOnADialog)
{
    answers.onExec = [&](QDialog& d) {
        window.Close();  // the window closes while the dialog is up
        return d.result();
    };
    EXPECT_NE(Start("InpPara('T', 'a', 'b')\nprint('after')\nprint('after again')"), 0u);
    EXPECT_TRUE(Finish());
    EXPECT_EQ(answers.execs, 1);
    EXPECT_EQ(window.PaneText(0).find("after again"), std::string::npos);
}

TEST_F(ScriptDialogsTest, StopClosesTheDialogAndEndsTheRun)
{
    std::uint64_t id = 0;
    bool closed = false;
    answers.onExec = [&](QDialog& d) {
        d.setResult(99);
        EXPECT_TRUE(host->Stop(id));
        // The stopped worker closes its dialog from its side.
        closed = ServeUntil([&] { return d.result() == QDialog::Rejected; });
        return d.result();
    };
    id = Start("SelMenu('M', 1, {'a', 'b'})\nio.write('after')");
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(Finish());
    EXPECT_TRUE(closed);
    EXPECT_EQ(window.PaneText(0).find("after"), std::string::npos);
    EXPECT_TRUE(answers.messages.empty()) << "a stop shows no error";
}

TEST_F(ScriptDialogsTest, DebuggedRunShowsItsDialogDirectly)
{
    answers.onExec = [](QDialog& d) {
        EXPECT_TRUE(TMacroCore::OnMainThread());
        dynamic_cast<TSelMenuForm&>(d).Buttons()[1]->click();
        return d.result();
    };
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    host->OnDebuggerState(L);
    ASSERT_EQ(luaL_dostring(L, "return SelMenu('M', 0, {'a', 'b'})"), 0) << lua_tostring(L, -1);
    EXPECT_EQ(lua_tointeger(L, -1), 2);
    lua_close(L);
    EXPECT_EQ(answers.execs, 1);
}

TEST_F(ScriptDialogsTest, ShellExecuteStartsAProgramWithoutAShell)
{
    const TempDir work;
    const auto program = work.file("args.sh");
    WriteFileBytes(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    RunScript("ShellExecute([[" + program.string() + "]], [[one \"two three\" $HOME;rm]], [[" + work.path().string() + "]])");
    const auto out = work.file("args.txt");
    ASSERT_TRUE(ServeUntil([&] { return ReadFileBytes(out).find("rm\n") != std::string::npos; }));
    EXPECT_EQ(ReadFileBytes(out), "one\ntwo three\n$HOME;rm\n");

    RunScript("ShellExecute('no-such-file.doc')", false);
    EXPECT_TRUE(answers.Shown("no-such-file.doc を開けませんでした。"));
    EXPECT_EQ(answers.execs, 0);
}

}  // namespace
}  // namespace pek::test
