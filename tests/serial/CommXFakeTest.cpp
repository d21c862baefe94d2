#include "support/EventLoop.h"
#include "platform/CodePage.h"
#include "serial/CommX.h"
#include "support/FakeComPort.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace pek {
namespace {

using namespace std::chrono_literals;
using test::ServeFor;
using test::ServeUntil;
using Kind = FakeComEvent::Kind;

class CommXFake : public ::testing::Test {
protected:
    CommXFake() { comm.SetPortFactory(FakeComDevice::FactoryFor(device)); }

    std::vector<FakeComEvent> EventsOf(Kind kind) const
    {
        std::vector<FakeComEvent> out;
        for (const FakeComEvent& e : device->Events())
            if (e.kind == kind) out.push_back(e);
        return out;
    }
    ComDcb LastState() const
    {
        const auto states = EventsOf(Kind::SetState);
        return states.empty() ? ComDcb{} : states.back().dcb;
    }

    std::shared_ptr<FakeComDevice> device = std::make_shared<FakeComDevice>();
    TCommX comm;
};

std::string MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ECommError& e) {
        return Cp932ToUtf8(e.Message());
    }
    return "(no exception)";
}

TEST_F(CommXFake, FreshComponentHasTheDefaults)
{
    EXPECT_EQ(comm.PortNo(), 1);
    EXPECT_EQ(comm.BitRate(), 9600);
    EXPECT_EQ(comm.CharSize(), 8);
    EXPECT_EQ(comm.ParityBit(), cpbNone);
    EXPECT_EQ(comm.StopBit(), csb1);
    EXPECT_EQ(comm.FlowCtrl(), cfcRtsCts);
    EXPECT_EQ(comm.TimeOutTrans(), 3000);
    EXPECT_EQ(comm.TimeOutReceive(), 3000);
    EXPECT_EQ(comm.DelayTrans(), 0);
    EXPECT_EQ(comm.CrTypTrans(), ctCr);
    EXPECT_EQ(comm.CrStr(), "\r");
    EXPECT_EQ(comm.XonChar(), 17);
    EXPECT_EQ(comm.XoffChar(), 19);
    EXPECT_EQ(comm.BufLenTrans(), 2048);
    EXPECT_EQ(comm.BufLenReceive(), 2048);
    EXPECT_EQ(comm.Handle(), TCustomCommX::InvalidHandle);
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommXFake, ClosedComponentRefusesDataOperations)
{
    char buffer[4];
    EXPECT_FALSE(comm.Write("a", 1));
    EXPECT_TRUE(comm.Write("a", 0));
    EXPECT_EQ(comm.Read(buffer, 4), -1);
    EXPECT_EQ(comm.InQueCount(), 0);
    EXPECT_TRUE(comm.WriteStr(""));
    EXPECT_FALSE(comm.SendLine("AT"));
    comm.SetRts(true);
    comm.PurgeTrans();
    comm.Close();
    EXPECT_TRUE(device->Events().empty());
}

TEST_F(CommXFake, CrStrSelectsTheLineEnding)
{
    comm.SetCrStr("\r\n");
    EXPECT_EQ(comm.CrTypTrans(), ctCrLf);
    EXPECT_EQ(comm.CrStr(), "\r\n");
    comm.SetCrStr("\n");
    EXPECT_EQ(comm.CrTypTrans(), ctLf);
    EXPECT_EQ(comm.CrStr(), "\n");
    comm.SetCrStr("\n\r");
    EXPECT_EQ(comm.CrTypTrans(), ctNone);
    EXPECT_EQ(comm.CrStr(), "");
    comm.SetCrStr("\r");
    EXPECT_EQ(comm.CrTypTrans(), ctCr);
}

