#pragma once
// Wrapping and column arithmetic of one line of code page 932 bytes. Pure functions, shared by the
// line store (row counts), the view model (caret columns) and the widget (painting).
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"

namespace pek {

struct TWrapLayout {
    bool WordWrap = false;
    int WrapByte = 80;       // wrap width in columns
    int TabSpaceCount = 8;   // tab stops every this many columns

    bool operator==(const TWrapLayout&) const = default;
};

// Bytes of the character that starts at i: 2 for a lead byte with a byte after it, else 1.
inline int CharBytes(std::string_view s, size_t i)
{
    return (i + 1 < s.size() && IsDBCSLeadByte(static_cast<unsigned char>(s[i]))) ? 2 : 1;
}

// Display columns of the character at i standing at column col of its row.
int CharColumns(std::string_view s, size_t i, int col, const TWrapLayout& layout);

// Rows of a line. When starts is given it receives the first byte of every row (starts[0] == 0).
// A line of exactly the wrap width, or whose last row is full, gets a trailing empty row.
int WrapLine(std::string_view line, const TWrapLayout& layout, std::vector<uint32_t>* starts = nullptr);

// Display width of the bytes [from, to) of a row that starts at rowStart.
int ColumnOf(std::string_view line, size_t rowStart, size_t byte, const TWrapLayout& layout);

// Byte (within line) of the character shown at display column col of the row [rowStart, rowEnd).
// A column inside a tab or on the second half of a double-byte character maps to that character;
// a column past the row's text maps to rowEnd.
size_t ByteAtColumn(std::string_view line, size_t rowStart, size_t rowEnd, int col, const TWrapLayout& layout);

}  // namespace pek
