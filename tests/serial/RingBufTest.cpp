#include "serial/RingBuf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace pek {
namespace {

void Put(TRingBuf& buf, const std::string& bytes)
{
    buf.Put(bytes.data(), std::int32_t(bytes.size()));
}

// Moves the write position to `pos` (filling with '.') without leaving matches behind.
void Advance(TRingBuf& buf, std::int32_t count)
{
    Put(buf, std::string(std::size_t(count), '.'));
}

TEST(RingBuf, NewBufferIsEmpty)
{
    TRingBuf buf(32000);
    EXPECT_EQ(buf.Size(), 32000);
    EXPECT_EQ(buf.Pos(), 0);
    std::int32_t p = 0;
    std::int32_t delivered = -1;
    EXPECT_EQ(buf.Get(p, 100, delivered), "");
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(p, 0);
    EXPECT_EQ(buf.DataSize(0), 0);
}

// A reader ahead of the write position reads the rest of the storage: on a fresh buffer that
// must be zeros, not what the heap held before (the size is reused so old bytes are likely there).
TEST(RingBuf, FreshStorageReadsZerosAheadOfTheWriter)
{
    for (const std::int32_t size : {64, 4096, 65536}) {
        { auto junk = std::make_unique<char[]>(std::size_t(size)); std::fill_n(junk.get(), size, 'J'); }
        TRingBuf buf(size);
        for (const std::int32_t from : {1, size / 2, size - 1}) {
            std::int32_t p = from;
            const std::string got = buf.Get(p, size);
            EXPECT_EQ(got.size(), std::size_t(size - from));
            EXPECT_EQ(std::count(got.begin(), got.end(), '\0'), std::ptrdiff_t(got.size())) << size << " from " << from;
        }
        std::int32_t p = size / 2;
        EXPECT_FALSE(buf.Srch(p, "J")) << size;
    }
}

TEST(RingBuf, PutAndGetInOrderWithIndependentReaders)
{
    TRingBuf buf(16);
    Put(buf, "hello");
    std::int32_t a = 0, b = 0;
    EXPECT_EQ(buf.Get(a, 3), "hel");
    EXPECT_EQ(a, 3);
    EXPECT_EQ(buf.Get(a, 100), "lo");  // only what is available
    EXPECT_EQ(a, 5);
    EXPECT_EQ(buf.Get(a, 10), "");     // position at Pos: nothing, unchanged
    EXPECT_EQ(a, 5);
    EXPECT_EQ(buf.Get(b, 100), "hello");  // a second reader is not affected by the first
    EXPECT_EQ(buf.DataSize(0), 5);
    EXPECT_EQ(buf.DataSize(2), 3);
}

TEST(RingBuf, WritingExactlySizeBytesWrapsToEmpty)
{
    TRingBuf buf(8);
    Put(buf, "abcdefgh");
    EXPECT_EQ(buf.Pos(), 0);
    std::int32_t p = 0;
    EXPECT_EQ(buf.Get(p, 100), "");
    EXPECT_EQ(buf.DataSize(0), 0);
}

TEST(RingBuf, GetAcrossTheEndOfTheStorage)
{
    TRingBuf buf(32000);
    Advance(buf, 32000 - 5);
    std::int32_t p = buf.Pos();
    Put(buf, "0123456789");
    EXPECT_EQ(buf.Pos(), 5);
    EXPECT_EQ(buf.DataSize(p), 10);
    std::int32_t delivered = 0;
    EXPECT_EQ(buf.Get(p, 100, delivered), "0123456789");
    EXPECT_EQ(delivered, 10);
    EXPECT_EQ(p, 5);
}

TEST(RingBuf, GetBehindAWrapWithinTheTailOnly)
{
    TRingBuf buf(10);
    Advance(buf, 7);
    std::int32_t p = buf.Pos();
    Put(buf, "ABCDE");  // 7,8,9 then 0,1
    EXPECT_EQ(buf.Get(p, 2), "AB");
    EXPECT_EQ(p, 9);
    EXPECT_EQ(buf.Get(p, 1), "C");
    EXPECT_EQ(p, 10);  // may equal Size; the next call reduces it
    EXPECT_EQ(buf.DataSize(p), 2);
    EXPECT_EQ(buf.Get(p, 5), "DE");
    EXPECT_EQ(p, 2);
}

TEST(RingBuf, PutLongerThanTheStorageKeepsTheLastBytes)
{
    TRingBuf buf(4);
    Put(buf, "x");
    Put(buf, "abcdefghij");  // 11 bytes written in all
    EXPECT_EQ(buf.Pos(), 11 % 4);
    std::int32_t p = buf.Pos() + 1;  // the oldest byte still stored after Pos
    EXPECT_EQ(buf.Get(p, 3), "hij");
    std::int32_t all = buf.Pos();
    // From Pos itself nothing is available: the whole storage is old data.
    EXPECT_EQ(buf.Get(all, 4), "");
}

TEST(RingBuf, OutOfRangePositionsAndCountsStayInsideTheStorage)
{
    TRingBuf buf(10);
    Put(buf, "abcdef");
    std::int32_t p = -4;  // names index 6 (= Pos): nothing available
    EXPECT_EQ(buf.Get(p, 5), "");
    EXPECT_EQ(p, 6);
    p = -10;  // index 0
    EXPECT_EQ(buf.Get(p, 3), "abc");
    p = 23;  // index 3
    EXPECT_EQ(buf.Get(p, 2), "de");
    p = 0;
    EXPECT_EQ(buf.Get(p, -5), "");
    EXPECT_EQ(p, 0);
    p = 1;
    EXPECT_EQ(buf.Get(p, INT32_MAX), "bcdef");
    p = INT32_MIN;
    EXPECT_NO_FATAL_FAILURE(buf.Get(p, INT32_MAX));
    p = INT32_MAX;
    EXPECT_FALSE(buf.Srch(p, "zz"));
    p = INT32_MIN;
    EXPECT_TRUE(buf.Srch(p, "ef"));
    buf.Put("abc", -3);  // ignored
    EXPECT_EQ(buf.Pos(), 6);
}

TEST(RingBuf, ZeroSizedBufferDoesNothing)
{
    TRingBuf buf(0);
    Put(buf, "abc");
    EXPECT_EQ(buf.Pos(), 0);
    std::int32_t p = 7;
    std::int32_t delivered = 42;
    EXPECT_EQ(buf.Get(p, 3, delivered), "");
    EXPECT_EQ(p, 7);
    EXPECT_EQ(delivered, 42);
    EXPECT_FALSE(buf.Srch(p, "a"));
    EXPECT_TRUE(buf.Srch(p, ""));
}

TEST(RingBuf, SrchFindsAndReturnsThePositionBehindTheMatch)
{
    TRingBuf buf(64);
    Put(buf, "xxOKyyOK");
    std::int32_t p = 0;
    EXPECT_TRUE(buf.Srch(p, "OK"));
    EXPECT_EQ(p, 4);
    EXPECT_TRUE(buf.Srch(p, "OK"));
    EXPECT_EQ(p, 8);  // ends exactly at Pos
    EXPECT_FALSE(buf.Srch(p, "OK"));
    EXPECT_EQ(p, 8);
}

TEST(RingBuf, SrchIsEightBitCleanAndCaseSensitive)
{
    TRingBuf buf(64);
    const std::string data("a\0b\x83\x65ok", 7);
    Put(buf, data);
    std::int32_t p = 0;
    EXPECT_TRUE(buf.Srch(p, std::string("\0b", 2)));
    EXPECT_EQ(p, 3);
    p = 0;
    EXPECT_FALSE(buf.Srch(p, "OK"));
    p = 0;
    EXPECT_TRUE(buf.Srch(p, "\x83\x65"));
    EXPECT_EQ(p, 5);
}

TEST(RingBuf, SrchEmptyStringSucceedsWithoutMoving)
{
    TRingBuf buf(16);
    Put(buf, "abc");
    std::int32_t p = 1;
    EXPECT_TRUE(buf.Srch(p, ""));
    EXPECT_EQ(p, 1);
}

TEST(RingBuf, SrchEndingAtPosBehindAWrap)
{
    TRingBuf buf(10);
    Advance(buf, 6);
    std::int32_t p = buf.Pos();  // 6
    Put(buf, "..OK");            // 6..9, Pos wraps to 0
    ASSERT_EQ(buf.Pos(), 0);
    EXPECT_TRUE(buf.Srch(p, "OK"));
    EXPECT_EQ(p, 10);
    // The same data with the writer a little further on.
    Put(buf, "ab");
    std::int32_t q = 7;
    EXPECT_TRUE(buf.Srch(q, "ab"));  // lies in 0..1 after the wrap, ends at Pos
    EXPECT_EQ(q, 2);
}

TEST(RingBuf, SrchAcrossTheEndOfTheStorage)
{
    TRingBuf buf(32000);
    Advance(buf, 32000 - 2);
    std::int32_t p = buf.Pos();
    Put(buf, "OK\r\nrest");  // "OK" at the very end, CR LF at 0 and 1
    std::int32_t q = p;
    EXPECT_TRUE(buf.Srch(q, "K\r\n"));
    EXPECT_GT(q, 32000 - 1);
    EXPECT_EQ(q, 32000 - 1 + 3);
    EXPECT_EQ(buf.DataSize(q), 4);
    EXPECT_EQ(buf.Get(q, 100), "rest");  // the position is reduced modulo Size
    EXPECT_EQ(q, buf.Pos());
}

TEST(RingBuf, SrchWithAPositionPastTheEndContinuesBehindThePreviousMatch)
{
    TRingBuf buf(10);
    Advance(buf, 8);
    std::int32_t p = buf.Pos();
    Put(buf, "ABAB");  // 8,9,0,1
    EXPECT_TRUE(buf.Srch(p, "BA"));
    EXPECT_EQ(p, 11);  // index 1
    // Scanning from 0 again would find "AB" at 0, which lies before the returned position.
    EXPECT_FALSE(buf.Srch(p, "AB"));
    Put(buf, "B");
    EXPECT_TRUE(buf.Srch(p, "BB"));
    EXPECT_EQ(p, 3);
}

TEST(RingBuf, SrchNeverMatchesBytesNotReceivedYet)
{
    TRingBuf buf(10);
    Put(buf, "..........");  // fill, Pos 0
    Put(buf, "XYZ.......");  // old data "XYZ" at 0..2, Pos 0 again
    Advance(buf, 8);         // Pos 8
    std::int32_t p = buf.Pos();
    Put(buf, "WX");          // 8,9, Pos 0; stale "XYZ" still at 0..2
    EXPECT_EQ(buf.Pos(), 0);
    std::int32_t q = p;
    EXPECT_FALSE(buf.Srch(q, "WXYZ"));  // would straddle into bytes beyond Pos
    EXPECT_EQ(q, 8);                    // a match could still begin here
    Put(buf, "YZ");
    EXPECT_TRUE(buf.Srch(q, "WXYZ"));
    EXPECT_EQ(q, 12);
}

TEST(RingBuf, FailedSrchResumesWithoutMissingAPartlyReceivedMatch)
{
    TRingBuf buf(64);
    Put(buf, "noise noise OK\rHELL");
    std::int32_t p = 0;
    EXPECT_FALSE(buf.Srch(p, "HELLO"));
    EXPECT_EQ(p, buf.Pos() - 5 + 1);  // the first index where "HELLO" can still begin
    Put(buf, "O world");
    EXPECT_TRUE(buf.Srch(p, "HELLO"));
    EXPECT_EQ(p, 20);
}

TEST(RingBuf, FailedSrchResumesAcrossTheEndOfTheStorage)
{
    TRingBuf buf(16);
    Advance(buf, 10);
    std::int32_t p = buf.Pos();
    Put(buf, "....HEL");  // 10..15 then 0; "HE" at 14, 15, "L" at 0
    EXPECT_FALSE(buf.Srch(p, "HELLO"));
    Put(buf, "LO");
    EXPECT_TRUE(buf.Srch(p, "HELLO"));
    EXPECT_EQ(p, 14 + 5);
    EXPECT_EQ(buf.DataSize(p), 0);
}

TEST(RingBuf, FailedSrchBehindAWrapResumesInTheFront)
{
    TRingBuf buf(16);
    Advance(buf, 12);
    std::int32_t p = buf.Pos();
    Put(buf, "....abcHE");  // 12..15, then 0..4 with "HE" at 3, 4
    EXPECT_FALSE(buf.Srch(p, "HELLO"));
    EXPECT_EQ(p, buf.Pos() - 5 + 1);
    Put(buf, "LLO");
    EXPECT_TRUE(buf.Srch(p, "HELLO"));
    EXPECT_EQ(p, 8);
}

TEST(RingBuf, SrchLongerThanTheStorageFails)
{
    TRingBuf buf(4);
    Put(buf, "abc");
    std::int32_t p = 0;
    EXPECT_FALSE(buf.Srch(p, "abcabc"));
    EXPECT_EQ(p, 0);
}

TEST(RingBuf, ClearZeroesTheStorageAndResetsPos)
{
    TRingBuf buf(8);
    Put(buf, "abcdef");
    buf.Clear();
    EXPECT_EQ(buf.Pos(), 0);
    Put(buf, "x");
    std::int32_t p = 7;  // behind a wrap: the bytes 7 and 0 are available
    EXPECT_EQ(buf.Get(p, 8), std::string("\0x", 2));
}

TEST(RingBuf, ReaderOnAnotherThreadSeesCompleteData)
{
    // The writer appends numbered records; a reader that follows along must see every byte in
    // order, which fails if it saw a new position before the bytes behind it were stored. The
    // writer never laps the reader (that loses data by design).
    TRingBuf buf(4096);
    constexpr int Records = 20000;
    std::atomic<std::uint64_t> consumed{0};
    std::atomic<bool> failed{false};
    std::thread writer([&] {
        for (int i = 0; i < Records && !failed; ++i) {
            while (std::uint64_t(i) * 4 + 4 - consumed.load() >= 4096 && !failed) std::this_thread::yield();
            const char record[4] = {char('a' + i % 26), char('a' + (i / 26) % 26), ';', '\n'};
            buf.Put(record, 4);
        }
    });
    std::string seen;
    std::int32_t p = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (seen.size() < std::size_t(Records) * 4 && std::chrono::steady_clock::now() < giveUp) {
        const std::string chunk = buf.Get(p, 256);
        seen += chunk;
        consumed += chunk.size();
        if (chunk.empty()) std::this_thread::yield();
    }
    failed = seen.size() < std::size_t(Records) * 4;
    writer.join();
    ASSERT_EQ(seen.size(), std::size_t(Records) * 4);
    for (int i = 0; i < Records; ++i) {
        ASSERT_EQ(seen[std::size_t(i) * 4], char('a' + i % 26)) << i;
        ASSERT_EQ(seen[std::size_t(i) * 4 + 1], char('a' + (i / 26) % 26)) << i;
        ASSERT_EQ(seen[std::size_t(i) * 4 + 2], ';') << i;
    }
}

// A writer (the receive thread), a reader and a clearer (two scripts) at once. Model: each put is
// one record "<number>:<that many dots>\n" and the numbers go up by one, so whatever a reader
// takes from 0 is records whole and numbered one after another, from the first put after the
// last clear: a clear that fell inside a put, or a read that saw half of one, breaks the run.
TEST(RingBuf, ReadersSeeWholePutsInOrderWhileAnotherThreadClears)
{
    constexpr std::int32_t Size = 1 << 16;
    TRingBuf buf(Size);
    std::atomic<bool> done{false};
    std::atomic<int> clears{0};
    std::thread writer([&] {
        for (int i = 0; !done; ++i) {
            const std::string record = std::to_string(i) + ":" + std::string(std::size_t(i % 50), '.') + "\n";
            // Never lapping the readers: the model reads from 0.
            while (buf.Pos() > Size / 2 && !done) std::this_thread::yield();
            buf.Put(record.data(), std::int32_t(record.size()));
        }
    });
    std::thread clearer([&] {
        while (!done) {
            buf.Clear();
            ++clears;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::string fault;
    int snapshots = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (fault.empty() && (std::chrono::steady_clock::now() < end || clears < 50)) {
        std::int32_t p = 0;
        const std::string seen = buf.Get(p, Size);
        long expected = -1;
        for (std::size_t at = 0; at < seen.size() && fault.empty();) {
            const std::size_t colon = seen.find(':', at);
            const std::size_t newline = seen.find('\n', at);
            if (colon == std::string::npos || newline == std::string::npos || colon > newline) {
                fault = "a broken record at " + std::to_string(at);
                break;
            }
            const long number = std::strtol(seen.c_str() + at, nullptr, 10);
            if ((expected >= 0 && number != expected) || newline - colon - 1 != std::size_t(number % 50) ||
                seen.find_first_not_of('.', colon + 1) != newline)
                fault = "record " + std::to_string(number) + " after " + std::to_string(expected - 1);
            expected = number + 1;
            at = newline + 1;
        }
        ++snapshots;
    }
    done = true;
    writer.join();
    clearer.join();
    EXPECT_EQ(fault, "") << "snapshot " << snapshots;
}

}  // namespace
}  // namespace pek