TEST_F(CommXFake, SettersWhileClosedOnlyStoreAndOpenAppliesThemAll)
{
    comm.SetBitRate(115200);
    comm.SetCharSize(7);
    comm.SetParityBit(cpbEven);
    comm.SetStopBit(csb2);
    comm.SetFlowCtrl(cfcXonXoff);
    comm.SetTimeOutTrans(1234);
    comm.SetTimeOutReceive(567);
    comm.SetXonChar('Q');
    comm.SetXoffChar('S');
    comm.SetBufLenTrans(100);
    comm.SetBufLenReceive(4000);
    EXPECT_TRUE(device->Events().empty());

    comm.Open();
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_NE(comm.Handle(), TCustomCommX::InvalidHandle);
    const ComDcb dcb = LastState();
    EXPECT_EQ(dcb.BaudRate, 115200);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, 2);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.Flags, 0x1313u);
    EXPECT_EQ(dcb.XonLim, 1000);
    EXPECT_EQ(dcb.XoffLim, 1000);
    EXPECT_EQ(dcb.XonChar, 'Q');
    EXPECT_EQ(dcb.XoffChar, 'S');
    const auto timeouts = EventsOf(Kind::SetTimeouts);
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0].timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(timeouts[0].timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts[0].timeouts.ReadTotalTimeoutConstant, 567u);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutConstant, 1234u);
    const auto queues = EventsOf(Kind::SetupQueues);
    ASSERT_EQ(queues.size(), 1u);
    EXPECT_EQ(queues[0].bytes, "4000/100");
    // The receive queue is purged at open, before any setting.
    EXPECT_EQ(EventsOf(Kind::PurgeReceive).size(), 1u);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.Handle(), TCustomCommX::InvalidHandle);
    EXPECT_FALSE(device->IsOpen());
}

TEST_F(CommXFake, FlowControlModesSetTheirFlagWords)
{
    comm.Open();
    const std::pair<TCommFlowCtrls, std::uint32_t> table[] = {
        {cfcRtsCts, 0x2017}, {cfcDtrDsr, 0x102B}, {cfcXonXoff, 0x1313},
        {cfcHalfHigh, 0x0013}, {cfcHalfLow, 0x1013}, {cfcNone, 0x1013},
    };
    for (const auto& [mode, flags] : table) {
        comm.SetFlowCtrl(mode);
        EXPECT_EQ(LastState().Flags, flags) << mode;
        EXPECT_EQ(LastState().XonLim, 512);
    }
    comm.SetBufLenReceive(1000);
    EXPECT_EQ(LastState().XonLim, 250);
    EXPECT_EQ(LastState().XoffLim, 250);
    EXPECT_EQ(EventsOf(Kind::SetupQueues).back().bytes, "1000/2048");
}

TEST_F(CommXFake, SettersWhileOpenApplyAtOnce)
{
    comm.Open();
    comm.SetBitRate(19200);
    EXPECT_EQ(LastState().BaudRate, 19200);
    comm.SetCharSize(5);
    EXPECT_EQ(LastState().ByteSize, 5);
    comm.SetXoffChar('x');
    EXPECT_EQ(LastState().XoffChar, 'x');
    comm.SetTimeOutReceive(10);
    EXPECT_EQ(EventsOf(Kind::SetTimeouts).back().timeouts.ReadTotalTimeoutConstant, 10u);
    const auto statesBefore = EventsOf(Kind::SetState).size();
    comm.SetDelayTrans(5);
    comm.SetCrTypTrans(ctNone);
    EXPECT_EQ(EventsOf(Kind::SetState).size(), statesBefore);  // stored only
    // Values outside their enumeration are stored but not applied.
    comm.SetParityBit(TCommParityBits(7));
    comm.SetStopBit(TCommStopBits(9));
    EXPECT_EQ(EventsOf(Kind::SetState).size(), statesBefore);
    EXPECT_EQ(comm.ParityBit(), TCommParityBits(7));
}

TEST_F(CommXFake, ChangingThePortNumberWhileOpenReopens)
{
    comm.Open();
    comm.SetPortNo(4);
    EXPECT_EQ(comm.PortNo(), 4);
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(device->OpenCount(), 2);
    EXPECT_EQ(EventsOf(Kind::Close).size(), 1u);
}

TEST_F(CommXFake, OpeningTwiceFailsAndStaysOpen)
{
    comm.Open();
    EXPECT_EQ(MessageOf([&] { comm.Open(); }), "ポートは、すでにオープンされています");
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(device->OpenCount(), 1);
}

TEST_F(CommXFake, OpeningAMissingPortFailsAndStaysClosed)
{
    device->RefuseOpen(true);
    EXPECT_EQ(MessageOf([&] { comm.Open(); }), "ポートをオープンできませんでした\r\nポート: COM1");
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.Handle(), TCustomCommX::InvalidHandle);
}

