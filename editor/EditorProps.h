#pragma once
// The complete property set of an editor control, with the design values of the template pane as
// defaults. Colours are 0x00BBGGRR; clNone means "sets no colour".
#include <cstdint>
#include <string>
#include <vector>

#include "editor/EditorModel.h"
#include "editor/Highlighter.h"

namespace pek {

constexpr uint32_t clNone = 0x1FFFFFFF;
constexpr uint32_t clBlack = 0x00000000;
constexpr uint32_t clWhite = 0x00FFFFFF;
constexpr uint32_t clRed = 0x000000FF;
constexpr uint32_t clLime = 0x0000FF00;
constexpr uint32_t clYellow = 0x0000FFFF;
constexpr uint32_t clGray = 0x00808080;

// Bounds of the numeric properties; a property stream outside them is refused.
constexpr int kMaxFontHeight = 512;        // pixels or points
constexpr int kMaxColumn = 65535;          // wrap width and guide-line columns
constexpr int kMaxTabSpaceCount = 256;
constexpr int kMaxUndoListMax = 1000000;

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum class TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

struct TEditorColor {
    uint32_t Color = clNone;
    uint32_t BkColor = clNone;
    uint8_t Style = 0;
    bool operator==(const TEditorColor&) const = default;
};

struct TEditorColors {
    TEditorColor Ank, Comment, DBCS, Hit, Int, Mail, Reserve, Select, Str, Symbol, Url;
    bool operator==(const TEditorColors&) const = default;
};

struct TEditorView {
    TEditorColors Colors;
    std::string Commenter;
    std::vector<TBracketItem> Brackets;
    bool Url = true;
    bool Mail = true;
    bool operator==(const TEditorView&) const = default;
};

struct TEditorMark {
    uint32_t Color = clGray;
    bool Visible = false;
    bool operator==(const TEditorMark&) const = default;
};

struct TEditorMarks {
    TEditorMark EofMark, RetMark, WrapMark, HideMark, Underline;
    bool operator==(const TEditorMarks&) const = default;
};

struct TEditorExMark {
    uint32_t Color = clGray;
    uint32_t BkColor = clNone;
    uint8_t Style = 0;
    bool Visible = false;
    bool operator==(const TEditorExMark&) const = default;
};

struct TEditorExMarks {
    TEditorExMark DBSpaceMark, SpaceMark, TabMark, FindMark, ParenMark, Hit;
    TEditorExMark CurrentLine, DigitLine, ImageLine, Img0Line, Img1Line, Img2Line, Img3Line, Img4Line, Img5Line, EvenLine;
    bool operator==(const TEditorExMarks&) const = default;
};

struct TWrapOption {
    int WrapByte = 80;
    bool WordBreak = false;
    bool FollowPunctuation = false;
    bool Leading = false;
    bool FollowRetMark = false;
    bool operator==(const TWrapOption&) const = default;
};

struct TEditorFont {
    std::string Name = "Terminal";
    int Height = -13;   // negative: pixels
    uint32_t Color = clWhite;
    int Charset = 128;  // Shift-JIS
    uint8_t Style = 0;
    bool operator==(const TEditorFont&) const = default;
};

struct TEditorProps {
    TEditorProps();

    uint32_t Color = clBlack;
    TEditorFont Font;
    bool ReadOnly = false;
    bool OverWrite = false;
    bool WordWrap = true;
    TWrapOption WrapOption;
    int TabSpaceCount = 8;
    int UndoListMax = 64;
    bool IsAutoColScroll = true;
    THitStyle HitStyle = THitStyle::hsSelect;
    TSearchOptions ExSearchOptions = 0;
    TEditorView View;
    TEditorMarks Marks;
    TEditorExMarks ExMarks;
    std::vector<std::string> ReserveWordList;
    bool Leftbar = false;
    bool Ruler = false;
    bool Imagebar = false;
    TScrollStyle ScrollBars = TScrollStyle::ssBoth;
    TSelectionMode SelectionMode = TSelectionMode::smNormal;
    std::vector<int> VerticalLines;  // guide lines at these columns

    bool operator==(const TEditorProps&) const = default;
};

}  // namespace pek
