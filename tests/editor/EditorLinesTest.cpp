#include "editor/EditorLines.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "platform/Exception.h"
#include "support/TempDir.h"

namespace pek {
namespace {

std::vector<std::string> AllLines(const TEditorLines& t)
{
    std::vector<std::string> out;
    for (long long i = 0; i < t.LineCount(); ++i) out.push_back(t.GetLine(i));
    return out;
}

TEST(EditorLines, SplitsAtCrLfLoneCrAndLoneLf)
{
    TEditorLines t;
    t.SetText("a\r\nb\rc\nd");
    EXPECT_EQ(AllLines(t), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(t.Text(), "a\r\nb\r\nc\r\nd");
    t.SetText("x\n\r");  // LF then a lone CR: two breaks
    EXPECT_EQ(AllLines(t), (std::vector<std::string>{"x", "", ""}));
}

TEST(EditorLines, EmptyTextIsOneEmptyLine)
{
    TEditorLines t;
    EXPECT_EQ(t.LineCount(), 1);
    EXPECT_EQ(t.Text(), "");
    EXPECT_EQ(t.GetLine(5), "");
    EXPECT_EQ(t.GetLine(-1), "");
}

TEST(EditorLines, AppendJoinsACrLfSplitBetweenTwoAppends)
{
    TEditorLines t;
    t.Append("abc\r");
    t.Append("\ndef\r\n");
    t.Append("g");
    EXPECT_EQ(AllLines(t), (std::vector<std::string>{"abc", "def", "g"}));
    // An LF that does not follow an appended CR is a break of its own.
    TEditorLines u;
    u.Append("abc\r\n");
    u.Append("\nx");
    EXPECT_EQ(AllLines(u), (std::vector<std::string>{"abc", "", "x"}));
}

TEST(EditorLines, AddPutAndGetLines)
{
    TEditorLines t;
    t.AddLine("one");
    t.AddLine("two");
    EXPECT_EQ(AllLines(t), (std::vector<std::string>{"one", "two"}));
    t.PutLine(0, "ONE");
    t.PutLine(7, "ignored");
    EXPECT_EQ(t.Text(), "ONE\r\ntwo");
    EXPECT_TRUE(t.Modified());
}

TEST(EditorLines, OffsetsCountLineBreaksAsTwoBytes)
{
    TEditorLines t;
    t.SetText("ab\r\ncd\r\n\r\ne");
    EXPECT_EQ(t.TextLength(), 11);
    EXPECT_EQ(t.PosToOffset({1, 1}), 5);
    EXPECT_EQ(t.OffsetToPos(5), (TTextPos{1, 1}));
    EXPECT_EQ(t.OffsetToPos(3), (TTextPos{0, 2}));  // inside the break: end of the line
    EXPECT_EQ(t.OffsetToPos(10), (TTextPos{3, 0}));
    EXPECT_EQ(t.OffsetToPos(99), (TTextPos{3, 1}));
    EXPECT_EQ(t.GetRange({0, 1}, {1, 1}), "b\r\nc");
}

TEST(EditorLines, ClampMovesOffTrailBytes)
{
    TEditorLines t;
    t.SetText("a\x82\xa0z");
    EXPECT_EQ(t.Clamp({0, 2}), (TTextPos{0, 1}));
    EXPECT_EQ(t.Clamp({0, 3}), (TTextPos{0, 3}));
    EXPECT_EQ(t.Clamp({9, 9}), (TTextPos{0, 4}));
}

TEST(EditorLines, SaveWritesCrLfAndLoadReadsItBackExactly)
{
    test::TempDir dir;
    const std::string file = dir.file("t.txt").string();
    test::WriteFileBytes(file, "a\nb\r\nc\r\n");
    TEditorLines t;
    t.LoadFromFile(file);
    EXPECT_FALSE(t.Modified());
    EXPECT_EQ(AllLines(t), (std::vector<std::string>{"a", "b", "c", ""}));
    t.PutLine(0, "A");
    EXPECT_TRUE(t.Modified());
    const std::string out = dir.file("u.txt").string();
    t.SaveToFile(out);
    EXPECT_FALSE(t.Modified());
    EXPECT_EQ(test::ReadFileBytes(out), "A\r\nb\r\nc\r\n");
}

TEST(EditorLines, LoadAndSaveFailuresThrowAndKeepTheText)
{
    test::TempDir dir;
    TEditorLines t;
    t.SetText("keep");
    EXPECT_THROW(t.LoadFromFile(dir.file("missing.txt").string()), Exception);
    EXPECT_THROW(t.SaveToFile(dir.file("no/such/dir.txt").string()), Exception);
    EXPECT_EQ(t.Text(), "keep");
}

TEST(EditorLines, SavingReplacesTheFileWholeKeepingLinkAndModeOrLeavesItUntouched)
{
    test::TempDir dir;
    const auto file = dir.file("real.txt");
    const auto link = dir.file("link.txt");
    test::WriteFileBytes(file, "old");
    std::filesystem::permissions(file, std::filesystem::perms(0640));
    std::filesystem::create_symlink("real.txt", link);
    TEditorLines t;
    t.SetText("new\r\ntext");
    t.SaveToFile(link.string());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::ReadFileBytes(file), "new\r\ntext");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640));

