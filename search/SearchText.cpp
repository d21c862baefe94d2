#include "search/SearchText.h"

#include "editor/EditorModel.h"
#include "platform/CharClass.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cctype>

namespace pek {

std::string WildcardToRegex(std::string_view pattern)
{
    std::string out;
    out.reserve(pattern.size() * 2);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto c = static_cast<unsigned char>(pattern[i]);
        if (IsDBCSLeadByte(c) && i + 1 < pattern.size()) {
            out += pattern.substr(i, 2);
            ++i;
        } else if (c == '*') {
            out += "(.*)";
        } else if (c == '?') {
            out += "(.)";
        } else {
            // All of them, not only the operators of one syntax: "+", "{" and "}" too.
            if (c < 0x80 && std::ispunct(c)) out += '\\';
            out += char(c);
        }
    }
    return out;
}

TSearchOptions SearchOptionsFor(TSearchType type, bool matchCase)
{
    TSearchOptions options = matchCase ? soMatchCase : 0;
    if (type != TSearchType::Plain) options |= soRegexp | soEscSeq;
    return options;
}

std::string FindBoxText(const TEditorModel& model)
{
    std::string text;
    if (model.Selected()) {
        // Read from the line itself: selecting a whole large pane must not copy all of it.
        const auto [from, to] = model.OrderedSelection();
        const std::string_view line = model.Lines().LineView(from.line);
        const std::size_t start = std::min<std::size_t>(std::size_t(from.byte), line.size());
        const std::size_t end = to.line == from.line ? std::min<std::size_t>(std::size_t(to.byte), line.size()) : line.size();
        text = std::string(line.substr(start, end > start ? end - start : 0));
    } else {
        text = model.WordString();
        text = text.substr(0, text.find_first_of("\r\n"));
    }
    std::size_t keep = 0;
    while (keep < text.size()) {
        const std::size_t next = keep + CharLenAt(text, keep);
        if (next > MaxFindText) break;
        keep = next;
    }
    text.resize(keep);
    return text;
}

long long TopRowWithMargin(long long caretRow, long long topRow, long long visibleRows)
{
    constexpr long long margin = 3;
    const long long rows = std::max(1LL, visibleRows);
    if (caretRow - topRow < margin) topRow = caretRow - margin;
    if (topRow + rows - caretRow < margin) topRow = caretRow - rows + margin;
    // Small views (a split pane of two rows) would otherwise scroll the hit out of sight.
    topRow = std::clamp(topRow, caretRow - rows + 1, caretRow);
    return std::max(0LL, topRow);
}

}  // namespace pek
