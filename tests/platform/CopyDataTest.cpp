#include "platform/CopyData.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
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
T serveUntil(std::future<T>& result, int limitMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready && timer.elapsed() < limitMs)
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

// A sender may write its frames and close its sending side at once (as `printf ... | nc -U -N`
// does): every frame is still carried out and answered, in order, before the window closes the
// connection. Senders in a row, so that a lost answer (once in hundreds) shows.
TEST_F(CopyDataChannel, HalfClosedSendersGetEveryAnswer)
{
    int calls = 0;
    CopyDataServer server(0, [&](std::uint32_t d, const std::string&) { return ++calls > 0 && d != 9; });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, server.SocketPath().c_str());
    const std::string frames = EncodeCopyDataFrame(0, std::string("a\0", 2)) + EncodeCopyDataFrame(9, "b");
    constexpr int kSenders = 200;
    int complete = 0;
    for (int i = 0; i < kSenders; ++i) {
        auto answers = std::async(std::launch::async, [&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            std::string got;
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                ::send(fd, frames.data(), frames.size(), MSG_NOSIGNAL) == ssize_t(frames.size()) &&
                ::shutdown(fd, SHUT_WR) == 0) {
                char buffer[16];
                for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) got.append(buffer, size_t(n));
            }
            ::close(fd);
            return got;
        });
        if (serveUntil(answers) == le32(1) + le32(0)) ++complete;
    }
    EXPECT_EQ(complete, kSenders);
    EXPECT_EQ(calls, 2 * kSenders);
}

#ifdef PEK_SEND_PATH
// pek-send waits for the answer unless told a time-out, and says what a missing answer means.
TEST_F(CopyDataChannel, PekSendWaitsForTheAnswerOrSaysTheFrameMayStillBeCarriedOut)
{
    int calls = 0;
    CopyDataServer server(0, [&](std::uint32_t, const std::string& p) { return ++calls > 0 && p != std::string("no\0", 3); });
    struct Case {
        QStringList args;
        bool serve;
        int exitCode;
        std::string message;
    };
    const QString socket = QString::fromStdString(server.SocketPath());
    const std::vector<Case> cases = {
        {{"--socket", socket, "ATZ"}, true, 0, ""},
        {{"--socket", socket, "--timeout", "30", "no"}, true, 1, ""},
        {{"--socket", socket, "--timeout", "0.1", "late"}, false, 3, "may still carry"},
        {{"--socket", socket + "x", "ATZ"}, true, 2, "was not carried out"},
    };
    for (const auto& c : cases) {
        QProcess process;
        process.start(PEK_SEND_PATH, c.args);
        ASSERT_TRUE(process.waitForStarted());
        // Not serving: waitForFinished blocks this thread, as a window with a box open does not answer.
        if (!c.serve) {
            ASSERT_TRUE(process.waitForFinished(20000));
        }
        QElapsedTimer timer;
        timer.start();
        while (process.state() != QProcess::NotRunning && timer.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(process.exitCode(), c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_NE(process.readAllStandardError().toStdString().find(c.message), std::string::npos);
    }
    QElapsedTimer timer;
    timer.start();
    while (calls < 3 && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(calls, 3);  // the timed-out one too
}
#endif

// Every sender's frame shows a box (a nested event loop). Carried out one at a time, no box opens
// inside another, what waits stays within its bounds, every sender hears an answer, and the window
// still answers a normal frame afterwards.
TEST_F(CopyDataChannel, FiveThousandSendersOfBoxesAreCarriedOutOneAtATime)
{
    constexpr int kSenders = 5000;
    int depth = 0, deepest = 0, calls = 0;
    CopyDataLoad peak;
    std::vector<std::string> order;
    CopyDataServer server(0, [&](std::uint32_t dwData, const std::string& payload) {
        ++calls;
        deepest = std::max(deepest, ++depth);
        const CopyDataLoad load = CopyDataWaiting();
        peak = {std::max(peak.frames, load.frames), std::max(peak.bytes, load.bytes),
                std::max(peak.connections, load.connections)};
        if (dwData == 7) {
            QEventLoop box;
            QTimer::singleShot(1, &box, &QEventLoop::quit);
            box.exec();
        }
        if (dwData == 8) order.push_back(payload);
        --depth;
        return true;
    });
    const std::string path = server.SocketPath();
    auto senders = std::async(std::launch::async, [&] {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        std::vector<int> fds;
        for (int i = 0; i < kSenders; ++i) {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -1;
            // The first sender also queues two frames behind its box: they come back in order.
            std::string frames = EncodeCopyDataFrame(7, std::string("box\0", 4));
            if (i == 0) frames += EncodeCopyDataFrame(8, "a") + EncodeCopyDataFrame(8, "b");
            if (send(fd, frames.data(), frames.size(), MSG_NOSIGNAL) != ssize_t(frames.size())) return -1;
            fds.push_back(fd);
        }
        int answered = 0;
        for (const int fd : fds) {
            char answer[4];
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 60000) == 1 && recv(fd, answer, 4, MSG_WAITALL) == 4) ++answered;
            close(fd);
        }
        return answered;
    });
    EXPECT_EQ(serveUntil(senders, 120000), kSenders);
    EXPECT_EQ(deepest, 1);
    EXPECT_GT(calls, 0);
    EXPECT_LE(peak.frames, kMaxWaitingCopyDataFrames);
    EXPECT_LE(peak.bytes, kMaxWaitingCopyDataBytes);
    EXPECT_LE(peak.connections, kMaxCopyDataConnections);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b"}));
    auto normal = std::async(std::launch::async, [&] { return SendCopyDataFrame(path, 0, std::string("ATZ\0", 4)); });
    EXPECT_EQ(serveUntil(normal), CopyDataResult::Handled);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
