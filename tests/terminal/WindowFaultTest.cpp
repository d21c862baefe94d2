#include "WindowFixture.h"

using namespace pek;
using namespace pek::test;

TEST_F(WindowTest, AFailingLogClosesAndIsReportedWithoutEndingTheProgram)
{
    PortSettings();
    Start();
    TCommXEx* port = form->SheetPort(0);
    port->LogOpen("/dev/full", true, true, true, false);
    ASSERT_TRUE(port->LogOpened());
    Receive("data that cannot be logged\r\n");
    EXPECT_FALSE(port->LogOpened());
    ASSERT_TRUE(WaitUntil([&] { return !dialogs.messages.empty(); }));
    EXPECT_EQ(form->LogButtonImage(), 24);
    EXPECT_TRUE(PaneShows("data that cannot be logged\r\n"));
}

TEST_F(WindowTest, ASettingThePortRefusesKeepsItsValueAndTheOthersStillApply)
{
    PortSettings("ComBufLenTrans=0\r\nComBitRate=5\r\nComTimeTyp=1\r\nComCrTypTrans=2\r\n");
    Start();
    const TCommXEx* port = form->SheetPort(0);
    EXPECT_EQ(port->BufLenTrans(), 2048);
    EXPECT_EQ(port->BitRate(), 19200);
    EXPECT_EQ(port->TimeTyp(), 1);
    EXPECT_EQ(port->CrTypTrans(), ctCrLf);
    EXPECT_TRUE(port->IsOpen());
}

TEST_F(WindowTest, CommandStringsFromOtherProgramsKeepTheirBytes)
{
    PortSettings();
    Start();
    // 0x80 and 0xFD are not characters of code page 932, but a device may want them.
    EXPECT_TRUE(form->HandleCopyData(0, std::string("A\x80\xFD\0", 4)));
    EXPECT_EQ(pty.readExactly(4), "A\x80\xFD\r");
    // Line breaks go out, but stay out of the history and the settings file.
    EXPECT_TRUE(form->HandleCopyData(0, std::string("AT\r\n[No7]\r\nComPortOpen=0\0", 25)));
    EXPECT_EQ(pty.readExactly(25), "AT\r\n[No7]\r\nComPortOpen=0\r");
    EXPECT_FALSE(ProfileFile(iniPath()).SectionExists("No7"));
    for (const auto& item : form->History().Items()) EXPECT_EQ(item.find('\n'), std::string::npos);
}

TEST_F(WindowTest, AShadowOfAShadowShowsItsSheetAndBelongsToTheMainWindow)
{
    PortSettings();
    Start();
    TPekForm* first = form->ViewOtherWinActExecute();
    TPekForm* second = first->ViewOtherWinActExecute();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(form->ShadowWindows().size(), 2u);
    Receive("everywhere\r\n");
    EXPECT_EQ(second->SheetPane(0)->Text(), "everywhere\r\n");
    EXPECT_EQ(second->SheetPort(0), form->SheetPort(0));
    EXPECT_EQ(second->CopyData()->SocketPath().substr(second->CopyData()->SocketPath().size() - 2), ".2");
}

TEST_F(WindowTest, AMessageOnTheActiveSheetIsLoggedWhenMessagesAre)
{
    PortSettings();
    Start();
    const std::string log = dir.file("msg.log").string();
    form->SheetPort(0)->LogOpen(log, false, false, true, false);
    form->ShowMessageOnActiveSheet("note\r\n");
    EXPECT_EQ(PaneText(), "note\r\n");
    EXPECT_EQ(ReadFileBytes(log), "note\r\n");
}