    // A write that fails part way (here a file size limit, as a full disk would): the old file
    // stays whole and no temporary file is left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    t.SetText(std::string(20000, 'x'));
    EXPECT_THROW(t.SaveToFile(file.string()), Exception);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(test::ReadFileBytes(file), "new\r\ntext");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

TEST(EditorLines, ClearingALargeTextGivesItsMemoryBack)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine";
#endif
    const long before = ResidentBytes();
    {
        TEditorLines t;
        t.SetLayout({true, 80, 8});
        std::string chunk;
        for (int i = 0; i < 4; ++i) chunk += "received line " + std::string(40 + i * 20, 'x') + "\r\n";
        constexpr long kBytes = 96L << 20;  // as a receive pane fills: many small appends
        for (long n = 0; n < kBytes; n += long(chunk.size())) t.Append(chunk);
        const long full = ResidentBytes();
        ASSERT_GT(full - before, kBytes / 2);
        t.Clear();
        EXPECT_LT(ResidentBytes() - before, (full - before) / 4) << "resident MB: before " << before / 1048576 << ", full "
                                                                 << full / 1048576 << ", cleared " << ResidentBytes() / 1048576;
        t.Append(chunk);  // and the store still works
        EXPECT_EQ(t.LineCount(), 5);
    }
}

TEST(EditorLines, RowsFollowTheLayout)
{
    TEditorLines t;
    t.SetText(std::string(200, 'a') + "\r\nb");
    EXPECT_EQ(t.RowCount(), 2);
    t.SetLayout({true, 80, 8});
    EXPECT_EQ(t.RowCount(), 4);
    EXPECT_EQ(t.LineOfRow(2), 0);
    EXPECT_EQ(t.LineOfRow(3), 1);
    EXPECT_EQ(t.FirstRowOfLine(1), 3);
    const TRowInfo r = t.RowInfo(1);
    EXPECT_EQ(r.line, 0);
    EXPECT_EQ(r.start, 80);
    EXPECT_EQ(r.end, 160);
    EXPECT_FALSE(r.endsLine);
    EXPECT_TRUE(t.RowInfo(2).endsLine);
    EXPECT_EQ(t.RowOfPos({0, 80}), 1);
    EXPECT_EQ(t.ColumnOfPos({0, 85}), 5);
    EXPECT_EQ(t.PosOfRowCol(2, 10), (TTextPos{0, 170}));
}

TEST(EditorLines, BookmarksStandOnOneRowAndOtherMarksAccumulate)
{
    TEditorLines t;
    t.SetText("0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8");
    t.AddRowMark(2, 3);
    t.AddRowMark(7, 3);
    EXPECT_EQ(t.RowMarks(2), 0);
    EXPECT_EQ(t.RowMarks(7), 1 << 3);
    t.SetRowMarks(4, 8192);  // breakpoint
    t.AddRowMark(4, 10);
    EXPECT_EQ(t.RowMarks(4), 8192 | 1024);
    t.AddRowMark(5, 10);
    EXPECT_EQ(t.RowMarks(5), 1024);
    t.SetRowMarks(4, 4096);  // the replace drops mark 10
    EXPECT_EQ(t.RowMarks(4), 4096);
    t.RemoveRowMark(5, 10);
    EXPECT_EQ(t.RowMarks(5), 0);
    // Outside the text nothing happens.
    t.AddRowMark(-1, 10);
    t.AddRowMark(9, 10);
    t.SetRowMarks(100, 1);
    EXPECT_EQ(t.RowMarks(9), 0);
    EXPECT_EQ(t.RowMarks(-1), 0);
    t.AddRowMark(1, 16);
    EXPECT_EQ(t.RowMarks(1), 0);
}

