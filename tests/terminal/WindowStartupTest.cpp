#include "WindowFixture.h"

#include "terminal/EditorAllCodec.h"

#include <QApplication>
#include <QMenuBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace pek;
using namespace pek::test;

TEST_F(WindowTest, WithoutASettingsFileOneUntitledPortSheetOnCom1)
{
    Start();
    ASSERT_EQ(form->SheetCount(), 1);
    const TCommXEx* port = form->SheetPort(0);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->PortNo(), 1);
    EXPECT_EQ(port->BitRate(), 19200);
    EXPECT_EQ(port->CharSize(), 8);
    EXPECT_EQ(port->ParityBit(), cpbNone);
    EXPECT_EQ(port->StopBit(), csb1);
    EXPECT_EQ(port->FlowCtrl(), cfcNone);
    EXPECT_EQ(port->CrTypTrans(), ctCr);
    EXPECT_EQ(port->TimeTyp(), 0);
    EXPECT_EQ(form->SheetFileName(0), Sjis("(無題)"));
    EXPECT_EQ(form->windowTitle().toStdString(), "(無題)-COM1");
    EXPECT_EQ(form->PageControl1->tabText(0).toStdString(), "(無題)-COM1");
    EXPECT_TRUE(form->Echo());
    EXPECT_TRUE(form->CtrlCode());
    EXPECT_TRUE(form->PanesReadOnly());
}

TEST_F(WindowTest, RestoresSheetsUpToTheFirstGap)
{
    const std::string textFile = dir.file("notes.log").string();
    WriteFileBytes(textFile, "first line\r\nsecond line\r\n");
    WriteFileBytes(iniPath(), "[Ports]\r\nCOM2=" + pty.slavePath() +
                                  "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=2\r\nComBitRate=115200\r\nComCrTypTrans=2\r\n"
                                  "ComTimeTyp=3\r\nEditFileName=(無題)\r\n"
                                  "[No1]\r\nComPortOpen=0\r\nEditFileName=" + textFile + "\r\n"
                                  "[No3]\r\nComPortOpen=0\r\nEditFileName=never.log\r\n");
    // The names in the file are CP932.
    ProfileFile ini(iniPath());
    ini.WriteString("No0", "EditFileName", Sjis("(無題)"));
    Start();
    ASSERT_EQ(form->SheetCount(), 2);  // No3 lies beyond the gap at No2
    const TCommXEx* port = form->SheetPort(0);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(port->PortNo(), 2);
    EXPECT_EQ(port->BitRate(), 115200);
    EXPECT_EQ(port->CrTypTrans(), ctCrLf);
    EXPECT_EQ(port->TimeTyp(), 3);
    EXPECT_EQ(form->SheetPort(1), nullptr);
    EXPECT_EQ(form->SheetFileName(1), textFile);
    EXPECT_EQ(PaneText(1), "first line\r\nsecond line\r\n");
    EXPECT_EQ(form->ActiveSheet(), 0);
    EXPECT_EQ(form->windowTitle().toStdString(), "(無題)-COM2");
    EXPECT_EQ(form->PageControl1->tabText(1).toStdString(), "notes");
}

TEST_F(WindowTest, MalformedSettingsFallBackToDefaultsAndTheNextCloseWritesASoundFile)
{
    WriteFileBytes(iniPath(), "[Ports]\r\nCOM1=" + pty.slavePath() +
                                  "\r\n[環境]\r\nEcho=yes\r\nHeight=abc\r\nEditorAll_c=2\r\nEditorAll_d0=not ours\r\n"
                                  "EditorAll_d1=FFFF\r\n"
                                  "[No0]\r\nComPortOpen=1\r\nComBitRate=fast\r\nComFlowCtrl=99\r\nComParityBit=-4\r\n"
                                  "[No1]\r\nComPortOpen=0\r\nEditFileName=/nonexistent/gone.log\r\n");
    // Section names of the settings file are CP932 on disk.
    std::string bytes = ReadFileBytes(iniPath());
    const std::string env = Sjis("環境");
    bytes.replace(bytes.find("環境"), std::string("環境").size(), env);
    WriteFileBytes(iniPath(), bytes);
    Start();
    ASSERT_EQ(form->SheetCount(), 2);
    EXPECT_TRUE(form->Echo());
    EXPECT_EQ(form->height(), 573);
    EXPECT_EQ(form->SheetPort(0)->BitRate(), 19200);
    EXPECT_EQ(form->SheetPort(0)->FlowCtrl(), cfcNone);
    EXPECT_EQ(form->SheetPort(0)->ParityBit(), cpbNone);
    EXPECT_TRUE(dialogs.Shown("/nonexistent/gone.log\r\nを開くことができませんでした。"));
    // The template kept its design values.
    EXPECT_TRUE(form->Template().WordWrap());
    EXPECT_EQ(form->Template().WrapByte(), 80);

    form->close();
    form.reset();
    ProfileFile ini(iniPath());
    EXPECT_EQ(ini.ReadInteger("No0", "ComBitRate", 0), 19200);
    EXPECT_EQ(ini.ReadInteger("No0", "ComFlowCtrl", -1), 5);
    EXPECT_EQ(ini.ReadString("No1", "EditFileName", ""), Sjis("(無題)"));
    EXPECT_EQ(ini.ReadInteger(env, "Echo", -1), 1);
}

