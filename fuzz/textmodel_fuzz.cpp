// The editor's line store under random edits, appends and layout changes against a plain string:
// the text after every step, and its rows against a fresh wrap of every line.
#include "FuzzSupport.h"
#include "editor/EditorLayout.h"
#include "editor/EditorLines.h"

#include <vector>

namespace {

std::string withBreaks(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines.emplace_back();
            ++i;
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

// A position on a character start of the model's text, and its offset there.
struct Place {
    pek::TTextPos pos;
    size_t offset = 0;
};

Place place(const std::vector<std::string>& lines, pek::fuzz::Input& input)
{
    Place p;
    p.pos.line = input.Number(std::uint32_t(lines.size() - 1));
    const std::string& line = lines[size_t(p.pos.line)];
    const size_t wanted = input.Number(std::uint32_t(line.size()));
    size_t at = 0;
    while (at < wanted) at += size_t(pek::CharBytes(line, at));
    if (at > line.size()) at = line.size();
    p.pos.byte = (long long)(at);
    for (long long i = 0; i < p.pos.line; ++i) p.offset += lines[size_t(i)].size() + 2;
    p.offset += at;
    return p;
}

void checkRows(const pek::TEditorLines& store, const std::vector<std::string>& lines)
{
    long long row = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::vector<uint32_t> starts;
        const int rows = pek::WrapLine(lines[i], store.Layout(), &starts);
        FUZZ_CHECK(store.RowsOfLine((long long)(i)) == rows);
        FUZZ_CHECK(store.FirstRowOfLine((long long)(i)) == row);
        for (int r = 0; r < rows; ++r, ++row) {
            const pek::TRowInfo info = store.RowInfo(row);
            FUZZ_CHECK(info.line == (long long)(i) && info.index == r);
            FUZZ_CHECK(info.start == starts[size_t(r)]);
            FUZZ_CHECK(info.end == (r + 1 < rows ? (long long)(starts[size_t(r) + 1]) : (long long)(lines[i].size())));
            FUZZ_CHECK(info.endsLine == (r + 1 == rows));
        }
    }
    FUZZ_CHECK(store.RowCount() == row);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    pek::fuzz::Input input(data, size);
    pek::TEditorLines store;
    std::string model;
    bool pendingCr = false;
    for (int step = 0; step < 200 && !input.Empty(); ++step) {
        const std::vector<std::string> lines = linesOf(model);
        switch (input.Byte() % 4) {
        case 0:
        case 1: {
            Place a = place(lines, input), b = place(lines, input);
            if (b.offset < a.offset) std::swap(a, b);
            const std::string text = input.Bytes(24);
            store.Replace(a.pos, b.pos, text);
            model.replace(a.offset, b.offset - a.offset, withBreaks(text));
            pendingCr = false;
            break;
        }
        case 2: {
            const std::string text = input.Bytes(24);
            store.Append(text);
            const bool joins = pendingCr && !text.empty() && text.front() == '\n';
            model += withBreaks(std::string_view(text).substr(joins ? 1 : 0));
            // Only the append just before counts; an empty one ends the wait for the LF.
            pendingCr = !text.empty() && text.back() == '\r';
            break;
        }
        default: {
            pek::TWrapLayout layout;
            layout.WordWrap = input.Byte() & 1;
            layout.WrapByte = int(input.Number(119)) + 1;
            layout.TabSpaceCount = int(input.Number(15)) + 1;
            store.SetLayout(layout);
        }
        }
        FUZZ_CHECK(store.Text() == model);
        const std::vector<std::string> now = linesOf(model);
        FUZZ_CHECK(store.LineCount() == (long long)(now.size()));
        FUZZ_CHECK(store.TextLength() == (long long)(model.size()));
        checkRows(store, now);
    }
    return 0;
}
