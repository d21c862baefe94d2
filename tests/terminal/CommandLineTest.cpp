// The command processor against a recording window and a port on an in-memory device.
#include "PartsFixture.h"
#include "support/TempDir.h"
#include "terminal/CommandLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace pek::test {
namespace {

struct RecordingWindow {
    FakePortBench bench;
    bool hasPort = true;
    std::vector<std::pair<std::string, bool>> shown;  // text, logged
    std::vector<std::string> messages;                 // UTF-8
    std::vector<std::vector<std::string>> savedHistories;
    std::string log;
    std::vector<std::pair<std::string, bool>> macros;  // file, thread run
    std::vector<std::string> existingFiles{"exists.lua"};
    bool engineAttached = false;

    CommandProcessor processor{CommandWindow{
        [this](int) { return hasPort ? bench.port : nullptr; },
        [this](int, std::string_view text, bool logged) { shown.emplace_back(std::string(text), logged); },
        [this](const std::string& text, const std::string&, unsigned) { messages.push_back(text); },
        [this](const std::string& name) { return std::find(existingFiles.begin(), existingFiles.end(), name) != existingFiles.end(); },
        [this](const CommandHistory& history) { savedHistories.push_back(history.Items()); },
        [this](TCommXEx&, std::string_view text) { log += text; },
        [this](int, const std::string& file, bool thread) {
            if (engineAttached) macros.emplace_back(file, thread);
            return engineAttached;
        }}};

    void Run(const std::string& text, bool fromUser = true) { processor.ExecCommand(0, text, fromUser); }
};

TEST(CommandLine, EchoSendsAndTheLineEnding)
{
    RecordingWindow w;
    w.bench.port->SetCrTypTrans(ctCrLf);
    w.bench.port->Open();
    w.Run("ATZ");
    EXPECT_EQ(w.bench.device->WaitWritten(5), "ATZ\r\n");
    ASSERT_EQ(w.shown.size(), 1u);
    EXPECT_EQ(w.shown[0].first, "ATZ\r\n");
    w.bench.port->SetCrTypTrans(ctCr);
    w.Run("@ATI");  // no echo, once
    w.Run("");      // only the line ending, and no history entry
    EXPECT_EQ(w.bench.device->WaitWritten(10), "ATZ\r\nATI\r\r");
    EXPECT_EQ(w.shown.size(), 2u);
    EXPECT_EQ(w.shown[1].first, "\r\n");
    EXPECT_TRUE(w.processor.Echo());
    EXPECT_EQ(w.processor.History().Items(), (std::vector<std::string>{"ATI", "ATZ"}));
    // A device that speaks UTF-8 gets the code page 932 text in UTF-8.
    w.bench.port->SetCharCode(TCommXEx::ccUtf8);
    w.Run(Sjis("温度?"));
    EXPECT_EQ(w.bench.device->WaitWritten(22), "ATZ\r\nATI\r\r温度?\r");
}

TEST(CommandLine, HistoryKeepsTwentyDistinctUserCommandsAndIsSavedEachTime)
{
    RecordingWindow w;
    w.bench.port->Open();
    for (const char* c : {"ATZ", "ATI", "ATZ"}) w.Run(c);
    EXPECT_EQ(w.processor.History().Items(), (std::vector<std::string>{"ATZ", "ATI"}));
    for (int i = 0; i < 20; ++i) w.Run("AT+" + std::to_string(i));
    EXPECT_EQ(w.processor.History().Items().size(), 20u);
    EXPECT_EQ(w.processor.History().Items().front(), "AT+19");
    EXPECT_EQ(w.processor.History().Items().back(), "AT+0");
    EXPECT_EQ(w.savedHistories.back(), w.processor.History().Items());
    const size_t saves = w.savedHistories.size();
    w.Run("FROMSCRIPT", false);
    w.Run("TWO\r\nLINES", true);  // could not be kept in the settings file
    EXPECT_EQ(w.savedHistories.size(), saves);
    EXPECT_EQ(w.processor.History().Items().front(), "AT+19");
}

TEST(CommandLine, MacroCommandsGoToTheRunnerWhenTheFileExists)
{
    RecordingWindow w;
    w.Run("@!missing.lua");
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0], "missing.lua が見つかりません。");
    EXPECT_TRUE(w.processor.Echo());
    w.Run("!exists.lua");  // no macro engine attached
    EXPECT_EQ(w.messages.size(), 2u);
    w.engineAttached = true;
    w.Run("!exists.lua");
    w.Run("!!exists.lua");
    EXPECT_EQ(w.macros, (std::vector<std::pair<std::string, bool>>{{"exists.lua", false}, {"exists.lua", true}}));
    EXPECT_TRUE(w.bench.device->Written().empty());
}

TEST(CommandLine, NothingSentIsReportedAndNotLoggedAsSent)
{
    for (const bool hasPort : {false, true}) {
        RecordingWindow w;  // the port, when there is one, is closed
        w.hasPort = hasPort;
        w.bench.port->SetLogTrs(true);
        w.Run("ATZ");
        ASSERT_EQ(w.messages.size(), 1u) << hasPort;
        EXPECT_EQ(w.messages[0], "通信ポートが開いていません");
        ASSERT_EQ(w.shown.size(), 1u);
        EXPECT_FALSE(w.shown[0].second) << "the echo of a command not sent is not logged";
    }
}

TEST(CommandLine, SentCommandsInTheLogs)
{
    TempDir dir;
    RecordingWindow w;
    w.bench.port->Open();
    w.bench.port->LogOpen(dir.file("a.log").string(), true, true, true, true);  // binary
    w.Run("ATZ");
    EXPECT_EQ(w.log, "ATZ\r");
    EXPECT_FALSE(w.shown[0].second);
    w.log.clear();
    w.bench.port->LogOpen(dir.file("b.log").string(), true, true, true, false);  // text: the echo is logged
    w.Run("ATI");
    EXPECT_TRUE(w.shown[1].second);
    w.processor.SetEcho(false);
    w.Run("ATX");
    EXPECT_EQ(w.shown.size(), 2u);
    EXPECT_EQ(w.log, "");
}

}  // namespace
}  // namespace pek::test