TEST_F(CommXFake, BitRateBelowTenIsRefused)
{
    const std::string message = MessageOf([&] { comm.SetBitRate(9); });
    EXPECT_EQ(message, "通信速度の設定でエラーが発生しました（10 bps 未満は設定できません）");
    EXPECT_EQ(MessageOf([&] { comm.SetBitRate(0); }), message);
    EXPECT_EQ(MessageOf([&] { comm.SetBitRate(-9600); }), message);
    EXPECT_EQ(comm.BitRate(), 9600);
    comm.SetBitRate(10);
    EXPECT_EQ(TCustomCommX::CharTimeFor(10), 1001);
    comm.Open();
    EXPECT_EQ(MessageOf([&] { comm.SetBitRate(1); }), message);
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(LastState().BaudRate, 10);
}

TEST_F(CommXFake, ZeroBlockSizeIsRefused)
{
    EXPECT_EQ(MessageOf([&] { comm.SetBufLenTrans(0); }), "通信用ポートのバッファを準備できませんでした");
    EXPECT_EQ(MessageOf([&] { comm.SetBufLenReceive(-1); }), "通信用ポートのバッファを準備できませんでした");
    EXPECT_EQ(comm.BufLenTrans(), 2048);
    EXPECT_EQ(comm.BufLenReceive(), 2048);
}

TEST(CommX, TrickleIsHeldUntilTheMomentAskedForWhenThatIsNearOtherwiseReportedSoon)
{
    using namespace std::chrono;
    const steady_clock::time_point last(seconds(100)), now = last + 5ms;
    const struct {
        steady_clock::time_point reportBy;
        steady_clock::time_point expected;
    } cases[] = {
        {steady_clock::time_point{}, last + 2ms},  // no pane asked
        {now - 1ms, last + 2ms},                   // a moment already gone
        {now, last + 2ms},
        {now + 1ms, now + 1ms},
        {now + 24ms, now + 24ms},  // a frame and a margin ahead
        {now + 25ms, last + 2ms},  // too long to hold a trickle back
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrickleReportTime(now, last, c.reportBy), c.expected) << (c.reportBy - now).count();
}

TEST(CommX, CharacterTime)
{
    EXPECT_EQ(TCustomCommX::CharTimeFor(9600), 2);
    EXPECT_EQ(TCustomCommX::CharTimeFor(115200), 1);
    EXPECT_EQ(TCustomCommX::CharTimeFor(300), 34);
}

// Each setting whose application the device refuses: the message, while open and at open.
struct FailingSetting {
    const char* name;
    std::function<void(FakeComDevice&)> refuse;
    std::function<void(TCommX&)> set;
    const char* message;
};

void PrintTo(const FailingSetting& setting, std::ostream* os)
{
    *os << setting.name;
}

class CommXFailingSetting : public CommXFake, public ::testing::WithParamInterface<FailingSetting> {};

TEST_P(CommXFailingSetting, WhileOpenRaisesItsMessageAndStaysOpen)
{
    comm.Open();
    GetParam().refuse(*device);
    EXPECT_EQ(MessageOf([&] { GetParam().set(comm); }), GetParam().message);
    EXPECT_TRUE(comm.IsOpen());
}

TEST_P(CommXFailingSetting, AtOpenRaisesItsMessageAndLeavesThePortClosed)
{
    GetParam().set(comm);
    GetParam().refuse(*device);
    EXPECT_EQ(MessageOf([&] { comm.Open(); }), GetParam().message);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(comm.Handle(), TCustomCommX::InvalidHandle);
}

auto RefuseWhen(std::function<bool(const ComDcb&)> predicate)
{
    return [predicate](FakeComDevice& d) { d.RefuseState(predicate); };
}

