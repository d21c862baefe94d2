#include "support/EventLoop.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "serial/CommXEx.h"
#include "serial/PosixComPort.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace pek {
namespace {

using namespace std::chrono_literals;
using test::ServeFor;
using test::ServeUntil;

// Plays a device that sends `data` as fast as the terminal takes it; gives up when told to.
void WriteUntilStopped(int fd, const std::string& data, const std::atomic<bool>& stop)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::size_t done = 0;
    while (done < data.size() && !stop) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) done += std::size_t(n);
    }
}

// The engine on the device end of a real pseudo-terminal, found through a [Ports] mapping.
class CommXPty : public ::testing::Test {
protected:
    CommXPty()
    {
        ProfileFile ini(iniPath());
        ini.WriteString("Ports", "COM7", pty.slavePath());
        comm.SetPortResolver(PortsFromSettings(iniPath()));
        comm.SetPortNo(7);
        comm.SetFlowCtrl(cfcNone);
        comm.OnReceive = [this](TCustomCommX& sender, std::int32_t size) {
            // In chunks of at most 255 bytes, as the receive display does.
            for (std::int32_t left = size; left > 0;) {
                char buffer[255];
                const std::int32_t n = sender.Read(buffer, std::min<std::int32_t>(left, 255));
                if (n <= 0) break;
                received.append(buffer, std::size_t(n));
                left -= n;
                ++chunks;
            }
        };
    }
    std::string iniPath() const { return dir.file("pek.ini").string(); }
    // The device sends `pieces` numbered lines of 11 bytes, `gap` apart, while events are served
    // until all have been received; true when every byte came, once and in order.
    bool Trickle(int pieces, std::chrono::milliseconds gap)
    {
        std::string data;
        for (int i = 0; i < pieces; ++i) data += "piece " + std::to_string(1000 + i) + "\n";
        std::thread device([&] {
            for (int i = 0; i < pieces; ++i) {
                [[maybe_unused]] auto n = ::write(pty.masterFd(), data.data() + i * 11, 11);
                std::this_thread::sleep_for(gap);
            }
        });
        const bool all = ServeUntil([&] { return received.size() >= data.size(); }, std::chrono::seconds(20));
        device.join();
        EXPECT_TRUE(all) << received.size();
        EXPECT_EQ(received, data);
        return all && received == data;
    }

    test::TempDir dir;
    test::PtyPair pty;
    TCommXEx comm;
    std::string received;
    int chunks = 0;
};

TEST(PortResolution, SettingsMappingElseTheBuiltInPorts)
{
    test::TempDir dir;
    const std::string ini = dir.file("pek.ini").string();
    const PortResolver missingFile = PortsFromSettings(ini);
    EXPECT_EQ(missingFile(1), "/dev/ttyS0");
    ProfileFile(ini).WriteString("ports", "com3", "/dev/serial/by-id/usb-X-if00-port0");
    const PortResolver resolver = PortsFromSettings(ini);
    EXPECT_EQ(resolver(3), "/dev/serial/by-id/usb-X-if00-port0");
    EXPECT_EQ(resolver(2), "/dev/ttyS1");
    EXPECT_EQ(DefaultPortPath(10), "/dev/ttyS9");
    EXPECT_EQ(DefaultPortPath(0), "");
}

TEST_F(CommXPty, OpensThroughThePortsMapping)
{
    comm.Open();
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_NE(comm.Handle(), TCustomCommX::InvalidHandle);
    comm.Close();
    EXPECT_EQ(comm.Handle(), TCustomCommX::InvalidHandle);
    comm.Open();  // the port can be opened again after closing
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommXPty, UnmappedMissingPortFailsToOpen)
{
    comm.SetPortNo(200);  // /dev/ttyS199
    try {
        comm.Open();
        FAIL() << "opened";
    } catch (const ECommError& e) {
        EXPECT_EQ(Cp932ToUtf8(e.Message()).substr(0, 69), "ポートをオープンできませんでした\r\nポート: COM200\r\n");
    }
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommXPty, MappingToAFileThatIsNoTerminalFailsToOpen)
{
    ProfileFile(iniPath()).WriteString("Ports", "COM8", iniPath());
    comm.SetPortNo(8);
    EXPECT_THROW(comm.Open(), ECommError);
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommXPty, SendLineWithEachLineEnding)
{
    comm.Open();
    const std::pair<TCrTyp, std::string> endings[] = {{ctCr, "AT\r"}, {ctCrLf, "AT\r\n"}, {ctNone, "AT"}, {ctLf, "AT\n"}};
    for (const auto& [type, expected] : endings) {
        comm.SetCrTypTrans(type);
        ASSERT_TRUE(comm.SendLine("AT"));
        EXPECT_EQ(pty.readExactly(expected.size()), expected);
    }
    // Shift-JIS bytes pass unchanged.
    comm.SetCrTypTrans(ctCrLf);
    ASSERT_TRUE(comm.SendLine("\x83\x65\x95\x5C"));
    EXPECT_EQ(pty.readExactly(6), "\x83\x65\x95\x5C\r\n");
}

