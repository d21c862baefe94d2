#pragma once
// One editor control's view of a text: caret, selection, scroll position, search, highlighting
// state and the editing operations. No widget: the Qt control is a thin view on this.
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "editor/EditorLines.h"
#include "editor/EditorSearch.h"
#include "editor/Highlighter.h"

namespace pek {

// The clipboard, supplied by whoever owns the model (the widget: the system clipboard).
class TEditorClipboard {
public:
    virtual ~TEditorClipboard() = default;
    virtual std::string GetText() = 0;  // code page 932
    virtual void SetText(const std::string& cp932) = 0;
};

enum class TSelectionMode { smNormal, smBox };
enum class THitStyle { hsSelect, hsDraw, hsCaret };

enum class TCaretMove { Left, Right, Up, Down, RowHome, RowEnd, PageUp, PageDown, TextHome, TextEnd, WordLeft, WordRight };

class TEditorModel {
public:
    // The furthest column a view scrolls to: beyond any row worth reading, and far enough from
    // int's limit that the first column shown plus a screen's width cannot overflow.
    static constexpr int kMaxTopCol = INT_MAX / 4;
    // Rows and columns a view may show at once; more would make the scroll arithmetic overflow.
    static constexpr long long kMaxVisibleRows = 1LL << 30;

    TEditorModel();
    ~TEditorModel();
    TEditorModel(const TEditorModel&) = delete;
    TEditorModel& operator=(const TEditorModel&) = delete;

    // The text. AttachLines shares another model's text (split views); each keeps its own caret,
    // selection and scroll position.
    TEditorLines& Lines() { return *lines_; }
    const TEditorLines& Lines() const { return *lines_; }
    const std::shared_ptr<TEditorLines>& SharedLines() const { return lines_; }
    void AttachLines(std::shared_ptr<TEditorLines> lines);

    // Called after any change that needs a repaint (deferred while the lines are being updated).
    std::function<void()> OnChange;
    // The first line whose text, rows, marks or highlighting changed since the last
    // ClearChangedLines(), LineCount() or more when none did: a view repaints from there on.
    long long FirstChangedLine() const { return firstChanged_; }
    void ClearChangedLines() { firstChanged_ = kNoChangedLine; }

    // Text conveniences.
    std::string Text() const { return lines_->Text(); }
    void SetText(std::string_view text);
    void Clear() { SetText({}); }
    // Appends at the end without scrolling; a caret at the end stays at the end. With caretToEnd
    // the selection is dropped and the caret put at the end first (the receive display's way).
    void AppendText(std::string_view text, bool caretToEnd = false);

    // Layout (shared by every view of the same text).
    bool WordWrap() const { return lines_->Layout().WordWrap; }
    void SetWordWrap(bool on);
    int WrapByte() const { return lines_->Layout().WrapByte; }
    void SetWrapByte(int columns);
    int TabSpaceCount() const { return lines_->Layout().TabSpaceCount; }
    void SetTabSpaceCount(int columns);
    long long RowToLines(long long row) const;
    long long LinesToRow(long long line) const;
    long long ColToChar(long long row, long long col) const;
    bool RowEndsLine(long long row) const { return lines_->RowInfo(row).endsLine; }

    // Caret and scrolling.
    long long Row() const;
    int Col() const;
    void SetRow(long long row) { SetCaret(row, Col()); }
    void SetCol(int col) { SetCaret(Row(), col); }
    void SetCaret(long long row, int col, bool extend = false);
    TTextPos CaretPos() const { return caret_; }
    void SetCaretPos(TTextPos pos, bool extend = false);
    void MoveCaret(TCaretMove move, bool extend);
    long long TopRow() const { return topRow_; }
    void SetTopRow(long long row);
    int TopCol() const { return topCol_; }
    void SetTopCol(int col);
    long long RowCount() const { return visibleRows_; }       // rows that fit in the window
    int ColCount() const { return visibleCols_; }
    void SetVisibleExtent(long long rows, int cols);
    void ScrollCaret();                                       // make the caret visible
    void ScrollToRow(long long row);
    void ScrollToEnd();  // the receive display's rule: the end two rows above the bottom
    bool IsAutoColScroll() const { return autoColScroll_; }
    void SetIsAutoColScroll(bool on) { autoColScroll_ = on; }

    // Selection. Offsets count line breaks as two bytes.
    bool Selected() const { return anchor_ != caret_; }
    long long SelStart() const;
    void SetSelStart(long long offset);
    long long SelLength() const;
    void SetSelLength(long long length);
    std::string SelText() const;
    void SetSelText(std::string_view text);
    TSelectionMode SelectionMode() const { return selMode_; }
    void SetSelectionMode(TSelectionMode mode);
    long long SelStartRow() const;
    int SelStartCol() const;
    long long SelEndRow() const;
    int SelEndCol() const;
    TTextPos AnchorPos() const { return anchor_; }
    void Select(TTextPos anchor, TTextPos caret);
    void SelectAll();
    void SelectWordFromCaret();
    void SelectTokenFromCaret();
    void CollapseSelection();
    // The normal selection ordered (start, end); the box selection as rows and columns.
    std::pair<TTextPos, TTextPos> OrderedSelection() const;
    struct TBoxRect {
        long long firstRow = 0, lastRow = 0;
        int firstCol = 0, endCol = 0;  // columns [firstCol, endCol)
    };
    TBoxRect BoxRect() const;

