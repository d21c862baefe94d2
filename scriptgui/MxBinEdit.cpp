#include "scriptgui/MxBinEdit.h"

#include "platform/CodePage.h"

#include <algorithm>

namespace pek {

namespace {

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

bool Printable(unsigned char b) { return b >= 0x20 && b <= 0x7E; }
bool LineBreak(unsigned char b) { return b == '\n' || b == '\r'; }

}  // namespace

std::string MxConvertChars(std::string_view bytes, TMxCharCode code, bool keepLineBreaks)
{
    std::string out(bytes);
    if (code == TMxCharCode::ccASCII) {
        for (char& c : out) {
            const auto b = static_cast<unsigned char>(c);
            if (!Printable(b) && !(keepLineBreaks && LineBreak(b))) c = '.';
        }
    } else if (code == TMxCharCode::ccSJIS) {
        std::ptrdiff_t lead = -1;  // a lead byte waiting for its trail byte
        for (std::size_t i = 0; i < out.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (lead >= 0) {
                if (b >= 0x40 && b <= 0xFC && b != 0x7F) {
                    lead = -1;  // the pair stays as it is
                    continue;
                }
                out[std::size_t(lead)] = '.';
                lead = -1;
            }
            if (Printable(b) || (b >= 0xA1 && b <= 0xDF)) continue;
            if (IsDBCSLeadByte(b)) {
                lead = std::ptrdiff_t(i);
                continue;
            }
            if (!(keepLineBreaks && LineBreak(b))) out[i] = '.';
        }
        if (lead >= 0) out[std::size_t(lead)] = '.';
    }
    return out;
}

void TMxBinEdit::Load(const void* bytes, std::int64_t count)
{
    doc_.Load(bytes, count);
    pending_ = false;
    anchor_ = -1;
    selEnd_ = -1;
    cursor_ = {2, 1};
    if (OnMoveCell) OnMoveCell();
}

void TMxBinEdit::MoveTo(TMxCell target, bool extend)
{
    pending_ = false;
    const std::int64_t lastRow = RowCount() - 1;
    if (target.Row <= 0) {
        target.Row = 1;
        if (target.Col == 17) target.Col = 2;
    }
    target.Row = std::min(target.Row, lastRow);
    target.Col = std::clamp(target.Col, 2, 17);
    if (Offset(target) > doc_.Size()) target = EndCell();
    const std::int64_t last = doc_.Size() - 1;
    const std::int64_t offset = std::min(Offset(target), last);
    if (extend && last >= 0) {
        if (anchor_ < 0) anchor_ = std::min(CursorOffset(), last);
        selEnd_ = offset;
    } else {
        anchor_ = offset;
        selEnd_ = -1;
    }
    cursor_ = target;
    if (OnMoveCell) OnMoveCell();
}

void TMxBinEdit::Key(TKey key, bool extend, bool ctrl, std::int64_t pageRows)
{
    TMxCell c = cursor_;
    pageRows = std::max<std::int64_t>(1, pageRows);
    switch (key) {
    case TKey::Left:
        if (c.Col > 2) --c.Col;
        else if (c.Row > 1) c = {17, c.Row - 1};
        break;
    case TKey::Right:
        if (c.Col < 17) ++c.Col;
        else c = {2, c.Row + 1};
        break;
    case TKey::Up: --c.Row; break;
    case TKey::Down: ++c.Row; break;
    case TKey::PageUp: c.Row = std::max<std::int64_t>(1, c.Row - pageRows); break;
    case TKey::PageDown: c.Row = std::min(RowCount() - 1, c.Row + pageRows); break;
    case TKey::Home:
        c.Col = 2;
        if (ctrl) c.Row = 1;
        break;
    case TKey::End:
        if (ctrl) c = EndCell();
        else c.Col = c.Row == EndCell().Row ? EndCell().Col : 17;
        break;
    }
    MoveTo(c, extend);
}

bool TMxBinEdit::Type(char ch)
{
    const int digit = HexDigit(ch);
    if (readOnly_ || digit < 0) return false;
    const auto d = std::uint8_t(digit);
    const std::int64_t at = CursorOffset();
    if (!pending_) {
        const auto value = std::uint8_t(inputMode_ == TMxInputMode::imOrg ? d : d * 16);
        if (HasSelection()) {
            const std::int64_t x = SelStart();
            doc_.ReplaceRange(x, SelLast(), std::string_view(reinterpret_cast<const char*>(&value), 1));
            // The cursor stays on the new byte until its second digit.
            AfterRangeEdit(x);
        } else if (insertMode_ || at == doc_.Size()) {
            doc_.Insert(at, value);
        } else {
            doc_.Overwrite(at, value);
        }
        pending_ = true;
        firstDigit_ = d;
        return true;
    }
    doc_.Overwrite(at, std::uint8_t(firstDigit_ * 16 + d), false);
    pending_ = false;
    Key(TKey::Right, false, false, 1);
    return true;
}

void TMxBinEdit::AfterRangeEdit(std::int64_t cursorOffset)
{
    selEnd_ = -1;
    MoveTo(CellOf(std::clamp<std::int64_t>(cursorOffset, 0, doc_.Size())), false);
}

bool TMxBinEdit::DeleteAtCursor()
{
    if (readOnly_) return false;
    if (HasSelection()) {
        const std::int64_t x = SelStart();
        if (!doc_.DeleteRange(x, SelLast())) return false;
        AfterRangeEdit(x);
        return true;
    }
    const std::int64_t at = CursorOffset();
    if (!doc_.Delete(at)) return false;
    MoveTo(cursor_, false);
    return true;
}

std::optional<TMxBinEdit::TClipData> TMxBinEdit::Copy()
{
    if (!HasSelection()) return std::nullopt;
    TClipData data;
    data.Raw = doc_.Read(SelStart(), SelLast() - SelStart() + 1);
    data.Text = MxConvertChars(data.Raw, charCode_, true);
    return data;
}

bool TMxBinEdit::Paste(std::string_view raw)
{
    if (readOnly_ || raw.empty()) return false;
    if (HasSelection()) {
        const std::int64_t x = SelStart();
        if (!doc_.ReplaceRange(x, SelLast(), raw)) return false;
        AfterRangeEdit(x + std::int64_t(raw.size()));
        return true;
    }
    // At the cursor: before the byte under it, or appended at the end position.
    const std::int64_t at = std::min(CursorOffset(), doc_.Size());
    if (!doc_.InsertRange(at, raw)) return false;
    AfterRangeEdit(at + std::int64_t(raw.size()));
    return true;
}

bool TMxBinEdit::Undo()
{
    if (readOnly_) return false;
    const std::int64_t at = doc_.Undo();
    if (at < 0) return false;
    AfterRangeEdit(at);
    return true;
}

std::string TMxBinEdit::RowChars(std::int64_t row)
{
    const std::int64_t first = (row - 1) * 16;
    if (first < 0 || first >= doc_.Size()) return {};
    const std::int64_t from = std::max<std::int64_t>(0, first - 3);
    const std::string bytes = doc_.Read(from, first + 16 - from);
    std::string chars = MxConvertChars(bytes, charCode_, false);
    const auto start = std::size_t(first - from);
    if (charCode_ == TMxCharCode::ccSJIS) {
        // A character begun on the row before: its second byte shows as a dot here.
        for (std::size_t i = 0; i < start;)
            if (IsDBCSLeadByte(static_cast<unsigned char>(chars[i])) && i + 1 < chars.size()) {
                if (i + 1 == start) chars[start] = '.';
                i += 2;
            } else {
                ++i;
            }
    }
    return chars.substr(start);
}

}  // namespace pek
