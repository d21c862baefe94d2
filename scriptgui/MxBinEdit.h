#pragma once
// What a binary editor grid does without a display: the cursor over the bytes, the selection,
// typing hexadecimal digits, the keyboard's cursor moves, both clipboard forms and the character
// view's conversion. The view only maps keys, the mouse and painting onto it.
#include "scriptgui/MxBinDocument.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pek {

enum class TMxCharCode { ccASCII, ccSJIS, ccJIS, ccEUC, ccUNICODE };
enum class TMxInputMode { imOrg, imStrling };

// The bytes as the character view shows them: one output byte per input byte.
std::string MxConvertChars(std::string_view bytes, TMxCharCode code, bool keepLineBreaks);

// A byte cell of the grid: column 2 .. 17, row 1 .. (row 0 is the header).
struct TMxCell {
    int Col = 2;
    std::int64_t Row = 1;
    bool operator==(const TMxCell&) const = default;
};

class TMxBinEdit {
public:
    enum class TKey { Left, Right, Up, Down, PageUp, PageDown, Home, End };
    struct TClipData {
        std::string Text;  // the character form, line breaks kept
        std::string Raw;   // the bytes themselves
    };

    TMxBinEdit() = default;

    TMxBinDocument& Document() { return doc_; }
    std::int64_t Size() const { return doc_.Size(); }

    void Load(const void* bytes, std::int64_t count);

    // Row count including the header: one past the end position always has a cell.
    std::int64_t RowCount() const { return std::max<std::int64_t>(2, doc_.Size() / 16 + 2); }
    static std::int64_t Offset(TMxCell c) { return (c.Row - 1) * 16 + (c.Col - 2); }
    static TMxCell CellOf(std::int64_t n) { return {int(n % 16) + 2, n / 16 + 1}; }
    TMxCell EndCell() const { return CellOf(doc_.Size()); }

    TMxCell Cursor() const { return cursor_; }
    std::int64_t CursorOffset() const { return Offset(cursor_); }
    bool HasSelection() const { return selEnd_ >= 0 && anchor_ >= 0; }
    std::int64_t SelStart() const { return std::min(anchor_, selEnd_); }
    std::int64_t SelLast() const { return std::max(anchor_, selEnd_); }
    bool Selected(std::int64_t n) const { return HasSelection() && n >= SelStart() && n <= SelLast(); }
    bool PendingDigit() const { return pending_; }

    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on) { readOnly_ = on; }
    bool InsertMode() const { return insertMode_; }
    void SetInsertMode(bool on) { insertMode_ = on; }
    TMxInputMode InputMode() const { return inputMode_; }
    void SetInputMode(TMxInputMode mode) { inputMode_ = mode; }
    TMxCharCode CharCode() const { return charCode_; }
    void SetCharCode(TMxCharCode code) { charCode_ = code; }

    // Moves the cursor to the cell (clamped onto a selectable cell); extend keeps the anchor and
    // moves the selection's end.
    void MoveTo(TMxCell target, bool extend);
    // A cursor key; pageRows is the number of rows the view shows.
    void Key(TKey key, bool extend, bool ctrl, std::int64_t pageRows);

    // A typed character; false when it did nothing (not a hexadecimal digit, or read-only).
    bool Type(char ch);
    // Ctrl+Delete: the selection, or else the byte under the cursor.
    bool DeleteAtCursor();
    std::optional<TClipData> Copy();
    // Inserts at the cursor, or replaces the selection. False when nothing happened.
    bool Paste(std::string_view raw);
    bool Undo();

    // Row 1-based; the character view of the row with up to three bytes before it as context.
    std::string RowChars(std::int64_t row);

    std::function<void()> OnMoveCell;

private:
    void AfterRangeEdit(std::int64_t cursorOffset);
    void ClearSelection() { selEnd_ = -1; }

    TMxBinDocument doc_;
    TMxCell cursor_;
    std::int64_t anchor_ = -1;
    std::int64_t selEnd_ = -1;
    bool pending_ = false;
    std::uint8_t firstDigit_ = 0;
    bool readOnly_ = false;
    bool insertMode_ = false;
    TMxInputMode inputMode_ = TMxInputMode::imOrg;
    TMxCharCode charCode_ = TMxCharCode::ccASCII;
};

}  // namespace pek