INSTANTIATE_TEST_SUITE_P(
    Settings, CommXFailingSetting,
    ::testing::Values(
        FailingSetting{"BitRate", RefuseWhen([](const ComDcb& d) { return d.BaudRate == 12345; }),
                       [](TCommX& c) { c.SetBitRate(12345); }, "通信速度の設定でエラーが発生しました"},
        FailingSetting{"CharSize", RefuseWhen([](const ComDcb& d) { return d.ByteSize == 9; }),
                       [](TCommX& c) { c.SetCharSize(9); }, "通信ビット数の設定でエラーが発生しました"},
        FailingSetting{"ParityBit", RefuseWhen([](const ComDcb& d) { return d.Parity == 1; }),
                       [](TCommX& c) { c.SetParityBit(cpbOdd); }, "通信パリティチェックの設定でエラーが発生しました"},
        FailingSetting{"StopBit", RefuseWhen([](const ComDcb& d) { return d.StopBits == 1; }),
                       [](TCommX& c) { c.SetStopBit(csb1p5); }, "通信ストップビット数の設定でエラーが発生しました"},
        FailingSetting{"FlowCtrl", RefuseWhen([](const ComDcb& d) { return (d.Flags & ComDcbFlag::OutX) != 0; }),
                       [](TCommX& c) { c.SetFlowCtrl(cfcXonXoff); }, "通信フロー制御の設定で失敗しました"},
        FailingSetting{"TimeOuts", [](FakeComDevice& d) { d.RefuseTimeouts(true); },
                       [](TCommX& c) { c.SetTimeOutTrans(100); }, "通信タイムアウト時間の設定で失敗しました"},
        FailingSetting{"XonChar", RefuseWhen([](const ComDcb& d) { return d.XonChar == 'a'; }),
                       [](TCommX& c) { c.SetXonChar('a'); }, "Ｘｏｎ文字の設定でエラーが発生しました"},
        FailingSetting{"XoffChar", RefuseWhen([](const ComDcb& d) { return d.XoffChar == 'b'; }),
                       [](TCommX& c) { c.SetXoffChar('b'); }, "Ｘｏｆｆ文字の設定でエラーが発生しました"},
        FailingSetting{"Buffers", [](FakeComDevice& d) { d.RefuseQueues(true); },
                       [](TCommX& c) { c.SetBufLenTrans(512); }, "通信用ポートのバッファを準備できませんでした"}),
    [](const ::testing::TestParamInfo<FailingSetting>& info) { return std::string(info.param.name); });

// --- transmission ------------------------------------------------------------------------------

std::vector<std::size_t> WriteSizes(const std::vector<FakeComEvent>& writes)
{
    std::vector<std::size_t> sizes;
    for (const auto& w : writes) sizes.push_back(w.bytes.size());
    return sizes;
}

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char('A' + i % 23);
    return s;
}

TEST_F(CommXFake, WriteCutsTheDataIntoBlocksOfBufLenTrans)
{
    comm.Open();
    device->SetStalled(true);
    const std::string data = Pattern(5000);
    ASSERT_TRUE(comm.Write(data.data(), 5000));
    EXPECT_EQ(comm.QueuedBlocks(), 3);
    EXPECT_EQ(comm.PendingBytes(), 5000);
    device->SetStalled(false);
    EXPECT_EQ(device->WaitWritten(5000), data);
    EXPECT_EQ(WriteSizes(EventsOf(Kind::Write)), (std::vector<std::size_t>{2048, 2048, 904}));
    ASSERT_TRUE(ServeUntil([&] { return comm.PendingBytes() == 0 && comm.QueuedBlocks() == 0; }));
}

TEST_F(CommXFake, ShortWritesGoOnWithTheRestOfTheBlock)
{
    comm.Open();
    device->SetWritePacing(100, 1ms);
    const std::string data = Pattern(1000);
    ASSERT_TRUE(comm.WriteStr(data));
    EXPECT_EQ(device->WaitWritten(1000), data);
    EXPECT_EQ(EventsOf(Kind::Write).size(), 10u);
}

TEST_F(CommXFake, WriteWaitsWhileThirtyTwoBlocksAreQueued)
{
    comm.SetBufLenTrans(4);
    comm.Open();
    device->SetStalled(true);
    const std::string data = Pattern(32 * 4);
    ASSERT_TRUE(comm.WriteStr(data));
    EXPECT_EQ(comm.QueuedBlocks(), 32);

    std::atomic<bool> returned{false};
    std::thread writer([&] {
        comm.WriteStr("tail");
        returned = true;
    });
    ServeFor(150ms);
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(comm.QueuedBlocks(), 32);
    device->SetStalled(false);
    ASSERT_TRUE(ServeUntil([&] { return returned.load(); }));
    writer.join();
    EXPECT_EQ(device->WaitWritten(data.size() + 4), data + "tail");
}

