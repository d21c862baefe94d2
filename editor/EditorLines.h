#pragma once
// The text of one or more editor controls: code page 932 lines in a chunked byte store with a
// block index, the row layout (wrapping), the 16-bit row marks and the undo list. Views attach to
// it and are told of every change so each can keep its own caret, selection and scroll position.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "editor/EditorLayout.h"

namespace pek {

// A position in the text: line index and byte offset within the line.
struct TTextPos {
    long long line = 0;
    long long byte = 0;
    auto operator<=>(const TTextPos&) const = default;
};

// What changed: the bytes [from, oldEnd) were replaced by bytes that now span [from, newEnd).
// kind Reset means everything was replaced (positions are no longer meaningful), Layout that rows
// were recomputed, UpdateEnded that a BeginUpdate/EndUpdate batch finished. An Edit that dropped
// the oldest lines of a bounded text says how many rows went with them, so a view can keep
// showing the same text.
struct TLinesChange {
    enum Kind { Edit, Reset, Layout, Marks, UpdateEnded } kind = Edit;
    TTextPos from, oldEnd, newEnd;
    long long droppedRows = 0;
};

// Where a display row lies: its line, its byte range in the line, its index among the line's rows.
struct TRowInfo {
    long long line = 0;
    long long start = 0;
    long long end = 0;
    int index = 0;
    bool endsLine = true;
};

class TEditorLines {
public:
    TEditorLines();
    ~TEditorLines();
    TEditorLines(const TEditorLines&) = delete;
    TEditorLines& operator=(const TEditorLines&) = delete;

    // Lines. The text always has at least one (possibly empty) line; lines are joined by CR LF.
    long long LineCount() const { return totalLines_; }
    std::string GetLine(long long line) const;          // "" outside the text
    std::string_view LineView(long long line) const;    // valid until the next change
    long long LineLength(long long line) const;
    void PutLine(long long line, std::string_view text);  // ignored outside the text
    void AddLine(std::string_view text);                 // a new last line (replaces an empty text)
    std::string Text() const;
    void SetText(std::string_view text);                 // also empties the undo list
    void Clear();
    long long TextLength() const { return totalBytes_ + 2 * (totalLines_ - 1); }
    TTextPos EndPos() const;
    TTextPos Clamp(TTextPos pos) const;                  // onto the text and onto a character start
    long long PosToOffset(TTextPos pos) const;           // line breaks count two bytes
    TTextPos OffsetToPos(long long offset) const;
    std::string GetRange(TTextPos from, TTextPos to) const;

    // Replaces [from, to) by text (split at CR LF, lone CR and lone LF); returns the end of the new
    // text. typing lets consecutive typed characters merge into one undo step.
    TTextPos Replace(TTextPos from, TTextPos to, std::string_view text, bool typing = false);
    // Appends at the end of the text. A CR that ended the previous append and an LF that starts this
    // one form one line break, as they would in the received byte stream.
    TTextPos Append(std::string_view text);
    // Whether the last change was an append that ended in a CR, whose LF may still come.
    bool EndsWithPendingCr() const { return pendingCr_; }

    // A bound on the lines appends may leave (0: none). Once an append passes it, the oldest lines
    // go in one block of a sixteenth of the bound, so the cost per appended line stays constant.
    // Line numbers then refer to what the text holds now; the undo list is emptied.
    long long MaxLines() const { return maxLines_; }
    void SetMaxLines(long long max);
    long long DropFirstLines(long long count);   // keeps the last line; returns the lines dropped

    void LoadFromFile(const std::string& cp932FileName);   // throws pek::Exception
    void SaveToFile(const std::string& cp932FileName);     // throws pek::Exception

    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    bool Updating() const { return updateCount_ > 0; }