TEST_F(CommXPty, ReceivesInChunksIntoTheRingBuffer)
{
    comm.Open();
    std::string data(100000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = char((i * 7 + i / 256) & 0xFF);
    std::atomic<bool> stop{false};
    std::thread device([&] { WriteUntilStopped(pty.masterFd(), data, stop); });
    const bool all = ServeUntil([&] { return received.size() >= data.size(); }, 20s);
    stop = true;
    device.join();
    ASSERT_TRUE(all) << received.size();
    EXPECT_EQ(received, data);
    EXPECT_GE(chunks, int(data.size() / 255));
    // The ring buffer holds the last 32000 bytes.
    std::int32_t p = comm.RingBuf().Pos() + 1;
    EXPECT_EQ(comm.RingBuf().Get(p, 31999), data.substr(data.size() - 31999));
}

TEST_F(CommXPty, CloseWithQueuedDataDiscardsIt)
{
    comm.Open();
    // Nobody reads the other end: the terminal's output queue fills up and blocks stay queued.
    const std::string block(2048, 'x');
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(comm.WriteStr(block));
    ASSERT_TRUE(ServeUntil([&] { return comm.QueuedBlocks() < 30; }));
    ServeFor(50ms);
    ASSERT_GT(comm.PendingBytes(), 0);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.PendingBytes(), 0);
    EXPECT_EQ(comm.QueuedBlocks(), 0);
    EXPECT_LT(pty.readAvailable().size(), 30u * 2048);
}

TEST_F(CommXPty, OtherEndVanishing)
{
    int disconnects = 0;
    int errors = 0;
    comm.OnDisconnect = [&](TCustomCommX& sender) {
        ++disconnects;
        EXPECT_FALSE(sender.IsOpen());
    };
    comm.OnError = [&](TCustomCommX&, std::int32_t) { ++errors; };
    comm.Open();
    pty.write("last words");
    ASSERT_TRUE(ServeUntil([&] { return received == "last words"; }));
    pty.closeMaster();
    ASSERT_TRUE(ServeUntil([&] { return disconnects > 0; }));
    EXPECT_FALSE(comm.IsOpen());
    ServeFor(100ms);
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(errors, 0);
    EXPECT_FALSE(comm.SendLine("AT"));
}

// This process's descriptors open on the character device `device` (by number: the node goes
// away with the device).
int DescriptorsOn(dev_t device)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) ++count;
    }
    return count;
}