TEST_F(CommXFake, PurgeTransDiscardsEverythingNotSent)
{
    comm.Open();
    device->SetStalled(true);
    const std::string data = Pattern(10000);
    ASSERT_TRUE(comm.WriteStr(data));
    EXPECT_EQ(comm.PendingBytes(), 10000);
    comm.PurgeTrans();
    EXPECT_EQ(comm.PendingBytes(), 0);
    EXPECT_EQ(comm.QueuedBlocks(), 0);
    EXPECT_FALSE(EventsOf(Kind::PurgeTransmit).empty());
    device->SetStalled(false);
    ASSERT_TRUE(comm.WriteStr("after"));
    EXPECT_EQ(device->WaitWritten(5), "after");
}

TEST_F(CommXFake, CloseWithQueuedDataDiscardsIt)
{
    comm.Open();
    device->SetStalled(true);
    ASSERT_TRUE(comm.WriteStr(Pattern(20000)));
    EXPECT_GT(comm.PendingBytes(), 0);
    comm.Close();
    EXPECT_EQ(comm.PendingBytes(), 0);
    EXPECT_EQ(comm.QueuedBlocks(), 0);
    EXPECT_EQ(device->Written(), "");
    // The lines are dropped before the port closes.
    const auto events = device->Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.back().kind, Kind::Close);
}

TEST_F(CommXFake, WriteTimeOutGivesUpTheRestOfTheBlock)
{
    comm.SetTimeOutTrans(50);
    comm.Open();
    device->SetWritePacing(10, 1000ms);  // ten bytes, then not writable for a second
    ASSERT_TRUE(comm.WriteStr(Pattern(100)));
    ASSERT_TRUE(ServeUntil([&] { return comm.PendingBytes() == 0; }));
    EXPECT_EQ(device->Written(), Pattern(10));
}

TEST_F(CommXFake, SendLineAddsTheLineEnding)
{
    comm.Open();
    comm.SetCrTypTrans(ctCrLf);
    ASSERT_TRUE(comm.SendLine("AT"));
    EXPECT_EQ(device->WaitWritten(4), "AT\r\n");
    ASSERT_TRUE(comm.SendByte(0x1B));
    EXPECT_EQ(device->WaitWritten(5), "AT\r\n\x1B");
}

TEST_F(CommXFake, SendStrWithDelayWritesEachByteOnItsOwnInOrderWithOtherWrites)
{
    comm.Open();
    comm.SetDelayTrans(10);
    ASSERT_TRUE(comm.SendStr("abc"));
    ASSERT_TRUE(comm.WriteStr("XYZ"));
    ASSERT_TRUE(comm.SendStr("de"));
    EXPECT_EQ(device->WaitWritten(8), "abcXYZde");
    const auto writes = EventsOf(Kind::Write);
    ASSERT_EQ(WriteSizes(writes), (std::vector<std::size_t>{1, 1, 1, 3, 1, 1}));
    for (const std::size_t paced : {0, 1, 2, 4})  // a pause after every byte of SendStr
        EXPECT_GE(writes[paced + 1].time - writes[paced].time, 10ms) << paced;
}

// The pauses are the transmit thread's: the caller goes on at once, and a purge or closing the
// port ends a pause without losing or repeating a byte of what follows.
TEST_F(CommXFake, LongDelayDoesNotHoldTheCallerAndPurgeOrCloseCutsItShort)
{
    comm.Open();
    comm.SetDelayTrans(10000);
    ASSERT_TRUE(comm.SendStr("abcd"));
    EXPECT_LT(device->Written().size(), 4u);
    EXPECT_EQ(device->WaitWritten(1), "a");
    comm.PurgeTrans();
    EXPECT_EQ(comm.PendingBytes(), 0);
    ASSERT_TRUE(comm.WriteStr("Z"));
    ASSERT_TRUE(comm.SendStr("xy"));
    EXPECT_EQ(device->WaitWritten(3), "aZx");
    comm.Close();
    EXPECT_EQ(device->Written(), "aZx");
    EXPECT_EQ(comm.PendingBytes(), 0);
}

