#include "platform/Exception.h"
#include "scriptgui/MxBinEdit.h"
#include "support/TempDir.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pek::test {
namespace {

std::string Bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list) s += char(b);
    return s;
}

std::string Content(TMxBinDocument& doc)
{
    std::string out(std::size_t(doc.Size()), '\0');
    EXPECT_EQ(doc.Store(out.data(), doc.Size(), true), doc.Size());
    return out;
}

// Random edits over content several windows long, against a plain byte array that applies the
// same edits; the backing file is compared after every flush and undo is checked back to the start.
TEST(MxBinDocument, RandomEditsMatchReference)
{
    std::mt19937 rng(12345);
    std::string ref(std::size_t(TMxBinDocument::WindowSize * 3 + 777), '\0');
    for (char& c : ref) c = char(rng());
    TMxBinDocument doc;
    doc.Load(ref.data(), std::int64_t(ref.size()));
    std::vector<std::string> past;
    const auto pick = [&](std::int64_t n) { return std::int64_t(rng() % std::uint64_t(n)); };
    for (int step = 0; step < 800; ++step) {
        const auto size = std::int64_t(ref.size());
        // Most edits land near one spot so the window is reused; some jump across the file.
        const std::int64_t spot = step % 50 == 0 || size == 0 ? pick(size + 1) : std::min(size, std::int64_t(size / 2 + pick(64)));
        const int op = int(rng() % 9);
        past.push_back(ref);
        bool changed = true;
        if (op == 0 && spot < size) {
            const auto v = std::uint8_t(rng());
            ASSERT_TRUE(doc.Overwrite(spot, v));
            ref[std::size_t(spot)] = char(v);
        } else if (op == 1) {
            const auto v = std::uint8_t(rng());
            ASSERT_TRUE(doc.Insert(spot, v));
            ref.insert(std::size_t(spot), 1, char(v));
        } else if (op == 2 && spot < size) {
            ASSERT_TRUE(doc.Delete(spot));
            ref.erase(std::size_t(spot), 1);
        } else if (op == 3 && spot < size) {
            const std::int64_t last = std::min(size - 1, spot + pick(40000));
            ASSERT_TRUE(doc.DeleteRange(spot, last));
            ref.erase(std::size_t(spot), std::size_t(last - spot + 1));
        } else if (op == 4) {
            std::string add(std::size_t(1 + pick(50000)), '\0');
            for (char& c : add) c = char(rng());
            ASSERT_TRUE(doc.InsertRange(spot, add));
            ref.insert(std::size_t(spot), add);
        } else if (op == 5 && spot < size) {
            const std::int64_t last = std::min(size - 1, spot + pick(300));
            std::string add(std::size_t(pick(600)), '\0');
            for (char& c : add) c = char(rng());
            ASSERT_TRUE(doc.ReplaceRange(spot, last, add));
            ref.replace(std::size_t(spot), std::size_t(last - spot + 1), add);
        } else if (op == 6 && !past.empty() && doc.UndoCount() > 0) {
            past.pop_back();
            ASSERT_GE(doc.Undo(), 0);
            ref = past.back();
            past.pop_back();
        } else if (op == 7 && spot < size) {
            ASSERT_EQ(doc.At(spot), std::uint8_t(ref[std::size_t(spot)])) << "step " << step;
            changed = false;
        } else {
            doc.Flush();
            ASSERT_TRUE(Content(doc) == ref) << "flush at step " << step;
            changed = false;
        }
        if (!changed) past.pop_back();
        ASSERT_EQ(doc.Size(), std::int64_t(ref.size())) << "step " << step;
        if (step % 41 == 0) {
            ASSERT_TRUE(Content(doc) == ref) << "step " << step;
        }
    }
    ASSERT_TRUE(Content(doc) == ref);
    while (doc.UndoCount() > 0) {
        ASSERT_GE(doc.Undo(), 0);
        ref = past.back();
        past.pop_back();
    }
    EXPECT_TRUE(Content(doc) == ref);
}

