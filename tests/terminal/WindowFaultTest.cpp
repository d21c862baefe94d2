#include "WindowFixture.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace pek;
using namespace pek::test;

TEST_F(WindowTest, AFailingLogClosesAndIsReportedWithoutEndingTheProgram)
{
    PortSettings();
    Start();
    TCommXEx* port = form->SheetPort(0);
    // A text log fails on the main thread, a binary one on the receive thread.
    for (const bool binary : {false, true}) {
        port->LogOpen("/dev/full", true, true, true, binary);
        ASSERT_TRUE(port->LogOpened());
        form->RefreshLogButton();
        Receive("data that cannot be logged\r\n");
        EXPECT_FALSE(port->LogOpened());
        ASSERT_TRUE(WaitUntil([&] { return dialogs.messages.size() == (binary ? 2u : 1u); }));
        EXPECT_EQ(form->LogButtonImage(), 24) << binary;
    }
    EXPECT_TRUE(PaneShows("data that cannot be logged\r\ndata that cannot be logged\r\n"));
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

TEST_F(WindowTest, ASettingsFileThatCannotBeWrittenIsReportedOnce)
{
    form = std::make_unique<TPekForm>("/proc/pek-cannot-write-here.ini");  // not even root may create it
    form->LoadSheets();
    const size_t before = dialogs.messages.size();
    for (const char* command : {"ATZ", "ATI", "ATX"}) Type(command);
    int settingsErrors = 0;
    for (size_t i = before; i < dialogs.messages.size(); ++i)
        if (dialogs.messages[i].text != "通信ポートが開いていません") ++settingsErrors;
    EXPECT_EQ(settingsErrors, 1);
    EXPECT_EQ(form->History().Items().size(), 3u) << "the window keeps working";
}

TEST_F(WindowTest, ClosingWritesTheSettingsFileOnceAndWhole)
{
    PortSettings();
    Start();
    form->FileOpenComActExecute();
    form->FileOpenComActExecute();
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
    form->close();
    int writes = 0;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;)
        for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len) {
            const auto* event = reinterpret_cast<inotify_event*>(p);
            if (event->len && std::string(event->name) == "pek.ini") ++writes;
        }
    close(watch);
    EXPECT_EQ(writes, 1);
    const ProfileFile ini(iniPath());
    for (const char* section : {"No0", "No1", "No2"}) EXPECT_TRUE(ini.ValueExists(section, "ComPortNo")) << section;
}

TEST_F(WindowTest, ALoadRequestForAFifoIsRefusedInsteadOfHangingTheWindow)
{
    PortSettings();
    Start();
    const std::string fifo = dir.file("fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(form->HandleCopyData(2, fifo + '\0'));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_NE(dialogs.messages.back().text.find("fifo"), std::string::npos);
}

TEST_F(WindowTest, APortMissingAtStartOpensWhenItsAdapterIsPluggedIn)
{
    const std::string adapter = dir.file("adapter").string();
    WriteFileBytes(iniPath(), "[Ports]\r\nCOM1=" + adapter + "\r\n[No0]\r\nComPortOpen=1\r\nComPortNo=1\r\n");
    Start();
    EXPECT_FALSE(dialogs.messages.empty()) << "the failed open is reported";
    EXPECT_FALSE(form->SheetPort(0)->IsOpen());
    std::filesystem::create_symlink(pty.slavePath(), adapter);
    ASSERT_TRUE(WaitUntil([&] { return form->SheetPort(0)->IsOpen(); }));
    Receive("hello\r\n");
    EXPECT_TRUE(PaneShows("hello\r\n"));
}