TEST(EditorLines, MarksOnContinuationRowsBelongToTheText)
{
    TEditorLines t;
    t.SetText(std::string(200, 'a') + "\r\nb");
    t.SetLayout({true, 80, 8});
    t.AddRowMark(1, 10);
    t.SetRowMarks(2, 1 << 13);
    t.SetLayout({false, 80, 8});
    EXPECT_EQ(t.RowMarks(0), (1 << 10) | (1 << 13));  // the line's one row shows both
    EXPECT_EQ(t.RowMarks(1), 0);
    t.SetLayout({true, 80, 8});
    EXPECT_EQ(t.RowMarks(0), 0);
    EXPECT_EQ(t.RowMarks(1), 1 << 10);
    EXPECT_EQ(t.RowMarks(2), 1 << 13);
    t.SetLayout({true, 50, 8});  // rows 1 and 2 start at 50 and 100: each mark shows on the row holding its byte
    EXPECT_EQ(t.RowMarks(1), 1 << 10);
    EXPECT_EQ(t.RowMarks(3), 1 << 13);
    t.SetLayout({false, 80, 8});
    t.RemoveRowMark(0, 10);
    t.AddRowMark(0, 11);
    EXPECT_EQ(t.RowMarks(0), (1 << 11) | (1 << 13));
    t.SetRowMarks(0, 0);  // replacing a row's set replaces what every part of it held
    t.SetLayout({true, 80, 8});
    for (long long row = 0; row < t.RowCount(); ++row) EXPECT_EQ(t.RowMarks(row), 0) << row;
}

TEST(EditorLines, MarksMoveWithTheirLines)
{
    TEditorLines t;
    t.SetText("a\r\nb\r\nc");
    t.AddRowMark(2, 10);
    t.Replace({0, 0}, {0, 0}, "new\r\n");
    EXPECT_EQ(t.RowMarks(3), 1024);
    EXPECT_EQ(t.RowMarks(2), 0);
    t.Replace({0, 0}, {1, 1}, "");  // removes the first line break
    EXPECT_EQ(t.RowMarks(2), 1024);
    // A mark on a continuation row moves with its text along the line, and onto a joined line.
    t.SetText(std::string(100, 'a') + "\r\nb");
    t.SetLayout({true, 40, 8});
    t.AddRowMark(1, 11);  // the row from byte 40
    t.Replace({0, 0}, {0, 0}, std::string(40, 'x'));
    EXPECT_EQ(t.RowMarks(1), 0);
    EXPECT_EQ(t.RowMarks(2), 1 << 11);
    t.Replace({0, 0}, {0, 0}, "\r\n");
    EXPECT_EQ(t.RowMarks(3), 1 << 11);
}

TEST(EditorLines, UndoAndRedoRestoreTheText)
{
    TEditorLines t;
    t.SetText("hello");
    t.Replace({0, 5}, {0, 5}, " world");
    t.Replace({0, 0}, {0, 5}, "bye\r\n");
    EXPECT_EQ(t.Text(), "bye\r\n world");
    auto r = t.Undo();
    EXPECT_EQ(t.Text(), "hello world");
    EXPECT_EQ(r.second, (TTextPos{0, 5}));
    t.Undo();
    EXPECT_EQ(t.Text(), "hello");
    EXPECT_FALSE(t.CanUndo());
    t.Redo();
    t.Redo();
    EXPECT_EQ(t.Text(), "bye\r\n world");
    EXPECT_FALSE(t.CanRedo());
    t.Undo();
    t.Replace({0, 0}, {0, 0}, "x");  // a new edit drops the redo list
    EXPECT_FALSE(t.CanRedo());
}

TEST(EditorLines, TypedCharactersMergeIntoOneUndoStep)
{
    TEditorLines t;
    TTextPos p{0, 0};
    for (char c : std::string("abc")) p = t.Replace(p, p, std::string(1, c), true);
    t.Replace(p, p, "!");  // not typed: a step of its own
    t.Undo();
    EXPECT_EQ(t.Text(), "abc");
    t.Undo();
    EXPECT_EQ(t.Text(), "");
}

