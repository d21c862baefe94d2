#include "WindowFixture.h"

#include <poll.h>

#include <atomic>
#include <cstdio>
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

// A device that streams lines from the moment it is back: after the reconnect message every line
// arrives whole and in order, cycle after cycle.
TEST_F(WindowTest, NoLineIsLostAfterAReconnectUnderAStream)
{
    PortSettings();
    Start();
    const std::string reconnected = Sjis("通信ポートを再接続しました\r\n");
    std::unique_ptr<PtyPair> device;
    for (int cycle = 0; cycle < 5; ++cycle) {
        (device ? *device : pty).closeMaster();
        ASSERT_TRUE(WaitUntil([&] { return !form->SheetPort(0)->IsOpen(); }, 5000)) << cycle;
        form->SheetPane(0)->Model().Clear();
        device = std::make_unique<PtyPair>();
        std::atomic<bool> stop{false};
        std::atomic<int> sent{0};
        std::thread streamer([&, master = device->masterFd()] {
            for (int n = 0; !stop && n < 100000; ++n) {
                char line[16];
                const int size = std::snprintf(line, sizeof line, "L%05d\r\n", n);
                pollfd p{master, POLLOUT, 0};
                if (poll(&p, 1, 100) <= 0 || ::write(master, line, size_t(size)) != size) break;
                sent = n + 1;
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
        ProfileFile(iniPath()).WriteString("Ports", "COM1", device->slavePath());
        const bool shown = PaneShows(reconnected, 0, 10000);
        const int shownAt = sent;
        WaitUntil([&] { return sent > shownAt + 300; }, 10000);
        stop = true;
        streamer.join();
        ASSERT_TRUE(shown) << cycle;
        char lastLine[16];
        std::snprintf(lastLine, sizeof lastLine, "L%05d\r\n", sent - 1);
        ASSERT_TRUE(PaneShows(lastLine)) << cycle;
        const std::string text = PaneText();
        const std::string after = text.substr(text.find(reconnected) + reconnected.size());
        // The first line after the message may have begun before it; from the next one on, all are whole.
        int expected = -1;
        std::size_t pos = after.find("\r\n") + 2;
        for (; pos + 8 <= after.size(); pos += 8) {
            ASSERT_EQ(after.substr(pos, 1) + after.substr(pos + 6, 2), "L\r\n") << cycle << after.substr(pos, 20);
            const int n = std::atoi(after.substr(pos + 1, 5).c_str());
            if (expected >= 0) {
                ASSERT_EQ(n, expected) << cycle;
            }
            expected = n + 1;
        }
        EXPECT_EQ(expected, sent) << cycle;
    }
}

// A UTF-8 device on a pty: typed text goes out in UTF-8 and what comes back is shown; then the
// sheet's hex view, whose unfinished line an echo ends, and which the settings file keeps.
TEST_F(WindowTest, AUtf8DeviceAndTheHexViewOnAPty)
{
    PortSettings("ComCharCode=1\r\nComCrTypTrans=1\r\n");
    Start();
    form->InpCmdCbx->setEditText(QString::fromUtf8("温度?"));
    form->RunRunCmdActExecute();
    EXPECT_EQ(pty.readExactly(8), "温度?\r");
    Receive("温度=25\xC3\xA9\r\n");
    EXPECT_TRUE(PaneShows(Sjis("温度=25〓\r\n")));
    form->Action("ViewHexAct")->trigger();
    Receive(std::string("\x00\x41", 2));
    Receive("B");
    EXPECT_TRUE(PaneShows("\r\n" + HexLines::FormatLine(std::string("\x00\x41" "B", 3))));
    form->ExecCommand(0, "@", false);   // nothing echoed, nothing breaks the line
    form->ExecCommand(0, "Z", false);
    EXPECT_TRUE(PaneShows(HexLines::FormatLine(std::string("\x00\x41" "B", 3)) + "\r\nZ\r\n"));
    form->close();
    EXPECT_NE(ReadFileBytes(iniPath()).find("HexView=1"), std::string::npos);
}
