#include "editor/EditorModel.h"

#include <algorithm>
#include <climits>

#include "editor/EditorProps.h"
#include "platform/CharClass.h"
#include "regex/Onig.h"

namespace pek {

namespace {
// Classes for word selection: runs of one class form a word.
int WordClass(std::string_view s, size_t i)
{
    if (CharBytes(s, i) == 2) {
        const int c = CharClass(s, static_cast<long long>(i) + 1);
        return c == 0 ? 20 : 10 + c;
    }
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') return 1;
    if (c == ' ' || c == '\t') return 2;
    if (c >= 0xA1 && c <= 0xDF) return 3;
    return 4;
}

size_t PrevCharStart(std::string_view s, size_t byte)
{
    size_t i = 0, prev = 0;
    while (i < byte) {
        prev = i;
        i += size_t(CharBytes(s, i));
    }
    return prev;
}
}  // namespace

TEditorModel::TEditorModel() : matcher_(std::make_unique<TLineMatcher>())
{
    AttachLines(std::make_shared<TEditorLines>());
}

TEditorModel::~TEditorModel()
{
    if (lines_) lines_->Unsubscribe(subscription_);
}

void TEditorModel::AttachLines(std::shared_ptr<TEditorLines> lines)
{
    if (!lines) return;
    if (lines_) lines_->Unsubscribe(subscription_);
    lines_ = std::move(lines);
    subscription_ = lines_->Subscribe([this](const TLinesChange& change) { OnLinesChanged(change); });
    caret_ = anchor_ = TTextPos{};
    topRow_ = 0;
    topCol_ = 0;
    hitLength_ = 0;
    statesValid_ = 0;
    matchCache_.clear();
    firstChanged_ = 0;
    Changed();
}

void TEditorModel::Changed()
{
    if (!lines_->Updating() && OnChange) OnChange();
}

TTextPos TEditorModel::AdjustPos(TTextPos pos, const TLinesChange& change) const
{
    if (pos < change.from) return pos;
    if (pos < change.oldEnd) return change.from;
    if (pos.line == change.oldEnd.line) return {change.newEnd.line, change.newEnd.byte + pos.byte - change.oldEnd.byte};
    return {pos.line + change.newEnd.line - change.oldEnd.line, pos.byte};
}

void TEditorModel::OnLinesChanged(const TLinesChange& change)
{
    if (change.kind != TLinesChange::UpdateEnded)
        firstChanged_ = std::min(firstChanged_, change.kind == TLinesChange::Edit ? change.from.line : 0);
    switch (change.kind) {
    case TLinesChange::Edit:
        if (change.droppedRows > 0) {
            OnFirstLinesDropped(change);
            break;
        }
        caret_ = AdjustPos(caret_, change);
        anchor_ = AdjustPos(anchor_, change);
        if (hitLength_ > 0 && change.from.line <= hitPos_.line + matcher_->SpanLines()) hitLength_ = 0;
        statesValid_ = std::min(statesValid_, change.from.line + 1);
        // A match may run into the edited line from the lines above it.
        matchCache_.erase(matchCache_.lower_bound(change.from.line - matcher_->SpanLines()), matchCache_.end());
        break;
    case TLinesChange::Reset:
        caret_ = anchor_ = TTextPos{};
        topRow_ = 0;
        topCol_ = 0;
        hitLength_ = 0;
        statesValid_ = 0;
        matchCache_.clear();
        break;
    case TLinesChange::Layout:
        caret_ = lines_->Clamp(caret_);
        anchor_ = lines_->Clamp(anchor_);
        break;
    case TLinesChange::Marks:
    case TLinesChange::UpdateEnded:
        break;
    }
    topRow_ = std::clamp<long long>(topRow_, 0, std::max<long long>(0, lines_->RowCount() - 1));
    Changed();
}

void TEditorModel::OnFirstLinesDropped(const TLinesChange& change)
{
    // The view keeps showing the text it showed; what pointed into the dropped lines moves to the
    // start. Highlighting states carried in from the dropped text stay, so nothing on screen changes.
    const long long count = change.oldEnd.line;
    caret_ = AdjustPos(caret_, change);
    anchor_ = AdjustPos(anchor_, change);
    topRow_ = std::max(0LL, topRow_ - change.droppedRows);
    if (hitLength_ > 0) {
        if (hitPos_.line < count) hitLength_ = 0;
        else hitPos_.line -= count;
    }
    const long long statesKept = std::min<long long>(statesValid_, static_cast<long long>(lineStates_.size()));
    if (statesKept > count) {
        lineStates_.erase(lineStates_.begin(), lineStates_.begin() + count);
        statesValid_ = statesKept - count;
    } else {
        lineStates_.clear();
        statesValid_ = 0;
    }
    matchCache_.clear();
}

void TEditorModel::SetText(std::string_view text) { lines_->SetText(text); }

void TEditorModel::AppendText(std::string_view text, bool caretToEnd)
{
    if (caretToEnd) {
        caret_ = anchor_ = lines_->EndPos();
        preferredCol_ = -1;
    }
    lines_->Append(text);
    if (caretToEnd) {
        caretColWish_ = anchorColWish_ = lines_->ColumnOfPos(caret_);
        Changed();
    }
}

void TEditorModel::SetWordWrap(bool on)
{
    TWrapLayout l = lines_->Layout();
    l.WordWrap = on;
    lines_->SetLayout(l);
}

void TEditorModel::SetWrapByte(int columns)
{
    TWrapLayout l = lines_->Layout();
    l.WrapByte = std::clamp(columns, 2, kMaxColumn);
    lines_->SetLayout(l);
}

void TEditorModel::SetTabSpaceCount(int columns)
{
    TWrapLayout l = lines_->Layout();
    l.TabSpaceCount = std::clamp(columns, 1, kMaxTabSpaceCount);
    lines_->SetLayout(l);
}

long long TEditorModel::RowToLines(long long row) const
{
    if (!WordWrap()) return row;
    if (row <= 0) return 0;
    if (row >= lines_->RowCount()) return lines_->LineCount();
    return lines_->LineOfRow(row);
}

long long TEditorModel::LinesToRow(long long line) const
{
    if (!WordWrap()) return line;
    if (line <= 0) return 0;
    if (line >= lines_->LineCount()) return lines_->RowCount();
    return lines_->FirstRowOfLine(line);
}

long long TEditorModel::ColToChar(long long row, long long col) const
{
    if (row < 0 || col < 0 || row > lines_->RowCount()) return -1;
    if (row == lines_->RowCount()) return 0;  // the row after the text starts a new line
    const TRowInfo info = lines_->RowInfo(row);
    const int c = int(std::min<long long>(col, INT_MAX));
    return static_cast<long long>(ByteAtColumn(lines_->LineView(info.line), size_t(info.start), size_t(info.end), c, lines_->Layout()));
}

long long TEditorModel::Row() const { return lines_->RowOfPos(caret_); }

int TEditorModel::Col() const { return lines_->ColumnOfPos(caret_); }

void TEditorModel::SetCaretInternal(TTextPos pos, bool extend, bool keepPreferred)
{
    caret_ = lines_->Clamp(pos);
    caretColWish_ = keepPreferred && preferredCol_ >= 0 ? preferredCol_ : lines_->ColumnOfPos(caret_);
    if (!extend) {
        anchor_ = caret_;
        anchorColWish_ = caretColWish_;
    }
    if (!keepPreferred) preferredCol_ = -1;
    ScrollCaret();
    Changed();
}

void TEditorModel::SetCaret(long long row, int col, bool extend)
{
    row = std::clamp<long long>(row, 0, lines_->RowCount() - 1);
    col = std::max(0, col);
    SetCaretInternal(lines_->PosOfRowCol(row, col), extend);
    caretColWish_ = col;
    if (!extend) anchorColWish_ = col;
}

void TEditorModel::SetCaretPos(TTextPos pos, bool extend) { SetCaretInternal(pos, extend); }

void TEditorModel::MoveCaret(TCaretMove move, bool extend)
{
    const std::string_view line = lines_->LineView(caret_.line);
    TTextPos pos = caret_;
    switch (move) {
    case TCaretMove::Left:
        if (pos.byte > 0) pos.byte = static_cast<long long>(PrevCharStart(line, size_t(pos.byte)));
        else if (pos.line > 0) pos = {pos.line - 1, lines_->LineLength(pos.line - 1)};
        break;
    case TCaretMove::Right:
        if (pos.byte < static_cast<long long>(line.size())) pos.byte += CharBytes(line, size_t(pos.byte));
        else if (pos.line + 1 < lines_->LineCount()) pos = {pos.line + 1, 0};
        break;
    case TCaretMove::Up:
    case TCaretMove::Down:
    case TCaretMove::PageUp:
    case TCaretMove::PageDown: {
        const int col = preferredCol_ >= 0 ? preferredCol_ : Col();
        long long step = (move == TCaretMove::Up || move == TCaretMove::Down) ? 1 : visibleRows_;
        if (move == TCaretMove::Up || move == TCaretMove::PageUp) step = -step;
        const long long row = std::clamp<long long>(Row() + step, 0, lines_->RowCount() - 1);
        if (move == TCaretMove::PageUp || move == TCaretMove::PageDown) SetTopRow(topRow_ + step);
        preferredCol_ = col;
        SetCaretInternal(lines_->PosOfRowCol(row, col), extend, true);
        return;
    }
    case TCaretMove::RowHome:
        pos = lines_->PosOfRowCol(Row(), 0);
        break;
    case TCaretMove::RowEnd: {
        const TRowInfo info = lines_->RowInfo(Row());
        pos = info.endsLine ? TTextPos{info.line, info.end} : lines_->PosOfRowCol(Row(), INT_MAX);
        break;
    }
    case TCaretMove::TextHome:
        pos = {0, 0};
        break;
    case TCaretMove::TextEnd:
        pos = lines_->EndPos();
        break;
    case TCaretMove::WordLeft:
        if (pos.byte == 0) {
            if (pos.line > 0) pos = {pos.line - 1, lines_->LineLength(pos.line - 1)};
        } else {
            pos = WordRange({pos.line, static_cast<long long>(PrevCharStart(line, size_t(pos.byte)))}).first;
        }
        break;
    case TCaretMove::WordRight:
        if (pos.byte >= static_cast<long long>(line.size())) {
            if (pos.line + 1 < lines_->LineCount()) pos = {pos.line + 1, 0};
        } else {
            pos = WordRange(pos).second;
        }
        break;
    }
    SetCaretInternal(pos, extend);
}

void TEditorModel::SetTopRow(long long row)
{
    topRow_ = std::clamp<long long>(row, 0, std::max<long long>(0, lines_->RowCount() - 1));
    Changed();
}

void TEditorModel::SetTopCol(int col)
{
    topCol_ = std::clamp(col, 0, kMaxTopCol);
    Changed();
}

void TEditorModel::SetVisibleExtent(long long rows, int cols)
{
    visibleRows_ = std::clamp<long long>(rows, 1, kMaxVisibleRows);
    visibleCols_ = std::clamp(cols, 1, kMaxTopCol);
}

void TEditorModel::ScrollToRow(long long row)
{
    row = std::clamp<long long>(row, 0, std::max<long long>(0, lines_->RowCount() - 1));
    if (row < topRow_) topRow_ = row;
    else if (row >= topRow_ + visibleRows_) topRow_ = row - visibleRows_ + 1;
    topRow_ = std::clamp<long long>(topRow_, 0, std::max<long long>(0, lines_->RowCount() - 1));
}

void TEditorModel::ScrollCaret()
{
    ScrollToRow(Row());
    if (autoColScroll_) {
        const int col = Col();
        if (col < topCol_) topCol_ = col;
        else if (col >= topCol_ + visibleCols_) topCol_ = col - visibleCols_ + 1;
    }
}

void TEditorModel::ScrollToEnd()
{
    const long long v = visibleRows_;
    const long long k = v - 2 > 0 ? v - 2 : v;
    if (lines_->RowCount() >= v) SetTopRow(lines_->RowCount() - k);
}

std::pair<TTextPos, TTextPos> TEditorModel::OrderedSelection() const
{
    return anchor_ < caret_ ? std::pair{anchor_, caret_} : std::pair{caret_, anchor_};
}

TEditorModel::TBoxRect TEditorModel::BoxRect() const
{
    const long long ra = lines_->RowOfPos(anchor_), rc = lines_->RowOfPos(caret_);
    const int ca = anchorColWish_, cc = caretColWish_;
    return {std::min(ra, rc), std::max(ra, rc), std::min(ca, cc), std::max(ca, cc)};
}

// Each line's rows are found once, and the rows below follow from there: a box over a long wrapped
// line costs the line's length, not its length once per row.
std::vector<std::pair<TTextPos, TTextPos>> TEditorModel::BoxRanges() const
{
    std::vector<std::pair<TTextPos, TTextPos>> out;
    const TBoxRect box = BoxRect();
    const TWrapLayout& layout = lines_->Layout();
    const TRowInfo first = lines_->RowInfo(box.firstRow);
    long long line = first.line;
    size_t index = size_t(first.index);
    std::vector<uint32_t> scratch;
    const std::vector<uint32_t>* starts = &lines_->RowStarts(line, scratch);
    for (long long r = box.firstRow; r <= box.lastRow; ++r, ++index) {
        if (index >= starts->size()) {
            if (++line >= lines_->LineCount()) break;
            index = 0;
            starts = &lines_->RowStarts(line, scratch);
        }
        const std::string_view s = lines_->LineView(line);
        const size_t rowStart = (*starts)[index];
        const size_t rowEnd = index + 1 < starts->size() ? (*starts)[index + 1] : s.size();
        const size_t a = ByteAtColumn(s, rowStart, rowEnd, box.firstCol, layout);
        const size_t z = ByteAtColumn(s, rowStart, rowEnd, box.endCol, layout);
        out.push_back({{line, static_cast<long long>(a)}, {line, static_cast<long long>(std::max(a, z))}});
    }
    return out;
}

long long TEditorModel::SelStart() const
{
    return std::min(lines_->PosToOffset(anchor_), lines_->PosToOffset(caret_));
}

long long TEditorModel::SelLength() const
{
    const long long a = lines_->PosToOffset(anchor_), c = lines_->PosToOffset(caret_);
    return a > c ? a - c : c - a;
}

void TEditorModel::SetSelStart(long long offset)
{
    SetCaretInternal(lines_->Clamp(lines_->OffsetToPos(offset)), false);
}

void TEditorModel::SetSelLength(long long length)
{
    const long long start = SelStart();
    const TTextPos a = lines_->Clamp(lines_->OffsetToPos(start));
    anchor_ = a;
    anchorColWish_ = lines_->ColumnOfPos(anchor_);
    // Past the end is the end; a huge length must not overflow the sum.
    caret_ = lines_->Clamp(lines_->OffsetToPos(start + std::clamp<long long>(length, 0, lines_->TextLength() - start)));
    caretColWish_ = lines_->ColumnOfPos(caret_);
    preferredCol_ = -1;
    Changed();
}

std::string TEditorModel::SelText() const
{
    if (!Selected()) return {};
    if (selMode_ == TSelectionMode::smBox) {
        // The ranges lie on character starts already: copied as they are, without the scan from
        // the line start that checking a position takes.
        const auto ranges = BoxRanges();
        size_t size = 0;
        for (const auto& [a, z] : ranges) size += size_t(z.byte - a.byte) + 2;
        std::string out;
        out.reserve(size);
        for (size_t i = 0; i < ranges.size(); ++i) {
            const auto& [a, z] = ranges[i];
            if (i > 0) out += "\r\n";
            out.append(lines_->LineView(a.line).substr(size_t(a.byte), size_t(z.byte - a.byte)));
        }
        return out;
    }
    const auto [a, z] = OrderedSelection();
    return lines_->GetRange(a, z);
}

void TEditorModel::SetSelText(std::string_view text) { InsertText(text); }

void TEditorModel::SetSelectionMode(TSelectionMode mode)
{
    selMode_ = mode;
    Changed();
}

long long TEditorModel::SelStartRow() const
{
    return selMode_ == TSelectionMode::smBox ? BoxRect().firstRow : lines_->RowOfPos(OrderedSelection().first);
}

int TEditorModel::SelStartCol() const
{
    return selMode_ == TSelectionMode::smBox ? BoxRect().firstCol : lines_->ColumnOfPos(OrderedSelection().first);
}

long long TEditorModel::SelEndRow() const
{
    return selMode_ == TSelectionMode::smBox ? BoxRect().lastRow : lines_->RowOfPos(OrderedSelection().second);
}

int TEditorModel::SelEndCol() const
{
    return selMode_ == TSelectionMode::smBox ? BoxRect().endCol : lines_->ColumnOfPos(OrderedSelection().second);
}

void TEditorModel::Select(TTextPos anchor, TTextPos caret)
{
    anchor_ = lines_->Clamp(anchor);
    anchorColWish_ = lines_->ColumnOfPos(anchor_);
    SetCaretInternal(caret, true);
}

void TEditorModel::SelectAll() { Select({0, 0}, lines_->EndPos()); }

std::pair<TTextPos, TTextPos> TEditorModel::WordRange(TTextPos pos) const
{
    pos = lines_->Clamp(pos);
    const std::string_view s = lines_->LineView(pos.line);
    if (s.empty()) return {pos, pos};
    size_t at = size_t(pos.byte);
    if (at >= s.size()) at = PrevCharStart(s, s.size());
    const int cls = WordClass(s, at);
    size_t a = at;
    while (a > 0) {
        const size_t p = PrevCharStart(s, a);
        if (WordClass(s, p) != cls) break;
        a = p;
    }
    size_t z = at;
    while (z < s.size() && WordClass(s, z) == cls) z += size_t(CharBytes(s, z));
    return {{pos.line, static_cast<long long>(a)}, {pos.line, static_cast<long long>(z)}};
}

void TEditorModel::SelectWordFromCaret()
{
    const auto [a, z] = WordRange(caret_);
    Select(a, z);
}

std::string TEditorModel::WordString() const
{
    const auto [a, z] = WordRange(caret_);
    return lines_->GetRange(a, z);
}

void TEditorModel::SelectTokenFromCaret()
{
    const auto tokens = const_cast<TEditorModel*>(this)->LineTokens(caret_.line);
    for (const auto& t : tokens) {
        if (caret_.byte >= t.start && (caret_.byte < t.start + t.length ||
                                       (caret_.byte == t.start + t.length && &t == &tokens.back()))) {
            Select({caret_.line, t.start}, {caret_.line, t.start + t.length});
            return;
        }
    }
}

std::string TEditorModel::TokenString() const
{
    const auto tokens = const_cast<TEditorModel*>(this)->LineTokens(caret_.line);
    const std::string_view s = lines_->LineView(caret_.line);
    for (const auto& t : tokens) {
        if (caret_.byte >= t.start && (caret_.byte < t.start + t.length ||
                                       (caret_.byte == t.start + t.length && &t == &tokens.back())))
            return std::string(s.substr(t.start, t.length));
    }
    return {};
}

void TEditorModel::CollapseSelection()
{
    anchor_ = caret_;
    anchorColWish_ = caretColWish_;
    Changed();
}

void TEditorModel::InsertText(std::string_view text)
{
    hitLength_ = 0;
    if (Selected() && selMode_ == TSelectionMode::smBox) {
        const auto ranges = BoxRanges();
        lines_->BeginUpdate();
        // One replacement per line, keeping what lies between its rows' ranges: a replacement per
        // row would rewrite a long wrapped line once for each of its rows.
        for (size_t last = ranges.size(); last > 0;) {
            size_t first = last - 1;
            const long long line = ranges[first].first.line;
            while (first > 0 && ranges[first - 1].first.line == line) --first;
            const std::string_view s = lines_->LineView(line);
            std::string kept;
            for (size_t k = first; k + 1 < last; ++k)
                kept.append(s.substr(size_t(ranges[k].second.byte), size_t(ranges[k + 1].first.byte - ranges[k].second.byte)));
            lines_->Replace(ranges[first].first, ranges[last - 1].second, kept);
            last = first;
        }
        const TTextPos at = ranges.front().first;
        const TTextPos end = lines_->Replace(at, at, text);
        lines_->EndUpdate();
        SetCaretInternal(end, false);
        return;
    }
    const auto [a, z] = OrderedSelection();
    const TTextPos end = lines_->Replace(a, z, text);
    SetCaretInternal(end, false);
}

void TEditorModel::TypeText(std::string_view text)
{
    if (text.empty()) return;
    if (Selected()) {
        InsertText(text);
        return;
    }
    TTextPos to = caret_;
    if (overWrite_) {
        const std::string_view s = lines_->LineView(caret_.line);
        for (size_t i = 0; i < text.size() && to.byte < static_cast<long long>(s.size()); i += size_t(CharBytes(text, i)))
            to.byte += CharBytes(s, size_t(to.byte));
    }
    hitLength_ = 0;
    const TTextPos end = lines_->Replace(caret_, to, text, true);
    SetCaretInternal(end, false);
}

void TEditorModel::DeleteSelection()
{
    if (!Selected()) return;
    InsertText({});
}

bool TEditorModel::MoveSelectionTo(TTextPos pos)
{
    if (!Selected() || selMode_ == TSelectionMode::smBox) return false;
    pos = lines_->Clamp(pos);
    const auto [a, z] = OrderedSelection();
    if (pos >= a && pos <= z) return false;
    const std::string text = lines_->GetRange(a, z);
    const long long removed = lines_->PosToOffset(z) - lines_->PosToOffset(a);
    long long start;
    lines_->BeginUpdate();
    if (pos > z) {
        // Insert first: the selection before the drop point does not move.
        start = lines_->PosToOffset(pos) - removed;
        lines_->Replace(pos, pos, text);
        lines_->Replace(a, z, {});
    } else {
        lines_->Replace(a, z, {});
        start = lines_->PosToOffset(pos);
        lines_->Replace(pos, pos, text);
    }
    lines_->EndUpdate();
    // A moved end may now pair with an unpaired lead byte beside it: the selection then takes in the
    // whole character rather than leaving a moved byte out.
    const TTextPos from = lines_->OffsetToPos(start);
    TTextPos to = lines_->OffsetToPos(start + removed);
    if (const TTextPos snapped = lines_->Clamp(to); snapped < to)
        to = {snapped.line, snapped.byte + CharBytes(lines_->LineView(snapped.line), size_t(snapped.byte))};
    Select(from, to);
    return true;
}

void TEditorModel::DeleteBack()
{
    if (Selected()) {
        DeleteSelection();
        return;
    }
    TTextPos from = caret_;
    if (caret_.byte > 0) from.byte = static_cast<long long>(PrevCharStart(lines_->LineView(caret_.line), size_t(caret_.byte)));
    else if (caret_.line > 0) from = {caret_.line - 1, lines_->LineLength(caret_.line - 1)};
    else return;
    hitLength_ = 0;
    SetCaretInternal(lines_->Replace(from, caret_, {}), false);
}

void TEditorModel::DeleteForward()
{
    if (Selected()) {
        DeleteSelection();
        return;
    }
    const std::string_view s = lines_->LineView(caret_.line);
    TTextPos to = caret_;
    if (caret_.byte < static_cast<long long>(s.size())) to.byte += CharBytes(s, size_t(caret_.byte));
    else if (caret_.line + 1 < lines_->LineCount()) to = {caret_.line + 1, 0};
    else return;
    hitLength_ = 0;
    SetCaretInternal(lines_->Replace(caret_, to, {}), false);
}

void TEditorModel::CopyToClipboard()
{
    if (Selected() && clipboard_) clipboard_->SetText(SelText());
}

void TEditorModel::CutToClipboard()
{
    if (!Selected() || !clipboard_) return;
    CopyToClipboard();
    DeleteSelection();
}

void TEditorModel::PasteFromClipboard()
{
    if (!clipboard_) return;
    const std::string text = clipboard_->GetText();
    if (!text.empty() || Selected()) InsertText(text);
}

void TEditorModel::Undo()
{
    if (!lines_->CanUndo()) return;
    SetCaretInternal(lines_->Undo().second, false);
}

void TEditorModel::Redo()
{
    if (!lines_->CanRedo()) return;
    SetCaretInternal(lines_->Redo().second, false);
}

bool TEditorModel::PrepareMatcher()
{
    // A pattern that does not compile is not compiled again for every painted line.
    if (matcherPrepared_ && findString_ == matcherKey_ && searchOptions_ == matcherOptions_) return matcherOk_;
    matcherKey_ = findString_;
    matcherOptions_ = searchOptions_;
    matcherPrepared_ = true;
    matchCache_.clear();
    matcherOk_ = matcher_->Prepare(findString_, searchOptions_, regexAvailable_, &searchError_);
    return matcherOk_;
}

std::vector<TEditorModel::TTextMatch> TEditorModel::MatchesStartingIn(long long first, long long count) const
{
    std::vector<TTextMatch> out;
    const long long lineCount = lines_->LineCount();
    count = std::min(count, lineCount - first);
    if (first < 0 || count <= 0) return out;
    const int span = matcher_->SpanLines();
    if (span == 0) {
        for (long long l = first; l < first + count; ++l) {
            for (const TLineMatch& m : matcher_->Matches(lines_->LineView(l))) out.push_back({{l, m.start}, m.length});
        }
        return out;
    }
    // The lines and the ones a match may run into, joined as the text is (CR LF), searched in one
    // run: a long text is copied about once, not once per line.
    const long long last = std::min(lineCount - 1, first + count - 1 + span);
    std::string window;
    std::vector<size_t> starts;
    for (long long l = first; l <= last; ++l) {
        if (l > first) window += "\r\n";
        starts.push_back(window.size());
        window.append(lines_->LineView(l));
    }
    const size_t lastStart = starts[size_t(count - 1)] + size_t(lines_->LineLength(first + count - 1));
    for (const TLineMatch& m : matcher_->Matches(window, lastStart)) {
        const size_t k = size_t(std::upper_bound(starts.begin(), starts.end(), size_t(m.start)) - starts.begin()) - 1;
        const long long byte = m.start - static_cast<long long>(starts[k]);
        if (byte > lines_->LineLength(first + static_cast<long long>(k))) continue;  // between CR and LF
        out.push_back({{first + static_cast<long long>(k), byte}, m.length});
    }
    return out;
}

const std::vector<TLineMatch>& TEditorModel::MatchesInLine(long long line)
{
    static const std::vector<TLineMatch> kNone;
    if (!PrepareMatcher() || line < 0 || line >= lines_->LineCount()) return kNone;
    const auto it = matchCache_.find(line);
    if (it != matchCache_.end()) return it->second;
    constexpr size_t kCachedLines = 1024;  // far more than a screen shows
    if (matchCache_.size() >= kCachedLines) matchCache_.clear();
    // The parts of this line covered by matches, including ones that start in the lines above.
    std::vector<TLineMatch> matches;
    const long long length = lines_->LineLength(line);
    const long long first = std::max(0LL, line - matcher_->SpanLines());
    for (const TTextMatch& m : MatchesStartingIn(first, line - first + 1)) {
        TTextPos at = m.pos;
        long long rest = m.length;
        while (at.line < line && at.byte + rest > lines_->LineLength(at.line)) {
            rest -= lines_->LineLength(at.line) - at.byte + 2;
            at = {at.line + 1, 0};
        }
        if (at.line != line || at.byte >= length || rest <= 0) continue;
        matches.push_back({at.byte, std::min(rest, length - at.byte)});
    }
    return matchCache_.emplace(line, std::move(matches)).first->second;
}

std::pair<TTextPos, TTextPos> TEditorModel::MatchingBrackets() const
{
    constexpr std::string_view kBrackets = "()[]{}";
    const TTextPos none{-1, 0};
    const auto bracketAt = [&](TTextPos p) -> size_t {
        const std::string_view s = lines_->LineView(p.line);
        if (p.byte >= static_cast<long long>(s.size()) || CharBytes(s, size_t(p.byte)) != 1) return std::string_view::npos;
        return kBrackets.find(s[size_t(p.byte)]);
    };
    // The bracket at the caret, or else the one just before it.
    TTextPos at = caret_;
    size_t k = bracketAt(at);
    if (k == std::string_view::npos && caret_.byte > 0) {
        at.byte = static_cast<long long>(PrevCharStart(lines_->LineView(caret_.line), size_t(caret_.byte)));
        k = bracketAt(at);
    }
    if (k == std::string_view::npos) return {none, none};
    const char self = kBrackets[k];
    const char other = kBrackets[k ^ 1];
    const bool forward = k % 2 == 0;
    // Far enough for any bracket on the screen; a pane of received text has no end to search.
    long long budget = 64 * 1024;
    int depth = 0;
    std::vector<size_t> heads;
    for (long long l = at.line; l >= 0 && l < lines_->LineCount() && budget > 0; l += forward ? 1 : -1) {
        const std::string_view s = lines_->LineView(l);
        heads.clear();
        for (size_t i = 0; i < s.size(); i += size_t(CharBytes(s, i))) heads.push_back(i);
        budget -= static_cast<long long>(s.size()) + 2;
        const auto visit = [&](size_t i) {
            if (CharBytes(s, i) != 1) return false;
            if (s[i] == self) ++depth;
            else if (s[i] == other && --depth == 0) return true;
            return false;
        };
        if (forward) {
            for (const size_t i : heads)
                if ((l > at.line || static_cast<long long>(i) >= at.byte) && visit(i)) return {at, {l, static_cast<long long>(i)}};
        } else {
            for (auto it = heads.rbegin(); it != heads.rend(); ++it)
                if ((l < at.line || static_cast<long long>(*it) <= at.byte) && visit(*it)) return {at, {l, static_cast<long long>(*it)}};
        }
    }
    return {none, none};
}

TTextPos TEditorModel::HitEnd() const
{
    return lines_->OffsetToPos(lines_->PosToOffset(hitPos_) + hitLength_);
}

bool TEditorModel::Search(bool forward)
{
    if (!PrepareMatcher()) return false;
    const auto [selA, selZ] = OrderedSelection();
    const long long lineCount = lines_->LineCount();
    constexpr long long kChunk = 256;  // lines searched at a time
    const auto take = [&](const TTextMatch& m) {
        hitPos_ = m.pos;
        hitLength_ = m.length;
    };
    if (forward) {
        TTextPos from = Selected() ? selZ : caret_;
        if (!Selected() && hitLength_ > 0 && hitPos_ == caret_) ++from.byte;  // step off the shown hit
        for (long long l = from.line; l < lineCount; l += kChunk) {
            for (const TTextMatch& m : MatchesStartingIn(l, kChunk)) {
                if (m.pos < from) continue;
                take(m);
                goto found;
            }
        }
        return false;
    }
    {
        const TTextPos from = Selected() ? selA : caret_;
        for (long long end = from.line; end >= 0; end -= kChunk) {
            const long long first = std::max(0LL, end - kChunk + 1);
            const auto matches = MatchesStartingIn(first, end - first + 1);
            for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
                if (it->pos >= from) continue;
                take(*it);
                goto found;
            }
        }
        return false;
    }
found:
    if (hitStyle_ == THitStyle::hsSelect) {
        anchor_ = hitPos_;
        anchorColWish_ = lines_->ColumnOfPos(anchor_);
        SetCaretInternal(HitEnd(), true);
    } else {
        SetCaretInternal(hitPos_, false);
    }
    return true;
}

