#pragma once
// The settings dialog's values apart from its widgets: what each page shows, read from the live
// port object and pane, checked, and put back.
#include "editor/EditorProps.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

class TCommXEx;

// The port page: one value per entry of PortKeys(), in its order.
struct PortValues {
    bool hasPort = false;
    std::vector<int> values;

    int Get(std::string_view key) const;
    void Set(std::string_view key, int value);
};

// From the port, or from a fresh port object (19200 bit/s, no flow control) when there is none.
PortValues ReadPortValues(const TCommXEx* port);
// Puts every value on a scratch port object first: the message (CP932) of the first value the
// port refuses, or nothing when all are accepted.
std::optional<std::string> CheckPortValues(const PortValues& values);
// Sets every value on the port (which should be closed, or each setter reconfigures it).
void ApplyPortValues(TCommXEx& port, const PortValues& values);

// A highlight colour row of the common display page. A colour of clNone shows unchecked with a
// neutral colour (white for the colour, black for the background).
struct ColorRow {
    bool colorOn = false;
    std::uint32_t color = clWhite;
    bool bkOn = false;
    std::uint32_t bk = clBlack;
    bool bold = false;
    bool italic = false;
};
struct MarkRow {
    bool visible = false;
    std::uint32_t color = clGray;
};

struct DisplayValues {
    std::string fontName;
    int fontSize = 10;
    std::uint32_t fontColor = clWhite;
    std::uint32_t bkColor = clBlack;
    int wrapByte = 80;
    std::array<ColorRow, 4> rows;   // Reserve, Comment, Int, Select
    std::array<MarkRow, 3> marks;   // Underline, RetMark, EofMark
    bool autoColOff = false;
};

// Font sizes in points at 96 dots per inch, as the size box shows them; a negative height is in pixels.
int FontPoints(int height);
int FontHeight(int points);

DisplayValues ReadDisplay(const TEditorProps& props);
// The pane's properties with the common display values applied; word wrapping is always on.
// The font height stays as it was when the size shown was not changed.
TEditorProps ApplyDisplay(const TEditorProps& props, const DisplayValues& values);

struct BlockRow {
    std::string start, end;
    std::uint32_t color = clNone;
};
struct HighlightValues {
    std::string commenter;
    std::array<BlockRow, 3> blocks;
    std::vector<std::string> words;
};

// The first three brackets fill the blocks; a block without a bracket keeps colour `keep`.
HighlightValues ReadHighlightValues(std::string commenter, const std::vector<TBracketItem>& brackets,
                                    std::vector<std::string> words, const std::array<std::uint32_t, 3>& keep);
// The blocks with both texts filled, renumbered, followed by the brackets beyond the third,
// which the dialog does not show and so leaves as they were.
std::vector<TBracketItem> MergeBrackets(const std::array<BlockRow, 3>& blocks, const std::vector<TBracketItem>& old);

}  // namespace pek
