#include "WindowFixture.h"

#include <regex>
#include <thread>

using namespace pek;
using namespace pek::test;

TEST_F(WindowTest, AFloodArrivesCompleteAndInOrder)
{
    PortSettings();
    Start();
    std::string sent;
    for (int i = 0; i < 2000; ++i) sent += "line " + std::to_string(i) + " \x83\x65\x83\x58\x83\x67\r\n";
    // The device writes on its own thread: the pseudo-terminal holds only a few kilobytes, and
    // the window must keep reading while the device is still writing.
    std::thread device([&] { pty.write(sent); });
    const bool complete = PaneShows("line 1999", 0, 20000);
    device.join();
    ASSERT_TRUE(complete);
    EXPECT_EQ(PaneText(), sent);
}

TEST_F(WindowTest, AVanishedDeviceIsReportedAndTheSheetStaysUsable)
{
    PortSettings();
    Start();
    TCommXEx* port = form->SheetPort(0);
    ASSERT_TRUE(port->IsOpen());
    pty.closeMaster();
    ASSERT_TRUE(PaneShows(Sjis("通信ポートが切断されました")));
    EXPECT_FALSE(port->IsOpen());
    Type("AT");  // nothing to send to, but nothing breaks
    EXPECT_TRUE(PaneShows("AT\r\n"));
}

TEST_F(WindowTest, AShadowWindowShowsWhatTheMainWindowReceives)
{
    PortSettings();
    Start();
    TPekForm* shadow = form->ViewOtherWinActExecute();
    ASSERT_NE(shadow, nullptr);
    EXPECT_TRUE(shadow->IsShadow());
    EXPECT_EQ(shadow->ExtraMenu1->text().toStdString(), "【影】");
    EXPECT_EQ(shadow->windowTitle().toStdString(), "(無題)-COM1");
    Receive("seen twice\r\n");
    EXPECT_EQ(shadow->SheetPane(0)->Text(), "seen twice\r\n");
    // Closing the port from the shadow window is refused.
    shadow->FileCloseComActExecute();
    EXPECT_TRUE(dialogs.Shown("メインウィンドウでないとポートは閉じれません"));
    EXPECT_NE(form->SheetPort(0), nullptr);
    // Once the main window drops the port, the shadow no longer reaches it.
    form->FileCloseComActExecute();
    EXPECT_EQ(shadow->SheetPort(0), nullptr);
    shadow->close();
}

TEST_F(WindowTest, AVanishedPortReopensWhenItsDeviceIsBack)
{
    PortSettings();
    Start();
    TCommXEx* port = form->SheetPort(0);
    pty.closeMaster();
    ASSERT_TRUE(PaneShows(Sjis("通信ポートが切断されました")));
    // The adapter comes back (here: under a new device node that [Ports] now names).
    PtyPair replugged;
    ProfileFile(iniPath()).WriteString("Ports", "COM1", replugged.slavePath());
    ASSERT_TRUE(PaneShows(Sjis("通信ポートを再接続しました"), 0, 10000));
    EXPECT_TRUE(port->IsOpen());
    Type("AT");
    EXPECT_EQ(replugged.readExactly(3), "AT\r");
}