    // Rows.
    const TWrapLayout& Layout() const { return layout_; }
    void SetLayout(const TWrapLayout& layout);
    long long RowCount() const { return totalRows_; }
    long long LineOfRow(long long row) const;            // clamped onto the text
    long long FirstRowOfLine(long long line) const;      // clamped onto the text
    int RowsOfLine(long long line) const;
    TRowInfo RowInfo(long long row) const;               // row clamped onto the text
    // The first byte of every row of a line. Long lines are kept wrapped, and appending to the last
    // line wraps only the appended part, so a line that grows without end stays cheap.
    // Returns a kept vector for long lines (valid until the next call on this object) or scratch
    // filled for short ones.
    const std::vector<uint32_t>& RowStarts(long long line, std::vector<uint32_t>& scratch) const;
    long long RowOfPos(TTextPos pos) const;
    int ColumnOfPos(TTextPos pos) const;
    TTextPos PosOfRowCol(long long row, int col) const;

    // Row marks: bits 0 to 9 bookmarks (one row each), 10 to 15 free marks.
    uint16_t RowMarks(long long row) const;
    void SetRowMarks(long long row, uint16_t marks);
    void AddRowMark(long long row, int mark);
    void RemoveRowMark(long long row, int mark);

    // Undo.
    int UndoListMax() const { return undoListMax_; }
    void SetUndoListMax(int max);
    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }
    // Each returns the range of the text that the step put back, for the caller's caret.
    std::pair<TTextPos, TTextPos> Undo();
    std::pair<TTextPos, TTextPos> Redo();
    void ClearUndo();

    // Bytes held by the store, its index, the marks and the undo list (for measurements).
    size_t MemoryUsage() const;

    // Views.
    using Listener = std::function<void(const TLinesChange&)>;
    int Subscribe(Listener listener);
    void Unsubscribe(int id);

private:
    struct Block {
        std::string bytes;                 // the lines without line breaks
        std::vector<uint32_t> starts;      // first byte of each line in bytes
        std::vector<uint32_t> rows;        // rows of each line
        long long rowSum = 0;
        size_t lineCount() const { return starts.size(); }
        uint32_t lineEnd(size_t i) const { return i + 1 < starts.size() ? starts[i + 1] : uint32_t(bytes.size()); }
    };
    struct Step {
        TTextPos from;
        std::string removed;
        TTextPos insertedEnd;
        bool typing = false;
    };

    std::pair<size_t, size_t> Locate(long long line) const;  // block, index in block
    TTextPos ReplaceRaw(TTextPos from, TTextPos to, std::string_view text);
    TTextPos AppendRaw(std::string_view text);
    void ReplaceInLine(long long line, long long from, long long to, std::string_view text);
    void EraseLines(long long first, long long count);
    void InsertLines(long long at, const std::vector<std::string_view>& lines);
    void Rebalance(size_t block);
    void Reindex(size_t fromBlock);
    void ResetStore();
    void Notify(const TLinesChange& change);
    void MoveMarks(const TLinesChange& change);
    void Record(Step step);
    std::pair<long long, int> RowToLineAndIndex(long long row) const;

    const std::vector<uint32_t>& CachedRowStarts(long long line) const;

    // Row starts of one long line, valid while version_ is unchanged.
    struct WrapCache {
        long long line = -1;
        uint64_t version = 0;
        std::vector<uint32_t> starts;
    };
    mutable WrapCache wrapCache_;   // any long line
    WrapCache tailCache_;           // the last line, kept up to date by appends
    uint64_t version_ = 1;

    std::vector<Block> blocks_;
    std::vector<long long> firstLine_, firstRow_, firstByte_;
    long long totalLines_ = 0, totalRows_ = 0, totalBytes_ = 0;
    TWrapLayout layout_;
    using MarkKey = std::pair<long long, long long>;   // line, byte
    using MarkMap = std::map<MarkKey, uint16_t>;
    std::pair<MarkKey, MarkKey> MarkKeysOfRow(long long row) const;
    std::pair<MarkMap::iterator, MarkMap::iterator> MarksOfRow(long long row);
    MarkMap marks_;
    std::deque<Step> undo_, redo_;
    int undoListMax_ = 64;
    bool modified_ = false;
    bool pendingCr_ = false;
    long long maxLines_ = 0;
    int updateCount_ = 0;
    int nextListener_ = 1;
    std::map<int, Listener> listeners_;
};

// Splits text at CR LF, lone CR and lone LF. An empty text is one empty line.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace pek
