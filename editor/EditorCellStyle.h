#pragma once
// How one character cell and one row of the editor look: the rules that combine highlighting, find
// matches, the current hit, the matching bracket, the selection, white-space marks and row marks.
// Nothing is painted here; the widget draws what these decide.
#include <cstdint>
#include <string_view>

#include "editor/EditorProps.h"
#include "editor/Highlighter.h"

namespace pek {

// The white space a cell shows a mark for (when that mark is visible).
enum class TCellMark : uint8_t { None, Tab, Space, DBSpace };

// Facts about one cell, gathered by the caller from the model.
struct TCellFacts {
    bool hasToken = false;
    TTokenKind kind = TTokenKind::Space;
    uint32_t rangeColor = clNone;  // a Range token's item colour
    TCellMark space = TCellMark::None;
    bool found = false;     // inside a match of the find string
    bool hit = false;       // inside the current hit
    bool paren = false;     // a bracket paired with the one at the caret
    bool selected = false;
};

struct TCellStyle {
    uint32_t color = clWhite;
    uint32_t bkColor = clNone;     // clNone: the row's background shows
    uint8_t style = 0;             // TFontStyle bits
    uint32_t lineColor = clWhite;  // of the underline and the strike-out line
    TCellMark mark = TCellMark::None;
    uint32_t markColor = clGray;
    bool operator==(const TCellStyle&) const = default;
};

// The white space of the character ch (one or two bytes).
TCellMark SpaceOf(std::string_view ch);

// Later rules win: the font, the token's colour item (a range without a colour of its own is a
// string: Str), a find match (the Hit colour item, the FindMark), the matching bracket (ParenMark),
// the current hit drawn as HitStyle hsDraw says (ExMarks.Hit), the selection (Select).
TCellStyle CellStyle(const TEditorProps& props, THitStyle hitStyle, const TCellFacts& cell);

// A row's background colour by the row marks, the caret row and the line's parity; clNone for the
// control's own background.
uint32_t RowBackground(const TEditorExMarks& marks, uint16_t rowMarks, bool caretRow, long long line);

}  // namespace pek