TEST_F(WindowTest, ClosingWritesExactlyTheSectionsOfTheSheets)
{
    PortSettings();
    ProfileFile ini(iniPath());
    for (int k : {1, 2, 3}) ini.WriteString("No" + std::to_string(k), "ComPortOpen", "0");
    ini.WriteString("No3", "Stale", "1");
    ini.WriteString("No5", "Beyond", "1");  // behind a gap: not ours to erase
    Start();
    ASSERT_EQ(form->SheetCount(), 4);
    form->SetActiveSheet(3);
    form->FileCloseActExecute();
    ASSERT_EQ(form->SheetCount(), 3);
    form->close();
    form.reset();
    for (int k : {0, 1, 2}) EXPECT_TRUE(ini.SectionExists("No" + std::to_string(k))) << k;
    EXPECT_FALSE(ini.SectionExists("No3"));
    EXPECT_TRUE(ini.SectionExists("No5"));
    EXPECT_TRUE(ini.ReadBool("No0", "ComPortOpen", false));
    EXPECT_EQ(ini.ReadString("No0", "ComPortNo", ""), "1");
    EXPECT_FALSE(ini.ReadBool("No1", "ComPortOpen", true));
    EXPECT_FALSE(ini.ValueExists("No1", "ComPortNo"));  // port keys only for port sheets
    EXPECT_EQ(ini.ReadString("No2", "EditFileName", ""), Sjis("(無題)"));
    for (const char* key : {"Top", "Left", "Height", "Width", "Echo", "CtrlCode", "AutoColOff"})
        EXPECT_TRUE(ini.ValueExists(Sjis("環境"), key)) << key;
}

TEST_F(WindowTest, NewPortSheetTakesTheSmallestFreeNumber)
{
    PortSettings();
    ProfileFile ini(iniPath());
    ini.WriteString("No1", "ComPortOpen", "1");
    ini.WriteString("No1", "ComPortNo", "3");
    Start();
    ASSERT_EQ(form->SheetCount(), 2);
    form->FileOpenComActExecute();
    ASSERT_EQ(form->SheetCount(), 3);
    EXPECT_EQ(form->SheetPort(2)->PortNo(), 2);
    EXPECT_EQ(form->ActiveSheet(), 2);
    EXPECT_EQ(form->windowTitle().toStdString(), "(無題)-COM2");
}

TEST_F(WindowTest, LuaSheetsShareTheirHighlightingSection)
{
    PortSettings();
    const std::string script = dir.file("test.LUA").string();
    WriteFileBytes(script, "print('x') -- comment\r\n");
    ProfileFile ini(iniPath());
    ini.WriteString("No1", "ComPortOpen", "0");
    ini.WriteString("No1", "EditFileName", script);
    Start();
    form->SetActiveSheet(1);
    TEditorEx* pane = form->SheetPane(1);
    EXPECT_EQ(pane->TabSpaceCount(), 4);
    EXPECT_EQ(pane->BracketCount(), 3);
    EXPECT_EQ(pane->Model().HighlightRules().Commenter, "--");
    pane->SetCommenter("//");
    form->close();
    form.reset();
    EXPECT_EQ(ini.ReadString("Lua", "Cmt", ""), "//");
    EXPECT_EQ(ini.ReadString("Lua", "Block", ""), "--[,],65280,\"\"\"\",\"\"\"\",16776960,',',16776960");
    EXPECT_FALSE(ini.ValueExists("No1", "Cmt"));
    EXPECT_TRUE(ini.ValueExists("No0", "Cmt"));
}

TEST_F(WindowTest, ClosingTheLastSheetClosesTheWindow)
{
    PortSettings();
    Start();
    form->show();
    ASSERT_TRUE(form->isVisible());
    form->FileCloseActExecute();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(WindowTest, TheFirstWindowShowsItsWholeMenuBar)
{
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const auto* overflow = form->menuBar()->findChild<QToolButton*>();
    ASSERT_NE(overflow, nullptr);
    EXPECT_FALSE(overflow->isVisible());
    EXPECT_GE(form->menuBar()->width(), form->menuBar()->sizeHint().width());
}

TEST_F(WindowTest, CtrlTabAndCtrlPageKeysSwitchSheets)
{
    WriteFileBytes(dir.file("a.log").string(), "a\r\n");
    WriteFileBytes(dir.file("b.log").string(), "b\r\n");
    PortSettings("[No1]\r\nComPortOpen=0\r\nEditFileName=" + dir.file("a.log").string() +
                 "\r\n[No2]\r\nComPortOpen=0\r\nEditFileName=" + dir.file("b.log").string() + "\r\n");
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_EQ(form->SheetCount(), 3);
    form->InpCmdCbx->lineEdit()->setFocus();
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int sheet;
    } steps[] = {
        {Qt::Key_Tab, Qt::ControlModifier, 1},
        {Qt::Key_PageDown, Qt::ControlModifier, 2},
        {Qt::Key_Tab, Qt::ControlModifier, 0},  // round to the first
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 2},
        {Qt::Key_PageUp, Qt::ControlModifier, 1},
        {Qt::Key_PageUp, Qt::ControlModifier, 0},
    };
    for (const auto& step : steps) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, step.key, step.modifiers);
        EXPECT_EQ(form->ActiveSheet(), step.sheet) << step.key;
    }
}

// At start, a port held by another program stays closed and the box names port, device and reason.
TEST_F(WindowTest, APortHeldByAnotherProgramAtStartIsNamedWithTheReason)
{
    PortSettings();
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    Start();
    ::close(other);
    EXPECT_FALSE(form->SheetPort(0)->IsOpen());
    EXPECT_TRUE(dialogs.Shown("ポートをオープンできませんでした\r\nポート: COM1\r\nデバイス: " + pty.slavePath() +
                              "\r\n理由: 他のプログラムが使用しています"));
}