    // Editing. ReadOnly only stops the user: the widget checks it before editing on a key or a
    // drop, the model's operations always work (scripts and the receive display use them).
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on) { readOnly_ = on; }
    bool OverWrite() const { return overWrite_; }
    void SetOverWrite(bool on) { overWrite_ = on; }
    void InsertText(std::string_view text);                // at the caret, replacing the selection
    void TypeText(std::string_view text);                  // typed: overwrite mode and undo merging
    void DeleteSelection();
    // Moves the (normal) selected text to pos, as a drag within the control does; the moved text
    // stays selected. False, changing nothing, when pos lies inside the selection.
    bool MoveSelectionTo(TTextPos pos);
    void DeleteBack();                                      // Backspace
    void DeleteForward();                                   // Delete
    void SetClipboard(TEditorClipboard* clipboard) { clipboard_ = clipboard; }
    void CutToClipboard();
    void CopyToClipboard();
    void PasteFromClipboard();
    void Undo();
    void Redo();
    bool CanUndo() const { return lines_->CanUndo(); }
    bool CanRedo() const { return lines_->CanRedo(); }
    void ClearUndo() { lines_->ClearUndo(); }
    int UndoListMax() const { return lines_->UndoListMax(); }
    void SetUndoListMax(int max) { lines_->SetUndoListMax(max); }

    // The bracket ( ) [ ] { } at the caret (or just before it) and its partner; line -1 for none.
    std::pair<TTextPos, TTextPos> MatchingBrackets() const;

    // Words and tokens at the caret.
    std::string WordString() const;
    std::string TokenString() const;

    // Search.
    const std::string& FindString() const { return findString_; }
    void SetFindString(std::string_view s) { findString_ = std::string(s); }
    TSearchOptions ExSearchOptions() const { return searchOptions_; }
    void SetExSearchOptions(TSearchOptions options) { searchOptions_ = options; }
    THitStyle HitStyle() const { return hitStyle_; }
    void SetHitStyle(THitStyle style) { hitStyle_ = style; }
    bool RegexAvailable() const { return regexAvailable_; }
    void SetRegexAvailable(bool on)
    {
        regexAvailable_ = on;
        matcherPrepared_ = false;
    }
    bool FindNext();
    bool FindPrev();
    bool HasHit() const { return hitLength_ > 0; }
    TTextPos HitPos() const { return hitPos_; }
    TTextPos HitEnd() const;  // a hit may span line breaks
    long long HitSelLength() const { return hitLength_; }
    void HitToSelected();
    const std::string& SearchError() const { return searchError_; }
    // All matches of the find string in one line, for marking them when painted. Kept per line
    // until the line, the find string or the options change; valid until the next call.
    const std::vector<TLineMatch>& MatchesInLine(long long line);

    // Row marks.
    uint16_t RowMarks(long long row) const { return lines_->RowMarks(row); }
    void SetRowMarks(long long row, uint16_t marks) { lines_->SetRowMarks(row, marks); }
    void AddRowMark(long long row, int mark) { lines_->AddRowMark(row, mark); }
    void RemoveRowMark(long long row, int mark) { lines_->RemoveRowMark(row, mark); }

    // Highlighting: tokens of a line, with the range state carried in from the lines above
    // (computed lazily and kept until the text above changes).
    const THighlightRules& HighlightRules() const { return highlighter_.Rules(); }
    void SetHighlightRules(const THighlightRules& rules);
    const THighlighter& Highlighter() const { return highlighter_; }
    std::vector<TToken> LineTokens(long long line);

private:
    void OnLinesChanged(const TLinesChange& change);
    void OnFirstLinesDropped(const TLinesChange& change);
    TTextPos AdjustPos(TTextPos pos, const TLinesChange& change) const;
    int LineStartState(long long line);
    void Changed();
    void SetCaretInternal(TTextPos pos, bool extend, bool keepPreferred = false);
    bool Search(bool forward);
    std::vector<std::pair<TTextPos, TTextPos>> BoxRanges() const;
    std::pair<TTextPos, TTextPos> WordRange(TTextPos pos) const;
    bool PrepareMatcher();
    struct TTextMatch {
        TTextPos pos;
        long long length = 0;  // line breaks count two bytes
    };
    // Matches that start in lines [first, first + count); they may run on into later lines.
    std::vector<TTextMatch> MatchesStartingIn(long long first, long long count) const;

    static constexpr long long kNoChangedLine = 0x7FFFFFFFFFFFFFFFLL;
    std::shared_ptr<TEditorLines> lines_;
    int subscription_ = 0;
    long long firstChanged_ = 0;
    TTextPos caret_, anchor_;
    int preferredCol_ = -1;
    int caretColWish_ = 0, anchorColWish_ = 0;  // box selection columns, which may lie past a line end
    TSelectionMode selMode_ = TSelectionMode::smNormal;
    long long topRow_ = 0;
    int topCol_ = 0;
    long long visibleRows_ = 25;
    int visibleCols_ = 80;
    bool autoColScroll_ = true;
    bool readOnly_ = false;
    bool overWrite_ = false;
    TEditorClipboard* clipboard_ = nullptr;
    std::string findString_;
    TSearchOptions searchOptions_ = 0;
    THitStyle hitStyle_ = THitStyle::hsSelect;
    bool regexAvailable_ = false;
    TTextPos hitPos_;
    long long hitLength_ = 0;
    std::string searchError_;
    THighlighter highlighter_;
    std::vector<int16_t> lineStates_;   // range open at the start of each line, valid below statesValid_
    long long statesValid_ = 0;
    std::string matcherKey_;
    TSearchOptions matcherOptions_ = 0;
    bool matcherPrepared_ = false;  // for matcherKey_ and matcherOptions_, even when that failed
    bool matcherOk_ = false;
    std::unique_ptr<TLineMatcher> matcher_;
    std::map<long long, std::vector<TLineMatch>> matchCache_;  // by line, so an edit drops the lines from it on
};

}  // namespace pek
