#include "settings/SettingValues.h"

#include "platform/CodePage.h"
#include "serial/CommXEx.h"
#include "terminal/SheetSettings.h"

#include <cmath>

namespace pek {

namespace {

int KeyIndex(std::string_view key)
{
    const auto keys = PortKeys();
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (key == keys[i].key) return int(i);
    return -1;
}

void FreshDefaults(TCommXEx& port)
{
    port.SetBitRate(19200);
    port.SetFlowCtrl(cfcNone);
}

}  // namespace

int PortValues::Get(std::string_view key) const
{
    const int i = KeyIndex(key);
    return i >= 0 && i < int(values.size()) ? values[i] : 0;
}

void PortValues::Set(std::string_view key, int value)
{
    const int i = KeyIndex(key);
    if (i < 0) return;
    if (int(values.size()) <= i) values.resize(PortKeys().size());
    values[i] = value;
}

PortValues ReadPortValues(const TCommXEx* port)
{
    PortValues v;
    v.hasPort = port != nullptr;
    std::unique_ptr<TCommXEx> fresh;
    if (!port) {
        fresh = std::make_unique<TCommXEx>();
        FreshDefaults(*fresh);
        port = fresh.get();
    }
    for (const PortKey& key : PortKeys()) v.values.push_back(key.get(*port));
    return v;
}

std::optional<std::string> CheckPortValues(const PortValues& values)
{
    if (!values.hasPort) return std::nullopt;
    TCommXEx scratch;
    try {
        ApplyPortValues(scratch, values);
    } catch (const std::exception& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

void ApplyPortValues(TCommXEx& port, const PortValues& values)
{
    const auto keys = PortKeys();
    for (std::size_t i = 0; i < keys.size() && i < values.values.size(); ++i) {
        const int value = values.values[i];
        if (value < keys[i].first || value > keys[i].last) throw ECommError(Sjis("設定値が範囲外です: ") + keys[i].key);
        keys[i].set(port, value);
    }
}

int FontPoints(int height)
{
    return height < 0 ? int(std::lround(-height * 72.0 / 96.0)) : height;
}

int FontHeight(int points)
{
    return -int(std::lround(points * 96.0 / 72.0));
}

namespace {

ColorRow RowOf(const TEditorColor& c)
{
    ColorRow r;
    r.colorOn = c.Color != clNone;
    r.color = r.colorOn ? c.Color : clWhite;
    r.bkOn = c.BkColor != clNone;
    r.bk = r.bkOn ? c.BkColor : clBlack;
    r.bold = (c.Style & fsBold) != 0;
    r.italic = (c.Style & fsItalic) != 0;
    return r;
}

TEditorColor ColorOf(const ColorRow& r, const TEditorColor& old)
{
    TEditorColor c = old;
    c.Color = r.colorOn ? r.color : clNone;
    c.BkColor = r.bkOn ? r.bk : clNone;
    c.Style = std::uint8_t((old.Style & ~(fsBold | fsItalic)) | (r.bold ? fsBold : 0) | (r.italic ? fsItalic : 0));
    return c;
}

}  // namespace

DisplayValues ReadDisplay(const TEditorProps& p)
{
    DisplayValues v;
    v.fontName = p.Font.Name;
    v.fontSize = FontPoints(p.Font.Height);
    v.fontColor = p.Font.Color;
    v.bkColor = p.Color;
    v.wrapByte = p.WrapOption.WrapByte;
    const auto& c = p.View.Colors;
    v.rows = {RowOf(c.Reserve), RowOf(c.Comment), RowOf(c.Int), RowOf(c.Select)};
    v.marks = {MarkRow{p.Marks.Underline.Visible, p.Marks.Underline.Color},
               MarkRow{p.Marks.RetMark.Visible, p.Marks.RetMark.Color},
               MarkRow{p.Marks.EofMark.Visible, p.Marks.EofMark.Color}};
    v.autoColOff = !p.IsAutoColScroll;
    return v;
}

TEditorProps ApplyDisplay(const TEditorProps& props, const DisplayValues& v)
{
    TEditorProps p = props;
    p.Font.Name = v.fontName;
    if (v.fontSize != FontPoints(p.Font.Height)) p.Font.Height = FontHeight(v.fontSize);
    p.Font.Color = v.fontColor;
    p.WordWrap = true;
    p.WrapOption.WrapByte = v.wrapByte;
    p.Color = v.bkColor;
    p.IsAutoColScroll = !v.autoColOff;
    auto& c = p.View.Colors;
    c.Reserve = ColorOf(v.rows[0], c.Reserve);
    c.Comment = ColorOf(v.rows[1], c.Comment);
    c.Int = ColorOf(v.rows[2], c.Int);
    c.Select = ColorOf(v.rows[3], c.Select);
    // Search hits are drawn in the selection colours, inverted.
    p.ExMarks.FindMark.Visible = true;
    p.ExMarks.FindMark.Color = c.Select.BkColor;
    p.ExMarks.Hit.Color = c.Select.BkColor;
    p.ExMarks.Hit.BkColor = c.Select.Color;
    const auto mark = [](TEditorMark& m, const MarkRow& r) {
        m.Visible = r.visible;
        m.Color = r.color;
    };
    mark(p.Marks.Underline, v.marks[0]);
    mark(p.Marks.RetMark, v.marks[1]);
    mark(p.Marks.EofMark, v.marks[2]);
    return p;
}

HighlightValues ReadHighlightValues(std::string commenter, const std::vector<TBracketItem>& brackets,
                                    std::vector<std::string> words, const std::array<std::uint32_t, 3>& keep)
{
    HighlightValues h;
    h.commenter = std::move(commenter);
    for (std::size_t i = 0; i < 3; ++i) {
        if (i < brackets.size())
            h.blocks[i] = {brackets[i].LeftBracket, brackets[i].RightBracket, brackets[i].Color};
        else
            h.blocks[i] = {"", "", keep[i]};
    }
    h.words = std::move(words);
    return h;
}

std::vector<TBracketItem> MergeBrackets(const std::array<BlockRow, 3>& blocks, const std::vector<TBracketItem>& old)
{
    std::vector<TBracketItem> result;
    for (const BlockRow& b : blocks)
        if (!b.start.empty() && !b.end.empty()) result.push_back({b.start, b.end, b.color});
    for (std::size_t i = 3; i < old.size(); ++i) result.push_back(old[i]);
    return result;
}

}  // namespace pek
