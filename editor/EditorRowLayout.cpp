#include "editor/EditorRowLayout.h"

#include <algorithm>
#include <tuple>

namespace pek {

namespace {

// A huge line (a stream without line breaks) is shown without highlighting and find marks, so a
// screen costs what it shows.
constexpr size_t kHighlightLimit = 64 * 1024;

const std::vector<TLineMatch> kNoMatches;

bool FindMarksShown(const TEditorModel& model, const TEditorProps& props)
{
    const TEditorColor& hit = props.View.Colors.Hit;
    return !model.FindString().empty() &&
           (props.ExMarks.FindMark.Visible || hit.Color != clNone || hit.BkColor != clNone || hit.Style != 0);
}

}  // namespace

TRowLayouter::TRowLayouter(TEditorModel& model, const TEditorProps& props, int topCol, int colsShown)
    : model_(model), props_(props), topCol_(topCol), colsShown_(colsShown), hitStyle_(model.HitStyle()),
      selected_(model.Selected()), box_(model.SelectionMode() == TSelectionMode::smBox),
      findMarks_(FindMarksShown(model, props))
{
    std::tie(selA_, selZ_) = model.OrderedSelection();
    if (selected_ && box_) boxRect_ = model.BoxRect();
    hitPos_ = model.HitPos();
    hitEnd_ = model.HasHit() ? model.HitEnd() : hitPos_;
    std::tie(parenA_, parenZ_) =
        props.ExMarks.ParenMark.Visible ? model.MatchingBrackets() : std::pair{TTextPos{-1, 0}, TTextPos{-1, 0}};
    caretRow_ = model.Row();
}

void TRowLayouter::LoadLine(long long line, long long firstRow)
{
    const TEditorLines& lines = model_.Lines();
    line_ = line;
    lineRow_ = firstRow;
    out_.text = lines.LineView(line);
    starts_ = &lines.RowStarts(line, scratchStarts_);
    const bool small = out_.text.size() <= kHighlightLimit;
    if (small) tokens_ = model_.LineTokens(line);
    else tokens_.clear();
    matches_ = findMarks_ && small ? &model_.MatchesInLine(line) : &kNoMatches;
}

const TRowLayout& TRowLayouter::Layout(long long row)
{
    const auto rowsOfLine = [&] { return static_cast<long long>(starts_->size()); };
    if (line_ >= 0 && row == lineRow_ + rowsOfLine() && line_ + 1 < model_.Lines().LineCount()) {
        LoadLine(line_ + 1, row);
    } else if (line_ < 0 || row < lineRow_ || row >= lineRow_ + rowsOfLine()) {
        const long long line = model_.Lines().LineOfRow(row);
        LoadLine(line, model_.Lines().FirstRowOfLine(line));
    }
    const size_t k = size_t(row - lineRow_);
    const size_t rowStart = (*starts_)[k];
    const size_t rowEnd = k + 1 < starts_->size() ? (*starts_)[k + 1] : out_.text.size();
    // Only the tokens and matches from the row's first byte on are walked.
    size_t token = size_t(std::lower_bound(tokens_.begin(), tokens_.end(), rowStart,
                                           [](const TToken& t, size_t b) { return t.start + t.length <= b; }) -
                          tokens_.begin());
    size_t match = size_t(std::lower_bound(matches_->begin(), matches_->end(), rowStart,
                                           [](const TLineMatch& m, size_t b) { return size_t(m.start + m.length) <= b; }) -
                          matches_->begin());
    const TWrapLayout& layout = model_.Lines().Layout();
    out_.runs.clear();
    int col = 0;
    for (size_t i = rowStart; i < rowEnd;) {
        const int len = CharBytes(out_.text, i);
        const int w = CharColumns(out_.text, i, col, layout);
        if (col + w > topCol_ && col < topCol_ + colsShown_) AddCell(row, i, len, col, token, match);
        col += w;
        i += size_t(len);
    }
    out_.endCol = col;
    EndOfRow(row, k + 1 == starts_->size());
    return out_;
}

void TRowLayouter::AddCell(long long row, size_t i, int len, int col, size_t& token, size_t& match)
{
    const TTextPos here{line_, static_cast<long long>(i)};
    TCellFacts facts;
    while (token < tokens_.size() && tokens_[token].start + tokens_[token].length <= i) ++token;
    if (token < tokens_.size() && tokens_[token].start <= i) {
        const TToken& t = tokens_[token];
        const auto& brackets = model_.HighlightRules().Brackets;
        facts.hasToken = true;
        facts.kind = t.kind;
        if (t.kind == TTokenKind::Range && t.bracket >= 0 && size_t(t.bracket) < brackets.size())
            facts.rangeColor = brackets[size_t(t.bracket)].Color;
    }
    const std::vector<TLineMatch>& matches = *matches_;
    while (match < matches.size() && size_t(matches[match].start + matches[match].length) <= i) ++match;
    facts.found = match < matches.size() && size_t(matches[match].start) <= i;
    facts.hit = here >= hitPos_ && here < hitEnd_;
    facts.paren = here == parenA_ || here == parenZ_;
    facts.space = SpaceOf(out_.text.substr(i, size_t(len)));
    facts.selected = selected_ && (box_ ? (row >= boxRect_.firstRow && row <= boxRect_.lastRow && col >= boxRect_.firstCol &&
                                           col < boxRect_.endCol)
                                        : (here >= selA_ && here < selZ_));
    const TCellStyle style = CellStyle(props_, hitStyle_, facts);
    const bool blank = facts.space != TCellMark::None;
    if (!out_.runs.empty()) {
        TRowRun& last = out_.runs.back();
        if (last.start + last.length == i && last.blank == blank && last.style == style) {
            last.length += uint32_t(len);
            return;
        }
    }
    out_.runs.push_back({uint32_t(i), uint32_t(len), col, blank, style});
}

void TRowLayouter::EndOfRow(long long row, bool lastRowOfLine)
{
    const TEditorMarks& marks = props_.Marks;
    const bool lastLine = line_ + 1 >= model_.Lines().LineCount();
    const bool endInView = out_.endCol >= topCol_;
    out_.endMark = TRowEndMark::None;
    out_.breakColor = clNone;
    if (lastRowOfLine && !lastLine) {
        // The line break: selected like a character, marked when the mark is visible.
        const TTextPos breakPos{line_, static_cast<long long>(out_.text.size())};
        if (selected_ && !box_ && breakPos >= selA_ && breakPos < selZ_) {
            const TEditorColor& sel = props_.View.Colors.Select;
            out_.breakColor = sel.BkColor != clNone ? sel.BkColor : props_.Font.Color;
        }
        if (marks.RetMark.Visible && endInView) out_.endMark = TRowEndMark::LineBreak;
    } else if (lastRowOfLine && lastLine && marks.EofMark.Visible) {
        out_.endMark = TRowEndMark::EndOfText;
    } else if (!lastRowOfLine && marks.WrapMark.Visible && endInView) {
        out_.endMark = TRowEndMark::Wrapped;  // the row goes on in the next one
    }
    out_.hiddenMark = marks.HideMark.Visible && out_.endCol > topCol_ + colsShown_ - 1;
    out_.caretUnderline = row == caretRow_ && marks.Underline.Visible;
}

}  // namespace pek
