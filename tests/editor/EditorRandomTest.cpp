// Applies many random edits to the model and to a plain vector of lines and compares them.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "editor/EditorLines.h"
#include "editor/EditorModel.h"

namespace pek {
namespace {

class Reference {
public:
    std::vector<std::string> lines{""};

    void Replace(TTextPos from, TTextPos to, const std::string& text)
    {
        const std::string prefix = lines[size_t(from.line)].substr(0, size_t(from.byte));
        const std::string suffix = lines[size_t(to.line)].substr(size_t(to.byte));
        std::vector<std::string> parts;
        for (auto v : SplitLines(text)) parts.emplace_back(v);
        parts.front() = prefix + parts.front();
        parts.back() += suffix;
        lines.erase(lines.begin() + long(from.line), lines.begin() + long(to.line) + 1);
        lines.insert(lines.begin() + long(from.line), parts.begin(), parts.end());
    }
    std::string Text() const
    {
        std::string out;
        for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\r\n" : "") + lines[i];
        return out;
    }
};

std::string RandomText(std::mt19937& rng, int maxLen)
{
    static const std::vector<std::string> pieces = {"a", "b", "Z", " ", "\t", "\r\n", "\n", "\r", "\x82\xa0",
                                                    "\x83\x4a", "\x88\x9f", "0", "\xb1", "--", "\""};
    std::string s;
    const int n = int(rng() % unsigned(maxLen + 1));
    for (int i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
    return s;
}

// A position on a character start.
TTextPos RandomPos(std::mt19937& rng, const Reference& ref)
{
    const long long line = static_cast<long long>(rng() % ref.lines.size());
    const std::string& s = ref.lines[size_t(line)];
    std::vector<long long> starts;
    for (size_t i = 0; i <= s.size();) {
        starts.push_back(static_cast<long long>(i));
        if (i == s.size()) break;
        i += size_t(CharBytes(s, i));
    }
    return {line, starts[rng() % starts.size()]};
}

// Every row start and row length of a line against a fresh wrap; rowsBefore is its first row.
void ExpectRowsOfLine(const TEditorLines& t, const std::string& line, long long index, long long rowsBefore, int step)
{
    std::vector<uint32_t> expect, scratch;
    WrapLine(line, t.Layout(), &expect);
    ASSERT_EQ(t.RowStarts(index, scratch), expect) << "step " << step << " line " << index;
    for (size_t k = 0; k < expect.size(); k += 1 + expect.size() / 8) {
        const TRowInfo info = t.RowInfo(rowsBefore + static_cast<long long>(k));
        const long long end = k + 1 < expect.size() ? expect[k + 1] : static_cast<long long>(line.size());
        ASSERT_EQ(info.line, index) << "step " << step;
        ASSERT_EQ(info.start, expect[k]) << "step " << step << " line " << index << " row " << k;
        ASSERT_EQ(info.end, end) << "step " << step << " line " << index << " row " << k;
    }
}

void ExpectSame(const TEditorLines& t, const Reference& ref, int step)
{
    ASSERT_EQ(t.LineCount(), static_cast<long long>(ref.lines.size())) << "step " << step;
    long long rows = 0, bytes = 0;
    for (size_t i = 0; i < ref.lines.size(); ++i) {
        ASSERT_EQ(t.LineView(static_cast<long long>(i)), ref.lines[i]) << "step " << step << " line " << i;
        const int r = WrapLine(ref.lines[i], t.Layout());
        ExpectRowsOfLine(t, ref.lines[i], static_cast<long long>(i), rows, step);
        if (i % 13 == 0 || i + 1 == ref.lines.size()) {  // the index lookups, on a sample of lines
            ASSERT_EQ(t.FirstRowOfLine(static_cast<long long>(i)), rows) << "step " << step << " line " << i;
            ASSERT_EQ(t.PosToOffset({static_cast<long long>(i), 0}), bytes) << "step " << step;
            ASSERT_EQ(t.RowsOfLine(static_cast<long long>(i)), r);
            ASSERT_EQ(t.LineOfRow(rows + r - 1), static_cast<long long>(i));
        }
        rows += r;
        bytes += static_cast<long long>(ref.lines[i].size()) + 2;
    }
    ASSERT_EQ(t.RowCount(), rows);
    ASSERT_EQ(t.TextLength(), bytes - 2);
}

TEST(EditorRandom, EditsMatchAPlainListOfLines)
{
    std::mt19937 rng(12345);
    TEditorLines t;
    t.SetLayout({true, 7, 4});
    Reference ref;
    // Start with enough lines to span many blocks.
    std::string start;
    for (int i = 0; i < 3000; ++i) start += RandomText(rng, 6) + "\r\n";
    t.SetText(start);
    ref.lines.clear();
    for (auto v : SplitLines(start)) ref.lines.emplace_back(v);
    ExpectSame(t, ref, -1);
    for (int step = 0; step < 3000; ++step) {
        const unsigned op = rng() % 10;
        if (op < 5) {
            TTextPos a = RandomPos(rng, ref), b = RandomPos(rng, ref);
            if (b < a) std::swap(a, b);
            if (b.line - a.line > 30) b = {a.line, a.byte};  // keep the text from shrinking away
            const std::string text = RandomText(rng, 8);
            const TTextPos end = t.Replace(a, b, text);
            ref.Replace(a, b, text);
            const auto parts = SplitLines(text);
            const TTextPos expectEnd = parts.size() == 1 ? TTextPos{a.line, a.byte + static_cast<long long>(text.size())}
                                                         : TTextPos{a.line + static_cast<long long>(parts.size()) - 1, static_cast<long long>(parts.back().size())};
            ASSERT_EQ(end, expectEnd) << step;
        } else if (op < 7) {
            // Now and then a long run, so that the last line passes the length from which row
            // starts are cached, and a look at it, so that a cache is filled before the append.
            std::string text = rng() % 6 == 0 ? std::string(1500 + rng() % 1500, 'x') + RandomText(rng, 3) : RandomText(rng, 8);
            std::vector<uint32_t> scratch;
            if (rng() % 2) t.RowStarts(t.LineCount() - 1, scratch);
            if (!text.empty() && text.front() == '\n') text.front() = 'n';  // the CR LF joining rule is tested elsewhere
            const TTextPos end = t.EndPos();
            t.Append(text);
            ref.Replace(end, end, text);
            const long long last = static_cast<long long>(ref.lines.size()) - 1;
            for (long long l = std::max(0LL, last - 2); l <= last; ++l)
                ExpectRowsOfLine(t, ref.lines[size_t(l)], l, t.FirstRowOfLine(l), step);
        } else if (op < 8) {
            const long long line = static_cast<long long>(rng() % ref.lines.size());
            std::string text = RandomText(rng, 5);
            t.PutLine(line, text);
            ref.Replace({line, 0}, {line, static_cast<long long>(ref.lines[size_t(line)].size())}, text);
        } else if (op < 9) {
            const TTextPos p = RandomPos(rng, ref);
            ASSERT_EQ(t.OffsetToPos(t.PosToOffset(p)), p) << step;
            const long long row = t.RowOfPos(p);
            const TTextPos back = t.PosOfRowCol(row, t.ColumnOfPos(p));
            const TRowInfo info = t.RowInfo(row);
            if (p.byte < info.end || info.endsLine) {
                ASSERT_EQ(back, p) << step;
            }
        } else {
            const int w = 2 + int(rng() % 12);
            t.SetLayout({rng() % 4 != 0, w, 1 + int(rng() % 8)});
        }
        if (step % 100 == 0) ExpectSame(t, ref, step);
        else ASSERT_EQ(t.LineCount(), static_cast<long long>(ref.lines.size()));
    }
    ExpectSame(t, ref, 9999);
    EXPECT_EQ(t.Text(), ref.Text());
}

TEST(EditorRandom, UndoingEverythingRestoresTheStartAndRedoingRestoresTheEnd)
{
    std::mt19937 rng(777);
    TEditorModel m;
    m.SetUndoListMax(1000);
    m.SetText("start\r\ntext");
    const std::string original = m.Text();
    Reference ref;
    ref.lines = {"start", "text"};
    for (int i = 0; i < 300; ++i) {
        TTextPos a = RandomPos(rng, ref), b = RandomPos(rng, ref);
        if (b < a) std::swap(a, b);
        const std::string text = RandomText(rng, 5);
        m.Select(a, b);
        if (rng() % 2 || text.empty()) m.InsertText(text); else m.TypeText(text);
        ref.Replace(a, b, text);
        ASSERT_EQ(m.Text(), ref.Text());
    }
    const std::string final = m.Text();
    while (m.CanUndo()) m.Undo();
    EXPECT_EQ(m.Text(), original);
    while (m.CanRedo()) m.Redo();
    EXPECT_EQ(m.Text(), final);
}

// A box selection against the plain rule: of each row in the box, the characters whose last
// column lies inside the box's columns. Random texts, wrap widths, tabs and double-byte
// characters; columns past the row ends.
TEST(EditorRandom, BoxSelectionTextMatchesTheColumnRule)
{
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        TEditorModel m;
        const bool wrap = rng() % 4 != 0;
        m.SetWordWrap(wrap);
        m.SetWrapByte(2 + int(rng() % 20));
        m.SetTabSpaceCount(1 + int(rng() % 8));
        std::string text;
        for (int l = int(rng() % 6); l >= 0; --l)
            text += RandomText(rng, rng() % 5 == 0 ? 400 : 12) + (l > 0 ? "\r\n" : "");
        m.SetText(text);
        std::vector<std::string> lines;
        for (auto v : SplitLines(text)) lines.emplace_back(v);
        // The rows as (line, start, end), from the lines and the layout.
        struct Row {
            size_t line, start, end;
        };
        std::vector<Row> rows;
        for (size_t l = 0; l < lines.size(); ++l) {
            std::vector<uint32_t> starts;
            WrapLine(lines[l], m.Lines().Layout(), &starts);
            for (size_t k = 0; k < starts.size(); ++k) rows.push_back({l, starts[k], k + 1 < starts.size() ? starts[k + 1] : lines[l].size()});
        }
        ASSERT_EQ(m.Lines().LineCount(), static_cast<long long>(lines.size()));
        ASSERT_EQ(static_cast<long long>(rows.size()), m.Lines().RowCount());
        for (int box = 0; box < 10; ++box) {
            const long long r1 = static_cast<long long>(rng() % rows.size()), r2 = static_cast<long long>(rng() % rows.size());
            const int c1 = int(rng() % 30), c2 = int(rng() % 30);
            m.SetSelectionMode(TSelectionMode::smBox);
            m.SetCaret(r1, c1);
            m.SetCaret(r2, c2, true);
            if (!m.Selected()) continue;
            const int firstCol = std::min(c1, c2), endCol = std::max(c1, c2);
            std::string expect;
            std::vector<std::string> kept = lines;  // the lines without the box
            std::vector<std::vector<bool>> taken(lines.size());
            for (size_t l = 0; l < lines.size(); ++l) taken[l].assign(lines[l].size(), false);
            size_t insertAt = std::string::npos;
            for (long long r = std::min(r1, r2); r <= std::max(r1, r2); ++r) {
                if (r != std::min(r1, r2)) expect += "\r\n";
                const Row& row = rows[size_t(r)];
                const std::string_view s = lines[row.line];
                int col = 0;
                for (size_t i = row.start; i < row.end; i += size_t(CharBytes(s, i))) {
                    col += CharColumns(s, i, col, m.Lines().Layout());
                    if (r == std::min(r1, r2) && col > firstCol && insertAt == std::string::npos) insertAt = i;
                    if (col > firstCol && col <= endCol) {
                        expect += s.substr(i, size_t(CharBytes(s, i)));
                        for (int b = 0; b < CharBytes(s, i); ++b) taken[row.line][i + size_t(b)] = true;
                    }
                }
                if (r == std::min(r1, r2) && insertAt == std::string::npos) insertAt = row.end;
            }
            ASSERT_EQ(m.SelText(), expect) << "round " << round << " box " << box << " rows " << r1 << "-" << r2 << " cols " << c1
                                           << "-" << c2 << " wrap " << wrap;
            if (box < 9) continue;
            // The last box of a round is replaced: its characters go, the text goes in at its top left.
            const size_t topLine = rows[size_t(std::min(r1, r2))].line;
            for (size_t l = 0; l < lines.size(); ++l) {
                kept[l].clear();
                for (size_t i = 0; i < lines[l].size(); ++i) {
                    if (l == topLine && i == insertAt) kept[l] += "XY";
                    if (!taken[l][i]) kept[l] += lines[l][i];
                }
                if (l == topLine && insertAt == lines[l].size()) kept[l] += "XY";
            }
            std::string after;
            for (size_t l = 0; l < kept.size(); ++l) after += (l ? "\r\n" : "") + kept[l];
            m.InsertText("XY");
            ASSERT_EQ(m.Text(), after) << "round " << round << " rows " << r1 << "-" << r2 << " cols " << c1 << "-" << c2;
        }
    }
}

// A bounded text under random appends: the kept lines, the marks, a view's caret and top row follow
// a plain list that drops its oldest lines by the same rule.
TEST(EditorRandom, BoundedAppendsKeepTheNewestLinesAndWhatPointsIntoThem)
{
    std::mt19937 rng(777);
    const auto lines = std::make_shared<TEditorLines>();
    lines->SetLayout({true, 9, 4});
    TEditorModel view;
    view.AttachLines(lines);
    Reference ref;
    std::map<long long, uint16_t> marks;   // by line, set on its first row
    long long caretLine = -1, caretByte = 0, topLine = -1, maxLines = 0;
    const auto size = [&] { return static_cast<long long>(ref.lines.size()); };
    const auto drop = [&](long long dropped) {
        ref.lines.erase(ref.lines.begin(), ref.lines.begin() + long(dropped));
        std::map<long long, uint16_t> kept;
        for (const auto& [line, bits] : marks)
            if (line >= dropped) kept[line - dropped] |= bits;
        marks.swap(kept);
        if (caretLine >= dropped) caretLine -= dropped;
        else if (caretLine >= 0) caretLine = caretByte = 0;
        if (topLine >= 0 && dropped > 0) topLine = topLine >= dropped ? topLine - dropped : -1;
    };
    for (int step = 0; step < 4000; ++step) {
        if (step % 500 == 0) {
            lines->SetMaxLines(maxLines = std::vector<long long>{40, 1, 700, 17}[size_t(step / 500) % 4]);
            drop(std::max(0LL, size() - maxLines));
        }
        if (rng() % 5 == 0 && size() > 1) {
            const long long line = static_cast<long long>(rng() % size_t(size() - 1));
            const int mark = 10 + int(rng() % 6);
            lines->AddRowMark(lines->FirstRowOfLine(line), mark);
            marks[line] |= uint16_t(1u << mark);
            view.SetCaretPos({caretLine = line, caretByte = 0});
            view.SetTopRow(lines->FirstRowOfLine(topLine = line / 2));
        }
        std::string text = RandomText(rng, 12);
        if (!text.empty() && text.front() == '\n') text.front() = 'n';
        const TTextPos end{size() - 1, static_cast<long long>(ref.lines.back().size())};
        const bool caretAtEnd = caretLine == size() - 1 && caretByte == static_cast<long long>(ref.lines.back().size());
        const TTextPos result = lines->Append(text);
        ref.Replace(end, end, text);
        if (caretAtEnd) {   // a caret at the end follows what is appended
            caretLine = size() - 1;
            caretByte = static_cast<long long>(ref.lines.back().size());
        }
        if (size() > maxLines) drop(std::min(size() - 1, size() - maxLines + std::max(1LL, maxLines / 16)));
        ASSERT_EQ(result, lines->EndPos()) << step;
        ASSERT_EQ(lines->Text(), ref.Text()) << step;
        if (caretLine >= 0) {
            ASSERT_EQ(view.CaretPos(), (TTextPos{caretLine, caretByte})) << step;
        }
        if (topLine >= 0) {
            ASSERT_EQ(view.TopRow(), lines->FirstRowOfLine(topLine)) << step;
        }
        for (long long line = 0; line < size(); ++line)
            ASSERT_EQ(lines->RowMarks(lines->FirstRowOfLine(line)) & 0xFC00, marks.count(line) ? marks[line] : 0) << step << " line " << line;
    }
}

}  // namespace
}  // namespace pek