TEST_F(CommXFake, DelayTransOutsideItsRangeIsRefused)
{
    comm.SetDelayTrans(7);
    for (const std::int32_t value : {-1, 10001, INT32_MAX, INT32_MIN}) {
        EXPECT_NE(MessageOf([&] { comm.SetDelayTrans(value); }).find("送信遅延"), std::string::npos) << value;
        EXPECT_EQ(comm.DelayTrans(), 7) << value;
    }
    for (const std::int32_t value : {0, 10000}) {
        comm.SetDelayTrans(value);
        EXPECT_EQ(comm.DelayTrans(), value);
    }
}

// The RTS events and writes after the test's first write, in order.
std::vector<FakeComEvent> LineActivity(const std::vector<FakeComEvent>& events, std::chrono::steady_clock::time_point from)
{
    std::vector<FakeComEvent> out;
    for (const auto& e : events)
        if (e.time >= from && (e.kind == Kind::Rts || e.kind == Kind::Write)) out.push_back(e);
    return out;
}

void ExpectHalfDuplexBurst(TCommX& comm, FakeComDevice& device, bool sendingLevel)
{
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(comm.WriteStr("AB"));
    ASSERT_TRUE(comm.WriteStr("CD"));
    ASSERT_EQ(device.WaitWritten(4), "ABCD");
    ASSERT_TRUE(ServeUntil([&] {
        const auto a = LineActivity(device.Events(), start);
        return !a.empty() && a.back().kind == Kind::Rts;
    }));
    const auto activity = LineActivity(device.Events(), start);
    ASSERT_GE(activity.size(), 3u);
    const FakeComEvent& raise = activity.front();
    const FakeComEvent& drop = activity.back();
    EXPECT_EQ(raise.kind, Kind::Rts);
    EXPECT_EQ(raise.on, sendingLevel);
    EXPECT_EQ(drop.kind, Kind::Rts);
    EXPECT_EQ(drop.on, !sendingLevel);
    std::string written;
    for (std::size_t i = 1; i + 1 < activity.size(); ++i) {
        EXPECT_EQ(activity[i].kind, Kind::Write);
        written += activity[i].bytes;
    }
    EXPECT_EQ(written, "ABCD");
    // 50 ms settle before switching, one character time (2 ms at 9600) on either side.
    EXPECT_GE(raise.time - start, 50ms);
    EXPECT_GE(activity[1].time - raise.time, 2ms);
    EXPECT_GE(drop.time - activity[activity.size() - 2].time, 2ms);
}

TEST_F(CommXFake, HalfDuplexHighRaisesRtsOnlyWhileSending)
{
    comm.SetFlowCtrl(cfcHalfHigh);
    comm.Open();
    ExpectHalfDuplexBurst(comm, *device, true);
}

TEST_F(CommXFake, HalfDuplexLowDropsRtsOnlyWhileSending)
{
    comm.SetFlowCtrl(cfcHalfLow);
    comm.Open();
    ExpectHalfDuplexBurst(comm, *device, false);
}

TEST_F(CommXFake, HalfDuplexSwitchesBackOnlyWhenTheBytesHaveLeftTheLine)
{
    comm.SetFlowCtrl(cfcHalfHigh);
    device->SetLineTime(60ms);  // the driver takes the bytes at once; the line needs longer
    comm.Open();
    ExpectHalfDuplexBurst(comm, *device, true);
    const auto activity = LineActivity(device->Events(), {});
    ASSERT_FALSE(activity.empty());
    EXPECT_GE(activity.back().time, device->LineIdleAt());
}

TEST_F(CommXFake, FullDuplexLeavesRtsAlone)
{
    comm.Open();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(comm.WriteStr("AB"));
    ASSERT_EQ(device->WaitWritten(2), "AB");
    ServeFor(30ms);
    for (const auto& e : LineActivity(device->Events(), start)) EXPECT_EQ(e.kind, Kind::Write);
}

TEST_F(CommXFake, FailedWriteReportsItsLineErrors)
{
    std::vector<std::int32_t> errors;
    comm.OnError = [&](TCustomCommX&, std::int32_t e) { errors.push_back(e); };
    comm.Open();
    device->FailWrites(true, ComError::Frame | ComError::RxOver);
    ASSERT_TRUE(comm.WriteStr("abc"));
    ASSERT_TRUE(ServeUntil([&] { return !errors.empty() && comm.PendingBytes() == 0; }));
    EXPECT_EQ(errors, std::vector<std::int32_t>{ComError::Frame});
}