bool TEditorModel::FindNext() { return Search(true); }

bool TEditorModel::FindPrev() { return Search(false); }

void TEditorModel::HitToSelected()
{
    if (hitLength_ <= 0) return;
    Select(hitPos_, HitEnd());
}

void TEditorModel::SetHighlightRules(const THighlightRules& rules)
{
    highlighter_.SetRules(rules);
    statesValid_ = 0;
    lineStates_.clear();
    firstChanged_ = 0;
    Changed();
}

int TEditorModel::LineStartState(long long line)
{
    if (!highlighter_.HasRanges()) return -1;
    if (static_cast<long long>(lineStates_.size()) > statesValid_) lineStates_.resize(size_t(statesValid_));
    while (static_cast<long long>(lineStates_.size()) <= line) {
        const size_t k = lineStates_.size();
        const int s = k == 0 ? -1 : highlighter_.Tokenize(lines_->LineView(static_cast<long long>(k) - 1), lineStates_[k - 1], nullptr);
        lineStates_.push_back(int16_t(s));
    }
    statesValid_ = static_cast<long long>(lineStates_.size());
    return lineStates_[size_t(line)];
}

std::vector<TToken> TEditorModel::LineTokens(long long line)
{
    std::vector<TToken> tokens;
    if (line < 0 || line >= lines_->LineCount()) return tokens;
    highlighter_.Tokenize(lines_->LineView(line), LineStartState(line), &tokens);
    return tokens;
}

}  // namespace pek
