#include "WindowFixture.h"

#include <QProcess>

#include <future>

using namespace pek;
using namespace pek::test;

namespace {

// Runs pek-send while the window serves its socket; returns its exit status.
int PekSend(const QStringList& arguments)
{
    QProcess process;
    process.start(PEK_SEND_PATH, arguments);
    if (!process.waitForStarted(5000)) return -1;
    WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 20000);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

}  // namespace

TEST_F(WindowTest, EveryActionThroughPekSend)
{
    PortSettings("ComCrTypTrans=2\r\n");
    ProfileFile(iniPath()).WriteString("No1", "ComPortOpen", "0");
    Start();
    ASSERT_NE(form->CopyData(), nullptr);
    ASSERT_TRUE(form->CopyData()->Listening());
    form->SetActiveSheet(0);

    EXPECT_EQ(PekSend({"ATZ"}), 0);
    EXPECT_EQ(pty.readExactly(5), "ATZ\r\n");
    EXPECT_EQ(form->History().Items().front(), "ATZ");

    const std::string file = dir.file("in.txt").string();
    WriteFileBytes(file, "loaded\r\ntext\r\n");
    EXPECT_EQ(PekSend({"--data", "2", QString::fromStdString(file)}), 0);
    EXPECT_EQ(PaneText(), "loaded\r\ntext\r\n");
    EXPECT_EQ(form->SheetFileName(0), Sjis("(無題)"));

    const std::string saved = dir.file("out.txt").string();
    EXPECT_EQ(PekSend({"--data", "3", QString::fromStdString(saved)}), 0);
    EXPECT_EQ(ReadFileBytes(saved), "loaded\r\ntext\r\n");

    Receive("ring");
    EXPECT_EQ(PekSend({"--data", "4", "x"}), 0);
    EXPECT_EQ(PaneText(), "");
    EXPECT_EQ(form->SheetPort(0)->RingBuf().Pos(), 0);

    EXPECT_EQ(PekSend({"--data", "5", "1"}), 0);
    EXPECT_EQ(form->ActiveSheet(), 1);
    EXPECT_EQ(PekSend({"--data", "5", "abc"}), 1);
    EXPECT_TRUE(dialogs.Shown("指定されたページ(abc)は存在しません。"));
    EXPECT_EQ(PekSend({"--data", "5", "7"}), 1);
    EXPECT_EQ(form->ActiveSheet(), 1);

    EXPECT_EQ(PekSend({"--data", "1", "x"}), 1);
    EXPECT_TRUE(dialogs.Shown("dwData=1は未対応です。"));
    EXPECT_EQ(PekSend({"--data", "77", "x"}), 1);
    EXPECT_TRUE(dialogs.Shown("dwData=77は未対応です。"));
}

TEST_F(WindowTest, PekSendListsTheWindowWithItsCaption)
{
    PortSettings();
    Start();
    QProcess process;
    process.start(PEK_SEND_PATH, {"--list"});
    ASSERT_TRUE(process.waitForFinished(10000));
    const std::string listing = process.readAllStandardOutput().toStdString();
    EXPECT_NE(listing.find(std::to_string(QCoreApplication::applicationPid()) + ".0\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("(無題)-COM1"), std::string::npos) << listing;
}

TEST_F(WindowTest, MalformedFramesAreRefusedWithoutHarm)
{
    PortSettings();
    Start();
    const std::string socket = form->CopyData()->SocketPath();
    // A frame without its terminating zero is taken up to its own end, never further.
    auto answer = std::async(std::launch::async, [&] { return SendCopyData(socket, 0, "ATI"); });
    WaitUntil([&] { return answer.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; });
    EXPECT_EQ(answer.get(), std::optional<bool>(true));
    EXPECT_EQ(pty.readExactly(4), "ATI\r");
    // An oversized frame is refused and never reaches the window.
    auto big = std::async(std::launch::async, [&] { return SendCopyData(socket, 0, std::string(kMaxCopyDataBytes + 1, 'A')); });
    WaitUntil([&] { return big.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 20000);
    EXPECT_NE(big.get(), std::optional<bool>(true));
    EXPECT_EQ(pty.readAvailable(std::chrono::milliseconds(50)), "");
}

// A command for a sheet whose port is not open sends nothing: pek-send fails and says why.
TEST_F(WindowTest, PekSendToASheetWithoutAnOpenPortFailsAndSaysSo)
{
    PortSettings();
    ProfileFile(iniPath()).WriteString("No1", "ComPortOpen", "0");
    Start();
    form->SetActiveSheet(1);
    QProcess process;
    process.start(PEK_SEND_PATH, {"ATZ"});
    ASSERT_TRUE(process.waitForStarted(5000));
    WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 20000);
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_NE(process.readAllStandardError().toStdString().find("port is not open"), std::string::npos);
    EXPECT_TRUE(dialogs.Shown("通信ポートが開いていません"));
    form->SetActiveSheet(0);
    EXPECT_EQ(PekSend({"AT"}), 0);
    EXPECT_EQ(pty.readExactly(3), "AT\r");
}
