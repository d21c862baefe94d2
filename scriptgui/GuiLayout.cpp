#include "scriptgui/GuiLayout.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace pek {

namespace {

int ClampInt(std::int64_t v)
{
    return int(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min() / 2, std::numeric_limits<int>::max() / 2));
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

int GuiNextRowY(int top, int height)
{
    // C++ division truncates toward zero, as the grid rule wants.
    return int((std::int64_t(top) + height - GuiOriginY) / GuiCell + 1) * GuiCell + GuiOriginY;
}

TGuiCursor GuiLocate(std::int64_t column, std::int64_t row)
{
    const auto big = std::int64_t(1) << 40;
    column = std::clamp(column, -big, big);
    row = std::clamp(row, -big, big);
    return {ClampInt(column * GuiCell + GuiOriginX), ClampInt(row * GuiCell + GuiOriginY)};
}

int GuiScrollPixels(std::int64_t rows)
{
    const auto big = std::int64_t(1) << 40;
    return ClampInt(std::clamp(rows, -big, big) * GuiCell);
}

int GuiScrolledCursorY(int y, std::int64_t rows)
{
    return std::max(GuiOriginY, ClampInt(std::int64_t(y) - GuiScrollPixels(rows)));
}

int GuiScrolledItemY(int y, int pixels)
{
    constexpr std::int64_t far = std::int64_t(1) << 24;
    return int(std::clamp(std::int64_t(y) - pixels, -far, far));
}

int GuiOptionWidth(int current, std::size_t textBytes, int charWidth)
{
    return std::max<std::int64_t>(current, ClampInt(std::int64_t(textBytes) * charWidth + 15));
}

int GuiEditFieldWidth(int current, std::size_t textBytes, int charWidth)
{
    return GuiOptionWidth(current, textBytes, charWidth);
}

int GuiNumFieldWidth(TNumKind kind, int current, int charWidth)
{
    switch (kind) {
    case TNumKind::Hex4: return charWidth * 4 + 15;
    case TNumKind::Hex8: return charWidth * 8 + 15;
    case TNumKind::Integer: return 10 * charWidth + 15;  // the digits of 4294967295
    case TNumKind::Float: break;
    }
    return current;
}

TGuiRowAlign GuiAlignRow(int widestCaption, int innerWidth)
{
    const int left = widestCaption + 5 + 5;
    return {left, left + innerWidth + 5};
}

QRect GuiSelOption(int index, int optionWidth, int optionHeight)
{
    return {index * optionWidth, 0, optionWidth, optionHeight};
}

TGuiMenuLayout GuiArrangeMenu(int count, int columns, int optionWidth, int optionHeight)
{
    TGuiMenuLayout layout;
    if (count <= 0) return layout;
    layout.Columns = columns <= 0 ? count : columns;
    const int rows = (count + layout.Columns - 1) / layout.Columns;
    layout.ClientWidth = optionWidth * layout.Columns + 10;
    layout.ClientHeight = optionHeight * rows + 20;
    for (int i = 0; i < count; ++i)
        layout.Options.push_back(QRect((i % layout.Columns) * optionWidth + 5, (i / layout.Columns) * optionHeight + 15,
                                       optionWidth, optionHeight));
    return layout;
}

int GuiMenuMove(TGuiArrow key, int s, int c, int n)
{
    if (c <= 0 || s < 0 || s >= n) return -1;
    switch (key) {
    case TGuiArrow::Left: return s - 1 >= 0 && s % c > 0 ? s - 1 : -1;
    case TGuiArrow::Right: return s + 1 < n && s % c < c - 1 ? s + 1 : -1;
    case TGuiArrow::Up: return s - c >= 0 ? s - c : -1;
    case TGuiArrow::Down: return s + c < n ? s + c : -1;
    }
    return -1;
}

int GuiSelMove(TGuiArrow key, int s, int n)
{
    if (s < 0 || s >= n) return -1;
    if (key == TGuiArrow::Left) return s > 0 ? s - 1 : -1;
    if (key == TGuiArrow::Right) return s + 1 < n ? s + 1 : -1;
    return -1;
}

int GuiClampOption(int index, int count) { return count <= 0 ? -1 : std::clamp(index, 0, count - 1); }

bool NumEditAccepts(TNumKind kind, std::string_view text, int caret, char ch)
{
    if (ch == 3 || ch == 8 || ch == 22 || ch == 24 || ch == 27) return true;
    if (kind == TNumKind::Hex4 || kind == TNumKind::Hex8) return HexValue(ch) >= 0;
    if (ch >= '0' && ch <= '9') return true;
    if (ch == '-') return caret == 0 && text.find('-') == std::string_view::npos;
    if (ch == '.') return kind == TNumKind::Float && text.find('.') == std::string_view::npos;
    return false;
}

std::pair<std::string, int> NumEditNormalizeHex(std::string_view text, int caret, int digits)
{
    std::string hex;
    int hexBeforeCaret = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (HexValue(text[i]) < 0) continue;
        hex += text[i];
        if (std::int64_t(i) < caret) ++hexBeforeCaret;
    }
    // Counted without the dropped characters: typing at the end shifts the digits left.
    const auto hexLength = std::int64_t(hex.size());
    if (hex.size() > std::size_t(digits)) hex.erase(0, hex.size() - std::size_t(digits));
    std::uint32_t value = 0;
    for (char c : hex) value = value * 16 + std::uint32_t(HexValue(c));
    const int newCaret = int(std::clamp<std::int64_t>(hexBeforeCaret + digits - hexLength, 0, digits));
    return {GuiHexText(value, digits), newCaret};
}

double NumEditFloatValue(std::string_view text)
{
    text = Trimmed(text);
    double value = 0;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    return ec == std::errc() ? value : 0.0;
}

std::int32_t NumEditIntValue(std::string_view text)
{
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) return !text.empty() && text.front() == '-' ? INT32_MIN : INT32_MAX;
    if (ec != std::errc()) return 0;
    return std::int32_t(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::int32_t NumEditHexValue(std::string_view text, int digits)
{
    std::uint32_t value = 0;
    for (char c : text)
        if (const int d = HexValue(c); d >= 0) value = value * 16 + std::uint32_t(d);
    if (digits == 4) return std::int16_t(std::uint16_t(value));
    return std::int32_t(value);
}

std::string GuiHexText(std::int64_t value, int digits)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string text(std::size_t(digits), '0');
    auto v = std::uint64_t(value);
    for (int i = digits - 1; i >= 0; --i, v >>= 4) text[std::size_t(i)] = Digits[v & 15];
    return text;
}

}  // namespace pek
