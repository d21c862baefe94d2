// Received bytes into a pane through the port engine, the ring buffer and the logs.
#include "PartsFixture.h"
#include "support/TempDir.h"
#include "terminal/ReceiveDisplay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace pek::test {
namespace {

struct ReceiveCase {
    const char* name;
    bool ctrlCode;
    int timeTyp;
    std::vector<std::string> pieces;  // each taken in before the next arrives
    std::string pane;                 // tick stamps shown as "T| "; the pane shows every break as CR LF
    std::string log;                  // the text log: what was appended, as appended
    bool utf8 = false;                // the port speaks UTF-8
    bool hex = false;                 // the sheet shows arrivals in hexadecimal
};

const std::string kHexFirst = "T| " + HexLines::FormatLine("0123456789ABCDEF") + "\r\n";

const std::vector<ReceiveCase> kCases{
    {"stamps every line", true, 1, {"abc\r\ndef"}, "T| abc\r\nT| def", "T| abc\r\nT| def"},
    {"a break at a piece end waits for the next line", true, 1, {"abc\r\n", "def"}, "T| abc\r\nT| def", "T| abc\r\nT| def"},
    {"a line starting at a piece end is stamped", true, 1, {"...\nz", "w\r\n"}, "T| ...\r\nT| zw\r\n", "T| ...\nT| zw\r\n"},
    {"a CR LF split between pieces gets no stamp inside", true, 1, {"a\r", "\nb"}, "T| a\r\nT| b", "T| a\r\nT| b"},
    {"control codes are processed", true, 0, {"AB\bC", "\x07\x1b" "D"}, "ACD", "ACD"},
    {"a backspace at a piece start removes a whole character", true, 0, {"x\x82\xA0", "\b"}, "x", "x\x82\xA0"},
    {"without processing every byte is shown", false, 0, {"A\x07\bB"}, "A\x07\bB", "A\x07\bB"},
    {"a character split between pieces is shown once", true, 0, {"a\x82", "\xA0" "b"}, "a\x82\xA0" "b", "a\x82\xA0" "b"},
    {"two lead-valued bytes at a piece end are one character", true, 0, {"a\x82\x81", "b"}, "a\x82\x81" "b", "a\x82\x81" "b"},
    {"UTF-8 characters split between pieces, one the code page lacks", true, 1, {"温\xE5", "\xBA\xA6=25\xC3", "\xA9" "C\r\n"},
     Sjis("T| 温度=25〓C\r\n"), Sjis("T| 温度=25〓C\r\n"), true},
    {"hex lines: one filling up is drawn again, only finished lines are logged", true, 1, {"0123456789", "ABCDEFGH", "\bI"},
     kHexFirst + "T| " + HexLines::FormatLine("GH\bI"), kHexFirst, false, true},
};

TEST(ReceiveDisplay, PiecesFromTheDeviceShowAsTheRulesSay)
{
    for (const ReceiveCase& c : kCases) {
        FakePortBench bench;
        LeadByteHold lead;
        std::string textLog;
        Utf8ToCp932Stream utf8;
        HexLines hex;
        ReceiveDisplay display(
            [&](const TCustomCommX&) {
                return ReceiveDisplay::Target{&bench.pane, &lead, bench.port, &utf8, c.hex ? &hex : nullptr};
            },
            [&](TCommXEx&, std::string_view text) { textLog += text; });
        display.SetCtrlCode(c.ctrlCode);
        bench.port->SetCharCode(c.utf8 ? TCommXEx::ccUtf8 : TCommXEx::ccCp932);
        bench.port->SetTimeTyp(std::uint8_t(c.timeTyp));
        bench.port->SetLogRcv(true);
        bench.port->OnReceive = [&](TCustomCommX& port, std::int32_t n) { display.Receive(static_cast<TCommXEx&>(port), n); };
        bench.port->Open();
        std::string all;
        for (const auto& piece : c.pieces) {
            ASSERT_TRUE(bench.Arrive(piece)) << c.name;
            all += piece;
        }
        EXPECT_EQ(Unstamped(bench.pane.Text()), c.pane) << c.name;
        EXPECT_EQ(Unstamped(textLog), c.log) << c.name;
        std::int32_t from = 0;
        EXPECT_EQ(bench.port->RingBuf().Get(from, std::int32_t(all.size())), all) << c.name << ": the ring buffer holds the bytes as received";
    }
}

// The binary log is written by the port object as the bytes are read; one that fails closes
// there and leaves its message for the window.
TEST(ReceiveDisplay, ABinaryLogHoldsTheRawBytesAndNothingElse)
{
    FakePortBench bench;
    TempDir dir;
    LeadByteHold lead;
    std::string textLog;
    ReceiveDisplay display([&](const TCustomCommX&) { return ReceiveDisplay::Target{&bench.pane, &lead, bench.port}; },
                           [&](TCommXEx&, std::string_view text) { textLog += text; });
    const std::string path = dir.file("bin.log").string();
    bench.port->LogOpen(path, true, false, false, true);
    bench.port->SetTimeTyp(1);
    bench.port->OnReceive = [&](TCustomCommX& port, std::int32_t n) { display.Receive(static_cast<TCommXEx&>(port), n); };
    bench.port->Open();
    const std::string raw("A\0B\x1b" "C\r\n", 7);
    ASSERT_TRUE(bench.Arrive(raw));
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), raw);
    EXPECT_EQ(textLog, "");
    EXPECT_EQ(Unstamped(bench.pane.Text()), "T| ABC\r\n");
    EXPECT_EQ(bench.port->TakeLogFailure(), "");

    bench.port->LogOpen("/dev/full", true, false, false, true);
    ASSERT_TRUE(bench.Arrive("x"));
    EXPECT_FALSE(bench.port->LogOpened());
    EXPECT_FALSE(bench.port->LogBin());
    EXPECT_NE(bench.port->TakeLogFailure().find("/dev/full"), std::string::npos);
    EXPECT_EQ(bench.port->TakeLogFailure(), "");
}

TEST(ReceiveDisplay, ASheetThatGoesAwayDuringAReadGetsNothingOfIt)
{
    FakePortBench bench;
    LeadByteHold lead;
    int lookups = 0;  // the sheet closes while the first chunk is being read
    ReceiveDisplay display(
        [&](const TCustomCommX&) {
            return ++lookups == 1 ? ReceiveDisplay::Target{&bench.pane, &lead, bench.port} : ReceiveDisplay::Target{};
        },
        {});
    bench.port->OnReceive = [&](TCustomCommX& port, std::int32_t n) { display.Receive(static_cast<TCommXEx&>(port), n); };
    bench.port->Open();
    bench.device->InjectReceive("lost");
    ASSERT_TRUE(ServeUntil([&] { return bench.port->RingBuf().Pos() == 4; }));
    EXPECT_EQ(bench.pane.Text(), "");
}

TEST(ReceiveDisplay, LineErrorsAreReportedFramingOverrunParity)
{
    EXPECT_EQ(LineErrorMessages(8 | 4 | 2),
              (std::vector<std::string>{Sjis("フレーミングエラー\r\n"), Sjis("バッファオーバーラン\r\n"), Sjis("パリティエラー\r\n")}));
    EXPECT_EQ(LineErrorMessages(4), (std::vector<std::string>{Sjis("パリティエラー\r\n")}));
    EXPECT_TRUE(LineErrorMessages(0x10).empty());
}

}  // namespace
}  // namespace pek::test
