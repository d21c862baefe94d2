#include "WindowFixture.h"

#include <QComboBox>

using namespace pek;
using namespace pek::test;

TEST_F(WindowTest, ACommandIsEchoedAndSentWithTheLineEnding)
{
    PortSettings("ComCrTypTrans=2\r\n");
    Start();
    Type("ATZ");
    EXPECT_EQ(pty.readExactly(5), "ATZ\r\n");
    EXPECT_EQ(PaneText(), "ATZ\r\n");
    EXPECT_TRUE(form->InpCmdCbx->currentText().isEmpty());
}

TEST_F(WindowTest, HistoryKeepsTwentyDistinctCommandsMostRecentFirstAndIsSaved)
{
    PortSettings();
    Start();
    Type("ATZ");
    Type("ATI");
    Type("ATZ");
    EXPECT_EQ(form->History().Items(), (std::vector<std::string>{"ATZ", "ATI"}));
    for (int i = 0; i < 20; ++i) Type("AT+" + std::to_string(i));
    EXPECT_EQ(form->History().Items().size(), 20u);
    EXPECT_EQ(form->History().Items().front(), "AT+19");
    EXPECT_EQ(form->History().Items().back(), "AT+0");
    EXPECT_EQ(form->InpCmdCbx->count(), 20);
    ProfileFile ini(iniPath());
    EXPECT_EQ(FromCommaText(ini.ReadString(Sjis("環境"), "InpCmd", "")), form->History().Items());
    // Commands from elsewhere do not enter the history.
    form->ExecCommand(0, "FROMSCRIPT", false);
    EXPECT_EQ(form->History().Items().front(), "AT+19");
    EXPECT_TRUE(PaneShows("FROMSCRIPT\r\n"));
}

TEST_F(WindowTest, EnterAndEscapeInTheCommandBox)
{
    PortSettings();
    Start();
    form->show();
    QLineEdit* edit = form->InpCmdCbx->lineEdit();
    edit->setFocus();
    QTest::keyClicks(edit, "ATZ");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(pty.readExactly(4), "ATZ\r");
    QTest::keyClicks(edit, "junk");
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_TRUE(form->InpCmdCbx->currentText().isEmpty());
    // Ctrl+Enter belongs to the call-function picker, not to sending.
    QTest::keyClicks(edit, "ATI");
    QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(pty.readAvailable(std::chrono::milliseconds(50)), "");
}

TEST_F(WindowTest, TypingInAReadOnlyPaneGoesToTheCommandBox)
{
    PortSettings();
    Start();
    form->show();
    QApplication::setActiveWindow(form.get());
    TEditorEx* pane = form->SheetPane(0);
    pane->setFocus();
    QTest::keyClick(pane, Qt::Key_A);
    QTest::keyClick(pane, 'T', Qt::ShiftModifier);
    EXPECT_EQ(form->InpCmdCbx->currentText().toStdString(), "aT");
    EXPECT_EQ(PaneText(), "");
}

TEST_F(WindowTest, SavingAnUntitledSheetAsksForANameAndAddsLog)
{
    PortSettings();
    Start();
    Receive("captured\r\n");
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.file("capture").string()));
    EXPECT_TRUE(form->FileSaveActExecute());
    EXPECT_EQ(ReadFileBytes(dir.file("capture.log")), "captured\r\n");
    EXPECT_EQ(form->SheetFileName(0), dir.file("capture.log").string());
    EXPECT_EQ(form->PageControl1->tabText(0).toStdString(), "capture-COM1");
    // Loading replaces the text, but saving still writes the sheet's own file.
    WriteFileBytes(dir.file("other.txt"), "other\r\n");
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.file("other.txt").string()));
    form->FileLoadActExecute();
    EXPECT_EQ(PaneText(), "other\r\n");
    EXPECT_TRUE(form->FileSaveActExecute());
    EXPECT_EQ(ReadFileBytes(dir.file("capture.log")), "other\r\n");
}

TEST_F(WindowTest, ANameCodePage932CannotHoldIsRefused)
{
    PortSettings();
    Start();
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.file("log\xF0\x9F\x98\x80").string()));
    EXPECT_FALSE(form->FileSaveAsActExecute());
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages.back().text.rfind("このファイル名はコード932で表せません", 0), 0u);
    EXPECT_EQ(form->SheetFileName(0), Sjis("(無題)"));
}