// --- reception ---------------------------------------------------------------------------------

TEST_F(CommXFake, ArrivalIsReportedOnTheMainThreadAndReadThere)
{
    std::string received;
    std::vector<std::int32_t> sizes;
    bool onMain = true;
    comm.OnReceive = [&](TCustomCommX& sender, std::int32_t size) {
        onMain = onMain && QThread::currentThread() == QCoreApplication::instance()->thread();
        EXPECT_EQ(&sender, &comm);
        sizes.push_back(size);
        // In chunks of at most 255 bytes, as the receive display does.
        for (std::int32_t left = size; left > 0;) {
            char buffer[255];
            const std::int32_t n = sender.Read(buffer, std::min<std::int32_t>(left, 255));
            ASSERT_GT(n, 0);
            received.append(buffer, std::size_t(n));
            left -= n;
        }
    };
    comm.Open();
    device->InjectReceive("hello");
    ASSERT_TRUE(ServeUntil([&] { return received == "hello"; }));
    EXPECT_EQ(sizes.front(), 5);
    device->InjectReceive(Pattern(600));
    ASSERT_TRUE(ServeUntil([&] { return received.size() == 605; }));
    EXPECT_EQ(received, "hello" + Pattern(600));
    EXPECT_TRUE(onMain);
}

TEST_F(CommXFake, UnreadDataIsNotReportedOverAndOver)
{
    int reports = 0;
    comm.OnReceive = [&](TCustomCommX&, std::int32_t) { ++reports; };  // reads nothing
    comm.Open();
    device->InjectReceive("abc");
    ASSERT_TRUE(ServeUntil([&] { return reports == 1; }));
    ServeFor(100ms);
    EXPECT_EQ(reports, 1);
    device->InjectReceive("d");  // new data is reported again
    ASSERT_TRUE(ServeUntil([&] { return reports == 2; }));
}

TEST_F(CommXFake, ReadWaitsForTheRestUntilTheTimeOut)
{
    comm.SetTimeOutReceive(100);
    comm.Open();
    device->InjectReceive("abc");
    char buffer[10];
    EXPECT_EQ(comm.Read(buffer, 3), 3);
    device->InjectReceive("de");
    EXPECT_EQ(comm.Read(buffer, 10), 2);  // returns what came within the time-out
    EXPECT_EQ(std::string(buffer, 2), "de");
    EXPECT_EQ(comm.Read(buffer, 0), 0);
    EXPECT_EQ(comm.Read(nullptr, 5), -1);
}

TEST_F(CommXFake, DataTakenFromThePortButNotReadCountsAsWaitingUntilPurged)
{
    comm.Open();
    device->InjectReceive("abcdef");
    char buffer[2];
    ASSERT_EQ(comm.Read(buffer, 2), 2);
    EXPECT_EQ(comm.InQueCount(), 4);
    EXPECT_EQ(comm.Read(buffer, 2), 2);
    EXPECT_EQ(std::string(buffer, 2), "cd");
    comm.PurgeReceive();
    EXPECT_EQ(comm.InQueCount(), 0);
    comm.SetTimeOutReceive(0);
    EXPECT_EQ(comm.Read(buffer, 2), 0);
}

TEST_F(CommXFake, FailingReadsAreRetriedABoundedNumberOfTimes)
{
    std::vector<std::int32_t> errors;
    comm.OnError = [&](TCustomCommX&, std::int32_t e) { errors.push_back(e); };
    comm.Open();
    device->FailReads(1000, ComError::Overrun);
    device->InjectReceive("kept");
    ASSERT_TRUE(ServeUntil([&] { return errors.size() == std::size_t(TCustomCommX::ReadRetries + 1); }));
    ServeFor(50ms);
    EXPECT_EQ(errors.size(), std::size_t(TCustomCommX::ReadRetries + 1));
    for (const auto e : errors) EXPECT_EQ(e, ComError::Overrun);
    // One failure in between is retried, and the bytes left in the port come with the next ones.
    device->FailReads(1, 0);
    device->InjectReceive("ok");
    char buffer[6];
    EXPECT_EQ(comm.Read(buffer, 6), 6);
    EXPECT_EQ(std::string(buffer, 6), "keptok");
}

