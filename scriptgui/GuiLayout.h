#pragma once
// The arithmetic of the script GUI panel and its items, without a display: the layout cursor on
// the panel's 25-pixel grid, item and option sizes from the panel's character width, the row
// alignment, the button menu's grid and its arrow keys, and the rules of the numeric fields.
#include <QRect>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pek {

inline constexpr int GuiCell = 25;
inline constexpr int GuiOriginX = 5;
inline constexpr int GuiOriginY = 10;

struct TGuiCursor {
    int X = GuiOriginX;
    int Y = GuiOriginY;
    bool operator==(const TGuiCursor&) const = default;
};

// The top of the first grid row below the row in which an item's bottom edge lies.
int GuiNextRowY(int top, int height);
// Column and row as the script gives them (any integer; far values are clamped, never wrapped).
TGuiCursor GuiLocate(std::int64_t column, std::int64_t row);
// How far GuiScroll moves the items up, in pixels (clamped into int), and the cursor's new y.
int GuiScrollPixels(std::int64_t rows);
int GuiScrolledCursorY(int y, std::int64_t rows);
// An item's y after such a scroll; kept within a range where moving it is safe (far outside the
// panel either way).
int GuiScrolledItemY(int y, int pixels);

// Options of a selection row or a menu share one width, the widest text's.
int GuiOptionWidth(int current, std::size_t textBytes, int charWidth);
int GuiEditFieldWidth(int current, std::size_t textBytes, int charWidth);

enum class TNumKind { Float, Integer, Hex4, Hex8 };
int GuiNumFieldWidth(TNumKind kind, int current, int charWidth);
inline int GuiHexDigits(TNumKind kind) { return kind == TNumKind::Hex8 ? 8 : 4; }

// A row's inner area starts right of the widest caption of the enabled rows (caption left is 5).
struct TGuiRowAlign {
    int InnerLeft = 0;
    int ClientWidth = 0;
};
TGuiRowAlign GuiAlignRow(int widestCaption, int innerWidth);

// Option i of a selection row: one line of equal buttons.
QRect GuiSelOption(int index, int optionWidth, int optionHeight);

struct TGuiMenuLayout {
    int Columns = 0;
    int ClientWidth = 0;
    int ClientHeight = 0;
    std::vector<QRect> Options;
};
// Nothing (no columns) for a menu without options.
TGuiMenuLayout GuiArrangeMenu(int count, int columns, int optionWidth, int optionHeight);

enum class TGuiArrow { Left, Right, Up, Down };
// The option an arrow key moves to, or -1 when it does not move.
int GuiMenuMove(TGuiArrow key, int selected, int columns, int count);
int GuiSelMove(TGuiArrow key, int selected, int count);
// Selecting an option clamps into the options; no options select nothing (-1).
int GuiClampOption(int index, int count);

// The numeric field's key filter: text and caret as they will be once a selection is removed.
bool NumEditAccepts(TNumKind kind, std::string_view text, int caret, char ch);
// A hexadecimal field after a change: the last digits (other characters dropped) as exactly the
// field's digit count, and where the caret goes.
std::pair<std::string, int> NumEditNormalizeHex(std::string_view text, int caret, int digits);

// Values of the fields. Text that is no number (empty, a lone "-") reads as 0.
double NumEditFloatValue(std::string_view text);
std::int32_t NumEditIntValue(std::string_view text);
// Hex4 reads as a 16-bit value sign-extended, Hex8 as a 32-bit signed value.
std::int32_t NumEditHexValue(std::string_view text, int digits);
// The field text for a script's value: upper-case digits, the low ones of a wider value.
std::string GuiHexText(std::int64_t value, int digits);

}  // namespace pek