// A device that goes (hang-up, or its node removed) is let go by the thread that notices while
// the main thread serves nothing; then the port reports closed, and opens again on the device that
// came back.
TEST_F(CommXPty, AVanishedDeviceIsLetGoAtOnceAndOpensAgainWhenBack)
{
    int disconnects = 0;
    comm.OnDisconnect = [&](TCustomCommX&) { ++disconnects; };
    const std::filesystem::path link = dir.file("adapter");
    ProfileFile(iniPath()).WriteString("Ports", "COM7", link.string());
    for (const bool hangUp : {true, false}) {
        SCOPED_TRACE(hangUp ? "hang-up" : "node removed");
        auto device = std::make_unique<test::PtyPair>();
        std::filesystem::create_symlink(device->slavePath(), link);
        comm.Open();
        struct stat node {};
        ASSERT_EQ(::stat(link.c_str(), &node), 0);
        const int held = DescriptorsOn(node.st_rdev);  // the engine's and the pair's own
        ASSERT_EQ(held, 2);
        if (hangUp) device->closeMaster();
        else std::filesystem::remove(link);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (DescriptorsOn(node.st_rdev) == held && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        EXPECT_EQ(DescriptorsOn(node.st_rdev), held - 1);
        EXPECT_EQ(disconnects, 0);

        ASSERT_TRUE(ServeUntil([&] { return disconnects == 1; }));
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_EQ(comm.Handle(), TCustomCommX::InvalidHandle);
        std::filesystem::remove(link);
        device = std::make_unique<test::PtyPair>();
        std::filesystem::create_symlink(device->slavePath(), link);
        comm.Open();
        received.clear();
        device->write("back\r\n");
        ASSERT_TRUE(ServeUntil([&] { return received == "back\r\n"; }));
        ASSERT_TRUE(comm.SendLine("AT"));
        EXPECT_EQ(device->readExactly(3), "AT\r");
        comm.Close();
        std::filesystem::remove(link);
        disconnects = 0;
    }
}

TEST_F(CommXPty, HandlerThatReadsNothingIsNotFloodedWithReports)
{
    int reports = 0;
    comm.OnReceive = [&](TCustomCommX&, std::int32_t) { ++reports; };
    comm.Open();
    pty.write("abc");
    ASSERT_TRUE(ServeUntil([&] { return reports > 0; }));
    ServeFor(200ms);
    EXPECT_LE(reports, 2);  // a spinning receive thread would report hundreds of times
    const int before = reports;
    pty.write("more");
    ASSERT_TRUE(ServeUntil([&] { return reports > before; }));
}

TEST_F(CommXPty, ATrickleIsHandedOverOnceAtTheMomentAPaneAskedFor)
{
    // The handler plays a pane that does not take data in itself: after each report it asks for
    // the next one 12 ms on. Pieces a millisecond apart come in far fewer reports than pieces,
    // and every byte arrives in order.
    int reports = 0;
    const auto read = comm.OnReceive;
    comm.OnReceive = [&](TCustomCommX& sender, std::int32_t size) {
        ++reports;
        read(sender, size);
        sender.SetReportBy(std::chrono::steady_clock::now() + 12ms);
    };
    comm.Open();
    constexpr int kPieces = 200;
    ASSERT_TRUE(Trickle(kPieces, 1ms));
    EXPECT_LT(reports, kPieces / 4) << reports;
}

TEST_F(CommXPty, APaneThatTakesATrickleInAtItsRefreshesIsNotWokenForIt)
{
    // The pane's refreshes take what was read in themselves and ask for the trickle to be held
    // a little past the next one: reports come only when a refresh is late, and every byte
    // arrives once and in order.
    int reports = 0, refreshes = 0, refreshesThatTook = 0;
    const auto read = comm.OnReceive;
    bool refreshing = false;
    comm.OnReceive = [&](TCustomCommX& sender, std::int32_t size) {
        if (!refreshing) ++reports;
        read(sender, size);
    };
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        ++refreshes;
        refreshing = true;
        refreshesThatTook += comm.TakeInNow() ? 1 : 0;
        refreshing = false;
        comm.SetReportBy(std::chrono::steady_clock::now() + 20ms);
    });
    comm.Open();
    refresh.start(10);
    ASSERT_TRUE(Trickle(200, 2ms));
    EXPECT_GT(refreshesThatTook, 0);
    EXPECT_LT(reports, refreshesThatTook / 2) << reports << " reports, " << refreshesThatTook << " of " << refreshes << " refreshes took";
}

TEST_F(CommXPty, ClosingWhileTheDeviceStreams)
{
    comm.Open();
    std::atomic<bool> stop{false};
    std::thread device([&] {
        const std::string line = "0123456789abcdef\r\n";
        while (!stop) {
            pollfd p{pty.masterFd(), POLLOUT, 0};
            if (poll(&p, 1, 10) > 0) [[maybe_unused]] auto n = ::write(pty.masterFd(), line.data(), line.size());
        }
    });
    ASSERT_TRUE(ServeUntil([&] { return received.size() > 1000; }));
    comm.Close();
    stop = true;
    device.join();
    EXPECT_FALSE(comm.IsOpen());
}

}  // namespace
}  // namespace pek