TEST_F(CommXFake, LineErrorsAndBreaksAreReported)
{
    std::vector<std::int32_t> errors;
    int breaks = 0;
    comm.OnError = [&](TCustomCommX&, std::int32_t e) { errors.push_back(e); };
    comm.OnBreak = [&](TCustomCommX&) { ++breaks; };
    comm.Open();
    device->InjectLineError(ComError::Frame);
    ASSERT_TRUE(ServeUntil([&] { return errors.size() == 1; }));
    EXPECT_EQ(errors[0], 8);
    // Overflow of the receive queue and the break bit never travel as line errors.
    device->InjectLineError(ComError::RxOver | ComError::Overrun | ComError::RxParity);
    ASSERT_TRUE(ServeUntil([&] { return errors.size() == 2; }));
    EXPECT_EQ(errors[1], ComError::Overrun | ComError::RxParity);
    device->InjectBreak();
    ASSERT_TRUE(ServeUntil([&] { return breaks == 1; }));
    ServeFor(50ms);
    EXPECT_EQ(errors.size(), 2u);
    EXPECT_EQ(breaks, 1);
}

TEST_F(CommXFake, ReportsNeedAHandlerAndAnOpenPort)
{
    comm.Open();
    device->InjectLineError(ComError::Frame);  // no handler: dropped
    device->InjectReceive("x");
    ServeFor(50ms);
    std::vector<std::int32_t> errors;
    comm.OnError = [&](TCustomCommX&, std::int32_t e) { errors.push_back(e); };
    device->InjectLineError(ComError::RxParity);
    ASSERT_TRUE(ServeUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors, std::vector<std::int32_t>{ComError::RxParity});
}

TEST_F(CommXFake, VanishingDeviceIsReportedOnceAndClosesTheEngine)
{
    int disconnects = 0;
    int errors = 0;
    bool openInHandler = true;
    comm.OnDisconnect = [&](TCustomCommX& sender) {
        ++disconnects;
        openInHandler = sender.IsOpen();
    };
    comm.OnError = [&](TCustomCommX&, std::int32_t) { ++errors; };
    comm.Open();
    device->Vanish();
    ASSERT_TRUE(ServeUntil([&] { return disconnects == 1; }));
    EXPECT_FALSE(openInHandler);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(device->IsOpen());
    ServeFor(50ms);
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(errors, 0);
    EXPECT_FALSE(comm.Write("a", 1));
}

TEST_F(CommXFake, CloseInsideTheReceiveHandler)
{
    int reports = 0;
    comm.OnReceive = [&](TCustomCommX& sender, std::int32_t) {
        ++reports;
        sender.Close();
    };
    comm.Open();
    device->InjectReceive("abc");
    ASSERT_TRUE(ServeUntil([&] { return !comm.IsOpen(); }));
    EXPECT_EQ(reports, 1);
    comm.Open();  // and it opens again
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommXFake, CloseDoesNotWaitForAThreadBlockedOnAReport)
{
    int errors = 0;
    comm.OnError = [&](TCustomCommX&, std::int32_t) { ++errors; };
    comm.Open();
    // Both threads end up waiting for the main thread, which does not serve its queue here.
    device->FailWrites(true, ComError::Frame);
    ASSERT_TRUE(comm.WriteStr("abc"));
    device->InjectLineError(ComError::Overrun);
    std::this_thread::sleep_for(50ms);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.PendingBytes(), 0);
    ServeFor(50ms);  // the abandoned reports find the port closed
    EXPECT_EQ(errors, 0);
}

TEST_F(CommXFake, ReportsOfAnEarlierOpeningAreDropped)
{
    int errors = 0;
    comm.OnError = [&](TCustomCommX&, std::int32_t) { ++errors; };
    comm.Open();
    device->InjectLineError(ComError::Overrun);
    std::this_thread::sleep_for(50ms);  // the report is queued, not served
    comm.Close();
    comm.Open();
    ServeFor(50ms);
    EXPECT_EQ(errors, 0);
}

TEST_F(CommXFake, DestroyingAnOpenEngineClosesThePort)
{
    {
        TCommX other;
        other.SetPortFactory(FakeComDevice::FactoryFor(device));
        other.Open();
        device->InjectReceive("pending");
        EXPECT_TRUE(device->IsOpen());
    }
    EXPECT_FALSE(device->IsOpen());
}

}  // namespace
}  // namespace pek