TEST(MxBinDocument, OneByteDeletedInsideTheWindowKeepsTheLastByte)
{
    std::string ref(std::size_t(TMxBinDocument::WindowSize * 2 + 5), 'x');
    ref.back() = 'Z';
    TMxBinDocument doc;
    doc.Load(ref.data(), std::int64_t(ref.size()));
    ASSERT_TRUE(doc.Delete(10));
    ASSERT_TRUE(doc.Insert(20, 'y'));
    ASSERT_TRUE(doc.Insert(20, 'w'));
    doc.At(std::int64_t(ref.size()) - 2);  // the window moves away: a flush
    ref.erase(10, 1);
    ref.insert(20, "wy");
    EXPECT_TRUE(Content(doc) == ref);
}

// The backing file has no name in the temporary folder, and a load that cannot be written keeps
// the content there was.
TEST(MxBinDocument, BackingFilesAreAnonymousAndAFailedLoadKeepsTheOldContent)
{
    TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    TMxBinDocument doc;
    const std::string first = "first content";
    doc.Load(first.data(), std::int64_t(first.size()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    if (old) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");

    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{1 << 16, limit.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string big(1 << 17, 'b');
    EXPECT_THROW(doc.Load(big.data(), std::int64_t(big.size())), Exception);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(Content(doc), first);
}

TEST(MxBinDocument, StoreCopiesWhatExistsAndLeavesTheRest)
{
    TMxBinDocument doc;
    const std::string data = "abcdef";
    doc.Load(data.data(), 6);
    doc.DeleteRange(1, 2);
    std::string buffer = "123456";
    EXPECT_EQ(doc.Store(buffer.data(), 6, false), 4);
    EXPECT_EQ(buffer, "adef56");
    EXPECT_EQ(doc.UndoCount(), 0u);
}

struct TypingCase {
    const char* name;
    TMxInputMode mode;
    bool insert;
    std::string initial;
    std::int64_t selFrom, selTo;  // -1: cursor at selFrom without selection
    std::string typed;
    std::string expected;
    std::int64_t cursorAfterFirst, cursorAfter;
};

TEST(MxBinEdit, Typing)
{
    const std::vector<TypingCase> cases = {
        {"overwrite imOrg", TMxInputMode::imOrg, false, Bytes({1, 2, 3}), 0, -1, "D", Bytes({0x0D, 2, 3}), 0, 0},
        {"overwrite two digits", TMxInputMode::imOrg, false, Bytes({1, 2, 3}), 0, -1, "dA", Bytes({0xDA, 2, 3}), 0, 1},
        {"imStrling first digit", TMxInputMode::imStrling, false, Bytes({1, 2, 3}), 1, -1, "D", Bytes({1, 0xD0, 3}), 1, 1},
        {"insert mode", TMxInputMode::imOrg, true, Bytes({1, 2}), 1, -1, "4F", Bytes({1, 0x4F, 2}), 1, 2},
        {"end appends", TMxInputMode::imOrg, false, Bytes({1, 2}), 2, -1, "7", Bytes({1, 2, 7}), 2, 2},
        {"selection replaced", TMxInputMode::imOrg, false, Bytes({1, 2, 3, 4, 5}), 1, 3, "7", Bytes({1, 7, 5}), 1, 1},
        // The second digit completes the replacing byte, never the byte after the selection.
        {"selection two digits", TMxInputMode::imOrg, false, Bytes({1, 2, 3, 4, 5}), 1, 3, "7E", Bytes({1, 0x7E, 5}), 1, 2},
        {"non-hex ignored", TMxInputMode::imOrg, false, Bytes({1}), 0, -1, "xG", Bytes({1}), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMxBinEdit edit;
        edit.Load(c.initial.data(), std::int64_t(c.initial.size()));
        edit.SetInputMode(c.mode);
        edit.SetInsertMode(c.insert);
        edit.MoveTo(TMxBinEdit::CellOf(c.selFrom), false);
        if (c.selTo >= 0) edit.MoveTo(TMxBinEdit::CellOf(c.selTo), true);
        edit.Type(c.typed[0]);
        EXPECT_EQ(edit.CursorOffset(), c.cursorAfterFirst);
        for (std::size_t i = 1; i < c.typed.size(); ++i) edit.Type(c.typed[i]);
        EXPECT_EQ(edit.Document().Read(0, edit.Size()), c.expected);
        EXPECT_EQ(edit.CursorOffset(), c.cursorAfter);
    }
}

TEST(MxBinEdit, RowsCursorMovesAndReadOnly)
{
    TMxBinEdit edit;
    EXPECT_EQ(edit.RowCount(), 2);
    const std::string sixteen(16, 'a');
    edit.Load(sixteen.data(), 16);
    EXPECT_EQ(edit.RowCount(), 3);
    EXPECT_EQ(edit.EndCell(), (TMxCell{2, 2}));
    edit.Key(TMxBinEdit::TKey::End, false, true, 10);
    EXPECT_EQ(edit.CursorOffset(), 16);
    edit.Key(TMxBinEdit::TKey::Left, false, false, 10);
    EXPECT_EQ(edit.Cursor(), (TMxCell{17, 1}));
    edit.Key(TMxBinEdit::TKey::Right, false, false, 10);
    edit.Key(TMxBinEdit::TKey::Right, false, false, 10);  // no cell past the end position
    EXPECT_EQ(edit.CursorOffset(), 16);
    edit.Key(TMxBinEdit::TKey::Home, true, true, 10);
    EXPECT_TRUE(edit.HasSelection());
    EXPECT_EQ(edit.SelStart(), 0);
    EXPECT_EQ(edit.SelLast(), 15);
    edit.SetReadOnly(true);
    EXPECT_FALSE(edit.Type('1'));
    EXPECT_FALSE(edit.DeleteAtCursor());
    EXPECT_FALSE(edit.Paste("zz"));
    EXPECT_EQ(edit.Document().Read(0, 16), sixteen);
}

TEST(MxBinEdit, ClipboardForms)
{
    TMxBinEdit edit;
    const std::string data = Bytes({0x41, 0x00, 0x42, 0x0D, 0x0A});
    edit.Load(data.data(), 5);
    edit.MoveTo({2, 1}, false);
    edit.MoveTo({6, 1}, true);
    const auto clip = edit.Copy();
    ASSERT_TRUE(clip.has_value());
    EXPECT_EQ(clip->Text, "A.B\r\n");
    EXPECT_EQ(clip->Raw, data);
    edit.MoveTo({7, 1}, false);  // the end position
    EXPECT_TRUE(edit.Paste(clip->Raw));
    EXPECT_EQ(edit.Document().Read(0, 10), data + data);
    EXPECT_EQ(edit.CursorOffset(), 10);
    edit.MoveTo({3, 1}, false);
    EXPECT_TRUE(edit.Paste("xy"));
    EXPECT_EQ(edit.Document().Read(0, 3), "Axy");
    EXPECT_TRUE(edit.Undo());
    EXPECT_EQ(edit.Document().Read(0, 10), data + data);
}

TEST(MxBinEdit, CharacterConversion)
{
    const struct {
        std::string in;
        TMxCharCode code;
        bool keep;
        std::string out;
    } cases[] = {
        {Bytes({0x41, 0x00, 0x7F, 0x0A}), TMxCharCode::ccASCII, false, "A..."},
        {Bytes({0x41, 0x0D, 0x0A}), TMxCharCode::ccASCII, true, "A\r\n"},
        {Bytes({0x82, 0xA0}), TMxCharCode::ccSJIS, false, Bytes({0x82, 0xA0})},
        {Bytes({0x82, 0x20}), TMxCharCode::ccSJIS, false, ". "},
        {Bytes({0xB1, 0x80, 0xA0, 0x82}), TMxCharCode::ccSJIS, false, Bytes({0xB1, '.', '.', '.'})},
        {Bytes({0x01, 0x82, 0x00}), TMxCharCode::ccSJIS, false, "..."},
        {Bytes({0x01, 0xFF}), TMxCharCode::ccEUC, false, Bytes({0x01, 0xFF})},
    };
    for (const auto& c : cases) EXPECT_EQ(MxConvertChars(c.in, c.code, c.keep), c.out);

    // A character that starts at the end of a row: its second byte does not begin a new one.
    TMxBinEdit edit;
    const std::string rows = std::string(15, 'a') + Bytes({0x82, 0x82, 0xA0, 'b'});
    edit.Load(rows.data(), std::int64_t(rows.size()));
    edit.SetCharCode(TMxCharCode::ccSJIS);
    EXPECT_EQ(edit.RowChars(2), "..b");  // 82 82 | A0: the lone A0 is a dot too
}

}  // namespace
}  // namespace pek::test