namespace pek {
namespace {

using namespace std::chrono_literals;

// Bytes that arrive while a handler runs are taken from the port into the engine's read-ahead
// by the next Read; they must be reported even though the port itself then looks empty.
TEST(CommXPtyReadAhead, BytesTakenAheadAreReportedWithoutFurtherArrivals)
{
    test::TempDir dir;
    test::PtyPair pty;
    TCommXEx comm;
    const std::string ini = dir.file("pek.ini").string();
    ProfileFile(ini).WriteString("Ports", "COM7", pty.slavePath());
    comm.SetPortResolver(PortsFromSettings(ini));
    comm.SetPortNo(7);
    comm.SetFlowCtrl(cfcNone);
    std::string received;
    int calls = 0;
    const int master = pty.masterFd();
    comm.OnReceive = [&](TCustomCommX& sender, std::int32_t size) {
        if (calls++ == 0) {
            ASSERT_EQ(::write(master, "BBBB", 4), 4);
            std::this_thread::sleep_for(30ms);
        }
        char buffer[256];
        const std::int32_t n = sender.Read(buffer, std::min<std::int32_t>(size, 256));
        if (n > 0) received.append(buffer, std::size_t(n));
        std::this_thread::sleep_for(5ms);
    };
    comm.Open();
    ASSERT_EQ(::write(master, "AAAA", 4), 4);
    test::ServeUntil([&] { return received.size() >= 8; }, 3000ms);
    EXPECT_EQ(received, "AAAABBBB");
    comm.Close();
}

// Paced and plain sends in blocks smaller than the texts reach a real device whole and in order;
// closing the port in the middle of a long pause sends nothing more.
TEST_F(CommXPty, PacedSendsArriveInOrderAndCloseEndsALongPause)
{
    comm.Open();
    comm.SetBufLenTrans(16);
    comm.SetDelayTrans(1);
    std::string expected;
    for (int i = 0; i < 4; ++i) {
        const std::string paced(std::size_t(20 + i), char('a' + i));
        const std::string plain(std::size_t(40 + i), char('A' + i));
        ASSERT_TRUE(comm.SendStr(paced));
        ASSERT_TRUE(comm.WriteStr(plain));
        expected += paced + plain;
    }
    EXPECT_EQ(pty.readExactly(expected.size()), expected);
    comm.SetDelayTrans(10000);
    ASSERT_TRUE(comm.SendLine("AT"));
    EXPECT_EQ(pty.readExactly(1), "A");
    comm.Close();
    EXPECT_EQ(pty.readAvailable(), "");
}

}  // namespace
}  // namespace pek

namespace pek {
namespace {

// A device held by another program (a lock on its node) is not opened, and the message names the
// port, the device and the reason; once the other program lets go, the port opens, and while we
// hold it nobody else gets the lock.
TEST_F(CommXPty, ADeviceHeldElsewhereIsNotOpenedAndTheMessageSaysWhy)
{
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    try {
        comm.Open();
        FAIL() << "opened a device held elsewhere";
    } catch (const ECommError& e) {
        EXPECT_EQ(Cp932ToUtf8(e.Message()), "ポートをオープンできませんでした\r\nポート: COM7\r\nデバイス: " +
                                                pty.slavePath() + "\r\n理由: 他のプログラムが使用しています");
    }
    EXPECT_FALSE(comm.IsOpen());
    ::close(other);

    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    TCommX second;
    second.SetPortResolver([&](int) { return pty.slavePath(); });
    EXPECT_THROW(second.Open(), ECommError);
    const int third = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(third, 0);
    EXPECT_NE(::flock(third, LOCK_EX | LOCK_NB), 0);
    ::close(third);
    comm.Close();
    second.Open();  // released with the close
    EXPECT_TRUE(second.IsOpen());
}

TEST_F(CommXPty, AMissingDeviceIsNamedWithTheSystemsReason)
{
    ProfileFile(iniPath()).WriteString("Ports", "COM9", dir.file("nothing-here").string());
    comm.SetPortNo(9);
    try {
        comm.Open();
        FAIL() << "opened";
    } catch (const ECommError& e) {
        EXPECT_EQ(Cp932ToUtf8(e.Message()), "ポートをオープンできませんでした\r\nポート: COM9\r\nデバイス: " +
                                                dir.file("nothing-here").string() + "\r\n理由: " +
                                                std::strerror(ENOENT));
    }
}

}  // namespace
}  // namespace pek
