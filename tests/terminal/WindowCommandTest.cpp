#include "WindowFixture.h"

#include <QComboBox>
#include <QSplitter>
#include <QToolButton>
#include <QWheelEvent>

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
    // The HEX button's mode sends bytes as they are; a text that is not hex sends nothing.
    form->HexBtn->click();
    Type("00 ff 0D 0a 41");
    Type("4");
    form->HexBtn->click();
    Type("AT");
    EXPECT_EQ(pty.readExactly(9), std::string("\x00\xff\x0d\x0a\x41" "AT\r\n", 9));
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

TEST_F(WindowTest, TheCommandBoxSendsWhatWasTypedAndUpGoesBackInTheHistory)
{
    PortSettings();
    Start();
    form->show();
    QLineEdit* edit = form->InpCmdCbx->lineEdit();
    edit->setFocus();
    const auto enter = [&](const char* typed) {
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
    };
    enter("ATI");
    enter("HELlo");
    enter("erase all");
    EXPECT_EQ(pty.readExactly(20), "ATI\rHELlo\rerase all\r");
    // Prefixes of earlier commands go out as typed.
    for (const char* typed : {"AT", "HEL", "erase"}) enter(typed);
    EXPECT_EQ(pty.readExactly(13), "AT\rHEL\rerase\r");
    // History now, most recent first: erase, HEL, AT, erase all, HELlo, ATI.
    const auto key = [&](Qt::Key k) {
        QTest::keyClick(edit, k);
        return form->InpCmdCbx->currentText().toStdString();
    };
    QTest::keyClicks(edit, "draft");
    EXPECT_EQ(key(Qt::Key_Up), "erase");
    EXPECT_EQ(key(Qt::Key_Up), "HEL");
    EXPECT_EQ(key(Qt::Key_Up), "AT");
    EXPECT_EQ(key(Qt::Key_Down), "HEL");
    EXPECT_EQ(key(Qt::Key_Down), "erase");
    EXPECT_EQ(key(Qt::Key_Down), "draft");
    EXPECT_EQ(key(Qt::Key_Down), "draft");
    for (int i = 0; i < 5; ++i) key(Qt::Key_Up);
    EXPECT_EQ(key(Qt::Key_Up), "ATI");  // the oldest stays
    EXPECT_EQ(key(Qt::Key_Down), "HELlo");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(pty.readExactly(6), "HELlo\r");
    // After sending, Up starts again from the most recent command.
    EXPECT_EQ(key(Qt::Key_Up), "HELlo");
    EXPECT_EQ(key(Qt::Key_Up), "erase");
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

TEST_F(WindowTest, SplitViewSharesTheTextFollowsOnAndLeavesNothingBehind)
{
    PortSettings();
    Start();
    form->resize(640, 480);
    form->show();
    std::string lines;
    for (int i = 0; i < 200; ++i) lines += "line " + std::to_string(i) + "\r\n";
    Receive(lines);
    TEditorEx* lower = form->SheetPane(0);
    ASSERT_TRUE(WaitUntil([&] { return lower->Text() == lines; }));
    lower->SetTopRow(50);
    // A notch of the wheel is one line.
    QWheelEvent notch(QPointF(20, 20), lower->viewport()->mapToGlobal(QPointF(20, 20)), {}, {0, -120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(lower->viewport(), &notch);
    EXPECT_EQ(lower->TopRow(), 51);
    lower->SetTopRow(50);
    const int panesBefore = int(form->findChildren<TEditorEx*>().size());

    QAction* split = form->Action("ViewSplitAct");
    ASSERT_TRUE(split->isEnabled());
    split->trigger();
    ASSERT_TRUE(form->SheetSplit(0));
    EXPECT_TRUE(split->isChecked());
    auto* splitter = form->findChild<QSplitter*>();
    ASSERT_NE(splitter, nullptr);
    auto* upper = qobject_cast<TEditorEx*>(splitter->widget(0));
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(splitter->widget(1), lower);
    // The upper pane starts where the pane was; the lower one follows on after its visible rows.
    EXPECT_EQ(upper->TopRow(), 50);
    EXPECT_GT(lower->TopRow(), 50);
    EXPECT_LE(lower->TopRow(), 50 + upper->RowCount() + 1);
    EXPECT_NEAR(splitter->sizes()[0], splitter->sizes()[1], 10);
    // Received data reaches the first pane, and the upper pane shows it through the shared text.
    Receive("more\r\n");
    EXPECT_TRUE(WaitUntil([&] { return upper->Text() == lines + "more\r\n"; }));

    // A double click on the splitter unsplits; a second split reuses the splitter.
    QTest::mouseDClick(splitter->handle(1), Qt::LeftButton);
    EXPECT_FALSE(form->SheetSplit(0));
    EXPECT_FALSE(split->isChecked());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(int(form->findChildren<TEditorEx*>().size()), panesBefore);
    split->trigger();
    EXPECT_EQ(form->findChildren<QSplitter*>().size(), 1);

    // Closing the split sheet leaves no pane of it.
    form->Action("FileOpenComAct")->trigger();
    ASSERT_EQ(form->SheetCount(), 2);
    form->SetActiveSheet(0);
    form->Action("FileCloseAct")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(int(form->findChildren<TEditorEx*>().size()), panesBefore);
    EXPECT_FALSE(form->SheetSplit(0));
}

TEST_F(WindowTest, StayOnTopFromAShadowWindowActsOnTheMainWindow)
{
    PortSettings();
    Start();
    form->show();
    TPekForm* shadow = form->ViewOtherWinActExecute();
    ASSERT_NE(shadow, nullptr);
    shadow->Action("ViewStayOnTopAct")->trigger();
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(shadow->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form->Action("ViewStayOnTopAct")->isChecked());
    EXPECT_TRUE(shadow->Action("ViewStayOnTopAct")->isChecked());
    form->Action("ViewStayOnTopAct")->trigger();
    EXPECT_FALSE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(shadow->Action("ViewStayOnTopAct")->isChecked());
}