TEST(EditorLines, UndoListKeepsAtMostUndoListMaxSteps)
{
    TEditorLines t;
    t.SetUndoListMax(3);
    for (int i = 0; i < 5; ++i) t.Append(std::to_string(i));
    int undone = 0;
    while (t.CanUndo()) {
        t.Undo();
        ++undone;
    }
    EXPECT_EQ(undone, 3);
    EXPECT_EQ(t.Text(), "01");
}

TEST(EditorLines, ListenersSeeEveryEditAndTheEndOfABatch)
{
    TEditorLines t;
    std::vector<TLinesChange::Kind> kinds;
    const int id = t.Subscribe([&](const TLinesChange& c) { kinds.push_back(c.kind); });
    t.BeginUpdate();
    t.AddLine("a");
    t.AddLine("b");
    EXPECT_TRUE(t.Updating());
    t.EndUpdate();
    t.EndUpdate();  // unbalanced: ignored
    EXPECT_EQ(kinds, (std::vector<TLinesChange::Kind>{TLinesChange::Edit, TLinesChange::Edit, TLinesChange::UpdateEnded}));
    t.Unsubscribe(id);
    t.AddLine("c");
    EXPECT_EQ(kinds.size(), 3u);
}

TEST(EditorLines, AppendingToOneEndlessLineWrapsLikeTheWholeLine)
{
    TEditorLines t;
    t.SetLayout({true, 80, 8});
    const std::string pieces[] = {"abc", "\x82\xa0", "\t", "x\x83", "\x4a", std::string(77, 'z'), "\xb1"};
    std::string whole;
    for (int i = 0; i < 3000; ++i) {
        const std::string& p = pieces[size_t(i * 7 + i / 3) % 7];
        t.Append(p);
        whole += p;
        if (i % 97 == 0) {
            std::vector<uint32_t> expected, scratch;
            ASSERT_EQ(t.RowCount(), WrapLine(whole, t.Layout(), &expected)) << i;
            ASSERT_EQ(t.RowStarts(0, scratch), expected) << i;
        }
    }
    // An edit elsewhere drops the kept rows; they are rebuilt from the line.
    t.Replace({0, 0}, {0, 1}, "");
    whole.erase(0, 1);
    std::vector<uint32_t> expected, scratch;
    EXPECT_EQ(t.RowCount(), WrapLine(whole, t.Layout(), &expected));
    EXPECT_EQ(t.RowStarts(0, scratch), expected);
    t.Append("\r\nnext");
    EXPECT_EQ(t.RowCount(), static_cast<long long>(expected.size()) + 1);
}

TEST(EditorLines, ALeadByteEndingOneAppendPairsWithTheNext)
{
    TEditorLines t;
    t.SetLayout({true, 80, 8});
    t.Append(std::string(79, 'a') + "\x83");  // alone it is one column and fills the row
    EXPECT_EQ(t.RowCount(), 2);
    t.Append("\x4a");  // now a double-byte character at column 79: it starts the next row
    std::vector<uint32_t> scratch;
    EXPECT_EQ(t.RowStarts(0, scratch), (std::vector<uint32_t>{0, 79}));
    EXPECT_EQ(t.RowCount(), 2);
}

TEST(EditorLines, ManyLinesSpreadOverBlocksStayConsistent)
{
    TEditorLines t;
    t.SetLayout({true, 10, 8});
    std::string text;
    for (int i = 0; i < 5000; ++i) text += std::string(size_t(i % 25), char('a' + i % 26)) + "\r\n";
    t.SetText(text);
    EXPECT_EQ(t.LineCount(), 5001);
    EXPECT_EQ(t.Text(), text.substr(0, text.size() - 2) + "\r\n");
    long long row = 0;
    for (long long l = 0; l < t.LineCount(); ++l) {
        ASSERT_EQ(t.FirstRowOfLine(l), row) << l;
        ASSERT_EQ(t.LineOfRow(row), l);
        row += t.RowsOfLine(l);
    }
    EXPECT_EQ(row, t.RowCount());
    for (long long off = 0; off <= t.TextLength(); off += 37) EXPECT_LE(t.PosToOffset(t.OffsetToPos(off)), off);
}

}  // namespace
}  // namespace pek
