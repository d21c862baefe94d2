#include "platform/CopyData.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

using namespace pek;

namespace {

std::string le32(std::uint32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF);
    return s;
}

// Runs the main thread's event loop until the future is ready (the client blocks on its own thread).
template <typename T>
T serveUntil(std::future<T>& result)
{
    QElapsedTimer timer;
    timer.start();
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return result.get();
}

}  // namespace

TEST(CopyDataFrames, CutsAStreamIntoFramesWhateverTheChunking)
{
    const std::string stream = EncodeCopyDataFrame(0, std::string("ATZ\0", 4)) + EncodeCopyDataFrame(5, std::string("1\0", 2));
    for (size_t step : {size_t(1), size_t(3), stream.size()}) {
        CopyDataFrameReader reader;
        std::vector<CopyDataFrame> frames;
        for (size_t at = 0; at < stream.size(); at += step) {
            reader.Feed(stream.data() + at, std::min(step, stream.size() - at));
            CopyDataFrame f;
            while (reader.Next(f) == CopyDataFrameReader::Status::Frame) frames.push_back(f);
        }
        ASSERT_EQ(frames.size(), 2u) << step;
        EXPECT_EQ(frames[0].dwData, 0u);
        EXPECT_EQ(CopyDataString(frames[0].payload), "ATZ");
        EXPECT_EQ(frames[1].dwData, 5u);
        EXPECT_EQ(reader.Buffered(), 0u);
    }
}

TEST(CopyDataFrames, ShortAndOversizedFrames)
{
    CopyDataFrameReader reader;
    CopyDataFrame f;
    reader.Feed("\x01\x00\x00", 3);
    EXPECT_EQ(reader.Next(f), CopyDataFrameReader::Status::NeedMore);

    CopyDataFrameReader huge;
    const std::string header = le32(0) + le32(kMaxCopyDataBytes + 1);
    huge.Feed(header.data(), header.size());
    EXPECT_EQ(huge.Next(f), CopyDataFrameReader::Status::TooLarge);

    CopyDataFrameReader limit;
    const std::string exact = EncodeCopyDataFrame(3, std::string(kMaxCopyDataBytes, 'x'));
    limit.Feed(exact.data(), exact.size());
    EXPECT_EQ(limit.Next(f), CopyDataFrameReader::Status::Frame);
    EXPECT_EQ(f.payload.size(), size_t(kMaxCopyDataBytes));
}

TEST(CopyDataFrames, StringEndsAtTheFirstZeroOrThePayloadEnd)
{
    EXPECT_EQ(CopyDataString(std::string("abc\0def", 7)), "abc");
    EXPECT_EQ(CopyDataString("no zero"), "no zero");
    EXPECT_EQ(CopyDataString(""), "");
}

class CopyDataChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        directory = CopyDataDirectory();
        ASSERT_FALSE(directory.empty());
    }
    pek::test::TempDir runtime;
    std::string directory;
};

TEST_F(CopyDataChannel, FolderIsPrivate)
{
    struct stat st {};
    ASSERT_EQ(stat(directory.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(directory, runtime.path().string() + "/pek");
}

TEST_F(CopyDataChannel, FramesReachTheHandlerAndItsAnswerComesBack)
{
    std::vector<CopyDataFrame> seen;
    CopyDataServer server(0, [&](std::uint32_t d, const std::string& p) {
        seen.push_back({d, p});
        return d != 1;
    });
    ASSERT_TRUE(server.Listening());
    server.SetCaption("(無題)-COM1 - Pek");

    const auto windows = ListCopyDataWindows(directory);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].pid, getpid());
    EXPECT_EQ(windows[0].number, 0);
    EXPECT_EQ(windows[0].caption, "(無題)-COM1 - Pek");

    const std::string path = server.SocketPath();
    auto first = std::async(std::launch::async, [&] { return SendCopyData(path, 0, std::string("ATZ\0", 4)); });
    EXPECT_EQ(serveUntil(first), std::optional<bool>(true));
    auto second = std::async(std::launch::async, [&] { return SendCopyData(path, 1, std::string("x\0", 2)); });
    EXPECT_EQ(serveUntil(second), std::optional<bool>(false));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].dwData, 0u);
    EXPECT_EQ(seen[0].payload, std::string("ATZ\0", 4));
}

TEST_F(CopyDataChannel, OversizedFrameIsRefusedWithoutReachingTheHandler)
{
    int calls = 0;
    CopyDataServer server(1, [&](std::uint32_t, const std::string&) { return ++calls > 0; });
    const std::string path = server.SocketPath();
    auto result = std::async(std::launch::async, [&] {
        return SendCopyData(path, 0, std::string(kMaxCopyDataBytes + 10, 'a'));
    });
    const auto answer = serveUntil(result);
    // Either the refusal came back before the connection closed, or the close cut the send short.
    EXPECT_NE(answer, std::optional<bool>(true));
    EXPECT_EQ(calls, 0);
}

TEST_F(CopyDataChannel, SocketsOfProcessesThatAreGoneAreRemoved)
{
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string stale = directory + "/" + std::to_string(child) + ".0";
    { std::ofstream(stale) << ""; }
    EXPECT_TRUE(ListCopyDataWindows(directory).empty());
    EXPECT_FALSE(std::filesystem::exists(stale));
}

TEST_F(CopyDataChannel, UnreachableWindowGivesNoAnswer)
{
    EXPECT_EQ(SendCopyData(directory + "/999999.0", 0, "x"), std::nullopt);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
