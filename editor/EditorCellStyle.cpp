#include "editor/EditorCellStyle.h"

namespace pek {

namespace {

const TEditorColor* ColorItem(const TEditorColors& colors, TTokenKind kind)
{
    switch (kind) {
    case TTokenKind::Word: return &colors.Ank;
    case TTokenKind::Number: return &colors.Int;
    case TTokenKind::Dbcs:
    case TTokenKind::Kana: return &colors.DBCS;
    case TTokenKind::Symbol: return &colors.Symbol;
    case TTokenKind::Comment: return &colors.Comment;
    case TTokenKind::Url: return &colors.Url;
    case TTokenKind::Mail: return &colors.Mail;
    case TTokenKind::Reserve: return &colors.Reserve;
    case TTokenKind::Range: return &colors.Str;
    case TTokenKind::Space: return nullptr;
    }
    return nullptr;
}

// Colours and styles of an item over what the cell has so far; clNone leaves a colour as it is.
void Apply(TCellStyle& s, uint32_t color, uint32_t bkColor, uint8_t style)
{
    if (color != clNone) s.color = color;
    if (bkColor != clNone) s.bkColor = bkColor;
    if (style & (fsUnderline | fsStrikeOut)) s.lineColor = s.color;
    s.style |= style;
}

}  // namespace

TCellMark SpaceOf(std::string_view ch)
{
    if (ch == "\t") return TCellMark::Tab;
    if (ch == " ") return TCellMark::Space;
    if (ch == "\x81\x40") return TCellMark::DBSpace;
    return TCellMark::None;
}

TCellStyle CellStyle(const TEditorProps& props, THitStyle hitStyle, const TCellFacts& cell)
{
    TCellStyle s;
    s.color = props.Font.Color;
    s.lineColor = s.color;
    if (cell.hasToken) {
        if (cell.kind == TTokenKind::Range && cell.rangeColor != clNone) {
            s.color = cell.rangeColor;
        } else if (const TEditorColor* item = ColorItem(props.View.Colors, cell.kind)) {
            Apply(s, item->Color, item->BkColor, item->Style);
        }
    }
    const TEditorExMarks& x = props.ExMarks;
    if (cell.found) {
        const TEditorColor& hit = props.View.Colors.Hit;
        Apply(s, hit.Color, hit.BkColor, hit.Style);
        if (x.FindMark.Visible) {
            Apply(s, clNone, x.FindMark.BkColor, x.FindMark.Style | fsUnderline);
            s.lineColor = x.FindMark.Color;
        }
    }
    if (cell.paren && x.ParenMark.Visible) Apply(s, x.ParenMark.Color, x.ParenMark.BkColor, x.ParenMark.Style);
    if (cell.hit && hitStyle == THitStyle::hsDraw && x.Hit.Visible) Apply(s, x.Hit.Color, x.Hit.BkColor, x.Hit.Style);
    if (cell.selected) {
        const TEditorColor& sel = props.View.Colors.Select;
        s.color = sel.Color != clNone ? sel.Color : props.Color;
        s.bkColor = sel.BkColor != clNone ? sel.BkColor : props.Font.Color;
    }
    const TEditorExMark* marks[] = {nullptr, &x.TabMark, &x.SpaceMark, &x.DBSpaceMark};
    if (const TEditorExMark* mark = marks[size_t(cell.space)]; mark && mark->Visible) {
        s.mark = cell.space;
        s.markColor = mark->Color;
    }
    return s;
}

uint32_t RowBackground(const TEditorExMarks& x, uint16_t rowMarks, bool caretRow, long long line)
{
    if (x.CurrentLine.Visible && caretRow) return x.CurrentLine.Color;
    if (x.DigitLine.Visible && (rowMarks & 0x03FF)) return x.DigitLine.Color;
    const TEditorExMark* images[6] = {&x.Img0Line, &x.Img1Line, &x.Img2Line, &x.Img3Line, &x.Img4Line, &x.Img5Line};
    for (int bit = 10; bit <= 15; ++bit) {
        if (images[bit - 10]->Visible && (rowMarks & (1u << bit))) return images[bit - 10]->Color;
    }
    if (x.ImageLine.Visible && (rowMarks & 0xFC00)) return x.ImageLine.Color;
    // Every second line (the second, fourth, ... counting from one) when that background is on.
    if (x.EvenLine.Visible && line % 2 == 1) return x.EvenLine.Color;
    return clNone;
}

}  // namespace pek
