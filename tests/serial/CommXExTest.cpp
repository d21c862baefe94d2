#include "platform/CodePage.h"
#include "serial/CommXEx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace pek {
namespace {

TEST(CommXEx, NewPortObject)
{
    TCommXEx port;
    EXPECT_EQ(port.RingBuf().Size(), 32000);
    EXPECT_EQ(port.RingBuf().Pos(), 0);
    EXPECT_EQ(port.TimeTyp(), 0);
    EXPECT_FALSE(port.Receiving());
    EXPECT_FALSE(port.LogOpened());
    EXPECT_FALSE(port.LogRcv() || port.LogTrs() || port.LogMsg() || port.LogBin());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.PortNo(), 1);  // the engine's defaults come with it
}

TEST(CommXEx, LogOpenTruncatesAndStoresTheOptionsInOrder)
{
    test::TempDir dir;
    const auto file = dir.file("pek.log");
    test::WriteFileBytes(file, "old content that must go");
    TCommXEx port;
    port.LogOpen(file.string(), true, false, true, false);
    EXPECT_TRUE(port.LogOpened());
    EXPECT_TRUE(port.LogRcv());
    EXPECT_FALSE(port.LogTrs());
    EXPECT_TRUE(port.LogMsg());
    EXPECT_FALSE(port.LogBin());
    EXPECT_EQ(test::ReadFileBytes(file), "");
}

TEST(CommXEx, LogWriteIsOnDiskAtOnceAndAddsNothing)
{
    test::TempDir dir;
    const auto file = dir.file("pek.log");
    TCommXEx port;
    port.LogOpen(file.string(), false, false, false, true);
    port.LogWrite("abc");
    EXPECT_EQ(test::ReadFileBytes(file), "abc");
    port.LogWrite(std::string("\0\r\n\x83\x65", 5));
    EXPECT_EQ(test::ReadFileBytes(file), std::string("abc\0\r\n\x83\x65", 8));
}

TEST(CommXEx, LogCloseClearsEveryOption)
{
    test::TempDir dir;
    TCommXEx port;
    port.LogOpen(dir.file("a.log").string(), true, true, true, true);
    port.LogWrite("x");
    port.LogClose();
    EXPECT_FALSE(port.LogOpened());
    EXPECT_FALSE(port.LogRcv() || port.LogTrs() || port.LogMsg() || port.LogBin());
    EXPECT_EQ(test::ReadFileBytes(dir.file("a.log")), "x");
    port.SetLogRcv(true);
    port.LogClose();  // closing a closed log only clears the options
    EXPECT_FALSE(port.LogRcv());
}

TEST(CommXEx, DestroyingThePortObjectClosesTheLogWithItsContent)
{
    test::TempDir dir;
    const auto file = dir.file("pek.log");
    {
        TCommXEx port;
        port.LogOpen(file.string(), true, false, false, false);
        port.LogWrite("kept");
    }
    EXPECT_EQ(test::ReadFileBytes(file), "kept");
}

TEST(CommXEx, ReopeningTheLogStartsAFreshFile)
{
    test::TempDir dir;
    TCommXEx port;
    port.LogOpen(dir.file("a.log").string(), true, false, false, false);
    port.LogWrite("first");
    port.LogOpen(dir.file("b.log").string(), false, true, false, false);
    port.LogWrite("second");
    EXPECT_EQ(test::ReadFileBytes(dir.file("a.log")), "first");
    EXPECT_EQ(test::ReadFileBytes(dir.file("b.log")), "second");
    EXPECT_FALSE(port.LogRcv());
    EXPECT_TRUE(port.LogTrs());
}

TEST(CommXEx, FileErrorsRaiseAnInputOutputError)
{
    test::TempDir dir;
    TCommXEx port;
    try {
        port.LogOpen(dir.file("missing/dir/pek.log").string(), true, true, true, true);
        FAIL() << "opened";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        // The user is told which file and why.
        EXPECT_NE(e.Message().find("missing/dir/pek.log"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("No such file or directory"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(port.LogOpened());
    EXPECT_FALSE(port.LogRcv());
    EXPECT_THROW(port.LogWrite("nowhere"), EInOutError);
    EXPECT_THROW(port.LogOpen(dir.path().string(), false, false, false, false), EInOutError);  // a directory
    port.LogOpen("/dev/full", true, true, true, true);
    try {
        port.LogWrite("x");
        FAIL() << "wrote to a full device";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find("/dev/full"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("No space left on device"), std::string::npos) << e.Message();
    }
}

TEST(CommXEx, LogFileNameIsConvertedFromCodePage932)
{
    test::TempDir dir;
    TCommXEx port;
    const std::string name = FileNameFromSystem(dir.path().string()) + "/" + Utf8ToCp932("ログ.log");
    port.LogOpen(name, true, false, false, false);
    port.LogWrite("x");
    port.LogClose();
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "ログ.log"));
}

TEST(CommXEx, TimeTypAndReceivingAreKept)
{
    TCommXEx port;
    port.SetTimeTyp(3);
    port.SetReceiving(true);
    EXPECT_EQ(port.TimeTyp(), 3);
    EXPECT_TRUE(port.Receiving());
}

}  // namespace
}  // namespace pek
