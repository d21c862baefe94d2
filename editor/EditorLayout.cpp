#include "editor/EditorLayout.h"

#include "platform/ByteScan.h"

#include <algorithm>
#include <cstring>

namespace pek {

namespace {
int EffectiveWidth(const TWrapLayout& layout) { return std::max(2, layout.WrapByte); }
int EffectiveTab(const TWrapLayout& layout) { return std::max(1, layout.TabSpaceCount); }

// Without tabs a character's columns are its bytes, so a row ends `width` bytes after its start,
// or a byte sooner when a double-byte character would start in its last column, which the
// lead-valued bytes before that column tell. No walk over the row is needed.
int WrapWithoutTabs(const unsigned char* bytes, size_t n, size_t width, std::vector<uint32_t>* starts)
{
    int rows = 1;
    for (size_t b = 0; n - b >= width;) {
        const size_t last = b + width - 1;
        const bool pairAtLast = LeadBytesBefore(bytes, b, last) % 2 == 0 && last + 1 < n && IsDBCSLeadByte(bytes[last]);
        b = pairAtLast ? last : last + 1;
        ++rows;
        if (starts) starts->push_back(static_cast<uint32_t>(b));
    }
    return rows;
}
}  // namespace

int CharColumns(std::string_view s, size_t i, int col, const TWrapLayout& layout)
{
    if (s[i] == '\t') {
        const int tab = EffectiveTab(layout);
        int w = tab - col % tab;
        // A tab never reaches past the end of its row.
        if (layout.WordWrap) w = std::max(1, std::min(w, EffectiveWidth(layout) - col));
        return w;
    }
    return CharBytes(s, i);
}

int WrapLine(std::string_view line, const TWrapLayout& layout, std::vector<uint32_t>* starts)
{
    if (starts) {
        starts->clear();
        starts->push_back(0);
    }
    if (!layout.WordWrap) return 1;
    const int width = EffectiveWidth(layout);
    const size_t n = line.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    if (n == 0 || std::memchr(line.data(), '\t', n) == nullptr) return WrapWithoutTabs(bytes, n, size_t(width), starts);
    int rows = 1;
    int col = 0;
    size_t i = 0;
    auto newRow = [&](size_t at) {
        ++rows;
        col = 0;
        if (starts) starts->push_back(static_cast<uint32_t>(at));
    };
    while (i < n) {
        if (const size_t span = SpanOfPlainColumns(bytes + i, n - i); span > 0) {
            // A run of one-column characters fills rows without a look at each character.
            const size_t end = i + span;
            while (i < end) {
                const size_t take = std::min(end - i, size_t(width - col));
                col += int(take);
                i += take;
                if (col >= width && i < n) newRow(i);
            }
            continue;
        }
        const bool tab = bytes[i] == '\t';
        const int len = CharBytes(line, i);
        int w = tab ? CharColumns(line, i, col, layout) : len;
        if (col > 0 && col + w > width) {
            // The first half of a double-byte character would take the last column: it starts the next row.
            newRow(i);
            if (tab) w = CharColumns(line, i, col, layout);
        }
        col += w;
        i += size_t(len);
        if (col >= width && i < n) newRow(i);
    }
    if (col >= width) newRow(n);
    return rows;
}

int ColumnOf(std::string_view line, size_t rowStart, size_t byte, const TWrapLayout& layout)
{
    int col = 0;
    size_t i = rowStart;
    const size_t end = std::min(byte, line.size());
    while (i < end) {
        col += CharColumns(line, i, col, layout);
        i += size_t(CharBytes(line, i));
    }
    return col;
}

size_t ByteAtColumn(std::string_view line, size_t rowStart, size_t rowEnd, int col, const TWrapLayout& layout)
{
    int c = 0;
    size_t i = rowStart;
    rowEnd = std::min(rowEnd, line.size());
    while (i < rowEnd) {
        const int w = CharColumns(line, i, c, layout);
        if (col < c + w) return i;
        c += w;
        i += size_t(CharBytes(line, i));
    }
    return rowEnd;
}

}  // namespace pek
